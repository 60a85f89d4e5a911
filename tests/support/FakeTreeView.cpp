#include "FakeTreeView.h"

#include <algorithm>
#include <cctype>

namespace stonecall::testing {

namespace {
bool textLess(const std::string& a, const std::string& b)
{
    const auto fold = [](unsigned char c) { return std::tolower(c); };
    const bool less = std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                                   [&](char x, char y) { return fold(x) < fold(y); });
    const bool greater = std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(),
                                                      [&](char x, char y) { return fold(x) < fold(y); });
    return less || (!greater && a < b);
}
} // namespace

FakeTreeView::Node* FakeTreeView::find(std::string_view key) const
{
    for (const auto& node : nodes_)
        if (node->key == key)
            return node.get();
    return nullptr;
}

void FakeTreeView::clear()
{
    nodes_.clear();
    topLevel_.clear();
    selected.reset();
}

void FakeTreeView::add(std::string_view parentKey, std::string_view key, std::string_view text)
{
    auto node = std::make_unique<Node>();
    node->key = key;
    node->text = text;
    node->parent = parentKey;
    if (parentKey.empty()) {
        topLevel_.emplace_back(key);
    } else if (Node* parent = find(parentKey)) {
        parent->children.emplace_back(key);
        nodes_.push_back(std::move(node));
        if (parent->sorted)
            sortChildren(*parent);
        return;
    } else {
        return;
    }
    nodes_.push_back(std::move(node));
}

void FakeTreeView::remove(std::string_view key)
{
    Node* node = find(key);
    if (!node)
        return;
    for (const std::string& child : std::vector<std::string>(node->children))
        remove(child);
    auto& siblings = node->parent.empty() ? topLevel_ : find(node->parent)->children;
    siblings.erase(std::find(siblings.begin(), siblings.end(), node->key));
    if (selected == node->key)
        selected.reset();
    nodes_.erase(std::find_if(nodes_.begin(), nodes_.end(), [&](const auto& n) { return n.get() == node; }));
}

std::string FakeTreeView::text(std::string_view key) const
{
    const Node* node = find(key);
    return node ? node->text : std::string();
}

void FakeTreeView::setText(std::string_view key, std::string_view text)
{
    if (Node* node = find(key)) {
        node->text = text;
        if (Node* parent = find(node->parent); parent && parent->sorted)
            sortChildren(*parent);
    }
}

std::optional<int> FakeTreeView::tag(std::string_view key) const
{
    const Node* node = find(key);
    return node ? node->tag : std::nullopt;
}

void FakeTreeView::setTag(std::string_view key, std::optional<int> tag)
{
    if (Node* node = find(key))
        node->tag = tag;
}

std::string FakeTreeView::parentKey(std::string_view key) const
{
    const Node* node = find(key);
    return node ? node->parent : std::string();
}

std::size_t FakeTreeView::childCount(std::string_view key) const
{
    const Node* node = find(key);
    return node ? node->children.size() : 0;
}

std::vector<std::string> FakeTreeView::childKeys(std::string_view parentKey) const
{
    if (parentKey.empty())
        return topLevel_;
    const Node* node = find(parentKey);
    return node ? node->children : std::vector<std::string>();
}

void FakeTreeView::setColours(std::string_view key, Rgb fore, Rgb back)
{
    if (Node* node = find(key))
        node->fore = fore, node->back = back;
}

void FakeTreeView::setExpanded(std::string_view key, bool expanded)
{
    if (Node* node = find(key))
        node->expanded = expanded;
}

bool FakeTreeView::isExpanded(std::string_view key) const
{
    const Node* node = find(key);
    return node && node->expanded;
}

void FakeTreeView::setSorted(std::string_view key, bool sorted)
{
    if (Node* node = find(key)) {
        node->sorted = sorted;
        if (sorted)
            sortChildren(*node);
    }
}

void FakeTreeView::sortChildren(Node& node)
{
    std::stable_sort(node.children.begin(), node.children.end(),
                     [&](const std::string& a, const std::string& b) { return textLess(find(a)->text, find(b)->text); });
}

} // namespace stonecall::testing
