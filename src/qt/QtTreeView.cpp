#include "qt/QtTreeView.h"

#include "qt/RowView.h"

#include "qt/Charset.h"
#include "qt/ShownText.h"
#include "roster/TreeKeys.h"

#include <QBrush>
#include <QColor>

#include <algorithm>

namespace stonecall {

namespace {

bool less(const QtTreeView::Node* a, const QtTreeView::Node* b)
{
    // Most texts differ in their first characters, which the nodes carry folded.
    if (const auto order = a->head <=> b->head; order != 0)
        return order < 0;
    return treeOrder::compare(a->text, a->key, b->text, b->key) < 0;
}

// The view looks each changed row up among all its rows: more changes than this reach it as
// one change of the layout, which it answers with a single pass.
constexpr std::size_t MaxChangedRows = 64;

} // namespace

bool QtTreeView::isLive(const Node* node)
{
    for (; node; node = node->parent) {
        if (node->dead)
            return false;
    }
    return true;
}

const std::vector<QtTreeView::Node*>& QtTreeView::Node::noRows()
{
    static const std::vector<Node*> none;
    return none;
}

void QtTreeView::destroy(Node* node)
{
    for (Node* child : node->live())
        destroy(child);
    delete node;
}

QtTreeView::QtTreeView(QWidget* parent) : QAbstractItemModel(parent), root_(new Node)
{
    root_->inView = true;
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
    for (Node* node : buried)
        destroy(node);
    destroy(root_);
}

void QtTreeView::numberFrom(std::vector<Node*>& live, std::size_t from)
{
    for (; from < live.size(); ++from)
        live[from]->place = static_cast<std::uint32_t>(from);
}

QtTreeView::Children& QtTreeView::kidsOf(Node* parent)
{
    if (!parent->kids)
        parent->kids = std::make_unique<Children>();
    return *parent->kids;
}

QtTreeView::KeyIndex::Family* QtTreeView::KeyIndex::familyOf(std::string_view key,
                                                             std::size_t& number, bool make) const
{
    // Entry numbers stay below 32,768, and the lobby's trees have a handful of families. A
    // family made later than its first key would hide that key: once sixteen are made, a key
    // of another family is hashed for good (until clear()).
    const std::optional<treeKeys::Parts> parts = treeKeys::split(key, 32768);
    if (!parts)
        return nullptr;
    number = parts->number;
    for (Family& family : families) {
        if (family.letters == parts->letters && family.tail == parts->tail)
            return &family;
    }
    if (!make || families.size() == 16)
        return nullptr;
    return &families.emplace_back(
        Family{std::string(parts->letters), std::string(parts->tail), {}});
}

QtTreeView::Node* QtTreeView::KeyIndex::find(std::string_view key) const
{
    std::size_t number = 0;
    if (const Family* family = familyOf(key, number, false))
        return number < family->nodes.size() ? family->nodes[number] : nullptr;
    const auto found = others.find(key);
    return found == others.end() ? nullptr : found->second;
}

bool QtTreeView::KeyIndex::add(std::string_view key, Node* node)
{
    std::size_t number = 0;
    if (Family* family = familyOf(key, number, true)) {
        if (number >= family->nodes.size())
            family->nodes.resize(number + 1);
        if (family->nodes[number])
            return false;
        family->nodes[number] = node;
    } else if (!others.try_emplace(key, node).second) {
        return false;
    }
    ++count;
    return true;
}

void QtTreeView::KeyIndex::erase(std::string_view key)
{
    std::size_t number = 0;
    if (Family* family = familyOf(key, number, false)) {
        if (number < family->nodes.size() && family->nodes[number]) {
            family->nodes[number] = nullptr;
            --count;
        }
    } else if (others.erase(key)) {
        --count;
    }
}

void QtTreeView::KeyIndex::clear()
{
    families.clear();
    others.clear();
    count = 0;
}

std::vector<QtTreeView::Node*> QtTreeView::children(Node* parent) const
{
    std::vector<Node*> nodes = parent->live();
    if (parent->sorted)
        std::sort(nodes.begin(), nodes.end(), less);
    return nodes;
}

void QtTreeView::renumber(Node* parent)
{
    Children& kids = *parent->kids;
    for (std::size_t i = 0; i < kids.shown.size(); ++i)
        kids.shown[i]->row = static_cast<int>(i);
    kids.staleRows = false;
}

QModelIndex QtTreeView::indexOf(const Node* node) const
{
    if (!node || node == root_ || !node->inView)
        return {};
    // Rows are numbered when first asked for after a change, which is seldom: the view walks
    // rows by number and asks only parents for theirs.
    if (node->parent->kids->staleRows)
        renumber(node->parent);
    return createIndex(node->row, 0, node);
}

QtTreeView::Node* QtTreeView::nodeOf(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this)
        return root_;
    return static_cast<Node*>(index.internalPointer());
}

bool QtTreeView::isShown(const Node* node) const
{
    for (; node != root_; node = node->parent) {
        if (!node->inView)
            return false;
    }
    return true;
}

void QtTreeView::notePending()
{
    if (!hasPending())
        schedule();
}

void QtTreeView::schedule()
{
    if (frame.isActive())
        return;
    const qint64 since = sinceSettled.isValid() ? sinceSettled.elapsed() : BusyGapMs;
    frame.start(static_cast<int>(std::max<qint64>(FrameMs, BusyGapMs - since)));
}

QWidget* QtTreeView::widget() const
{
    return tree;
}

RowView* QtTreeView::view() const
{
    return tree;
}

QModelIndex QtTreeView::indexOf(std::string_view key)
{
    if (hasPending())
        settle();
    const Node* node = byKey.find(key);
    return node ? indexOf(node) : QModelIndex();
}

void QtTreeView::markDirty(Node* node)
{
    if (!node->dirty) {
        notePending();
        node->dirty = true;
        dirtyNodes.push_back(node);
    }
}

void QtTreeView::markChanged(Node* node)
{
    // A node the view has not been shown yet is read afresh when it is.
    if (!node->changed && node->inView) {
        notePending();
        node->changed = true;
        changedNodes.push_back(node);
    }
}

void QtTreeView::queue(Node* parent, Node* child)
{
    if (!child->queued) {
        child->queued = true;
        kidsOf(parent).incoming.push_back(child);
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
    beginResetModel();
    for (Node* node : graveyard)
        destroy(node);
    graveyard.clear();
    for (Node* node : buried)
        destroy(node);
    buried.clear();
    for (Node* child : root_->live())
        destroy(child);
    root_->kids.reset();
    root_->dirty = false;
    dirtyNodes.clear();
    changedNodes.clear();
    byKey.clear();
    parents.clear();
    endResetModel();
}

void QtTreeView::insert(std::string_view parentKey, std::string_view beforeKey,
                        std::string_view key, std::string_view text)
{
    Node* parent = find(parentKey);
    if (!parent || key.empty())
        return;
    Node* before = beforeKey.empty() ? nullptr : byKey.find(beforeKey);
    // One look-up both checks the key and files the node under it.
    Node* node = new Node;
    node->key = key;
    if (!byKey.add(node->key, node)) {
        delete node;
        return;
    }
    node->text = text;
    node->head = treeOrder::head(node->text);
    node->parent = parent;
    std::vector<Node*>& live = kidsOf(parent).live;
    const std::size_t at =
        before && before->parent == parent && !parent->sorted ? before->place : live.size();
    live.insert(live.begin() + static_cast<long>(at), node);
    numberFrom(live, at);
    queue(parent, node);
}

void QtTreeView::remove(std::string_view key)
{
    Node* node = byKey.find(key);
    if (!node)
        return;
    // A selection inside the nodes removed goes with them.
    for (const Node* at = tree->currentNode(); at; at = at->parent) {
        if (at == node)
            tree->setCurrentNode(nullptr);
    }
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
    // Settling frees it, once the view has let go.
    if (node->inView) {
        leave(node);
        markDirty(parent);
    } else {
        notePending();
    }
    graveyard.push_back(node);
}

void QtTreeView::setText(std::string_view key, std::string_view text)
{
    Node* node = byKey.find(key);
    if (!node)
        return;
    node->text = text;
    node->head = treeOrder::head(node->text);
    markChanged(node);
    if (node->parent->sorted && node->inView) {
        node->moved = true;
        leave(node);
        queue(node->parent, node);
    }
}

void QtTreeView::setColours(std::string_view key, Rgb fore, Rgb back)
{
    Node* node = byKey.find(key);
    if (!node)
        return;
    node->fore = fore;
    node->back = back;
    markChanged(node);
}

void QtTreeView::setSorted(std::string_view key, bool sorted)
{
    Node* node = find(key);
    if (!node || node->sorted == sorted)
        return;
    if (!sorted) {
        // The children stay where sorting put them; later ones come after them.
        if (node->kids)
            numberFrom(node->kids->live = children(node), 0);
        node->sorted = false;
        return;
    }
    node->sorted = true;
    if (node->shown().size() < 2)
        return;
    for (Node* child : node->shown()) {
        if (!child->dead) {
            child->moved = true;
            leave(child);
            queue(node, child);
        }
    }
}

void QtTreeView::settle()
{
    frame.stop();
    sinceSettled.start();
    // Latest first, which is mostly deepest first: a new node's children are then in place
    // before the node itself is shown, and it arrives whole.
    std::vector<Node*> nodes;
    nodes.swap(dirtyNodes);
    for (auto node = nodes.rbegin(); node != nodes.rend(); ++node) {
        (*node)->dirty = false;
        if (isLive(*node))
            settleNode(*node);
    }

    std::vector<Node*> changed;
    changed.swap(changedNodes);
    std::erase_if(changed, [this](Node* node) {
        // A node shown at a new place has been read afresh there.
        const bool shown = node->changed && isLive(node) && isShown(node);
        node->changed = false;
        return !shown;
    });
    if (changed.size() > MaxChangedRows) {
        emit layoutAboutToBeChanged();
        emit layoutChanged();
    } else {
        for (Node* node : changed) {
            const QModelIndex index = indexOf(node);
            emit dataChanged(index, index);
        }
    }

    // What was removed a settle ago has left the view for good.
    for (Node* node : buried) {
        forget(node);
        destroy(node);
    }
    buried.clear();
    buried.swap(graveyard);
    tree->refresh();
}

void QtTreeView::leave(Node* child)
{
    if (!child->leaving) {
        child->leaving = true;
        kidsOf(child->parent).outgoing.push_back(child);
    }
}

void QtTreeView::settleNode(Node* parent)
{
    Children& kids = *parent->kids;
    std::vector<Node*>& leaving = kids.outgoing;
    std::vector<Node*>& incoming = scratch.incoming;
    incoming.clear();
    for (Node* child : kids.incoming) {
        child->queued = false;
        if (!child->dead && (!child->inView || child->moved))
            incoming.push_back(child);
    }
    kids.incoming.clear();
    if (leaving.empty() && incoming.empty())
        return;

    // The new order is made in buffers kept from settle to settle: a full group's rows are too
    // many to take fresh memory for each time.
    std::vector<Node*>& all = scratch.rows;
    all.clear();
    if (!parent->sorted) {
        all = kids.live;
    } else {
        // The rows that leave are found by pointer, so that the nodes that stay are not
        // touched: a few by a scan each, many by a search in their sorted list. The rows that
        // stay are in order already, and each newcomer, in order too, finds its place among
        // those after the previous one's: k newcomers among n rows cost about k log n
        // comparisons.
        const std::vector<Node*>& shown = kids.shown;
        std::vector<std::size_t>& gone = scratch.gone;
        gone.clear();
        if (leaving.size() <= 8) {
            for (Node* child : leaving) {
                if (const auto at = std::find(shown.begin(), shown.end(), child); at != shown.end())
                    gone.push_back(static_cast<std::size_t>(at - shown.begin()));
            }
            std::sort(gone.begin(), gone.end());
        } else {
            std::sort(leaving.begin(), leaving.end());
            for (std::size_t row = 0; row < shown.size(); ++row) {
                if (std::binary_search(leaving.begin(), leaving.end(), shown[row]))
                    gone.push_back(row);
            }
        }
        std::vector<Node*>& staying = scratch.staying;
        staying.clear();
        std::size_t next = 0;
        for (const std::size_t row : gone) {
            staying.insert(staying.end(), shown.begin() + static_cast<long>(next),
                           shown.begin() + static_cast<long>(row));
            next = row + 1;
        }
        staying.insert(staying.end(), shown.begin() + static_cast<long>(next), shown.end());
        std::sort(incoming.begin(), incoming.end(), less);
        auto from = staying.begin();
        for (Node* child : incoming) {
            const auto at = std::lower_bound(from, staying.end(), child, less);
            all.insert(all.end(), from, at);
            all.push_back(child);
            from = at;
        }
        all.insert(all.end(), from, staying.end());
    }

    // A parent not shown yet is seen whole when its ancestor comes; a shown one tells the view
    // of its new rows as one change of its layout.
    const bool shown = isShown(parent);
    QList<QPersistentModelIndex> layoutParents;
    if (parent != root_)
        layoutParents.append(indexOf(parent));
    if (shown)
        emit layoutAboutToBeChanged(layoutParents);
    // Only the rows that leave or arrive are touched; the others' numbers are made again when
    // first asked for. Newcomers are read afresh at their new places.
    for (Node* child : leaving)
        child->leaving = child->inView = false;
    leaving.clear();
    for (Node* child : incoming) {
        child->inView = true;
        child->moved = child->changed = false;
    }
    // The old order's buffer is kept for the next settle.
    kids.shown.swap(all);
    kids.staleRows = true;
    noteParent(parent);
    if (!shown)
        return;
    const QModelIndexList persistent = persistentIndexList();
    for (const QModelIndex& index : persistent) {
        Node* node = nodeOf(index);
        // The child of this parent that the index lies under, if any.
        Node* child = node;
        while (child->parent && child->parent != parent)
            child = child->parent;
        if (!child->parent)
            continue;
        if (child->dead || !child->inView)
            changePersistentIndex(index, QModelIndex());
        else if (node == child)
            changePersistentIndex(index, indexOf(node));
    }
    emit layoutChanged(layoutParents);
}

void QtTreeView::forget(Node* node)
{
    parents.erase(node);
    for (Node* child : node->live())
        forget(child);
}

void QtTreeView::noteParent(Node* parent)
{
    if (parent->shown().empty())
        parents.erase(parent);
    else
        parents.insert(parent);
}

QModelIndex QtTreeView::index(int row, int column, const QModelIndex& parent) const
{
    const Node* node = nodeOf(parent);
    const std::vector<Node*>& rows = node->shown();
    if (column != 0 || row < 0 || row >= static_cast<int>(rows.size()))
        return {};
    return createIndex(row, 0, rows[static_cast<std::size_t>(row)]);
}

QModelIndex QtTreeView::parent(const QModelIndex& child) const
{
    if (!child.isValid())
        return {};
    Node* parent = nodeOf(child)->parent;
    if (!parent || parent == root_)
        return {};
    return indexOf(parent);
}

int QtTreeView::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0)
        return 0;
    return static_cast<int>(nodeOf(parent)->shown().size());
}

int QtTreeView::columnCount(const QModelIndex&) const
{
    return 1;
}

bool QtTreeView::hasChildren(const QModelIndex& parent) const
{
    // The view asks this of every row it lays out; the answer comes without touching the
    // row's node.
    if (!parent.isValid())
        return !root_->shown().empty();
    return parent.column() == 0 && parents.contains(nodeOf(parent));
}

QVariant QtTreeView::data(const QModelIndex& index, int role) const
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

Qt::ItemFlags QtTreeView::flags(const QModelIndex& index) const
{
    // A removed node's row stays until the view is told: it can be neither selected nor
    // reached by keys.
    if (!index.isValid() || !isLive(nodeOf(index)))
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

bool QtTreeView::contains(std::string_view key) const
{
    return byKey.find(key) != nullptr;
}

std::string QtTreeView::text(std::string_view key) const
{
    const Node* node = byKey.find(key);
    return node ? node->text : std::string();
}

std::optional<int> QtTreeView::tag(std::string_view key) const
{
    const Node* node = byKey.find(key);
    return node ? node->tag : std::nullopt;
}

void QtTreeView::setTag(std::string_view key, std::optional<int> tag)
{
    // Not shown, so the view need not hear of it.
    if (Node* node = byKey.find(key))
        node->tag = tag;
}

std::string QtTreeView::parentKey(std::string_view key) const
{
    const Node* node = byKey.find(key);
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
    Node* node = byKey.find(key);
    if (node && node->expanded != expanded) {
        node->expanded = expanded;
        tree->restructure();
        schedule();
    }
}

bool QtTreeView::isExpanded(std::string_view key) const
{
    const Node* node = byKey.find(key);
    return node && node->expanded;
}

void QtTreeView::setUserCollapsible(bool collapsible)
{
    tree->setUserCollapsible(collapsible);
}

std::optional<std::string> QtTreeView::selectedKey() const
{
    if (!tree->currentNode())
        return std::nullopt;
    return tree->currentNode()->key;
}

} // namespace stonecall
