#pragma once
// Nodes found by key in one flat table (open addressing, linear probing): a look-up touches
// one slot and the node it names, where a node-based map would touch three places.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace stonecall {

// Node is any type with a `key` member that stays put while the node is indexed.
template <typename Node> class KeyIndex {
public:
    std::size_t size() const { return used; }

    Node* find(std::string_view key) const
    {
        if (table.empty())
            return nullptr;
        const std::size_t hash = hashOf(key);
        for (std::size_t i = hash & mask();; i = (i + 1) & mask()) {
            const Slot& slot = table[i];
            if (!slot.node)
                return nullptr;
            if (slot.hash == hash && slot.node->key == key)
                return slot.node;
        }
    }

    // The node's key must not be in the index yet.
    void insert(Node* node)
    {
        if ((used + 1) * 2 > table.size())
            rehash(table.empty() ? 64 : table.size() * 2);
        place(Slot{hashOf(node->key), node});
        ++used;
    }

    void erase(std::string_view key)
    {
        if (table.empty())
            return;
        const std::size_t hash = hashOf(key);
        std::size_t hole = hash & mask();
        for (;; hole = (hole + 1) & mask()) {
            if (!table[hole].node)
                return;
            if (table[hole].hash == hash && table[hole].node->key == key)
                break;
        }
        // Later table of the same run move back into the hole when that brings them nearer
        // to where they belong, so no look-up ever stops short of its key.
        for (std::size_t next = (hole + 1) & mask(); table[next].node; next = (next + 1) & mask()) {
            const std::size_t home = table[next].hash & mask();
            const bool movable =
                hole <= next ? (home <= hole || home > next) : (home <= hole && home > next);
            if (movable) {
                table[hole] = table[next];
                hole = next;
            }
        }
        table[hole] = Slot{};
        --used;
    }

    void clear()
    {
        table.clear();
        used = 0;
    }

private:
    struct Slot {
        std::size_t hash = 0;
        Node* node = nullptr;
    };

    static std::size_t hashOf(std::string_view key) { return std::hash<std::string_view>{}(key); }
    std::size_t mask() const { return table.size() - 1; }

    void place(Slot slot)
    {
        std::size_t i = slot.hash & mask();
        while (table[i].node)
            i = (i + 1) & mask();
        table[i] = slot;
    }

    void rehash(std::size_t capacity)
    {
        std::vector<Slot> old(capacity);
        old.swap(table);
        for (const Slot& slot : old) {
            if (slot.node)
                place(slot);
        }
    }

    std::vector<Slot> table;
    std::size_t used = 0;
};

} // namespace stonecall
