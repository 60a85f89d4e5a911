#include "qt/RowView.h"
#include "qt/ShownText.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>

namespace stonecall {

namespace {

using Node = QtTreeView::Node;

// The tree: its children are the open rows in the order seen. Those told of are dropped
// whenever the rows change, so none of them outlives its node.
class TreeAccessible final : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit TreeAccessible(RowView* view) : QAccessibleWidget(view, QAccessible::Tree) {}
    ~TreeAccessible() override { forget(); }

    RowView* view() const { return static_cast<RowView*>(widget()); }
    int currentRow() const { return view()->rowOf(view()->currentNode()); }
    void forget()
    {
        for (QAccessible::Id id : std::as_const(cells))
            QAccessible::deleteAccessibleInterface(id);
        cells.clear();
    }

    int childCount() const override { return view()->rowCount(); }
    QAccessibleInterface* child(int row) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override
    {
        return child(view()->rowAtY(view()->viewport()->mapFromGlobal(QPoint(x, y)).y()));
    }
    QAccessibleInterface* focusChild() const override
    {
        return view()->hasFocus() ? child(currentRow()) : nullptr;
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override
    {
        return column == 0 ? child(row) : nullptr;
    }
    int selectedCellCount() const override { return selectedRowCount(); }
    QList<QAccessibleInterface*> selectedCells() const override
    {
        QAccessibleInterface* cell = child(currentRow());
        return cell ? QList{cell} : QList<QAccessibleInterface*>();
    }
    QString columnDescription(int /*column*/) const override { return {}; }
    QString rowDescription(int /*row*/) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return currentRow() < 0 ? 0 : 1; }
    int columnCount() const override { return 1; }
    int rowCount() const override { return view()->rowCount(); }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override
    {
        const int row = currentRow();
        return row < 0 ? QList<int>() : QList<int>{row};
    }
    bool isColumnSelected(int /*column*/) const override { return false; }
    // By node, not by row: a reader asking of every row then costs each a look-up, not a search.
    bool isRowSelected(int row) const override
    {
        const Node* node = view()->rowAt(row);
        return node && node == view()->currentNode();
    }
    // Selecting a row is what a click on it does.
    bool selectRow(int row) override
    {
        Node* node = view()->rowAt(row);
        if (node)
            view()->select(node);
        return node && isRowSelected(row);
    }
    // A click beside the rows hides the highlight but keeps the selected node.
    bool unselectRow(int /*row*/) override { return false; }
    bool selectColumn(int /*column*/) override { return false; }
    bool unselectColumn(int /*column*/) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent* /*event*/) override { forget(); }

private:
    mutable QHash<int, QAccessible::Id> cells;
};

// One open row. It lives until the rows next change, and reads its node afresh each time.
class RowAccessible final : public QAccessibleInterface,
                            public QAccessibleTableCellInterface,
                            public QAccessibleActionInterface {
public:
    RowAccessible(TreeAccessible* tree, int row)
        : tree(tree), row(row), node(tree->view()->rowAt(row))
    {}

    bool isValid() const override { return tree->isValid(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return tree->window(); }
    QAccessibleInterface* parent() const override { return tree; }
    QAccessibleInterface* child(int /*index*/) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface* /*child*/) const override { return -1; }
    QAccessibleInterface* childAt(int /*x*/, int /*y*/) const override { return nullptr; }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return shownTreeText(node->text);
        if (t != QAccessible::Description)
            return {};
        // Where the row stands: its level, and the row it belongs to.
        QString where = QStringLiteral("level %1").arg(node->level);
        if (node->parent->parent)
            where += QStringLiteral(", in %1").arg(shownTreeText(node->parent->text));
        return where;
    }
    void setText(QAccessible::Text /*t*/, const QString& /*text*/) override {}
    QRect rect() const override
    {
        const QRect at = tree->view()->rectOf(node);
        return QRect(tree->view()->viewport()->mapToGlobal(at.topLeft()), at.size());
    }
    QAccessible::Role role() const override { return QAccessible::TreeItem; }
    QAccessible::State state() const override
    {
        const RowView* view = tree->view();
        QAccessible::State state;
        state.selectable = QtTreeView::isLive(node);
        state.focusable = true;
        state.selected = isSelected();
        state.focused = state.selected && view->hasFocus();
        state.expandable = !node->shown().empty();
        state.expanded = state.expandable && view->isOpen(node);
        state.collapsed = state.expandable && !state.expanded;
        state.offscreen = !view->viewport()->rect().intersects(view->rectOf(node));
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TableCellInterface)
            return static_cast<QAccessibleTableCellInterface*>(this);
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }

    bool isSelected() const override { return tree->view()->currentNode() == node; }
    QList<QAccessibleInterface*> columnHeaderCells() const override { return {}; }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return 0; }
    int rowIndex() const override { return row; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return tree; }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& action) override
    {
        // Answered first: what the press does may open a modal dialog. A node freed meanwhile
        // is not pressed.
        if (action != pressAction())
            return;
        QMetaObject::invokeMethod(
            tree->view(),
            [view = tree->view(), node = node, frees = tree->view()->treeModel()->frees()] {
                if (view->treeModel()->frees() == frees)
                    view->press(node);
            },
            Qt::QueuedConnection);
    }
    QStringList keyBindingsForAction(const QString& /*action*/) const override { return {}; }

    TreeAccessible* const tree;
    const int row;
    Node* const node;
};

QAccessibleInterface* TreeAccessible::child(int row) const
{
    if (row < 0 || row >= rowCount())
        return nullptr;
    if (const auto found = cells.constFind(row); found != cells.constEnd())
        return QAccessible::accessibleInterface(*found);
    auto* cell = new RowAccessible(const_cast<TreeAccessible*>(this), row);
    cells.insert(row, QAccessible::registerAccessibleInterface(cell));
    return cell;
}

int TreeAccessible::indexOfChild(const QAccessibleInterface* child) const
{
    const auto* row = dynamic_cast<const RowAccessible*>(child);
    return row && row->tree == this ? row->row : -1;
}

} // namespace

void exposeTreeRows(RowView* view)
{
    // Registered for the view in place of any interface a factory made while it was set up.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(view))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    QAccessible::registerAccessibleInterface(new TreeAccessible(view));
}

void treeRowsChanged(RowView* view)
{
    auto* tree = dynamic_cast<TreeAccessible*>(QAccessible::queryAccessibleInterface(view));
    if (!tree)
        return;
    tree->forget();
    if (QAccessible::isActive()) {
        QAccessibleTableModelChangeEvent rows(view, QAccessibleTableModelChangeEvent::ModelReset);
        QAccessible::updateAccessibility(&rows);
    }
}

} // namespace stonecall
