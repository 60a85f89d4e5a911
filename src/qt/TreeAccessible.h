#pragma once
// The rows of a tree view as a screen reader meets them.
//
// Qt's own view accessibility shows each row as a table cell without its level and without a
// press; this one shows every open row, in the order seen, as a tree item named by its text,
// described by its level and the row it belongs to, stating whether it is open and whether it
// is selected, with a Press action that does what a double-click on the row does. The tree
// offers selection through its table of rows. Nothing of it exists, and nothing costs, until
// assistive technology asks.

#include <functional>

class QModelIndex;
class QTreeView;

namespace stonecall {

// `press` is what a double-click on the row does; it is called once the assistive
// technology's request has been answered, so a dialog it opens does not hold the request up.
void exposeTreeRows(QTreeView* view, std::function<void(const QModelIndex&)> press);

} // namespace stonecall
