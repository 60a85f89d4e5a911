#include "FakeTreeView.h"

#include "roster/TreeOrder.h"

#include <algorithm>

namespace stonecall {

namespace {

std::string colourText(const std::optional<Rgb>& colour)
{
    if (!colour)
        return "unset";
    return std::to_string(colour->red) + "," + std::to_string(colour->green) + "," +
           std::to_string(colour->blue);
}

} // namespace

bool FakeTreeView::ByText::operator()(const Node* a, const Node* b) const
{
    return treeOrder::compare(a->text, a->key, b->text, b->key) < 0;
}

FakeTreeView::FakeTreeView() = default;
FakeTreeView::~FakeTreeView() = default;

FakeTreeView::Node* FakeTreeView::find(std::string_view key) const
{
    auto it = byKey.find(key);
    return it == byKey.end() ? nullptr : it->second;
}

FakeTreeView::Node* FakeTreeView::findParent(std::string_view key) const
{
    return key.empty() ? const_cast<Node*>(&root) : find(key);
}

void FakeTreeView::clear()
{
    root.placed.clear();
    byKey.clear();
    added.clear();
    addedOrderStale = true;
    selected.reset();
}

void FakeTreeView::link(Node* parent, Node* child, Node* before)
{
    child->parent = parent;
    auto at = parent->placed.end();
    if (before && before->parent == parent && !parent->sorted)
        at = before->placedAt;
    child->placedAt = parent->placed.insert(at, child);
}

void FakeTreeView::unlink(Node* child)
{
    child->parent->placed.erase(child->placedAt);
}

void FakeTreeView::insert(std::string_view parentKey, std::string_view beforeKey,
                          std::string_view key, std::string_view text)
{
    Node* parent = findParent(parentKey);
    if (!parent || key.empty() || find(key))
        return;
    Node* before = beforeKey.empty() ? nullptr : find(beforeKey);
    added.push_back(std::make_unique<Node>());
    Node* node = added.back().get();
    node->addedAt = std::prev(added.end());
    node->key = key;
    node->text = text;
    byKey.emplace(node->key, node);
    addedOrderStale = true;
    link(parent, node, before);
}

void FakeTreeView::erase(Node* node)
{
    for (const Node* child : children(node))
        erase(const_cast<Node*>(child));
    if (selected && *selected == node->key)
        selected.reset();
    unlink(node);
    byKey.erase(node->key);
    added.erase(node->addedAt);
    addedOrderStale = true;
}

void FakeTreeView::remove(std::string_view key)
{
    if (Node* node = find(key))
        erase(node);
}

std::size_t FakeTreeView::count() const
{
    return added.size();
}

bool FakeTreeView::contains(std::string_view key) const
{
    return find(key) != nullptr;
}

std::string FakeTreeView::text(std::string_view key) const
{
    const Node* node = find(key);
    return node ? node->text : std::string();
}

void FakeTreeView::setText(std::string_view key, std::string_view text)
{
    Node* node = find(key);
    if (!node)
        return;
    node->text = text;
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
    return node ? node->parent->key : std::string();
}

std::size_t FakeTreeView::childCount(std::string_view key) const
{
    const Node* node = findParent(key);
    if (!node)
        return 0;
    return node->placed.size();
}

std::vector<const FakeTreeView::Node*> FakeTreeView::children(const Node* node) const
{
    std::vector<const Node*> kids(node->placed.begin(), node->placed.end());
    if (node->sorted)
        std::sort(kids.begin(), kids.end(), ByText{});
    return kids;
}

std::vector<std::string> FakeTreeView::childKeys(std::string_view parentKey) const
{
    std::vector<std::string> keys;
    if (const Node* node = findParent(parentKey)) {
        for (const Node* child : children(node))
            keys.push_back(child->key);
    }
    return keys;
}

void FakeTreeView::setColours(std::string_view key, Rgb fore, Rgb back)
{
    if (Node* node = find(key)) {
        node->fore = fore;
        node->back = back;
    }
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
    Node* node = findParent(key);
    if (!node || node->sorted == sorted)
        return;
    // Switched off, the children stay in the order sorting gave them.
    const std::vector<const Node*> kids = children(node);
    node->placed.clear();
    node->sorted = sorted;
    for (const Node* child : kids)
        link(node, const_cast<Node*>(child), nullptr);
}

std::optional<std::string> FakeTreeView::selectedKey() const
{
    return selected;
}

std::string FakeTreeView::keyAt(std::size_t index) const
{
    if (index < 1 || index > added.size())
        return {};
    if (addedOrderStale) {
        addedOrder.clear();
        for (const auto& node : added)
            addedOrder.push_back(node.get());
        addedOrderStale = false;
    }
    return addedOrder[index - 1]->key;
}

void FakeTreeView::removeAt(std::size_t index)
{
    if (index >= 1 && index <= added.size())
        remove(keyAt(index));
}

void FakeTreeView::select(std::string_view key)
{
    if (find(key))
        selected = std::string(key);
    else
        selected.reset();
}

std::optional<Rgb> FakeTreeView::foreColour(std::string_view key) const
{
    const Node* node = find(key);
    return node ? node->fore : std::nullopt;
}

std::optional<Rgb> FakeTreeView::backColour(std::string_view key) const
{
    const Node* node = find(key);
    return node ? node->back : std::nullopt;
}

bool FakeTreeView::isSorted(std::string_view key) const
{
    const Node* node = findParent(key);
    return node && node->sorted;
}

void FakeTreeView::dumpInto(std::string& out, const Node* node, int depth) const
{
    for (const Node* child : children(node)) {
        out.append(static_cast<std::size_t>(depth) * 2, ' ');
        out += child->key + " \"" + child->text + "\"";
        if (child->tag)
            out += " tag=" + std::to_string(*child->tag);
        if (child->fore != Black || child->back != White)
            out += " colours=" + colourText(child->fore) + "/" + colourText(child->back);
        if (child->expanded)
            out += " expanded";
        if (child->sorted)
            out += " sorted";
        out += '\n';
        dumpInto(out, child, depth + 1);
    }
}

std::string FakeTreeView::dump() const
{
    std::string out;
    dumpInto(out, &root, 0);
    return out;
}

} // namespace stonecall

namespace stonecall {

bool FakeTreeView::sameNodes(const FakeTreeView& a, const Node* x, const FakeTreeView& b,
                             const Node* y)
{
    const std::vector<const Node*> xs = a.children(x);
    const std::vector<const Node*> ys = b.children(y);
    if (xs.size() != ys.size())
        return false;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        const Node& p = *xs[i];
        const Node& q = *ys[i];
        if (p.key != q.key || p.text != q.text || p.tag != q.tag || p.fore != q.fore ||
            p.back != q.back || p.expanded != q.expanded || p.sorted != q.sorted ||
            !sameNodes(a, &p, b, &q))
            return false;
    }
    return true;
}

bool FakeTreeView::sameAs(const FakeTreeView& other) const
{
    return sameNodes(*this, &root, other, &other.root);
}

} // namespace stonecall
