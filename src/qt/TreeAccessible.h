#pragma once
// The rows of a tree view as a screen reader meets them.
//
// Qt's own view accessibility shows each row as a table cell without its level and without a
// press; this one shows every open row, in the order seen, as a tree item named by its text,
// described by its level and the row it belongs to, stating whether it is open and whether it
// is selected, with a Press action that does what a double-click on the row does. The tree
// offers selection through its table of rows. A row's interface is made only when assistive
// technology asks for it.

namespace stonecall {

class RowView;

void exposeTreeRows(RowView* view);
// The open rows or their order changed: what assistive technology was told of them is dropped.
void treeRowsChanged(RowView* view);

} // namespace stonecall
