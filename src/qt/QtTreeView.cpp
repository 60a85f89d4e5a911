#include "qt/QtTreeView.h"

#include <algorithm>

namespace stonecall {

QtTreeView::QtTreeView(QWidget* parent) : QObject(parent), model(new TreeModel(this))
{
    tree = new RowView(model, parent);
    connect(tree, &RowView::doubleClicked, this, &QtTreeView::doubleClicked);
    frame.setSingleShot(true);
    connect(&frame, &QTimer::timeout, this, [this] { settle(); });
    model->pending = [this] { schedule(); };
    model->aboutToRemove = [this](TreeModel::Node* node) {
        for (const TreeModel::Node* at = tree->currentNode(); at; at = at->parent) {
            if (at == node) {
                tree->setCurrentNode(nullptr);
                return;
            }
        }
    };
}

void QtTreeView::schedule()
{
    if (frame.isActive())
        return;
    const qint64 since = sinceSettled.isValid() ? sinceSettled.elapsed() : BusyGapMs;
    frame.start(static_cast<int>(std::max<qint64>(FrameMs, BusyGapMs - since)));
}

QtTreeView::~QtTreeView()
{
    // The rows read the model's storage: they go first.
    delete tree;
}

void QtTreeView::settle()
{
    frame.stop();
    sinceSettled.start();
    model->settle();
    tree->refresh();
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
    if (model->hasPending())
        settle();
    TreeModel::Node* node = model->find(key);
    return node ? model->indexOf(node) : QModelIndex();
}

void QtTreeView::clear()
{
    frame.stop();
    tree->setCurrentNode(nullptr);
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
    if (TreeModel::Node* node = model->find(key)) {
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
        model->setText(node, text);
    }
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
    if (TreeModel::Node* node = model->find(key)) {
        model->setColours(node, fore, back);
    }
}

void QtTreeView::setExpanded(std::string_view key, bool expanded)
{
    TreeModel::Node* node = model->find(key);
    if (!node)
        return;
    // A node the view has no children of yet opens when it has; one in sight opens with the
    // next frame, together with the other changes.
    if (node->expanded != expanded) {
        model->setExpandedFlag(node, expanded);
        tree->restructure();
        schedule();
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
        model->setSorted(node, sorted);
    }
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
