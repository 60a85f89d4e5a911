#include "qt/QtTreeView.h"

#include "qt/TreeAccessible.h"

#include <QMouseEvent>
#include <QScopedValueRollback>

#include <algorithm>

namespace stonecall {

namespace {

// A QTreeView that reports a double-click anywhere on it, on a row or below the rows, once
// the click has selected what it selects.
class Tree final : public QTreeView {
    Q_OBJECT
public:
    using QTreeView::QTreeView;

signals:
    void doubleClickedAnywhere();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override
    {
        QTreeView::mouseDoubleClickEvent(event);
        emit doubleClickedAnywhere();
    }
};

bool within(const TreeModel::Node* node, const TreeModel::Node* subtree)
{
    for (; node; node = node->parent) {
        if (node == subtree)
            return true;
    }
    return false;
}

} // namespace

QtTreeView::QtTreeView(QWidget* parent) : QObject(parent), model(new TreeModel(this))
{
    auto* view = new Tree(parent);
    tree = view;
    connect(view, &Tree::doubleClickedAnywhere, this, &QtTreeView::doubleClicked);
    view->setHeaderHidden(true);
    // Equal rows let the view lay out tens of thousands of nodes without measuring each.
    view->setUniformRowHeights(true);
    view->setExpandsOnDoubleClick(false);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setModel(model);
    // A screen reader's press on a row: what a double-click on it does.
    exposeTreeRows(view, [this](const QModelIndex& index) {
        tree->setCurrentIndex(index);
        if (tree->selectionModel()->isSelected(index))
            emit doubleClicked();
    });
    frame.setSingleShot(true);
    connect(&frame, &QTimer::timeout, this, [this] { settle(); });
    // The user's folding is kept in the nodes, which the model opens the rows by.
    connect(view, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        if (!busy)
            model->setExpandedFlag(model->nodeOf(index), true);
    });
    connect(view, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
        if (!busy)
            model->setExpandedFlag(model->nodeOf(index), false);
    });
    model->pending = [this] { schedule(); };
    model->shownExpanded = [this](TreeModel::Node* node) {
        const QModelIndex index = model->indexOf(node);
        if (!tree->isExpanded(index)) {
            const QScopedValueRollback rollback(busy, true);
            tree->expand(index);
        }
    };
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (busy)
            return;
        const QModelIndexList rows = tree->selectionModel()->selectedIndexes();
        TreeModel::Node* node = rows.isEmpty() ? nullptr : model->nodeOf(rows.front());
        selected = node && TreeModel::isLive(node) ? node : nullptr;
    });
    model->aboutToRemove = [this](TreeModel::Node* node) {
        if (within(selected, node)) {
            selected = nullptr;
            tree->selectionModel()->clear();
        }
    };
}

QtTreeView::~QtTreeView()
{
    // The view reads the model: it goes first.
    delete tree;
}

void QtTreeView::schedule()
{
    if (frame.isActive())
        return;
    const qint64 since = sinceSettled.isValid() ? sinceSettled.elapsed() : BusyGapMs;
    frame.start(static_cast<int>(std::max<qint64>(FrameMs, BusyGapMs - since)));
}

void QtTreeView::settle()
{
    frame.stop();
    sinceSettled.start();
    const QScopedValueRollback rollback(busy, true);
    model->settle();
    // A selected node that moved is selected at its new place, without scrolling there.
    if (selected) {
        const QModelIndex index = model->indexOf(selected);
        if (index.isValid() && !tree->selectionModel()->isSelected(index)) {
            const bool scrolls = tree->hasAutoScroll();
            tree->setAutoScroll(false);
            tree->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
            tree->setAutoScroll(scrolls);
        }
    }
}

QWidget* QtTreeView::widget() const
{
    return tree;
}

QTreeView* QtTreeView::view() const
{
    return tree;
}

QModelIndex QtTreeView::indexOf(std::string_view key)
{
    if (model->hasPending())
        settle();
    TreeModel::Node* node = model->find(key);
    return node ? model->indexOf(node) : QModelIndex();
}

void QtTreeView::clear()
{
    frame.stop();
    selected = nullptr;
    tree->selectionModel()->clear();
    model->clear();
}

void QtTreeView::insert(std::string_view parentKey, std::string_view beforeKey,
                        std::string_view key, std::string_view text)
{
    TreeModel::Node* parent = parentKey.empty() ? model->root() : model->find(parentKey);
    if (!parent || key.empty())
        return;
    TreeModel::Node* before = beforeKey.empty() ? nullptr : model->find(beforeKey);
    if (before && before->parent != parent)
        before = nullptr;
    model->insert(parent, before, key, text);
}

void QtTreeView::remove(std::string_view key)
{
    if (TreeModel::Node* node = model->find(key))
        model->remove(node);
}

std::size_t QtTreeView::count() const
{
    return model->count();
}

bool QtTreeView::contains(std::string_view key) const
{
    return model->find(key) != nullptr;
}

std::string QtTreeView::text(std::string_view key) const
{
    const TreeModel::Node* node = model->find(key);
    return node ? node->text : std::string();
}

void QtTreeView::setText(std::string_view key, std::string_view text)
{
    if (TreeModel::Node* node = model->find(key))
        model->setText(node, text);
}

std::optional<int> QtTreeView::tag(std::string_view key) const
{
    const TreeModel::Node* node = model->find(key);
    return node ? node->tag() : std::nullopt;
}

void QtTreeView::setTag(std::string_view key, std::optional<int> tag)
{
    // Not shown, so the view need not hear of it.
    if (TreeModel::Node* node = model->find(key))
        node->setTag(tag);
}

std::string QtTreeView::parentKey(std::string_view key) const
{
    const TreeModel::Node* node = model->find(key);
    return node && node->parent != model->root() ? node->parent->key : std::string();
}

std::size_t QtTreeView::childCount(std::string_view key) const
{
    const TreeModel::Node* node = key.empty() ? model->root() : model->find(key);
    return node ? node->live() : 0;
}

std::vector<std::string> QtTreeView::childKeys(std::string_view parentKey) const
{
    std::vector<std::string> keys;
    TreeModel::Node* node = parentKey.empty() ? model->root() : model->find(parentKey);
    if (node) {
        for (const TreeModel::Node* child : model->children(node))
            keys.push_back(child->key);
    }
    return keys;
}

void QtTreeView::setColours(std::string_view key, Rgb fore, Rgb back)
{
    if (TreeModel::Node* node = model->find(key))
        model->setColours(node, fore, back);
}

void QtTreeView::setExpanded(std::string_view key, bool expanded)
{
    TreeModel::Node* node = model->find(key);
    if (!node || node->expanded == expanded)
        return;
    model->setExpandedFlag(node, expanded);
    // A node the view has no rows of yet opens when it has; one in sight at once.
    if (model->isShown(node) && (!expanded || !node->shown().empty())) {
        const QScopedValueRollback rollback(busy, true);
        tree->setExpanded(model->indexOf(node), expanded);
    }
}

bool QtTreeView::isExpanded(std::string_view key) const
{
    const TreeModel::Node* node = model->find(key);
    return node && node->expanded;
}

void QtTreeView::setSorted(std::string_view key, bool sorted)
{
    TreeModel::Node* node = key.empty() ? model->root() : model->find(key);
    if (node)
        model->setSorted(node, sorted);
}

void QtTreeView::setUserCollapsible(bool collapsible)
{
    tree->setItemsExpandable(collapsible);
    tree->setRootIsDecorated(collapsible);
}

std::optional<std::string> QtTreeView::selectedKey() const
{
    if (!selected)
        return std::nullopt;
    return selected->key;
}

} // namespace stonecall

#include "QtTreeView.moc"
