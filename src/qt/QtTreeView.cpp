#include "qt/QtTreeView.h"

#include <QTreeView>

#include <algorithm>
#include <functional>

namespace stonecall {

namespace {

// A QTreeView that reports a double-click anywhere on it, once the click has made its node
// current.
class ClickableTree final : public QTreeView {
public:
    using QTreeView::QTreeView;
    std::function<void()> onDoubleClick;

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override
    {
        QTreeView::mouseDoubleClickEvent(event);
        if (onDoubleClick)
            onDoubleClick();
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

struct QtTreeView::Busy {
    explicit Busy(QtTreeView& view) : view(view) { ++view.busy; }
    ~Busy() { --view.busy; }
    QtTreeView& view;
};

QtTreeView::QtTreeView(QWidget* parent) : QObject(parent), model(new TreeModel(this))
{
    auto* view = new ClickableTree(parent);
    tree = view;
    view->onDoubleClick = [this] { emit doubleClicked(); };
    view->setHeaderHidden(true);
    // Equal rows let the view lay out tens of thousands of nodes without measuring each.
    view->setUniformRowHeights(true);
    view->setExpandsOnDoubleClick(false);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setModel(model);
    frame.setSingleShot(true);
    connect(&frame, &QTimer::timeout, this, [this] { settle(); });
    followView();
}

QtTreeView::~QtTreeView()
{
    if (tree) {
        tree->setModel(nullptr);
        if (!tree->parent())
            delete tree;
    }
}

void QtTreeView::followView()
{
    connect(tree, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        if (!busy)
            model->setExpandedFlag(model->nodeOf(index), true);
    });
    connect(tree, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
        if (!busy)
            model->setExpandedFlag(model->nodeOf(index), false);
    });
    connect(tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& index) {
                if (!busy)
                    current = index.isValid() ? model->nodeOf(index) : nullptr;
            });
    model->pending = [this] {
        if (frame.isActive())
            return;
        const qint64 since = sinceSettled.isValid() ? sinceSettled.elapsed() : BusyGapMs;
        frame.start(static_cast<int>(std::max<qint64>(FrameMs, BusyGapMs - since)));
    };
    // A node set expanded before it had children, or before it was shown, opens once they are.
    model->shownExpanded = [this](TreeModel::Node* node) {
        const QModelIndex index = model->indexOf(node);
        if (!tree->isExpanded(index))
            tree->expand(index);
    };
    model->aboutToRemove = [this](TreeModel::Node* node) {
        if (!within(current, node))
            return;
        current = nullptr;
        tree->selectionModel()->clear();
    };
}

void QtTreeView::settle()
{
    frame.stop();
    sinceSettled.start();
    Busy busy(*this);
    model->settle();
    // A current node that moved to a new place is current there too.
    if (current) {
        const QModelIndex index = model->indexOf(current);
        if (index.isValid() && tree->currentIndex() != index)
            tree->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
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
    Busy busy(*this);
    frame.stop();
    current = nullptr;
    tree->selectionModel()->clear();
    model->clear();
}

void QtTreeView::insert(std::string_view parentKey, std::string_view beforeKey,
                        std::string_view key, std::string_view text)
{
    TreeModel::Node* parent = parentKey.empty() ? model->root() : model->find(parentKey);
    if (!parent || key.empty() || model->find(key))
        return;
    TreeModel::Node* before = beforeKey.empty() ? nullptr : model->find(beforeKey);
    if (before && before->parent != parent)
        before = nullptr;
    Busy busy(*this);
    model->insert(parent, before, key, text);
}

void QtTreeView::remove(std::string_view key)
{
    if (TreeModel::Node* node = model->find(key)) {
        Busy busy(*this);
        model->remove(node);
    }
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
    if (TreeModel::Node* node = model->find(key)) {
        Busy busy(*this);
        model->setText(node, text);
    }
}

std::optional<int> QtTreeView::tag(std::string_view key) const
{
    const TreeModel::Node* node = model->find(key);
    return node ? node->tag : std::nullopt;
}

void QtTreeView::setTag(std::string_view key, std::optional<int> tag)
{
    // Not shown, so the view need not hear of it.
    if (TreeModel::Node* node = model->find(key))
        node->tag = tag;
}

std::string QtTreeView::parentKey(std::string_view key) const
{
    const TreeModel::Node* node = model->find(key);
    return node && node->parent != model->root() ? node->parent->key : std::string();
}

std::size_t QtTreeView::childCount(std::string_view key) const
{
    const TreeModel::Node* node = key.empty() ? model->root() : model->find(key);
    return node ? node->live : 0;
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
    if (TreeModel::Node* node = model->find(key)) {
        Busy busy(*this);
        model->setColours(node, fore, back);
    }
}

void QtTreeView::setExpanded(std::string_view key, bool expanded)
{
    TreeModel::Node* node = model->find(key);
    if (!node)
        return;
    model->setExpandedFlag(node, expanded);
    // A node the view has not been shown yet opens when it is.
    if (model->isShown(node)) {
        Busy busy(*this);
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
    if (node) {
        Busy busy(*this);
        model->setSorted(node, sorted);
    }
}

void QtTreeView::setUserCollapsible(bool collapsible)
{
    tree->setItemsExpandable(collapsible);
    tree->setRootIsDecorated(collapsible);
}

std::optional<std::string> QtTreeView::selectedKey() const
{
    if (!current)
        return std::nullopt;
    return current->key;
}

} // namespace stonecall
