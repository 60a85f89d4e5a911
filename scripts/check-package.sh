#!/usr/bin/env bash
# Checks the built Debian packages: control fields, dependencies, the file list, the files
# themselves; that the installed client, unpacked into a scratch root, opens its login window;
# and that the lobby server's package needs no Qt and its programs' manual pages and --help agree.
# Usage: scripts/check-package.sh build/stonecall_<version>_<arch>.deb \
#            [build/stonecall-lobbyd_<version>_<arch>.deb]
set -euo pipefail
cd "$(dirname "$0")/.."

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
note() { echo "  $*"; }

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

version=$(sed -n 's/^project(Stonecall VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
arch=$(dpkg --print-architecture)
# The lobby server has its package exactly when the source tree has it.
with_server=false
[ -f server/CMakeLists.txt ] && with_server=true
client_deb=$(realpath "$1")
server_deb=""
if $with_server; then
    [ $# -ge 2 ] || { echo "the source tree has the server: name its package too" >&2; exit 2; }
    server_deb=$(realpath "$2")
fi

# The checks every package gets: check_package DEB NAME SECTION EXPECTED-FILES.
# Leaves the package unpacked in $root/NAME and its dependency names in $dep_names.
check_package() {
    local deb=$1 package=$2 section=$3 expected=$4
    field() { dpkg-deb --field "$deb" "$1"; }
    echo "== $package: control fields"
    [ "$(basename "$deb")" = "${package}_${version}_${arch}.deb" ] || fail "file name $(basename "$deb")"
    [ "$(field Package)" = "$package" ] || fail "Package: $(field Package)"
    [ "$(field Version)" = "$version" ] || fail "Version: $(field Version), project says $version"
    [ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
    [ "$(field Section)" = "$section" ] || fail "Section: $(field Section)"
    [[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@]+@[^\>]+\>$ ]] || fail "Maintainer: $(field Maintainer)"
    [ "$(field Description | wc -l)" -ge 2 ] || fail "Description has no long text"
    # Nothing runs at install time, so the server unit stays disabled.
    local extra
    extra=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -vE '^\./$|^\./(control|md5sums)$' || true)
    [ -z "$extra" ] || fail "maintainer scripts or other control files: $extra"
    note "$(field Package) $(field Version) $(field Architecture)"

    echo "== $package: Debian's own check (lintian)"
    # Errors fail the check; warnings and notes are shown.
    local report
    if report=$(lintian --fail-on error "$deb" 2>&1); then
        note "${report:-no findings}"
    else
        fail "$package: lintian: $report"
    fi

    echo "== $package: dependencies"
    depends=$(field Depends)
    note "$depends"
    dep_names=$(tr ',' '\n' <<<"$depends" | sed 's/(.*)//; s/|.*//; s/ //g' | sort -u)
    local twice
    twice=$(tr ',' '\n' <<<"$depends" | sed 's/(.*)//; s/|.*//; s/ //g' | sort | uniq -d)
    [ -z "$twice" ] || fail "$package: Depends names $twice more than once"
    grep -q -- '-dev$' <<<"$dep_names" && fail "$package: Depends names a development package"

    echo "== $package: files"
    expected="$expected
./usr/share/doc/$package/changelog.gz
./usr/share/doc/$package/copyright"
    local listing actual
    listing=$(dpkg-deb --contents "$deb")
    actual=$(awk '$1 !~ /^d/ {print $6}' <<<"$listing" | sort)
    diff <(sort <<<"$expected") <(echo "$actual") >/dev/null || {
        fail "$package: file list differs from the expected one:"
        diff <(sort <<<"$expected") <(echo "$actual") >&2 || true
    }
    awk '$2 != "root/root" {print "FAIL: owner " $2 " of " $6; bad=1} END {exit bad}' <<<"$listing" ||
        failures=$((failures + 1))
    local mode path want
    while read -r mode path; do
        case "$path" in
        ./usr/bin/*) want=-rwxr-xr-x ;;
        *) want=-rw-r--r-- ;;
        esac
        [ "$mode" = "$want" ] || fail "mode $mode of $path"
    done < <(awk '$1 !~ /^d/ {print $1, $6}' <<<"$listing")
    note "$(wc -l <<<"$actual") files"

    mkdir "$root/$package"
    dpkg-deb -x "$deb" "$root/$package"
    local unpacked=$root/$package

    echo "== $package: the files themselves"
    # The copyright file in the machine-readable format: a header naming the format, then
    # paragraphs with the fields each must have, and every licence named given its text.
    local copyright=$unpacked/usr/share/doc/$package/copyright
    head -1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
        fail "$package: copyright does not name the machine-readable format"
    awk -v RS= '
        NR == 1 { if ($0 !~ /(^|\n)Upstream-Name: /) bad = bad " header lacks Upstream-Name"; next }
        /^Files: / { if ($0 !~ /\nCopyright: / || $0 !~ /\nLicense: /) bad = bad " a Files paragraph lacks Copyright or License"
                     match($0, /\nLicense: [^\n]*/); named[substr($0, RSTART + 10, RLENGTH - 10)] = 1
                     if ($0 ~ /\nLicense: [^\n]*\n /) given[substr($0, RSTART + 10, RLENGTH - 10)] = 1; next }
        /^License: / { match($0, /^License: [^\n]*/); given[substr($0, 10, RLENGTH - 9)] = 1; next }
        { bad = bad " a paragraph neither Files nor License" }
        END { for (l in named) if (!(l in given)) bad = bad " no text for licence " l
              if (bad) { print bad; exit 1 } }' "$copyright" >"$root/copyright.txt" ||
        fail "$package: copyright:$(cat "$root/copyright.txt")"
    for page in "$unpacked"/usr/share/man/man1/*.1.gz; do
        gzip -t "$page" || fail "$page is not gzip"
        if command -v groff >/dev/null; then
            warnings=$(zcat "$page" | groff -man -Tutf8 -ww -z 2>&1)
            [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
        fi
    done
    local program name dynamic libraries needed paths owners lib owner
    for program in "$unpacked"/usr/bin/*; do
        name=$(basename "$program")
        dynamic=$(readelf -d "$program")
        # System libraries only: no search path into a build tree.
        grep -E 'R(UN)?PATH' <<<"$dynamic" && fail "$name carries an RPATH"
        libraries=$(ldd "$program")
        grep 'not found' <<<"$libraries" && fail "$name misses libraries"
        # Every library it links directly comes from a package it depends on. dpkg knows a
        # library under /lib or /usr/lib, whichever its package names, so both are asked.
        needed=$(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' <<<"$dynamic")
        paths=$(awk '$3 ~ /^\// {print $3}' <<<"$libraries" | sed 's|^/usr/|/|' | sort -u)
        owners=$(dpkg -S $paths $(sed 's|^|/usr|' <<<"$paths") 2>/dev/null || true)
        for lib in $needed; do
            owner=$(awk -v lib="$lib" '{n = split($NF, p, "/")} p[n] == lib {sub(/:.*/, "", $1); print $1; exit}' <<<"$owners")
            if [ -z "$owner" ]; then
                fail "$name links $lib, which no installed package holds"
            elif ! grep -qx "$owner" <<<"$dep_names"; then
                fail "$name links $lib of $owner, which is not in Depends"
            fi
        done
    done

    echo "== $package: apt on a machine with nothing installed"
    planned=""
    if apt-cache show libc6 >/dev/null 2>&1; then
        : >"$root/status"
        local plan
        plan=$(apt-get install -s --no-install-recommends -o Dir::State::status="$root/status" "$deb" 2>&1) ||
            fail "apt cannot resolve the dependencies of $package: $(tail -5 <<<"$plan")"
        grep -q "^Inst $package " <<<"$plan" || fail "apt would not install $package"
        planned=$(grep -c '^Inst ' <<<"$plan" || true)
        note "$planned packages would be installed, among them:" \
            "$(grep -oE '^Inst (libqt6[a-z0-9]*|stonecall[a-z-]*) ' <<<"$plan" | cut -d' ' -f2 | tr '\n' ' ')"
        plan_text=$plan
    else
        note "no apt package lists; run apt-get update to check this"
    fi
}

check_package "$client_deb" stonecall net "./usr/bin/stonecall
./usr/share/applications/stonecall.desktop
./usr/share/icons/hicolor/scalable/apps/stonecall.svg
./usr/share/man/man1/stonecall.1.gz"
for p in libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6svg6 libc6 libstdc++6; do
    grep -qx "$p" <<<"$dep_names" || fail "stonecall: Depends lacks $p"
done
client_root=$root/stonecall
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$client_root/usr/share/applications/stonecall.desktop" || fail "desktop entry"
else
    note "desktop-file-validate not installed; desktop entry not validated"
fi
grep -qx 'Exec=stonecall' "$client_root/usr/share/applications/stonecall.desktop" || fail "desktop Exec"
grep -qx 'Icon=stonecall' "$client_root/usr/share/applications/stonecall.desktop" || fail "desktop Icon"
cmp -s "$client_root/usr/share/icons/hicolor/scalable/apps/stonecall.svg" src/qt/art/stonecall-icon.svg ||
    fail "the icon is not the windows' icon artwork"

if $with_server; then
    check_package "$server_deb" stonecall-lobbyd net "./usr/bin/stonecall-lobbyctl
./usr/bin/stonecall-lobbyd
./usr/lib/systemd/system/stonecall-lobbyd.service
./usr/lib/systemd/system/stonecall-lobbyd@.service
./usr/share/doc/stonecall-lobbyd/examples/lobbyd.conf
./usr/share/man/man1/stonecall-lobbyctl.1.gz
./usr/share/man/man1/stonecall-lobbyd.1.gz"
    server_root=$root/stonecall-lobbyd
    # A headless machine gets no graphical libraries with the server.
    for p in libc6 libstdc++6; do
        grep -qx "$p" <<<"$dep_names" || fail "stonecall-lobbyd: Depends lacks $p"
    done
    grep -E '^(libqt|libgl|libx|libfontconfig)' <<<"$dep_names" && fail "stonecall-lobbyd depends on graphical libraries"
    ldd "$server_root/usr/bin/stonecall-lobbyd" | grep -iE 'qt|libGL|libX' && fail "stonecall-lobbyd links graphical libraries"
    if [ -n "$planned" ]; then
        [ "$planned" -le 12 ] || fail "apt plans $planned packages for stonecall-lobbyd on a bare machine"
        grep -E '^Inst libqt' <<<"$plan_text" && fail "apt would install Qt with stonecall-lobbyd"
    fi
    unit="$server_root/usr/lib/systemd/system/stonecall-lobbyd.service"
    grep -q '^ExecStart=/usr/bin/stonecall-lobbyd ' "$unit" || fail "unit ExecStart: $(grep ExecStart "$unit")"
    grep -qx 'DynamicUser=yes' "$unit" || fail "unit does not run as a dynamic user"
    # Both units verified, the program path pointing into the scratch root; the template as
    # an instance of it. systemd comes with setup.sh, so this runs in CI's container too.
    template="$server_root/usr/lib/systemd/system/stonecall-lobbyd@.service"
    if command -v systemd-analyze >/dev/null; then
        mkdir "$root/unit"
        sed "s|^ExecStart=/|ExecStart=$server_root/|" "$unit" >"$root/unit/stonecall-lobbyd.service"
        sed "s|^ExecStart=/|ExecStart=$server_root/|" "$template" >"$root/unit/stonecall-lobbyd@.service"
        systemd-analyze verify --man=no "$root/unit/stonecall-lobbyd.service" || fail "unit does not verify"
        (cd "$root/unit" && systemd-analyze verify --man=no "$root/unit/stonecall-lobbyd@.service" stonecall-lobbyd@east.service) ||
            fail "template unit does not verify"
    else
        fail "systemd-analyze is missing (scripts/setup.sh installs systemd)"
    fi
    # One lobby per instance: its own configuration file, state folder and control socket.
    grep -q '^ExecStart=/usr/bin/stonecall-lobbyd --config /etc/stonecall/lobbyd-%i.conf ' "$template" ||
        fail "template ExecStart: $(grep ExecStart "$template")"
    grep -qx 'StateDirectory=stonecall-lobbyd-%i' "$template" || fail "template has no state folder of the instance"
    grep -qx 'RuntimeDirectory=stonecall-lobbyd-%i' "$template" || fail "template has no runtime folder of the instance"
    grep -qx 'DynamicUser=yes' "$template" || fail "template does not run as a dynamic user"
    # The sample configuration is one the server takes: run on a port of its own choosing, in
    # a network of its own, it must keep running until stopped.
    sample="$server_root/usr/share/doc/stonecall-lobbyd/examples/lobbyd.conf"
    if unshare -n true 2>/dev/null; then
        set +e
        unshare -n timeout 2 "$server_root/usr/bin/stonecall-lobbyd" --config "$sample" --port 0 >"$root/sample.log" 2>&1
        status=$?
        set -e
        [ "$status" -eq 124 ] || fail "the sample configuration: status $status: $(cat "$root/sample.log")"
    else
        note "no network namespace here; the sample configuration is not started"
    fi
    grep -qx 'RuntimeDirectory=stonecall-lobbyd' "$unit" || fail "unit has no runtime folder for the control socket"
    grep -qE '^TimeoutStopSec=(6[5-9]|[7-9][0-9]|[1-9][0-9]{2,})$' "$unit" ||
        fail "unit's TimeoutStopSec does not cover the longest shutdown notice (60 s)"
    # Each program's manual page and its --help agree on the options; the server's page lists
    # the signals, the configuration file and the control tool; both tell their version.
    same_options() {
        local program=$1 help man page option
        help=$("$server_root/usr/bin/$program" --help)
        man=$(zcat "$server_root/usr/share/man/man1/$program.1.gz")
        page=$(sed -n '/^\.SH OPTIONS/,/^\.SH [^O]/p' <<<"$man")
        for option in $(grep -oE -- '--[a-z][a-z-]+' <<<"$help" | sort -u); do
            grep -qF -- "${option//-/\\-}" <<<"$page" || fail "$program --help shows $option, the manual page does not"
        done
        for option in $(grep -oE -- '\\-\\-[a-z][a-z\\-]+' <<<"$page" | sed 's/\\//g' | sort -u); do
            grep -qF -- "$option" <<<"$help" || fail "the manual page of $program shows $option, --help does not"
        done
        [ "$("$server_root/usr/bin/$program" --version)" = "$program $version" ] ||
            fail "$program --version: $("$server_root/usr/bin/$program" --version)"
    }
    same_options stonecall-lobbyd
    same_options stonecall-lobbyctl
    man=$(zcat "$server_root/usr/share/man/man1/stonecall-lobbyd.1.gz")
    signals=$(sed -n '/^\.SH SIGNALS/,/^\.SH [^S]/p' <<<"$man")
    for signal in SIGTERM SIGINT SIGUSR1 SIGHUP; do
        grep -q "$signal" <<<"$signals" || fail "the manual page's SIGNALS section lacks $signal"
    done
    grep -qF 'stonecall\-lobbyctl' <<<"$man" || fail "the server's manual page does not name its control tool"
    grep -qF '/etc/stonecall/lobbyd.conf' <<<"$man" || fail "the manual page does not name the configuration file"
fi

echo "== the installed client starts"
client="$client_root/usr/bin/stonecall"
# Its command line needs no display; the manual page names its options.
[ "$("$client" --version)" = "stonecall $version" ] || fail "stonecall --version: $("$client" --version)"
client_man=$(zcat "$client_root/usr/share/man/man1/stonecall.1.gz")
for option in $("$client" --help | grep -oE -- '--(server|help|version)\b' | sort -u); do
    grep -qF -- "${option//-/\\-}" <<<"$client_man" || fail "stonecall --help shows $option, the manual page does not"
done
"$client" --help | grep -q -- '--server <HOST\[:PORT\]>' || fail "stonecall --help lacks --server"
set +e
QT_QPA_PLATFORM=offscreen "$client" --server '::1' >/dev/null 2>"$root/wrong.log"
status=$?
set -e
[ "$status" -eq 2 ] && grep -q -- '--server' "$root/wrong.log" ||
    fail "a malformed --server ends with status $status: $(cat "$root/wrong.log")"
# On the offscreen platform: it loads its libraries and plugins and keeps running until
# it is stopped.
set +e
QT_QPA_PLATFORM=offscreen timeout 4 "$client" >"$root/offscreen.log" 2>&1
status=$?
set -e
[ "$status" -eq 124 ] || fail "under offscreen the client ended by itself (status $status): $(cat "$root/offscreen.log")"
grep -iE 'could not|cannot|error' "$root/offscreen.log" && fail "the client complained under offscreen"

# On an X server: a window manager's view of the display shows the window "Login",
# with the icon set. xwininfo reads this from the server, not from the client.
cat >"$root/x11.sh" <<'EOF'
"$1" >"$2" 2>&1 &
client=$!
found=1
for _ in $(seq 100); do
    if xwininfo -root -tree | grep -q '"Login": ("stonecall"'; then
        id=$(xwininfo -root -tree | awk '/"Login": \("stonecall"/ {print $1; exit}')
        xwininfo -id "$id" | grep -q 'Map State: IsViewable' && found=0
        xprop -id "$id" _NET_WM_ICON | grep -q 'Icon (' || found=2
        break
    fi
    sleep 0.1
done
kill $client 2>/dev/null
wait $client 2>/dev/null
exit $found
EOF
set +e
timeout -k 5 60 xvfb-run -a -s "-screen 0 1280x1024x24" sh "$root/x11.sh" "$client" "$root/x11.log"
status=$?
set -e
case $status in
0) note "login window shown on the X server, with its icon" ;;
2) fail "the login window has no icon" ;;
*) fail "no login window appeared on the X server (status $status): $(cat "$root/x11.log")" ;;
esac

if [ "$failures" -ne 0 ]; then
    echo "package check: $failures failure(s)" >&2
    exit 1
fi
echo "package check passed: $(basename "$client_deb")${server_deb:+ $(basename "$server_deb")}"
