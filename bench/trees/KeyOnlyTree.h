#pragma once
// A tree that keeps keys, parents and texts and nothing else: no order, no selection. Every
// operation costs the same at any size, so a benchmark over it shows what the builders
// themselves cost per message.

#include "ui/TreeView.h"

#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace stonecall::bench {

class KeyOnlyTree final : public TreeView {
public:
    void clear() override { nodes.clear(); }
    void insert(std::string_view parentKey, std::string_view, std::string_view key,
                std::string_view text) override
    {
        Node* parent = parentKey.empty() ? &root : find(parentKey);
        if (key.empty() || !parent || find(key))
            return;
        nodes.emplace(std::string(key), Node{std::string(parentKey), std::string(text), {}});
        parent->children.emplace(key);
    }
    void remove(std::string_view key) override
    {
        auto it = nodes.find(key);
        if (it == nodes.end())
            return;
        for (const std::string& child : Keys(it->second.children))
            remove(child);
        it = nodes.find(key);
        Node* parent = it->second.parent.empty() ? &root : find(it->second.parent);
        parent->children.erase(parent->children.find(key));
        nodes.erase(it);
    }
    std::size_t count() const override { return nodes.size(); }
    bool contains(std::string_view key) const override { return find(key) != nullptr; }
    std::string text(std::string_view key) const override
    {
        const Node* node = find(key);
        return node ? node->text : std::string();
    }
    void setText(std::string_view key, std::string_view text) override
    {
        if (Node* node = find(key))
            node->text = text;
    }
    std::optional<int> tag(std::string_view) const override { return std::nullopt; }
    void setTag(std::string_view, std::optional<int>) override {}
    std::string parentKey(std::string_view key) const override
    {
        const Node* node = find(key);
        return node ? node->parent : std::string();
    }
    std::size_t childCount(std::string_view key) const override
    {
        const Node* node = key.empty() ? &root : find(key);
        return node ? node->children.size() : 0;
    }
    std::vector<std::string> childKeys(std::string_view key) const override
    {
        const Node* node = key.empty() ? &root : find(key);
        return node ? std::vector<std::string>(node->children.begin(), node->children.end())
                    : std::vector<std::string>();
    }
    void setColours(std::string_view, Rgb, Rgb) override {}
    void setExpanded(std::string_view, bool) override {}
    bool isExpanded(std::string_view) const override { return false; }
    void setSorted(std::string_view, bool) override {}
    void setUserCollapsible(bool) override {}
    std::optional<std::string> selectedKey() const override { return std::nullopt; }

private:
    struct KeyHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view key) const
        {
            return std::hash<std::string_view>{}(key);
        }
    };
    // In no particular order.
    using Keys = std::unordered_set<std::string, KeyHash, std::equal_to<>>;
    struct Node {
        std::string parent;
        std::string text;
        Keys children;
    };
    Node* find(std::string_view key) const
    {
        auto it = nodes.find(key);
        return it == nodes.end() ? nullptr : const_cast<Node*>(&it->second);
    }

    Node root;
    std::unordered_map<std::string, Node, KeyHash, std::equal_to<>> nodes;
};

} // namespace stonecall::bench
