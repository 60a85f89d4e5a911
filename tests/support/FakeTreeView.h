#pragma once
// An in-memory tree view. Sorted children are ordered ASCII case-insensitively, ties by the
// exact text.

#include "ui/TreeView.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace stonecall::testing {

class FakeTreeView final : public TreeView {
public:
    void clear() override;
    void add(std::string_view parentKey, std::string_view key, std::string_view text) override;
    void remove(std::string_view key) override;
    std::size_t count() const override { return nodes_.size(); }
    bool contains(std::string_view key) const override { return find(key) != nullptr; }
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
    std::optional<std::string> selectedKey() const override { return selected; }

    std::optional<std::string> selected;

private:
    struct Node {
        std::string key, text, parent;
        std::optional<int> tag;
        Rgb fore, back;
        bool expanded = false, sorted = false;
        std::vector<std::string> children;
    };
    Node* find(std::string_view key) const;
    void sortChildren(Node& node);

    std::vector<std::unique_ptr<Node>> nodes_; // in the order added
    std::vector<std::string> topLevel_;
};

} // namespace stonecall::testing
