#pragma once
// An in-memory tree for core tests and benchmarks. It keeps children in the order they were
// placed and sorts them only when asked for them, in the trees' one order (treeOrder).
// Every change costs O(1) beyond finding the key, so it can stand in for the real tree at
// full size.
//
// Besides the tree interface it numbers the nodes from 1 in the order they were added
// (closing the gap when a node goes), lets a test select a node as the user would, and
// prints the whole tree for comparisons.

#include "platform/TreeView.h"

#include <functional>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>

namespace stonecall {

class FakeTreeView : public TreeView {
public:
    FakeTreeView();
    ~FakeTreeView() override;
    FakeTreeView(const FakeTreeView&) = delete;
    FakeTreeView& operator=(const FakeTreeView&) = delete;

    void clear() override;
    void insert(std::string_view parentKey, std::string_view beforeKey, std::string_view key,
                std::string_view text) override;
    void remove(std::string_view key) override;
    std::size_t count() const override;
    bool contains(std::string_view key) const override;
    std::string text(std::string_view key) const override;
    void setText(std::string_view key, std::string_view text) override;
    std::optional<int> tag(std::string_view key) const override;
    void setTag(std::string_view key, std::optional<int> tag) override;
    std::string parentKey(std::string_view key) const override;
    std::size_t childCount(std::string_view key) const override;
    std::vector<std::string> childKeys(std::string_view parentKey) const override;
    void setColours(std::string_view key, Rgb fore, Rgb back) override;
    void setExpanded(std::string_view key, bool expanded) override;
    bool isExpanded(std::string_view key) const override;
    void setSorted(std::string_view key, bool sorted) override;
    void setUserCollapsible(bool collapsible) override { userCollapsible_ = collapsible; }
    std::optional<std::string> selectedKey() const override;

    // The key of the node at this place in the order added, from 1; empty when out of range.
    std::string keyAt(std::size_t index) const;
    void removeAt(std::size_t index);
    // What a click on the node does; an unknown key selects nothing.
    void select(std::string_view key);
    // Nothing until colours are set.
    std::optional<Rgb> foreColour(std::string_view key) const;
    std::optional<Rgb> backColour(std::string_view key) const;
    bool isSorted(std::string_view key) const;
    bool userCollapsible() const { return userCollapsible_; }
    // One line per node in the order shown, indented by depth: key, text, tag, flags, and the
    // colours unless they are black on white.
    std::string dump() const;
    // Whether the other tree shows the same nodes in the same order with the same
    // properties: what dump() prints, without printing it.
    bool sameAs(const FakeTreeView& other) const;

private:
    struct Node;
    struct ByText {
        bool operator()(const Node* a, const Node* b) const;
    };
    struct Node {
        std::string key;
        std::string text;
        std::optional<int> tag;
        std::optional<Rgb> fore;
        std::optional<Rgb> back;
        bool expanded = false;
        bool sorted = false;
        Node* parent = nullptr;
        std::list<Node*> placed; // children in the order placed
        std::list<Node*>::iterator placedAt;
        std::list<std::unique_ptr<Node>>::iterator addedAt;
    };
    struct KeyHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view key) const
        {
            return std::hash<std::string_view>{}(key);
        }
    };

    Node* find(std::string_view key) const;
    // The root stands for an empty key.
    Node* findParent(std::string_view key) const;
    void link(Node* parent, Node* child, Node* before);
    void unlink(Node* child);
    void erase(Node* node);
    std::vector<const Node*> children(const Node* node) const;
    void dumpInto(std::string& out, const Node* node, int depth) const;
    static bool sameNodes(const FakeTreeView& a, const Node* x, const FakeTreeView& b,
                          const Node* y);

    Node root;
    std::list<std::unique_ptr<Node>> added;
    // The nodes by their place in `added`, rebuilt after a change; walks by index stay cheap.
    mutable std::vector<const Node*> addedOrder;
    mutable bool addedOrderStale = false;
    std::unordered_map<std::string, Node*, KeyHash, std::equal_to<>> byKey;
    std::optional<std::string> selected;
    bool userCollapsible_ = true;
};

} // namespace stonecall
