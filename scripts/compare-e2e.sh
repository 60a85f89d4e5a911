#!/bin/bash
# Compares two builds of the end-to-end benchmark on one log-in case, the two run at the same
# time, each on a core of its own, swapping cores every round, so that both meet the same
# moments of a noisy machine; prints each build's figures and the paired differences.
#
#   scripts/compare-e2e.sh OLD/bench_e2e NEW/bench_e2e [case] [rounds] [log-ins per round]
#
# case: login-once, login-100 or login-10 (default); rounds 4; log-ins 5. The first log-in of
# each round pays for fresh memory and is shown apart.
set -euo pipefail
old=$1 new=$2 case=${3:-login-10} rounds=${4:-4} repeats=${5:-5}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for round in $(seq "$rounds"); do
    first=$((round % 2)) second=$(((round + 1) % 2))
    for side in old new; do
        if [ $side = old ]; then bin=$old core=$first; else bin=$new core=$second; fi
        QT_QPA_PLATFORM=offscreen taskset -c "$core" "$bin" --only="$case" --repeats="$repeats" \
            --each 2>/dev/null | sed -n 's/^  each log-in://p' >> "$out/$side" &
    done
    wait
done
python3 - "$out" <<'PY'
import statistics, sys
rows = {side: [[float(x) for x in line.split()] for line in open(f"{sys.argv[1]}/{side}")]
        for side in ("old", "new")}
for side, runs in rows.items():
    later = sorted(x for run in runs for x in run[1:])
    print(f"{side}: first log-ins {' '.join(f'{run[0]:.0f}' for run in runs)} ms; later ones "
          f"(n={len(later)}): median {statistics.median(later):.1f}, "
          f"quartiles {later[len(later) // 4]:.1f}-{later[3 * len(later) // 4]:.1f}, "
          f"min {later[0]:.1f}, max {later[-1]:.1f} ms")
paired = sorted(b - a for ra, rb in zip(rows["old"], rows["new"]) for a, b in zip(ra[1:], rb[1:]))
print(f"new - old, paired log-ins: median {statistics.median(paired):+.1f} ms, "
      f"quartiles {paired[len(paired) // 4]:+.1f} to {paired[3 * len(paired) // 4]:+.1f}")
PY
