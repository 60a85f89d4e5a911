#pragma once
// The rows of a tree view as a screen reader meets them.
//
// Qt's own view accessibility shows each row as a table cell without its level and without a
// press; this one shows every open row, in the order seen, as a tree item named by its text,
// described by its level and the row it belongs to, stating whether it is open and whether it
// is selected, with a Press action that does what a double-click on the row does. The tree
// offers selection through its table of rows. Nothing of it exists, and nothing costs, until
// assistive technology asks.

#include <QModelIndex>
#include <QPoint>
#include <QRect>

#include <functional>

class QAbstractItemModel;
class QAbstractScrollArea;

namespace stonecall {

// What the rows are read from and acted on through.
struct TreeRows {
    QAbstractItemModel* model = nullptr;
    std::function<bool(const QModelIndex&)> isExpanded;
    std::function<QModelIndex()> selected;
    // What a click on the row does.
    std::function<void(const QModelIndex&)> select;
    // What a double-click on the row does; called once the assistive technology's request
    // has been answered, so a dialog it opens does not hold the request up.
    std::function<void(const QModelIndex&)> press;
    // In the viewport's coordinates.
    std::function<QRect(const QModelIndex&)> visualRect;
    std::function<QModelIndex(const QPoint&)> indexAt;
};

void exposeTreeRows(QAbstractScrollArea* view, TreeRows rows);
// The open rows or their order changed: what assistive technology was told of them is dropped.
void treeRowsChanged(QAbstractScrollArea* view);

} // namespace stonecall
