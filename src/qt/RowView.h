#pragma once
// The rows of a QtTreeView on screen: equal rows, read straight from its nodes.
//
// The rows are the nodes in open places, in the order seen, listed anew when they change. Only
// the rows in sight are painted, and after a change only those whose look changed are repainted.

#include "qt/QtTreeView.h"

#include <QAbstractScrollArea>

#include <string>
#include <vector>

namespace stonecall {

class RowView final : public QAbstractScrollArea {
    Q_OBJECT
public:
    RowView(QtTreeView* model, QWidget* parent = nullptr);

    using Node = QtTreeView::Node;
    QtTreeView* treeModel() const { return model_; }
    int rowCount() const;
    // The row's node; none past the rows.
    Node* rowAt(int row) const;
    // The node's row, or -1 when it is not in an open place.
    int rowOf(const Node* node) const;
    // The row at a height in the viewport, or -1 below the rows.
    int rowAtY(int y) const;
    // Where the node's row is in the viewport; empty when it is not in an open place.
    QRect rectOf(const Node* node) const;
    // Whether the node's children are shown, which needs children the view has been told of.
    bool isOpen(const Node* node) const;
    void scrollTo(const Node* node);

    Node* currentNode() const { return current; }
    void setCurrentNode(Node* node);
    // What a click on the node's row does.
    void select(Node* node);
    // What a double-click on the node's row does.
    void press(Node* node);
    void setUserCollapsible(bool collapsible);
    // Repaints the rows in sight that now look different.
    void refresh();
    // The rows changed: they are listed again, and assistive technology told, at the next
    // refresh.
    void restructure() { stale = rowsChanged = true; }

signals:
    // The user double-clicked the view, on a row or on an empty place.
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    // What changes the rows' look or size.
    bool event(QEvent* event) override;

private:
    // What a row in sight looked like when last painted.
    struct Look {
        std::string text;
        std::optional<Rgb> fore;
        std::optional<Rgb> back;
        int level = 0;
        bool children = false;
        bool open = false;
        bool selected = false;
        bool focus = false;
        friend bool operator==(const Look&, const Look&) = default;
    };

    void layOut() const;
    int fullRowsInSight() const;
    int indentOf(int level) const;
    // Whether x is on the row's branch mark, which opens and folds it.
    bool onBranch(const Node* node, int x) const;
    Look lookOf(int row) const;
    void paintRow(QPainter& painter, const Look& look, const QRect& rect) const;
    void updateScrollBar();
    void measure();
    void setExpandedByUser(Node* node, bool expanded);
    void search(const QString& text);
    void repaintAll();

    QtTreeView* model_;
    Node* current = nullptr;
    // The highlight of the current row; a press on an empty place hides it.
    bool selectionShown = false;
    bool userCollapsible = true;
    int rowHeight = 16;
    int indentation = 20;
    mutable bool stale = true;
    bool rowsChanged = true;
    mutable std::vector<Node*> rows;
    std::vector<Look> painted;
    QString typed;
    QElapsedTimer typedAt;
};

// The rows as a screen reader meets them (TreeAccessible.cpp): every open row, in the order
// seen, a tree item named by its text, with its level, open and selected states and a Press
// action that does what a double-click does; selection goes through the tree's table of rows.
// Qt's own view accessibility gives rows neither a level nor a press.
void exposeTreeRows(RowView* view);
// The open rows or their order changed: what assistive technology was told of them is dropped.
void treeRowsChanged(RowView* view);

} // namespace stonecall
