#include "qt/RowView.h"

#include "qt/ShownText.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionViewItem>

#include <algorithm>
#include <map>
#include <unordered_set>

namespace stonecall {

namespace {

QColor toColor(const Rgb& colour)
{
    return QColor(colour.red, colour.green, colour.blue);
}

} // namespace

RowView::RowView(QtTreeView* model, QWidget* parent) : QAbstractScrollArea(parent), model_(model)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    verticalScrollBar()->setSingleStep(1);
    measure();
    exposeTreeRows(this);
}

void RowView::measure()
{
    // The height the style gives an item of one line of text.
    QStyleOptionViewItem option;
    option.initFrom(this);
    option.font = font();
    option.features = QStyleOptionViewItem::HasDisplay;
    option.text = QStringLiteral("Xy");
    option.widget = this;
    const int height =
        style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this).height();
    rowHeight = std::max(1, height);
    indentation = style()->pixelMetric(QStyle::PM_TreeViewIndentation, nullptr, this);
}

bool RowView::isOpen(const Node* node) const
{
    return node == model_->root() || (node->expanded && !node->shown().empty());
}

void RowView::layOut() const
{
    if (!stale)
        return;
    stale = false;
    rows.clear();
    // The parents of open nodes: only their rows are searched for open ones; the others' rows,
    // such as a full group's, are copied whole.
    std::unordered_set<const Node*> above;
    for (const Node* node : model_->nodesWithRows()) {
        if (node != model_->root() && node->expanded && node->inView && !node->dead)
            above.insert(node->parent);
    }
    const auto visit = [&](const auto& self, const Node* parent) -> void {
        if (!above.contains(parent)) {
            rows.insert(rows.end(), parent->shown().begin(), parent->shown().end());
            return;
        }
        for (Node* node : parent->shown()) {
            rows.push_back(node);
            if (isOpen(node) && !node->dead)
                self(self, node);
        }
    };
    visit(visit, model_->root());
}

int RowView::rowCount() const
{
    layOut();
    return static_cast<int>(rows.size());
}

RowView::Node* RowView::rowAt(int row) const
{
    return row < 0 || row >= rowCount() ? nullptr : rows[static_cast<std::size_t>(row)];
}

int RowView::rowOf(const Node* node) const
{
    layOut();
    // A search through the rows: asked for seldom, by the keys and assistive technology.
    const auto at = std::find(rows.begin(), rows.end(), node);
    return at == rows.end() ? -1 : static_cast<int>(at - rows.begin());
}

int RowView::fullRowsInSight() const
{
    return std::max(1, viewport()->height() / rowHeight);
}

int RowView::rowAtY(int y) const
{
    if (y < 0)
        return -1;
    const int row = verticalScrollBar()->value() + y / rowHeight;
    return row < rowCount() ? row : -1;
}

int RowView::indentOf(int level) const
{
    return (level - (userCollapsible ? 0 : 1)) * indentation;
}

QRect RowView::rectOf(const Node* node) const
{
    const int row = rowOf(node);
    if (row < 0)
        return {};
    const int y = (row - verticalScrollBar()->value()) * rowHeight;
    const int x = indentOf(node->level);
    return QRect(x, y, viewport()->width() - x, rowHeight);
}

void RowView::scrollTo(const Node* node)
{
    const int row = rowOf(node);
    if (row < 0)
        return;
    updateScrollBar();
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(std::clamp(bar->value(), row - fullRowsInSight() + 1, row));
}

void RowView::updateScrollBar()
{
    QScrollBar* bar = verticalScrollBar();
    const int page = fullRowsInSight();
    bar->setPageStep(page);
    bar->setRange(0, std::max(0, rowCount() - page));
}

void RowView::setCurrentNode(Node* node)
{
    if (node == current)
        return;
    current = node;
    selectionShown = node != nullptr;
    refresh();
    // A screen reader reads the row that became current.
    if (const int row = hasFocus() && QAccessible::isActive() ? rowOf(current) : -1; row >= 0) {
        QAccessibleEvent focus(this, QAccessible::Focus);
        focus.setChild(row);
        QAccessible::updateAccessibility(&focus);
    }
}

void RowView::select(Node* node)
{
    // A row still on screen whose node has left the model selects nothing: the node is gone
    // for the core, and its memory goes to a later node.
    if (node && !QtTreeView::isLive(node))
        node = nullptr;
    selectionShown = node != nullptr;
    setCurrentNode(node);
    refresh();
    scrollTo(node);
}

void RowView::press(Node* node)
{
    select(node);
    if (node && current == node)
        emit doubleClicked();
}

void RowView::setUserCollapsible(bool collapsible)
{
    userCollapsible = collapsible;
    restructure();
    repaintAll();
}

void RowView::setExpandedByUser(Node* node, bool expanded)
{
    if (node->expanded == expanded)
        return;
    node->expanded = expanded;
    restructure();
    // A current node folded away gives the place to the node folded.
    if (!expanded && current && QtTreeView::within(current->parent, node))
        setCurrentNode(node);
    refresh();
}

RowView::Look RowView::lookOf(int row) const
{
    const Node* node = rowAt(row);
    if (!node)
        return {};
    return Look{node->text,
                node->fore,
                node->back,
                node->level,
                !node->shown().empty(),
                isOpen(node),
                selectionShown && node == current,
                node == current && hasFocus()};
}

void RowView::refresh()
{
    if (rowsChanged) {
        rowsChanged = false;
        treeRowsChanged(this);
    }
    updateScrollBar();
    if (!isVisible())
        return;
    const int first = verticalScrollBar()->value();
    const int count = (viewport()->height() + rowHeight - 1) / rowHeight;
    painted.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        Look look = lookOf(first + i);
        if (look != painted[static_cast<std::size_t>(i)]) {
            painted[static_cast<std::size_t>(i)] = std::move(look);
            viewport()->update(0, i * rowHeight, viewport()->width(), rowHeight);
        }
    }
}

void RowView::repaintAll()
{
    // Forgetting what was painted makes the refresh repaint every row in sight; the update
    // repaints the place below them too.
    painted.clear();
    viewport()->update();
    refresh();
}

void RowView::paintRow(QPainter& painter, const Look& look, const QRect& rect) const
{
    QStyleOptionViewItem option;
    option.initFrom(this);
    option.state &= ~(QStyle::State_HasFocus | QStyle::State_MouseOver);
    option.font = font();
    option.widget = this;
    option.showDecorationSelected =
        style()->styleHint(QStyle::SH_ItemView_ShowDecorationSelected, nullptr, this);
    option.textElideMode = Qt::ElideRight;
    option.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    option.viewItemPosition = QStyleOptionViewItem::OnlyOne;
    const int icon = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
    option.decorationSize = QSize(icon, icon);
    option.state.setFlag(QStyle::State_Selected, look.selected);
    option.state.setFlag(QStyle::State_Children, look.children);
    option.state.setFlag(QStyle::State_Open, look.open);

    const int indent = indentOf(look.level);
    if (indent > 0) {
        option.rect = QRect(rect.x(), rect.y(), indent, rect.height());
        if (option.showDecorationSelected)
            style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &option, &painter, this);
        if (userCollapsible && look.children) {
            QStyleOption branch = option;
            branch.rect =
                QRect(rect.x() + indent - indentation, rect.y(), indentation, rect.height());
            branch.state |= QStyle::State_Item;
            style()->drawPrimitive(QStyle::PE_IndicatorBranch, &branch, &painter, this);
        }
    }

    option.rect = QRect(rect.x() + indent, rect.y(), rect.width() - indent, rect.height());
    option.state.setFlag(QStyle::State_HasFocus, look.focus);
    option.features = QStyleOptionViewItem::HasDisplay;
    option.text = shownTreeText(look.text);
    if (look.fore)
        option.palette.setBrush(QPalette::Text, QBrush(toColor(*look.fore)));
    if (look.back)
        option.backgroundBrush = QBrush(toColor(*look.back));
    style()->drawControl(QStyle::CE_ItemViewItem, &option, &painter, this);
}

void RowView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const QRect area = event->rect();
    const int first = verticalScrollBar()->value();
    const int from = std::max(0, area.top() / rowHeight);
    const int to = std::min(area.bottom() / rowHeight, rowCount() - first - 1);
    for (int i = from; i <= to; ++i)
        paintRow(painter, lookOf(first + i),
                 QRect(0, i * rowHeight, viewport()->width(), rowHeight));
}

bool RowView::onBranch(const Node* node, int x) const
{
    const int indent = indentOf(node->level);
    return userCollapsible && !node->shown().empty() && x < indent && x >= indent - indentation;
}

void RowView::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    Node* pressed = rowAt(rowAtY(at.y()));
    if (!pressed) {
        // Pressing beside the rows takes the highlight away, not the current node.
        selectionShown = false;
        refresh();
    } else if (onBranch(pressed, at.x())) {
        setExpandedByUser(pressed, !pressed->expanded);
    } else {
        select(pressed);
    }
}

void RowView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    const Node* pressed = rowAt(rowAtY(at.y()));
    // A second press somewhere else is a press there.
    if (pressed && (onBranch(pressed, at.x()) || pressed != current || !selectionShown))
        mousePressEvent(event);
    emit doubleClicked();
}

void RowView::search(const QString& text)
{
    // Keys typed in quick succession make one text; the same letter again goes on to the next
    // row that begins with it.
    const bool afresh =
        typed.isEmpty() || typedAt.elapsed() > QApplication::keyboardInputInterval();
    typed = afresh ? text : typed + text;
    typedAt.start();
    const bool again = typed.size() > 1 && typed.count(typed.back()) == typed.size();
    const QString wanted = again ? QString(typed.back()) : typed;
    const int count = rowCount();
    const int start = std::max(0, rowOf(current)) + ((afresh && current) || again ? 1 : 0);
    for (int i = 0; i < count; ++i) {
        Node* node = rowAt((start + i) % count);
        if (shownTreeText(node->text).startsWith(wanted, Qt::CaseInsensitive)) {
            select(node);
            return;
        }
    }
}

void RowView::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key(), count = rowCount(), row = rowOf(current);
    const auto moveTo = [&](int target) {
        if (count > 0)
            select(rowAt(std::clamp(target, 0, count - 1)));
    };
    // How far the keys that move go from the current row; Home and End go to the ends.
    const int page = fullRowsInSight();
    const std::map<int, int> steps = {{Qt::Key_Up, -1},        {Qt::Key_Down, 1},
                                      {Qt::Key_PageUp, -page}, {Qt::Key_PageDown, page},
                                      {Qt::Key_Home, -count},  {Qt::Key_End, count}};
    const bool right = key == Qt::Key_Right;
    if (const auto step = steps.find(key); step != steps.end()) {
        // With no current row, all but End go to the first.
        moveTo(row < 0 && key != Qt::Key_End ? 0 : row + step->second);
    } else if (key == Qt::Key_Left || right) {
        // Left folds the current row or goes up to its parent; Right opens it or goes into it.
        const bool intoChildren =
            style()->styleHint(QStyle::SH_ItemView_ArrowKeysNavigateIntoChildren, nullptr, this);
        if (row < 0)
            moveTo(0);
        else if (userCollapsible && isOpen(current) != right &&
                 !(right && current->shown().empty()))
            setExpandedByUser(current, right);
        else if (intoChildren && (right ? isOpen(current) : current->parent != model_->root()))
            select(right ? rowAt(row + 1) : current->parent);
    } else if (key == Qt::Key_Plus || key == Qt::Key_Minus) {
        if (userCollapsible && current)
            setExpandedByUser(current, key == Qt::Key_Plus);
    } else if (!event->text().isEmpty() && event->text().at(0).isPrint() &&
               !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        search(event->text());
    } else {
        event->ignore();
        return;
    }
    event->accept();
}

void RowView::scrollContentsBy(int, int)
{
    repaintAll();
}

bool RowView::event(QEvent* event)
{
    const bool done = QAbstractScrollArea::event(event);
    switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::StyleChange:
        measure();
        [[fallthrough]];
    case QEvent::Resize:
        // The rows move: what assistive technology knows of them is stale.
        restructure();
        [[fallthrough]];
    case QEvent::Show:
    case QEvent::ActivationChange:
    case QEvent::PaletteChange:
    case QEvent::EnabledChange:
        repaintAll();
        break;
    case QEvent::FocusIn:
    case QEvent::FocusOut:
        refresh();
        break;
    default:
        break;
    }
    return done;
}

} // namespace stonecall
