#pragma once
// The order of sorted children: by text with letter case ignored after the platform's locale,
// then by the exact text as unsigned bytes, then by the key.

#include <QCollator>

#include <algorithm>
#include <array>
#include <compare>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stonecall {

class TreeOrder {
public:
    // The first folded characters of a text, in an order that agrees with the full
    // comparison wherever two heads differ; only kept up with in the C locale.
    using Head = std::array<std::uint64_t, 3>;

    // What the order reads of a node; the sort key is made when first needed and must be
    // dropped when the text changes, and the head must be made anew (headOf) with the text.
    struct Item {
        const std::string& key;
        const std::string& text;
        std::unique_ptr<QCollatorSortKey>& sortKey;
    };

    TreeOrder();

    Head headOf(std::string_view text) const { return foldOnly ? head(text) : Head{}; }

    template <typename Node> bool less(const Node* a, const Node* b) const
    {
        // Most texts differ in their first characters, which the nodes carry folded.
        // Compared as a whole (not with != first, which the library makes a memcmp call).
        if (foldOnly) {
            if (const auto order = a->head <=> b->head; order != 0)
                return order < 0;
        }
        return less(Item{a->key, a->text, a->sortKey}, Item{b->key, b->text, b->sortKey});
    }
    bool less(Item a, Item b) const;

    // Sorts the nodes into this order.
    template <typename Node> void sort(std::vector<Node*>& nodes) const
    {
        if (!foldOnly) {
            std::sort(nodes.begin(), nodes.end(),
                      [this](const Node* a, const Node* b) { return less(a, b); });
            return;
        }
        // Thousands of nodes sort fast when the first folded characters travel with each
        // pointer; only equal beginnings look at the nodes themselves. The entries' room is
        // kept from sort to sort.
        std::vector<Entry>& entries = sortEntries;
        entries.clear();
        for (Node* node : nodes)
            entries.push_back(Entry{node->head, node});
        std::sort(entries.begin(), entries.end(), [this](const Entry& a, const Entry& b) {
            if (const auto order = a.head <=> b.head; order != 0)
                return order < 0;
            const Node* x = static_cast<const Node*>(a.node);
            const Node* y = static_cast<const Node*>(b.node);
            return less(Item{x->key, x->text, x->sortKey}, Item{y->key, y->text, y->sortKey});
        });
        for (std::size_t i = 0; i < entries.size(); ++i)
            nodes[i] = static_cast<Node*>(entries[i].node);
    }

private:
    struct Entry {
        Head head;
        void* node;
    };

    int compareFolded(std::string_view a, std::string_view b) const;
    std::array<std::uint64_t, 3> head(std::string_view text) const;

    QCollator collator;
    bool foldOnly;
    // Each byte's character folded to its case-insensitive form, for the C locale.
    std::array<char16_t, 256> foldedUnit;
    mutable std::vector<Entry> sortEntries;
};

} // namespace stonecall
