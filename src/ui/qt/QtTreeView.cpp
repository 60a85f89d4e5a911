#include "ui/qt/QtTreeView.h"

#include "ui/qt/Charset.h"

#include <QTreeWidget>

namespace stonecall {

namespace {
constexpr int KeyRole = Qt::UserRole;
constexpr int TagRole = Qt::UserRole + 1;
constexpr int SortedRole = Qt::UserRole + 2;

QString qkey(std::string_view key) { return toQString(key); }
} // namespace

QtTreeView::QtTreeView(QWidget* parent) : QObject(parent), tree_(new QTreeWidget(parent))
{
    tree_->setHeaderHidden(true);
    tree_->setColumnCount(1);
    tree_->setExpandsOnDoubleClick(false);
    connect(tree_, &QTreeWidget::itemDoubleClicked, this, [this] { emit doubleClicked(); });
}

QWidget* QtTreeView::widget() const { return tree_; }

void QtTreeView::beginUpdate()
{
    if (updateDepth_++ == 0)
        tree_->setUpdatesEnabled(false);
}

void QtTreeView::endUpdate()
{
    if (updateDepth_ > 0 && --updateDepth_ == 0)
        tree_->setUpdatesEnabled(true);
}

QTreeWidgetItem* QtTreeView::item(std::string_view key) const
{
    return byKey_.value(qkey(key), nullptr);
}

void QtTreeView::clear()
{
    tree_->clear();
    byKey_.clear();
}

void QtTreeView::add(std::string_view parentKey, std::string_view key, std::string_view text)
{
    auto* node = new QTreeWidgetItem(QStringList{toQString(text)});
    node->setData(0, KeyRole, qkey(key));
    if (parentKey.empty()) {
        tree_->addTopLevelItem(node);
    } else if (QTreeWidgetItem* parent = item(parentKey)) {
        parent->addChild(node);
        if (parent->data(0, SortedRole).toBool())
            parent->sortChildren(0, Qt::AscendingOrder);
    } else {
        delete node;
        return;
    }
    byKey_.insert(qkey(key), node);
}

void QtTreeView::remove(std::string_view key)
{
    QTreeWidgetItem* node = item(key);
    if (!node)
        return;
    // The node's descendants go with it.
    QList<QTreeWidgetItem*> pending{node};
    while (!pending.isEmpty()) {
        QTreeWidgetItem* current = pending.takeLast();
        byKey_.remove(current->data(0, KeyRole).toString());
        for (int i = 0; i < current->childCount(); ++i)
            pending.append(current->child(i));
    }
    delete node;
}

std::size_t QtTreeView::count() const { return static_cast<std::size_t>(byKey_.size()); }

bool QtTreeView::contains(std::string_view key) const { return item(key) != nullptr; }

std::string QtTreeView::text(std::string_view key) const
{
    const QTreeWidgetItem* node = item(key);
    return node ? fromQString(node->text(0)) : std::string();
}

void QtTreeView::setText(std::string_view key, std::string_view text)
{
    if (QTreeWidgetItem* node = item(key)) {
        node->setText(0, toQString(text));
        if (QTreeWidgetItem* parent = node->parent(); parent && parent->data(0, SortedRole).toBool())
            parent->sortChildren(0, Qt::AscendingOrder);
    }
}

std::optional<int> QtTreeView::tag(std::string_view key) const
{
    const QTreeWidgetItem* node = item(key);
    if (!node || !node->data(0, TagRole).isValid())
        return std::nullopt;
    return node->data(0, TagRole).toInt();
}

void QtTreeView::setTag(std::string_view key, std::optional<int> tag)
{
    if (QTreeWidgetItem* node = item(key))
        node->setData(0, TagRole, tag ? QVariant(*tag) : QVariant());
}

std::string QtTreeView::parentKey(std::string_view key) const
{
    const QTreeWidgetItem* node = item(key);
    return node && node->parent() ? fromQString(node->parent()->data(0, KeyRole).toString()) : std::string();
}

std::size_t QtTreeView::childCount(std::string_view key) const
{
    const QTreeWidgetItem* node = item(key);
    return node ? static_cast<std::size_t>(node->childCount()) : 0;
}

std::vector<std::string> QtTreeView::childKeys(std::string_view parentKey) const
{
    std::vector<std::string> keys;
    if (parentKey.empty()) {
        for (int i = 0; i < tree_->topLevelItemCount(); ++i)
            keys.push_back(fromQString(tree_->topLevelItem(i)->data(0, KeyRole).toString()));
    } else if (const QTreeWidgetItem* parent = item(parentKey)) {
        for (int i = 0; i < parent->childCount(); ++i)
            keys.push_back(fromQString(parent->child(i)->data(0, KeyRole).toString()));
    }
    return keys;
}

void QtTreeView::setColours(std::string_view key, Rgb fore, Rgb back)
{
    if (QTreeWidgetItem* node = item(key)) {
        node->setForeground(0, QColor(fore.red, fore.green, fore.blue));
        node->setBackground(0, QColor(back.red, back.green, back.blue));
    }
}

void QtTreeView::setExpanded(std::string_view key, bool expanded)
{
    if (QTreeWidgetItem* node = item(key)) {
        node->setExpanded(expanded);
        // Keeps the flag for a node that has no children yet.
        node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
    }
}

bool QtTreeView::isExpanded(std::string_view key) const
{
    const QTreeWidgetItem* node = item(key);
    return node && node->isExpanded();
}

void QtTreeView::setSorted(std::string_view key, bool sorted)
{
    if (QTreeWidgetItem* node = item(key)) {
        node->setData(0, SortedRole, sorted);
        if (sorted)
            node->sortChildren(0, Qt::AscendingOrder);
    }
}

std::optional<std::string> QtTreeView::selectedKey() const
{
    const QTreeWidgetItem* node = tree_->currentItem();
    if (!node)
        return std::nullopt;
    return fromQString(node->data(0, KeyRole).toString());
}

} // namespace stonecall
