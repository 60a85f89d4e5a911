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
    runs.clear();
    // The parents of open nodes: only their rows are searched for open ones, which spares the
    // rows of a full group.
    std::unordered_set<const Node*> above;
    for (const Node* node : model_->nodesWithRows()) {
        if (node != model_->root() && node->expanded && node->inView && !node->dead)
            above.insert(node->parent);
    }
    int next = 0;
    const auto visit = [&](const auto& self, const Node* parent, int depth) -> void {
        const std::vector<Node*>& shown = parent->shown();
        const bool search = above.contains(parent);
        int from = 0;
        const auto add = [&](int end) {
            if (end > from) {
                runs.push_back(Run{parent, from, end - from, depth, next});
                next += end - from;
            }
        };
        for (int row = 0; search && row < static_cast<int>(shown.size()); ++row) {
            if (isOpen(shown[row]) && !shown[row]->dead) {
                add(row + 1);
                from = row + 1;
                self(self, shown[row], depth + 1);
            }
        }
        add(static_cast<int>(shown.size()));
    };
    visit(visit, model_->root(), 0);
    total = next;
}

int RowView::rowCount() const
{
    layOut();
    return total;
}

RowView::Row RowView::rowAt(int row) const
{
    layOut();
    if (row < 0 || row >= total)
        return {};
    const auto run = std::prev(std::upper_bound(
        runs.begin(), runs.end(), row, [](int r, const Run& run) { return r < run.first; }));
    return Row{run->parent->shown()[static_cast<std::size_t>(run->from + row - run->first)],
               run->depth};
}

int RowView::rowOf(const Node* node) const
{
    if (!node)
        return -1;
    layOut();
    // A search among the node's siblings: asked for seldom, by the keys and assistive technology.
    for (const Run& run : runs) {
        if (run.parent != node->parent)
            continue;
        const auto from = run.parent->shown().begin() + run.from;
        if (const auto at = std::find(from, from + run.count, node); at != from + run.count)
            return run.first + static_cast<int>(at - from);
    }
    return -1;
}

int RowView::rowsInSight() const
{
    return (viewport()->height() + rowHeight - 1) / rowHeight;
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

int RowView::indentOf(int depth) const
{
    return (depth + (userCollapsible ? 1 : 0)) * indentation;
}

QRect RowView::rectOf(const Node* node) const
{
    const int row = rowOf(node);
    if (row < 0)
        return {};
    const int y = (row - verticalScrollBar()->value()) * rowHeight;
    const int x = indentOf(rowAt(row).depth);
    return QRect(x, y, viewport()->width() - x, rowHeight);
}

void RowView::scrollTo(const Node* node)
{
    const int row = rowOf(node);
    if (row < 0)
        return;
    updateScrollBar();
    QScrollBar* bar = verticalScrollBar();
    if (row < bar->value())
        bar->setValue(row);
    else if (row >= bar->value() + fullRowsInSight())
        bar->setValue(row - fullRowsInSight() + 1);
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
    if (const int row = rowOf(current); row >= 0 && hasFocus() && QAccessible::isActive()) {
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
    const Row at = rowAt(row);
    if (!at.node)
        return {};
    return Look{at.node,
                at.node->text,
                at.node->fore,
                at.node->back,
                at.depth,
                !at.node->shown().empty(),
                isOpen(at.node),
                selectionShown && at.node == current,
                at.node == current && hasFocus()};
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
    const int count = rowsInSight();
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
    // Forgetting what was painted makes the next refresh repaint every row in sight.
    painted.clear();
    restructure();
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

    const int indent = indentOf(look.depth);
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

bool RowView::onBranch(const Row& row, int x) const
{
    const int indent = indentOf(row.depth);
    return userCollapsible && !row.node->shown().empty() && x < indent && x >= indent - indentation;
}

void RowView::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    const Row pressed = rowAt(rowAtY(at.y()));
    if (!pressed.node) {
        // Pressing beside the rows takes the highlight away, not the current node.
        selectionShown = false;
        refresh();
    } else if (onBranch(pressed, at.x())) {
        setExpandedByUser(pressed.node, !pressed.node->expanded);
    } else {
        select(pressed.node);
    }
}

void RowView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    const Row pressed = rowAt(rowAtY(at.y()));
    // A second press somewhere else is a press there.
    if (pressed.node && (onBranch(pressed, at.x()) || pressed.node != current || !selectionShown))
        mousePressEvent(event);
    emit doubleClicked();
}

void RowView::search(const QString& text)
{
    bool skip = false;
    if (typed.isEmpty() || typedAt.elapsed() > QApplication::keyboardInputInterval()) {
        typed = text;
        skip = current != nullptr;
    } else {
        typed += text;
    }
    typedAt.start();
    // The same letter again goes on to the next row that begins with it.
    QString wanted = typed;
    if (typed.size() > 1 && typed.count(typed.back()) == typed.size()) {
        skip = true;
        wanted = typed.back();
    }
    const int count = rowCount();
    const int start = std::max(0, rowOf(current)) + (skip ? 1 : 0);
    for (int i = 0; i < count; ++i) {
        Node* node = rowAt((start + i) % count).node;
        if (shownTreeText(node->text).startsWith(wanted, Qt::CaseInsensitive)) {
            select(node);
            return;
        }
    }
}

void RowView::keyPressEvent(QKeyEvent* event)
{
    const int count = rowCount();
    const int row = rowOf(current);
    const auto moveTo = [&](int target) {
        if (count > 0)
            select(rowAt(std::clamp(target, 0, count - 1)).node);
    };
    const bool intoChildren =
        style()->styleHint(QStyle::SH_ItemView_ArrowKeysNavigateIntoChildren, nullptr, this);
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
        const int key = event->key(), page = fullRowsInSight();
        const int step = key == Qt::Key_Up     ? -1
                         : key == Qt::Key_Down ? 1
                                               : (key == Qt::Key_PageUp ? -page : page);
        moveTo(row < 0 ? 0 : row + step);
        break;
    }
    case Qt::Key_Home:
    case Qt::Key_End:
        moveTo(event->key() == Qt::Key_Home ? 0 : count - 1);
        break;
    case Qt::Key_Left:
        if (row < 0) {
            moveTo(0);
        } else if (userCollapsible && isOpen(current)) {
            setExpandedByUser(current, false);
        } else if (intoChildren && current->parent != model_->root()) {
            select(current->parent);
        }
        break;
    case Qt::Key_Right:
        if (row < 0) {
            moveTo(0);
        } else if (userCollapsible && !isOpen(current) && !current->shown().empty()) {
            setExpandedByUser(current, true);
        } else if (intoChildren && isOpen(current)) {
            moveTo(row + 1);
        }
        break;
    case Qt::Key_Plus:
    case Qt::Key_Minus:
        if (userCollapsible && current)
            setExpandedByUser(current, event->key() == Qt::Key_Plus);
        break;
    default:
        if (!event->text().isEmpty() && event->text().at(0).isPrint() &&
            !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            search(event->text());
            break;
        }
        event->ignore();
        return;
    }
    event->accept();
}

void RowView::scrollContentsBy(int, int)
{
    painted.clear();
    viewport()->update();
    refresh();
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
        repaintAll();
        break;
    case QEvent::Show:
        painted.clear();
        [[fallthrough]];
    case QEvent::FocusIn:
    case QEvent::FocusOut:
        refresh();
        break;
    case QEvent::ActivationChange:
    case QEvent::PaletteChange:
    case QEvent::EnabledChange:
        painted.clear();
        viewport()->update();
        break;
    default:
        break;
    }
    return done;
}

} // namespace stonecall
