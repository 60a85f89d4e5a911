#include "qt/QtTreeView.h"

#include "qt/RowView.h"

#include <algorithm>
#include <utility>

namespace stonecall {

namespace {

bool less(const QtTreeView::Node* a, const QtTreeView::Node* b)
{
    // Most texts differ in their first characters, which the nodes carry folded.
    if (const auto order = a->head <=> b->head; order != 0)
        return order < 0;
    return treeOrder::compare(a->text, a->key, b->text, b->key) < 0;
}

void numberFrom(std::vector<QtTreeView::Node*>& live, std::size_t from)
{
    for (; from < live.size(); ++from)
        live[from]->place = static_cast<std::uint32_t>(from);
}

QtTreeView::Children& kidsOf(QtTreeView::Node* parent)
{
    if (!parent->kids)
        parent->kids = std::make_unique<QtTreeView::Children>();
    return *parent->kids;
}

} // namespace

bool QtTreeView::within(const Node* node, const Node* ancestor, bool dead)
{
    for (; node; node = node->parent) {
        if (node == ancestor || (dead && node->dead))
            return true;
    }
    return false;
}

void QtTreeView::destroy(Node* node)
{
    parents.erase(node);
    for (Node* child : node->live())
        destroy(child);
    delete node;
}

QtTreeView::QtTreeView(QWidget* parent) : QObject(parent), root_(new Node)
{
    // Room for a full lobby's entries from the start: growing by rehashing costs a log-in.
    byKey.reserve(32768);
    tree = new RowView(this, parent);
    connect(tree, &RowView::doubleClicked, this, &QtTreeView::doubleClicked);
    frame.setSingleShot(true);
    connect(&frame, &QTimer::timeout, this, [this] { settle(); });
}

QtTreeView::~QtTreeView()
{
    // The rows read the nodes: they go first.
    delete tree;
    for (Node* node : graveyard)
        destroy(node);
    destroy(root_);
}

std::vector<QtTreeView::Node*> QtTreeView::children(Node* parent) const
{
    std::vector<Node*> nodes = parent->live();
    if (parent->sorted)
        std::sort(nodes.begin(), nodes.end(), less);
    return nodes;
}

bool QtTreeView::isShown(const Node* node) const
{
    for (; node != root_; node = node->parent) {
        if (!node->inView)
            return false;
    }
    return true;
}

void QtTreeView::schedule()
{
    if (frame.isActive())
        return;
    const qint64 since = sinceSettled.isValid() ? sinceSettled.elapsed() : BusyGapMs;
    frame.start(static_cast<int>(std::max<qint64>(FrameMs, BusyGapMs - since)));
}

const QtTreeView::Node* QtTreeView::shownNode(std::string_view key)
{
    if (!dirtyNodes.empty())
        settle();
    const Node* node = nodeOf(key);
    return node && isShown(node) ? node : nullptr;
}

void QtTreeView::markDirty(Node* node)
{
    if (!node->dirty) {
        schedule();
        node->dirty = true;
        dirtyNodes.push_back(node);
    }
}

void QtTreeView::queue(Node* parent, Node* child)
{
    if (!child->queued) {
        child->queued = true;
        kidsOf(parent).changed.push_back(child);
    }
    markDirty(parent);
}

void QtTreeView::dropKeys(Node* node)
{
    byKey.erase(node->key);
    for (Node* child : node->live())
        dropKeys(child);
}

void QtTreeView::clear()
{
    frame.stop();
    tree->setCurrentNode(nullptr);
    parents.clear();
    for (Node* node : graveyard)
        destroy(node);
    graveyard.clear();
    for (Node* child : root_->live())
        destroy(child);
    ++freed;
    root_->kids.reset();
    root_->dirty = false;
    dirtyNodes.clear();
    byKey.clear();
    tree->restructure();
    tree->refresh();
}

void QtTreeView::insert(std::string_view parentKey, std::string_view beforeKey,
                        std::string_view key, std::string_view text)
{
    Node* parent = find(parentKey);
    if (!parent || key.empty())
        return;
    Node* before = beforeKey.empty() ? nullptr : nodeOf(beforeKey);
    // One look-up both checks the key and files the node under it.
    Node* node = new Node;
    node->key = key;
    if (!byKey.try_emplace(node->key, node).second) {
        delete node;
        return;
    }
    node->text = text;
    node->head = treeOrder::head(node->text);
    node->parent = parent;
    node->level = static_cast<std::uint16_t>(parent->level + 1);
    std::vector<Node*>& live = kidsOf(parent).live;
    const std::size_t at =
        before && before->parent == parent && !parent->sorted ? before->place : live.size();
    live.insert(live.begin() + static_cast<long>(at), node);
    numberFrom(live, at);
    queue(parent, node);
}

void QtTreeView::remove(std::string_view key)
{
    Node* node = nodeOf(key);
    if (!node)
        return;
    // A selection inside the nodes removed goes with them.
    if (within(tree->currentNode(), node))
        tree->setCurrentNode(nullptr);
    Node* parent = node->parent;
    dropKeys(node);
    // A removal from a full group takes no scan: a sorted parent's children are put in order
    // when it settles, so the last one takes the place.
    std::vector<Node*>& live = parent->kids->live;
    if (parent->sorted) {
        live[node->place] = live.back();
        live[node->place]->place = node->place;
        live.pop_back();
    } else {
        live.erase(live.begin() + static_cast<long>(node->place));
        numberFrom(live, node->place);
    }
    node->dead = true;
    queue(parent, node);
    graveyard.push_back(node);
}

void QtTreeView::setText(std::string_view key, std::string_view text)
{
    Node* node = nodeOf(key);
    if (!node)
        return;
    node->text = text;
    node->head = treeOrder::head(node->text);
    if (!node->inView)
        return;
    schedule();
    if (node->parent->sorted)
        queue(node->parent, node);
}

void QtTreeView::setColours(std::string_view key, Rgb fore, Rgb back)
{
    if (Node* node = nodeOf(key)) {
        node->fore = fore;
        node->back = back;
        if (node->inView)
            schedule();
    }
}

void QtTreeView::setSorted(std::string_view key, bool sorted)
{
    Node* node = find(key);
    if (!node || node->sorted == sorted)
        return;
    // Unsorted, the children stay where sorting put them, and later ones come after them;
    // sorted, the shown ones all find their places anew.
    if (!sorted && node->kids)
        numberFrom(node->kids->live = children(node), 0);
    node->sorted = sorted;
    for (Node* child : sorted ? node->shown() : Node::none)
        queue(node, child);
}

void QtTreeView::settle()
{
    frame.stop();
    sinceSettled.start();
    // Latest first, which is mostly deepest first: a new node's children are then in place
    // before the node itself is shown, and it arrives whole.
    const std::vector<Node*> nodes = std::exchange(dirtyNodes, {});
    for (auto node = nodes.rbegin(); node != nodes.rend(); ++node) {
        (*node)->dirty = false;
        if (isLive(*node))
            settleNode(*node);
    }
    tree->refresh();
    // The removed nodes have left the rows.
    if (!graveyard.empty())
        ++freed;
    for (Node* node : graveyard)
        destroy(node);
    graveyard.clear();
    emit settled();
}

void QtTreeView::settleNode(Node* parent)
{
    Children& kids = *parent->kids;
    // A changed child in view leaves its place; a live one takes a new place.
    leaving.clear();
    incoming.clear();
    for (Node* child : kids.changed) {
        child->queued = false;
        if (child->inView)
            leaving.push_back(child);
        if (!child->dead)
            incoming.push_back(child);
        child->inView = !child->dead;
    }
    kids.changed.clear();
    if (leaving.empty() && incoming.empty())
        return;

    rows.clear();
    if (!parent->sorted) {
        rows = kids.live;
    } else {
        // The rows that leave are found by pointer, in their sorted list, so that the nodes
        // that stay are not touched; those are copied in runs (a filter row by row costs a
        // full group's USER three times as much). The rows that stay are in order already, and
        // each newcomer, in order too, finds its place among those after the previous one's:
        // k newcomers among n rows cost about k log n comparisons.
        const std::vector<Node*>& shown = kids.shown;
        std::sort(leaving.begin(), leaving.end());
        staying.clear();
        auto next = shown.begin();
        for (auto at = shown.begin(); at != shown.end(); ++at) {
            if (std::binary_search(leaving.begin(), leaving.end(), *at)) {
                staying.insert(staying.end(), next, at);
                next = at + 1;
            }
        }
        staying.insert(staying.end(), next, shown.end());
        std::sort(incoming.begin(), incoming.end(), less);
        auto from = staying.begin();
        for (Node* child : incoming) {
            const auto at = std::lower_bound(from, staying.end(), child, less);
            rows.insert(rows.end(), from, at);
            rows.push_back(child);
            from = at;
        }
        rows.insert(rows.end(), from, staying.end());
    }

    // The old order's buffer is kept for the next settle.
    kids.shown.swap(rows);
    if (kids.shown.empty())
        parents.erase(parent);
    else
        parents.insert(parent);
    // A parent not shown yet is seen whole when its ancestor comes.
    if (isShown(parent))
        tree->restructure();
}

std::string QtTreeView::text(std::string_view key) const
{
    const Node* node = nodeOf(key);
    return node ? node->text : std::string();
}

std::optional<int> QtTreeView::tag(std::string_view key) const
{
    const Node* node = nodeOf(key);
    return node ? node->tag : std::nullopt;
}

void QtTreeView::setTag(std::string_view key, std::optional<int> tag)
{
    // Not shown, so the view need not hear of it.
    if (Node* node = nodeOf(key))
        node->tag = tag;
}

std::string QtTreeView::parentKey(std::string_view key) const
{
    const Node* node = nodeOf(key);
    return node && node->parent != root_ ? node->parent->key : std::string();
}

std::size_t QtTreeView::childCount(std::string_view key) const
{
    const Node* node = find(key);
    return node ? node->live().size() : 0;
}

std::vector<std::string> QtTreeView::childKeys(std::string_view parentKey) const
{
    std::vector<std::string> keys;
    if (Node* node = find(parentKey)) {
        for (const Node* child : children(node))
            keys.push_back(child->key);
    }
    return keys;
}

void QtTreeView::setExpanded(std::string_view key, bool expanded)
{
    // A node the view has no children of yet opens when it has; one in sight opens with the
    // next frame, together with the other changes.
    Node* node = nodeOf(key);
    if (node && node->expanded != expanded) {
        node->expanded = expanded;
        tree->restructure();
        schedule();
    }
}

bool QtTreeView::isExpanded(std::string_view key) const
{
    const Node* node = nodeOf(key);
    return node && node->expanded;
}

void QtTreeView::setUserCollapsible(bool collapsible)
{
    tree->setUserCollapsible(collapsible);
}

std::optional<std::string> QtTreeView::selectedKey() const
{
    if (const Node* node = tree->currentNode())
        return node->key;
    return std::nullopt;
}

} // namespace stonecall
