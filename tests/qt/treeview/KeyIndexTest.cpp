#include "qt/KeyIndex.h"
#include "roster/Numbered.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>

using namespace stonecall;

namespace {

struct Keyed {
    std::string key;
};

} // namespace

// Random insertions and removals, many keys sharing runs of slots, always finding exactly
// the keys that are in.
TEST(KeyIndex, FindsExactlyTheKeysThatAreIn)
{
    std::mt19937 random(3);
    KeyIndex<Keyed> index;
    std::map<std::string, std::unique_ptr<Keyed>> in;
    for (int step = 0; step < 200000; ++step) {
        const std::string key = numbered("k", static_cast<long>(random() % 300));
        if (random() % 2) {
            if (!in.count(key)) {
                auto node = std::make_unique<Keyed>(Keyed{key});
                index.insert(node.get());
                in.emplace(key, std::move(node));
            }
        } else {
            index.erase(key);
            in.erase(key);
        }
        if (step % 997 == 0) {
            ASSERT_EQ(index.size(), in.size());
            for (long k = 0; k < 300; ++k) {
                const std::string probe = numbered("k", k);
                auto it = in.find(probe);
                ASSERT_EQ(index.find(probe), it == in.end() ? nullptr : it->second.get()) << step;
            }
        }
    }
    index.clear();
    EXPECT_EQ(index.find("k1"), nullptr);
    EXPECT_EQ(index.size(), 0u);
}
