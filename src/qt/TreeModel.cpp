#include "qt/TreeModel.h"

#include "qt/Charset.h"
#include "qt/ShownText.h"

#include <QBrush>
#include <QColor>

#include <algorithm>

namespace stonecall {

namespace {

bool less(const TreeModel::Node* a, const TreeModel::Node* b)
{
    // Most texts differ in their first characters, which the nodes carry folded.
    if (const auto order = a->head <=> b->head; order != 0)
        return order < 0;
    return treeOrder::compare(a->text, a->key, b->text, b->key) < 0;
}

// Up to this many separate runs of rows a parent tells the view run by run; changes scattered
// wider reach it as one layout change of that parent, which costs the view no more than one
// run does and spares a signal per place.
constexpr std::size_t MaxRuns = 8;
constexpr std::size_t MaxChangedRows = 64;

struct Run {
    std::size_t first;
    std::size_t count;
};

bool insideRemoved(const TreeModel::Node* node)
{
    return !TreeModel::isLive(node);
}

int depthOf(const TreeModel::Node* node)
{
    int depth = 0;
    for (; node->parent; node = node->parent)
        ++depth;
    return depth;
}

} // namespace

bool TreeModel::isLive(const Node* node)
{
    for (; node; node = node->parent) {
        if (node->dead)
            return false;
    }
    return true;
}

const std::vector<TreeModel::Node*>& TreeModel::Node::noRows()
{
    static const std::vector<Node*> none;
    return none;
}

void TreeModel::destroy(Node* node)
{
    for (Node* child = node->first(); child;) {
        Node* next = child->next;
        destroy(child);
        child = next;
    }
    delete node;
}

TreeModel::TreeModel(QObject* parent) : QAbstractItemModel(parent), root_(new Node)
{
    root_->inView = true;
}

TreeModel::~TreeModel()
{
    for (Node* node : graveyard)
        destroy(node);
    for (Node* node : buried)
        destroy(node);
    destroy(root_);
}

TreeModel::Children& TreeModel::kidsOf(Node* parent)
{
    if (!parent->kids)
        parent->kids = std::make_unique<Children>();
    return *parent->kids;
}

void TreeModel::listInsertBefore(Node* parent, Node* child, Node* before)
{
    Children& kids = kidsOf(parent);
    if (!before) {
        child->prev = kids.last;
        child->next = nullptr;
        (kids.last ? kids.last->next : kids.first) = child;
        kids.last = child;
        return;
    }
    child->next = before;
    child->prev = before->prev;
    (before->prev ? before->prev->next : kids.first) = child;
    before->prev = child;
}

void TreeModel::listUnlink(Node* parent, Node* child)
{
    Children& kids = *parent->kids;
    (child->prev ? child->prev->next : kids.first) = child->next;
    (child->next ? child->next->prev : kids.last) = child->prev;
    child->prev = child->next = nullptr;
}

namespace {

// Past these the key is hashed: entry numbers stay below MaxNumber, and the lobby's trees
// have a handful of key families.
constexpr std::size_t MaxNumber = 32768;
constexpr std::size_t MaxFamilies = 16;
constexpr std::size_t MaxPrefix = 8;
constexpr std::size_t MaxTail = 4;

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

struct SplitKey {
    std::string_view prefix;
    std::size_t number = 0;
    std::string_view tail;
};

// Letters, a number written without sign or leading zeros, and a tail that does not start
// with a digit: each such key has exactly one split, so no two keys share a place.
std::optional<SplitKey> splitKey(std::string_view key)
{
    std::size_t digits = 0;
    while (digits < key.size() && digits <= MaxPrefix && isLetter(key[digits]))
        ++digits;
    if (digits == 0 || digits > MaxPrefix)
        return std::nullopt;
    std::size_t end = digits;
    std::size_t number = 0;
    while (end < key.size() && isDigit(key[end]) && end - digits < 6) {
        number = number * 10 + static_cast<std::size_t>(key[end] - '0');
        ++end;
    }
    if (end == digits || (key[digits] == '0' && end - digits > 1) || number >= MaxNumber ||
        (end < key.size() && isDigit(key[end])) || key.size() - end > MaxTail)
        return std::nullopt;
    return SplitKey{key.substr(0, digits), number, key.substr(end)};
}

} // namespace

std::optional<TreeModel::KeyIndex::Slot> TreeModel::KeyIndex::slotOf(std::string_view key) const
{
    const std::optional<SplitKey> split = splitKey(key);
    if (!split)
        return std::nullopt;
    for (std::size_t f = 0; f < families.size(); ++f) {
        if (families[f].prefix == split->prefix && families[f].tail == split->tail)
            return Slot{f, split->number};
    }
    return std::nullopt;
}

namespace {

// A family's numbers below this stand in a vector of its own.
constexpr std::size_t SmallNumbers = 1024;

} // namespace

TreeModel::Node** TreeModel::KeyIndex::place(Slot slot, bool make)
{
    Family& family = families[slot.family];
    if (family.large)
        return family.large + slot.number;
    if (slot.number < family.small.size())
        return &family.small[slot.number];
    if (!make)
        return nullptr;
    if (slot.number < SmallNumbers) {
        family.small.reserve(SmallNumbers);
        family.small.resize(slot.number + 1);
        return &family.small[slot.number];
    }
    if (!largeTable) {
        // Zeroed pages are only touched as numbers are used.
        largeTable.reset(static_cast<Node**>(std::calloc(MaxFamilies * MaxNumber, sizeof(Node*))));
        if (!largeTable)
            throw std::bad_alloc();
    }
    family.large = largeTable.get() + slot.family * MaxNumber;
    std::copy(family.small.begin(), family.small.end(), family.large);
    family.small = {};
    return family.large + slot.number;
}

TreeModel::Node* TreeModel::KeyIndex::find(std::string_view key) const
{
    if (const std::optional<Slot> slot = slotOf(key)) {
        Node* const* at = const_cast<KeyIndex*>(this)->place(*slot, false);
        return at ? *at : nullptr;
    }
    if (others.empty())
        return nullptr;
    const auto found = others.find(key);
    return found == others.end() ? nullptr : found->second;
}

bool TreeModel::KeyIndex::add(std::string_view key, Node* node)
{
    std::optional<Slot> slot = slotOf(key);
    // A family made later than its first key would hide that key: once the families are all
    // taken, a key of another family is hashed for good (until clear()).
    if (!slot && families.size() < MaxFamilies) {
        if (const std::optional<SplitKey> split = splitKey(key)) {
            families.push_back(
                Family{std::string(split->prefix), std::string(split->tail), {}, nullptr});
            slot = Slot{families.size() - 1, split->number};
        }
    }
    if (slot) {
        Node** at = place(*slot, true);
        if (*at)
            return false;
        *at = node;
    } else if (!others.try_emplace(key, node).second) {
        return false;
    }
    ++count;
    return true;
}

void TreeModel::KeyIndex::erase(std::string_view key)
{
    if (const std::optional<Slot> slot = slotOf(key)) {
        Node** at = place(*slot, false);
        if (at && *at) {
            *at = nullptr;
            --count;
        }
    } else if (others.erase(key)) {
        --count;
    }
}

void TreeModel::KeyIndex::clear()
{
    families.clear();
    largeTable.reset();
    others.clear();
    count = 0;
}

std::vector<TreeModel::Node*> TreeModel::children(Node* parent) const
{
    std::vector<Node*> nodes;
    nodes.reserve(parent->live());
    for (Node* child = parent->first(); child; child = child->next)
        nodes.push_back(child);
    if (parent->sorted)
        std::sort(nodes.begin(), nodes.end(), less);
    return nodes;
}

void TreeModel::renumber(Node* parent)
{
    Children& kids = *parent->kids;
    for (std::size_t i = 0; i < kids.shown.size(); ++i)
        kids.shown[i]->row = static_cast<int>(i);
    kids.staleRows = false;
}

QModelIndex TreeModel::indexOf(const Node* node) const
{
    if (!node || node == root_ || !node->inView)
        return {};
    // Rows are numbered when first asked for after a change, which is seldom: the view walks
    // rows by number and asks only parents for theirs.
    if (node->parent->kids->staleRows)
        renumber(node->parent);
    return createIndex(node->row, 0, node);
}

TreeModel::Node* TreeModel::nodeOf(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this)
        return root_;
    return static_cast<Node*>(index.internalPointer());
}

void TreeModel::setExpandedFlag(Node* node, bool expanded)
{
    if (node != root_)
        node->expanded = expanded;
}

bool TreeModel::isShown(const Node* node) const
{
    for (; node != root_; node = node->parent) {
        if (!node->inView)
            return false;
    }
    return true;
}

void TreeModel::notePending()
{
    if (!hasPending() && pending)
        pending();
}

void TreeModel::markDirty(Node* node)
{
    if (!node->dirty) {
        notePending();
        node->dirty = true;
        dirtyNodes.push_back(node);
    }
}

void TreeModel::markChanged(Node* node)
{
    // A node the view has not been shown yet is read afresh when it is.
    if (!node->changed && node->inView) {
        notePending();
        node->changed = true;
        changedNodes.push_back(node);
    }
}

void TreeModel::queue(Node* parent, Node* child)
{
    if (!child->queued) {
        child->queued = true;
        kidsOf(parent).incoming.push_back(child);
    }
    markDirty(parent);
}

void TreeModel::dropKeys(Node* node)
{
    byKey.erase(node->key);
    for (Node* child = node->first(); child; child = child->next)
        dropKeys(child);
}

void TreeModel::clear()
{
    beginResetModel();
    for (Node* node : graveyard)
        destroy(node);
    graveyard.clear();
    for (Node* node : buried)
        destroy(node);
    buried.clear();
    for (Node* child = root_->first(); child;) {
        Node* next = child->next;
        destroy(child);
        child = next;
    }
    root_->kids.reset();
    root_->dirty = false;
    dirtyNodes.clear();
    changedNodes.clear();
    byKey.clear();
    parents.clear();
    endResetModel();
}

TreeModel::Node* TreeModel::insert(Node* parent, Node* before, std::string_view key,
                                   std::string_view text)
{
    // One look-up both checks the key and files the node under it.
    Node* node = new Node;
    node->key = key;
    if (!byKey.add(node->key, node)) {
        delete node;
        return nullptr;
    }
    node->text = text;
    node->head = treeOrder::head(node->text);
    node->parent = parent;
    listInsertBefore(parent, node, parent->sorted ? nullptr : before);
    ++parent->kids->live;
    queue(parent, node);
    return node;
}

void TreeModel::remove(Node* node)
{
    if (aboutToRemove)
        aboutToRemove(node);
    Node* parent = node->parent;
    dropKeys(node);
    listUnlink(parent, node);
    --parent->kids->live;
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

void TreeModel::setText(Node* node, std::string_view text)
{
    node->text = text;
    node->head = treeOrder::head(node->text);
    markChanged(node);
    if (node->parent->sorted && node->inView) {
        node->moved = true;
        leave(node);
        queue(node->parent, node);
    }
}

void TreeModel::setColours(Node* node, Rgb fore, Rgb back)
{
    node->foreRgb = fore;
    node->backRgb = back;
    node->hasFore = node->hasBack = true;
    markChanged(node);
}

void TreeModel::setSorted(Node* node, bool sorted)
{
    if (node->sorted == sorted)
        return;
    if (!sorted) {
        // The children stay where sorting put them; later ones come after them.
        for (Node* child : children(node)) {
            listUnlink(node, child);
            listInsertBefore(node, child, nullptr);
        }
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

void TreeModel::settle()
{
    // Deepest first, so that a node's children are in place before the node itself is shown.
    std::vector<Node*> nodes;
    nodes.swap(dirtyNodes);
    std::vector<std::pair<int, Node*>> byDepth;
    byDepth.reserve(nodes.size());
    for (Node* node : nodes) {
        node->dirty = false;
        if (!insideRemoved(node))
            byDepth.emplace_back(-depthOf(node), node);
    }
    std::stable_sort(byDepth.begin(), byDepth.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [depth, node] : byDepth)
        settleNode(node);

    std::vector<Node*> changed;
    changed.swap(changedNodes);
    std::erase_if(changed, [this](Node* node) {
        // A node shown at a new place has been read afresh there.
        const bool shown = node->changed && !insideRemoved(node) && isShown(node);
        node->changed = false;
        return !shown;
    });
    // The view looks each changed row up among all its rows: many changes reach it as one
    // change of the layout, which it answers with a single pass.
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
}

struct TreeModel::Plan {
    std::vector<Run> leaving;
    std::vector<Run> arriving;
};

namespace {

void addRow(std::vector<Run>& runs, std::size_t row)
{
    if (!runs.empty() && runs.back().first + runs.back().count == row)
        ++runs.back().count;
    else
        runs.push_back(Run{row, 1});
}

} // namespace

void TreeModel::leave(Node* child)
{
    if (!child->leaving) {
        child->leaving = true;
        kidsOf(child->parent).outgoing.push_back(child);
    }
}

TreeModel::Plan TreeModel::plan(Node* parent)
{
    Plan plan;
    Children& kids = *parent->kids;
    std::vector<Node*>& incoming = scratch.incoming;
    incoming.clear();
    for (Node* child : kids.incoming) {
        child->queued = false;
        if (!child->dead && (!child->inView || child->moved))
            incoming.push_back(child);
    }
    kids.incoming.clear();

    // The rows that leave, found by pointer, so that the nodes that stay are not touched: a
    // few by a scan of the rows each, many by a set.
    std::vector<std::size_t>& leavingRows = scratch.leavingRows;
    leavingRows.clear();
    const std::vector<Node*>& shown = kids.shown;
    if (kids.outgoing.size() <= 8) {
        for (Node* child : kids.outgoing) {
            const auto at = std::find(shown.begin(), shown.end(), child);
            if (at != shown.end())
                leavingRows.push_back(static_cast<std::size_t>(at - shown.begin()));
        }
        std::sort(leavingRows.begin(), leavingRows.end());
    } else {
        const std::unordered_set<const Node*> outgoing(kids.outgoing.begin(), kids.outgoing.end());
        for (std::size_t row = 0; row < shown.size(); ++row) {
            if (outgoing.contains(shown[row]))
                leavingRows.push_back(row);
        }
    }
    for (Node* child : kids.outgoing)
        child->leaving = false;
    kids.outgoing.clear();
    for (const std::size_t row : leavingRows)
        addRow(plan.leaving, row);

    // The new order is made in a buffer kept from settle to settle: a full group's rows are
    // too many to take fresh memory for each time.
    std::vector<Node*>& all = scratch.rows;
    all.clear();
    all.reserve(shown.size() - leavingRows.size() + incoming.size());
    if (!parent->sorted) {
        // The list holds the order; survivors keep theirs within it.
        for (Node* child = kids.first; child; child = child->next) {
            if (!child->inView || child->moved)
                addRow(plan.arriving, all.size());
            all.push_back(child);
        }
        return plan;
    }
    std::size_t from = 0;
    for (const std::size_t row : leavingRows) {
        all.insert(all.end(), shown.begin() + static_cast<long>(from),
                   shown.begin() + static_cast<long>(row));
        from = row + 1;
    }
    all.insert(all.end(), shown.begin() + static_cast<long>(from), shown.end());

    // Survivors are in order already; each newcomer, in order too, finds its place among
    // those after the previous one's, in steps that double and then by halving, so that k
    // newcomers among n rows cost about k log(n / k) comparisons.
    std::sort(incoming.begin(), incoming.end(), less);
    const auto place = [&](auto first, auto last, const Node* child) {
        for (std::size_t step = 1;; step *= 2) {
            if (step > static_cast<std::size_t>(last - first))
                return std::lower_bound(first, last, child, less);
            const auto probe = first + static_cast<long>(step - 1);
            if (!less(*probe, child))
                return std::lower_bound(first, probe, child, less);
            first = probe + 1;
        }
    };
    std::vector<std::size_t>& places = scratch.places;
    places.clear();
    auto at = all.begin();
    for (Node* child : incoming) {
        at = place(at, all.end(), child);
        places.push_back(static_cast<std::size_t>(at - all.begin()));
    }
    // Merged in place from the back: newcomer i goes before the survivor at places[i], after
    // the i newcomers before it.
    std::size_t end = all.size();
    all.resize(all.size() + incoming.size());
    for (std::size_t i = incoming.size(); i-- > 0;) {
        const std::size_t to = places[i];
        std::move_backward(all.begin() + static_cast<long>(to),
                           all.begin() + static_cast<long>(end),
                           all.begin() + static_cast<long>(end + i + 1));
        all[to + i] = incoming[i];
        end = to;
    }
    for (std::size_t i = 0; i < incoming.size(); ++i)
        addRow(plan.arriving, places[i] + i);
    return plan;
}

void TreeModel::settleNode(Node* parent)
{
    const Plan planned = plan(parent);
    Children& kids = *parent->kids;
    std::vector<Node*>& all = scratch.rows;

    if (!isShown(parent)) {
        // Nothing of it is shown yet: the view will see it whole when its ancestor comes.
        for (Node* child : kids.shown)
            child->inView = false;
        for (Node* child : all) {
            child->inView = true;
            child->moved = false;
        }
        kids.shown.swap(all);
        kids.staleRows = true;
        noteParent(parent);
        return;
    }

    const std::vector<Run>& leaving = planned.leaving;
    const std::vector<Run>& arriving = planned.arriving;
    if (leaving.empty() && arriving.empty())
        return;

    const QModelIndex parentIndex = indexOf(parent);
    const QList<QPersistentModelIndex> layoutParents =
        parent == root_ ? QList<QPersistentModelIndex>()
                        : QList{QPersistentModelIndex(parentIndex)};

    if (leaving.size() + arriving.size() <= MaxRuns) {
        for (auto run = leaving.rbegin(); run != leaving.rend(); ++run) {
            beginRemoveRows(parentIndex, static_cast<int>(run->first),
                            static_cast<int>(run->first + run->count - 1));
            const auto begin = kids.shown.begin() + static_cast<long>(run->first);
            for (auto it = begin; it != begin + static_cast<long>(run->count); ++it)
                (*it)->inView = false;
            kids.shown.erase(begin, begin + static_cast<long>(run->count));
            kids.staleRows = true;
            noteParent(parent);
            endRemoveRows();
        }
        for (const Run& run : arriving) {
            beginInsertRows(parentIndex, static_cast<int>(run.first),
                            static_cast<int>(run.first + run.count - 1));
            const auto begin = all.begin() + static_cast<long>(run.first);
            for (auto it = begin; it != begin + static_cast<long>(run.count); ++it) {
                (*it)->inView = true;
                (*it)->moved = false;
            }
            kids.shown.insert(kids.shown.begin() + static_cast<long>(run.first), begin,
                              begin + static_cast<long>(run.count));
            kids.staleRows = true;
            noteParent(parent);
            endInsertRows();
        }
    } else {
        emit layoutAboutToBeChanged(layoutParents);
        // Only the rows that leave or arrive are touched: the others stay in view, and their
        // numbers are made again when first asked for.
        for (const Run& run : leaving) {
            for (std::size_t i = run.first; i < run.first + run.count; ++i)
                kids.shown[i]->inView = false;
        }
        for (const Run& run : arriving) {
            for (std::size_t i = run.first; i < run.first + run.count; ++i) {
                all[i]->inView = true;
                all[i]->moved = false;
            }
        }
        // The old order's buffer is kept for the next settle.
        kids.shown.swap(all);
        kids.staleRows = true;
        noteParent(parent);
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

    // Newcomers have been read afresh at their new places.
    for (const Run& run : arriving) {
        for (std::size_t i = run.first; i < run.first + run.count; ++i)
            kids.shown[i]->changed = false;
    }
}

void TreeModel::forget(Node* node)
{
    parents.erase(node);
    for (Node* child = node->first(); child; child = child->next)
        forget(child);
}

void TreeModel::noteParent(Node* parent)
{
    if (parent->shown().empty())
        parents.erase(parent);
    else
        parents.insert(parent);
}

QModelIndex TreeModel::index(int row, int column, const QModelIndex& parent) const
{
    const Node* node = nodeOf(parent);
    const std::vector<Node*>& rows = node->shown();
    if (column != 0 || row < 0 || row >= static_cast<int>(rows.size()))
        return {};
    return createIndex(row, 0, rows[static_cast<std::size_t>(row)]);
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
    return static_cast<int>(nodeOf(parent)->shown().size());
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
        return !root_->shown().empty();
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
        return brush(node->fore());
    case Qt::BackgroundRole:
        return brush(node->back());
    default:
        return {};
    }
}

Qt::ItemFlags TreeModel::flags(const QModelIndex& index) const
{
    // A removed node's row stays until the view is told: it can be neither selected nor
    // reached by keys.
    if (!index.isValid() || !isLive(nodeOf(index)))
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

} // namespace stonecall
