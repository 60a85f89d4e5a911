#include "qt/TreeAccessible.h"

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QPersistentModelIndex>

#include <algorithm>
#include <vector>

namespace stonecall {

namespace {

class TreeAccessible;

// Rides on the view: knows what a press does, and drops the rows told to assistive technology
// before the model or the open rows change, so none of them outlives its node.
class TreeRowsHook final : public QObject {
public:
    TreeRowsHook(QAbstractScrollArea* view, TreeRows rows);
    void forget();

    TreeRows rows;
    TreeAccessible* accessible = nullptr;
};

class RowAccessible;

// The tree: its children are the open rows in the order seen.
class TreeAccessible final : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    TreeAccessible(QAbstractScrollArea* view, TreeRowsHook* hook)
        : QAccessibleWidget(view, QAccessible::Tree), hook(hook)
    {
        hook->accessible = this;
    }
    ~TreeAccessible() override
    {
        if (hook)
            hook->accessible = nullptr;
        forget();
    }

    QAbstractScrollArea* view() const { return static_cast<QAbstractScrollArea*>(widget()); }
    const TreeRows& of() const { return hook->rows; }
    const std::vector<QModelIndex>& rows() const
    {
        if (stale) {
            rows_.clear();
            addRows(QModelIndex());
            stale = false;
        }
        return rows_;
    }
    QAccessibleInterface* rowInterface(int row) const;
    int rowOf(const QModelIndex& index) const
    {
        const auto& all = rows();
        const auto at = std::find(all.begin(), all.end(), index);
        return at == all.end() ? -1 : static_cast<int>(at - all.begin());
    }
    void forget()
    {
        for (QAccessible::Id id : std::as_const(cells))
            QAccessible::deleteAccessibleInterface(id);
        cells.clear();
        stale = true;
    }
    void press(const QModelIndex& index)
    {
        // Answered first: what the press does may open a modal dialog.
        QMetaObject::invokeMethod(
            hook,
            [hook = hook, row = QPersistentModelIndex(index)] {
                if (row.isValid())
                    hook->rows.press(row);
            },
            Qt::QueuedConnection);
    }

    int childCount() const override { return static_cast<int>(rows().size()); }
    QAccessibleInterface* child(int index) const override { return rowInterface(index); }
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override
    {
        const QPoint at = view()->viewport()->mapFromGlobal(QPoint(x, y));
        const int row = rowOf(of().indexAt(at));
        return row < 0 ? nullptr : rowInterface(row);
    }
    QAccessibleInterface* focusChild() const override
    {
        const int row = view()->hasFocus() ? rowOf(of().selected()) : -1;
        return row < 0 ? nullptr : rowInterface(row);
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
        return column == 0 ? rowInterface(row) : nullptr;
    }
    int selectedCellCount() const override { return selectedRowCount(); }
    QList<QAccessibleInterface*> selectedCells() const override
    {
        QList<QAccessibleInterface*> cells;
        for (int row : selectedRows())
            cells.append(rowInterface(row));
        return cells;
    }
    QString columnDescription(int /*column*/) const override { return {}; }
    QString rowDescription(int /*row*/) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return static_cast<int>(selectedRows().size()); }
    int columnCount() const override { return 1; }
    int rowCount() const override { return static_cast<int>(rows().size()); }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override
    {
        const int row = rowOf(of().selected());
        return row < 0 ? QList<int>() : QList<int>{row};
    }
    bool isColumnSelected(int /*column*/) const override { return false; }
    bool isRowSelected(int row) const override
    {
        return row >= 0 && row < rowCount() && of().selected() == rows()[row];
    }
    // Selecting a row is what a click on it does.
    bool selectRow(int row) override
    {
        if (row < 0 || row >= rowCount())
            return false;
        of().select(rows()[row]);
        return isRowSelected(row);
    }
    // A click beside the rows hides the highlight but keeps the selected node.
    bool unselectRow(int /*row*/) override { return false; }
    bool selectColumn(int /*column*/) override { return false; }
    bool unselectColumn(int /*column*/) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent* /*event*/) override { forget(); }

private:
    void addRows(const QModelIndex& parent) const
    {
        const QAbstractItemModel* model = of().model;
        for (int r = 0, n = model->rowCount(parent); r < n; ++r) {
            const QModelIndex index = model->index(r, 0, parent);
            rows_.push_back(index);
            if (of().isExpanded(index))
                addRows(index);
        }
    }

    QPointer<TreeRowsHook> hook;
    mutable std::vector<QModelIndex> rows_;
    mutable bool stale = true;
    mutable QHash<int, QAccessible::Id> cells;
};

// One open row. It lives until the tree next changes, and reads its node afresh each time.
class RowAccessible final : public QAccessibleInterface,
                            public QAccessibleTableCellInterface,
                            public QAccessibleActionInterface {
public:
    RowAccessible(TreeAccessible* tree, const QModelIndex& index, int row)
        : tree(tree), index(index), row(row)
    {}

    bool isValid() const override { return tree->isValid() && index.isValid(); }
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
            return index.data(Qt::DisplayRole).toString();
        if (t != QAccessible::Description)
            return {};
        // Where the row stands: its level, and the row it belongs to.
        int level = 1;
        for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
            ++level;
        QString where = QStringLiteral("level %1").arg(level);
        if (const QModelIndex parent = index.parent(); parent.isValid())
            where += QStringLiteral(", in %1").arg(parent.data(Qt::DisplayRole).toString());
        return where;
    }
    void setText(QAccessible::Text /*t*/, const QString& /*text*/) override {}
    QRect rect() const override
    {
        const QRect at = tree->of().visualRect(index);
        return QRect(tree->view()->viewport()->mapToGlobal(at.topLeft()), at.size());
    }
    QAccessible::Role role() const override { return QAccessible::TreeItem; }
    QAccessible::State state() const override
    {
        const TreeRows& rows = tree->of();
        QAccessible::State state;
        state.selectable = rows.model->flags(index).testFlag(Qt::ItemIsSelectable);
        state.focusable = true;
        state.selected = isSelected();
        state.focused = state.selected && tree->view()->hasFocus();
        state.expandable = rows.model->hasChildren(index);
        state.expanded = state.expandable && rows.isExpanded(index);
        state.collapsed = state.expandable && !state.expanded;
        state.offscreen = !tree->view()->viewport()->rect().intersects(rows.visualRect(index));
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

    bool isSelected() const override { return tree->of().selected() == index; }
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
        if (action == pressAction())
            tree->press(index);
    }
    QStringList keyBindingsForAction(const QString& /*action*/) const override { return {}; }

    TreeAccessible* const tree;
    const QModelIndex index;
    const int row;
};

QAccessibleInterface* TreeAccessible::rowInterface(int row) const
{
    if (row < 0 || row >= rowCount())
        return nullptr;
    if (const auto found = cells.constFind(row); found != cells.constEnd())
        return QAccessible::accessibleInterface(*found);
    auto* cell = new RowAccessible(const_cast<TreeAccessible*>(this), rows()[row], row);
    cells.insert(row, QAccessible::registerAccessibleInterface(cell));
    return cell;
}

int TreeAccessible::indexOfChild(const QAccessibleInterface* child) const
{
    if (const auto* row = dynamic_cast<const RowAccessible*>(child))
        return row->tree == this ? row->row : -1;
    return -1;
}

TreeRowsHook::TreeRowsHook(QAbstractScrollArea* view, TreeRows rows)
    : QObject(view), rows(std::move(rows))
{
    // Before the nodes change, not after: no row told of outlives its node.
    const QAbstractItemModel* model = this->rows.model;
    const auto forgetRows = [this] { forget(); };
    connect(model, &QAbstractItemModel::rowsAboutToBeInserted, this, forgetRows);
    connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this, forgetRows);
    connect(model, &QAbstractItemModel::rowsAboutToBeMoved, this, forgetRows);
    connect(model, &QAbstractItemModel::layoutAboutToBeChanged, this, forgetRows);
    connect(model, &QAbstractItemModel::modelAboutToBeReset, this, forgetRows);
}

void TreeRowsHook::forget()
{
    if (accessible)
        accessible->forget();
}

TreeRowsHook* hookOf(QAbstractScrollArea* view)
{
    for (QObject* child : view->children())
        if (auto* hook = dynamic_cast<TreeRowsHook*>(child))
            return hook;
    return nullptr;
}

} // namespace

void exposeTreeRows(QAbstractScrollArea* view, TreeRows rows)
{
    auto* hook = new TreeRowsHook(view, std::move(rows));
    // Registered for the view in place of any interface a factory made while it was set up.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(view))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    QAccessible::registerAccessibleInterface(new TreeAccessible(view, hook));
}

void treeRowsChanged(QAbstractScrollArea* view)
{
    TreeRowsHook* hook = hookOf(view);
    if (!hook || !hook->accessible)
        return;
    hook->forget();
    if (QAccessible::isActive()) {
        QAccessibleTableModelChangeEvent rows(view, QAccessibleTableModelChangeEvent::ModelReset);
        QAccessible::updateAccessibility(&rows);
    }
}

} // namespace stonecall
