#pragma once
// A tree that keeps keys, parents, children and texts and nothing else: no order, no
// selection. Its operations cost the same at any size but for the memory they touch, so a
// benchmark over it shows what the builders themselves cost per message.

#include "platform/TreeView.h"

#include <functional>
#include <string>
#include <vector>

namespace stonecall::bench {

class KeyOnlyTree final : public TreeView {
public:
    ~KeyOnlyTree() override { clear(); }
    void clear() override
    {
        while (!root.children.empty())
            erase(root.children.back());
    }
    void insert(std::string_view parentKey, std::string_view, std::string_view key,
                std::string_view text) override
    {
        Node* parent = parentKey.empty() ? &root : find(parentKey);
        if (key.empty() || !parent || find(key))
            return;
        auto* node =
            new Node{std::string(key), std::string(text), parent, parent->children.size(), {}};
        nodes.emplace(std::string_view(node->key), node);
        parent->children.push_back(node);
    }
    void remove(std::string_view key) override
    {
        if (Node* node = find(key))
            erase(node);
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
        return node ? node->parent->key : std::string();
    }
    std::size_t childCount(std::string_view key) const override
    {
        const Node* node = key.empty() ? &root : find(key);
        return node ? node->children.size() : 0;
    }
    std::vector<std::string> childKeys(std::string_view key) const override
    {
        std::vector<std::string> keys;
        if (const Node* node = key.empty() ? &root : find(key)) {
            for (const Node* child : node->children)
                keys.push_back(child->key);
        }
        return keys;
    }
    void setColours(std::string_view, Rgb, Rgb) override {}
    void setExpanded(std::string_view, bool) override {}
    bool isExpanded(std::string_view) const override { return false; }
    void setSorted(std::string_view, bool) override {}
    void setUserCollapsible(bool) override {}
    std::optional<std::string> selectedKey() const override { return std::nullopt; }

private:
    struct Node {
        std::string key;
        std::string text;
        Node* parent = nullptr;
        // Where the node stands among its parent's children, which are in no order: a child
        // leaves by taking the last one's place.
        std::size_t place = 0;
        std::vector<Node*> children;
    };
    Node* find(std::string_view key) const
    {
        const auto found = nodes.find(key);
        return found == nodes.end() ? nullptr : found->second;
    }
    void erase(Node* node)
    {
        while (!node->children.empty())
            erase(node->children.back());
        std::vector<Node*>& siblings = node->parent->children;
        siblings[node->place] = siblings.back();
        siblings[node->place]->place = node->place;
        siblings.pop_back();
        nodes.erase(std::string_view(node->key));
        delete node;
    }

    Node root;
    std::unordered_map<std::string_view, Node*> nodes;
};

} // namespace stonecall::bench
