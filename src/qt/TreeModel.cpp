#include "qt/TreeModel.h"

#include "qt/Charset.h"
#include "qt/ShownText.h"

#include <QBrush>
#include <QColor>
#include <QLocale>

#include <algorithm>
#include <cstdint>

namespace stonecall {

namespace {

// Changes a batch signals one by one before it falls back to one reset at its end: enough for
// what one ordinary server message does to a tree, far fewer than a log-in brings.
constexpr int ChangesBeforeReset = 48;

int compareBytes(std::string_view a, std::string_view b)
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

} // namespace

TreeModel::Node::~Node()
{
    for (Node* child : children)
        delete child;
}

TreeModel::TreeModel(QObject* parent) : QAbstractItemModel(parent), root_(new Node)
{
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // The C locale collates by case-folded code units, which a table per byte gives without
    // making a QString of either text.
    foldOnly = collator.locale().language() == QLocale::C;
    for (int code = 0; code < 256; ++code) {
        const char byte = static_cast<char>(code);
        const char16_t unit = toQString(std::string_view(&byte, 1)).at(0).unicode();
        foldedUnit[static_cast<std::size_t>(code)] =
            static_cast<char16_t>(QChar::toCaseFolded(char32_t(unit)));
    }
}

TreeModel::~TreeModel()
{
    for (Node* node : graveyard)
        delete node;
    delete root_;
}

void TreeModel::takeText(Node* node, std::string_view text) const
{
    node->text = text;
    node->sortKey.reset();
}

int TreeModel::compareFolded(std::string_view a, std::string_view b) const
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t x = foldedUnit[static_cast<unsigned char>(a[i])];
        const char16_t y = foldedUnit[static_cast<unsigned char>(b[i])];
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool TreeModel::less(const Node* a, const Node* b) const
{
    int order = 0;
    if (foldOnly) {
        order = compareFolded(a->text, b->text);
    } else {
        if (!a->sortKey)
            a->sortKey = collator.sortKey(toQString(a->text));
        if (!b->sortKey)
            b->sortKey = collator.sortKey(toQString(b->text));
        order = a->sortKey->compare(*b->sortKey);
    }
    if (order == 0)
        order = compareBytes(a->text, b->text);
    if (order == 0)
        order = compareBytes(a->key, b->key);
    return order < 0;
}

void TreeModel::sortChildren(std::vector<Node*>& children) const
{
    const auto byText = [this](const Node* a, const Node* b) { return less(a, b); };
    if (!foldOnly) {
        std::sort(children.begin(), children.end(), byText);
        return;
    }
    // Thousands of nodes sort fast when the first folded characters travel with each
    // pointer; only equal beginnings look at the nodes themselves.
    struct Entry {
        std::array<std::uint64_t, 3> head;
        Node* node;
    };
    std::vector<Entry> entries;
    entries.reserve(children.size());
    for (Node* node : children) {
        Entry entry{{0, 0, 0}, node};
        const std::size_t n = std::min<std::size_t>(node->text.size(), 12);
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t unit = foldedUnit[static_cast<unsigned char>(node->text[i])];
            entry.head[i / 4] |= unit << (48 - 16 * (i % 4));
        }
        entries.push_back(entry);
    }
    std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        if (a.head != b.head)
            return a.head < b.head;
        return byText(a.node, b.node);
    });
    for (std::size_t i = 0; i < entries.size(); ++i)
        children[i] = entries[i].node;
}

void TreeModel::listAppend(Node* parent, Node* child)
{
    child->prev = parent->last;
    child->next = nullptr;
    (parent->last ? parent->last->next : parent->first) = child;
    parent->last = child;
}

void TreeModel::listInsertBefore(Node* parent, Node* child, Node* before)
{
    if (!before) {
        listAppend(parent, child);
        return;
    }
    child->next = before;
    child->prev = before->prev;
    (before->prev ? before->prev->next : parent->first) = child;
    before->prev = child;
}

void TreeModel::listUnlink(Node* parent, Node* child)
{
    (child->prev ? child->prev->next : parent->first) = child->next;
    (child->next ? child->next->prev : parent->last) = child->prev;
    child->prev = child->next = nullptr;
}

void TreeModel::renumber(Node* parent, std::size_t from) const
{
    for (std::size_t i = from; i < parent->children.size(); ++i)
        parent->children[i]->row = static_cast<int>(i);
}

TreeModel::Node* TreeModel::find(std::string_view key) const
{
    return byKey.find(key);
}

std::vector<TreeModel::Node*> TreeModel::children(Node* parent) const
{
    settle(parent);
    return parent->children;
}

QModelIndex TreeModel::indexOf(Node* node) const
{
    if (!node || node == root_ || node->dead)
        return {};
    settle(node->parent);
    return createIndex(node->row, 0, node);
}

TreeModel::Node* TreeModel::nodeOf(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this)
        return root_;
    return static_cast<Node*>(index.internalPointer());
}

void TreeModel::forEachExpanded(const std::function<void(Node*)>& visit) const
{
    for (Node* node : expandedNodes) {
        if (!node->children.empty())
            visit(node);
    }
}

void TreeModel::setExpandedFlag(Node* node, bool expanded)
{
    if (node == root_ || node->expanded == expanded)
        return;
    node->expanded = expanded;
    if (expanded)
        expandedNodes.insert(node);
    else
        expandedNodes.erase(node);
}

void TreeModel::gainChild(Node* parent)
{
    if (parent->live++ == 0 && parent != root_)
        parents.insert(parent);
}

void TreeModel::loseChild(Node* parent)
{
    if (--parent->live == 0)
        parents.erase(parent);
}

void TreeModel::beginBatch()
{
    ++batchDepth;
}

void TreeModel::endBatch()
{
    if (batchDepth == 0 || --batchDepth > 0)
        return;
    batchChanges = 0;
    if (resetting) {
        settleAll();
        resetting = false;
        endResetModel();
    }
}

void TreeModel::noteChange()
{
    if (batchDepth > 0 && !resetting && ++batchChanges > ChangesBeforeReset) {
        beginResetModel();
        resetting = true;
    }
}

void TreeModel::markDirty(Node* node)
{
    if (!node->dirty) {
        node->dirty = true;
        dirtyNodes.push_back(node);
    }
}

void TreeModel::settle(Node* node) const
{
    // Only the quiet part of a batch leaves nodes unsettled; the view lays out every row
    // after each change, and this spares it a look into each node.
    if (resetting && node->dirty)
        putInOrder(node);
}

void TreeModel::putInOrder(Node* node) const
{
    std::vector<Node*> order;
    order.reserve(node->live);
    if (node->sorted) {
        // The order comes from sorting, so the children are read in storage order, which lets
        // the processor fetch many at once instead of following the list node by node.
        for (Node* child : node->children)
            (child->dead ? graveyard : order).push_back(child);
        sortChildren(order);
        node->first = node->last = nullptr;
        for (Node* child : order)
            listAppend(node, child);
    } else {
        for (Node* child = node->first; child; child = child->next)
            order.push_back(child);
        for (Node* child : node->children) {
            if (child->dead)
                graveyard.push_back(child);
        }
    }
    node->children = std::move(order);
    renumber(node, 0);
    node->dirty = false;
}

void TreeModel::settleAll()
{
    // Nothing is freed before every dirty node has been looked at, so a dirty node inside a
    // removed subtree is still there to be recognised and skipped.
    for (Node* node : dirtyNodes) {
        bool alive = true;
        for (const Node* n = node; n && alive; n = n->parent)
            alive = !n->dead;
        if (alive)
            settle(node);
    }
    dirtyNodes.clear();
    for (Node* node : graveyard)
        delete node;
    graveyard.clear();
}

void TreeModel::dropKeys(Node* node)
{
    byKey.erase(std::string_view(node->key));
    if (node->expanded)
        expandedNodes.erase(node);
    if (node->live > 0)
        parents.erase(node);
    for (Node* child : node->children) {
        if (!child->dead)
            dropKeys(child);
    }
}

void TreeModel::clear()
{
    if (!resetting)
        beginResetModel();
    for (Node* child : root_->children) {
        if (resetting) {
            child->dead = true;
            graveyard.push_back(child);
        } else {
            delete child;
        }
    }
    root_->children.clear();
    root_->first = root_->last = nullptr;
    root_->live = 0;
    root_->dirty = false;
    std::erase(dirtyNodes, root_);
    byKey.clear();
    expandedNodes.clear();
    parents.clear();
    if (!resetting)
        endResetModel();
}

TreeModel::Node* TreeModel::insert(Node* parent, Node* before, std::string_view key,
                                   std::string_view text)
{
    noteChange();
    auto* node = new Node;
    node->key = key;
    takeText(node, text);
    node->parent = parent;
    byKey.insert(node);

    if (resetting) {
        const bool appended = !before && !parent->sorted;
        parent->children.push_back(node);
        gainChild(parent);
        listInsertBefore(parent, node, parent->sorted ? nullptr : before);
        if (appended && !parent->dirty)
            node->row = static_cast<int>(parent->children.size() - 1);
        else
            markDirty(parent);
        return node;
    }

    std::vector<Node*>& siblings = parent->children;
    std::size_t row = siblings.size();
    if (parent->sorted) {
        row = static_cast<std::size_t>(
            std::lower_bound(siblings.begin(), siblings.end(), node,
                             [this](const Node* a, const Node* b) { return less(a, b); }) -
            siblings.begin());
    } else if (before) {
        row = static_cast<std::size_t>(before->row);
    }
    beginInsertRows(indexOf(parent), static_cast<int>(row), static_cast<int>(row));
    listInsertBefore(parent, node, row < siblings.size() ? siblings[row] : nullptr);
    siblings.insert(siblings.begin() + static_cast<long>(row), node);
    gainChild(parent);
    renumber(parent, row);
    endInsertRows();
    return node;
}

void TreeModel::remove(Node* node)
{
    if (aboutToRemove)
        aboutToRemove(node);
    noteChange();
    Node* parent = node->parent;
    if (resetting) {
        dropKeys(node);
        node->dead = true;
        listUnlink(parent, node);
        loseChild(parent);
        markDirty(parent);
        return;
    }
    const int row = node->row;
    beginRemoveRows(indexOf(parent), row, row);
    listUnlink(parent, node);
    parent->children.erase(parent->children.begin() + row);
    loseChild(parent);
    renumber(parent, static_cast<std::size_t>(row));
    endRemoveRows();
    // The view may look into the leaving nodes until it has been told they are gone.
    dropKeys(node);
    delete node;
}

void TreeModel::setText(Node* node, std::string_view text)
{
    noteChange();
    takeText(node, text);
    Node* parent = node->parent;
    if (resetting) {
        if (parent->sorted)
            markDirty(parent);
        return;
    }
    const QModelIndex changed = indexOf(node);
    if (parent->sorted) {
        // The node's new place among its siblings, which stay in order around it.
        const std::vector<Node*>& siblings = parent->children;
        const auto from = static_cast<std::size_t>(node->row);
        const auto byText = [this](const Node* a, const Node* b) { return less(a, b); };
        std::size_t to = from;
        if (from > 0 && less(node, siblings[from - 1])) {
            to = static_cast<std::size_t>(
                std::lower_bound(siblings.begin(), siblings.begin() + static_cast<long>(from), node,
                                 byText) -
                siblings.begin());
        } else if (from + 1 < siblings.size() && less(siblings[from + 1], node)) {
            to = static_cast<std::size_t>(
                     std::lower_bound(siblings.begin() + static_cast<long>(from) + 1,
                                      siblings.end(), node, byText) -
                     siblings.begin()) -
                 1;
        }
        if (to != from) {
            const QModelIndex parentIndex = indexOf(parent);
            const int destination = static_cast<int>(to > from ? to + 1 : to);
            beginMoveRows(parentIndex, static_cast<int>(from), static_cast<int>(from), parentIndex,
                          destination);
            std::vector<Node*>& moving = parent->children;
            listUnlink(parent, node);
            if (to > from)
                std::rotate(moving.begin() + static_cast<long>(from),
                            moving.begin() + static_cast<long>(from) + 1,
                            moving.begin() + static_cast<long>(to) + 1);
            else
                std::rotate(moving.begin() + static_cast<long>(to),
                            moving.begin() + static_cast<long>(from),
                            moving.begin() + static_cast<long>(from) + 1);
            listInsertBefore(parent, node, to + 1 < moving.size() ? moving[to + 1] : nullptr);
            renumber(parent, std::min(from, to));
            endMoveRows();
            const QModelIndex moved = indexOf(node);
            emit dataChanged(moved, moved, {Qt::DisplayRole});
            return;
        }
    }
    emit dataChanged(changed, changed, {Qt::DisplayRole});
}

void TreeModel::setColours(Node* node, Rgb fore, Rgb back)
{
    noteChange();
    node->fore = fore;
    node->back = back;
    if (!resetting) {
        const QModelIndex changed = indexOf(node);
        emit dataChanged(changed, changed, {Qt::ForegroundRole, Qt::BackgroundRole});
    }
}

void TreeModel::setSorted(Node* node, bool sorted)
{
    if (node->sorted == sorted)
        return;
    node->sorted = sorted;
    if (!sorted || node->live < 2)
        return;
    noteChange();
    if (resetting)
        markDirty(node);
    else
        resortNow(node);
}

void TreeModel::resortNow(Node* parent)
{
    const QModelIndex parentIndex = indexOf(parent);
    emit layoutAboutToBeChanged({QPersistentModelIndex(parentIndex)});
    const QModelIndexList before = persistentIndexList();
    putInOrder(parent);
    for (const QModelIndex& index : before) {
        Node* node = nodeOf(index);
        if (node->parent == parent)
            changePersistentIndex(index, createIndex(node->row, 0, node));
    }
    emit layoutChanged({QPersistentModelIndex(parentIndex)});
}

QModelIndex TreeModel::index(int row, int column, const QModelIndex& parent) const
{
    Node* node = nodeOf(parent);
    settle(node);
    if (column != 0 || row < 0 || row >= static_cast<int>(node->children.size()))
        return {};
    return createIndex(row, 0, node->children[static_cast<std::size_t>(row)]);
}

QModelIndex TreeModel::parent(const QModelIndex& child) const
{
    if (!child.isValid())
        return {};
    Node* parent = nodeOf(child)->parent;
    if (!parent || parent == root_)
        return {};
    return indexOf(parent);
}

int TreeModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0)
        return 0;
    Node* node = nodeOf(parent);
    settle(node);
    return static_cast<int>(node->children.size());
}

int TreeModel::columnCount(const QModelIndex&) const
{
    return 1;
}

bool TreeModel::hasChildren(const QModelIndex& parent) const
{
    // The view asks this of every row it lays out; the answer comes without touching the
    // row's node.
    if (!parent.isValid())
        return root_->live > 0;
    return parent.column() == 0 && parents.contains(nodeOf(parent));
}

QVariant TreeModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const Node* node = nodeOf(index);
    const auto brush = [](const std::optional<Rgb>& colour) -> QVariant {
        if (!colour)
            return {};
        return QBrush(QColor(colour->red, colour->green, colour->blue));
    };
    switch (role) {
    case Qt::DisplayRole:
        return shownTreeText(node->text);
    case Qt::ForegroundRole:
        return brush(node->fore);
    case Qt::BackgroundRole:
        return brush(node->back);
    default:
        return {};
    }
}

Qt::ItemFlags TreeModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

} // namespace stonecall
