#pragma once
// The tree view over a row view and a model of our own, nodes found by key.
//
// Changes are answered for at once but shown at most once per frame: the first change after
// the view was last told starts a frame's wait, and then everything changed meanwhile
// reaches the view together, and only the rows in sight that now look different are
// repainted. While changes keep coming, they are shown at most ten times a second: each
// showing merges the newcomers into their sorted groups and repaints, and showing every
// frame doubles what a full lobby's log-in costs. Expanded nodes and the current node stay so.

#include "platform/TreeView.h"
#include "qt/RowView.h"
#include "qt/TreeModel.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QWidget;

namespace stonecall {

class QtTreeView final : public QObject, public TreeView {
    Q_OBJECT
public:
    explicit QtTreeView(QWidget* parent = nullptr);
    ~QtTreeView() override;

    QWidget* widget() const;
    RowView* view() const;
    // Where the node stands in the view's model, once pending changes are shown; invalid
    // for an unknown key.
    QModelIndex indexOf(std::string_view key);
    // Shows the pending changes now rather than at the end of the frame.
    void settle();

    // How long changes wait to be shown together, and at least how long after the last time
    // while they keep coming. Settling and repainting a full lobby's tree costs a millisecond
    // or two, and a log-in streams changes in for a second or more: four times a second keeps
    // the list visibly filling at a fraction of the cost.
    static constexpr int FrameMs = 16;
    static constexpr int BusyGapMs = 250;

    void clear() override;
    void insert(std::string_view parentKey, std::string_view beforeKey, std::string_view key,
                std::string_view text) override;
    void remove(std::string_view key) override;
    std::size_t count() const override;
    bool contains(std::string_view key) const override;
    std::string text(std::string_view key) const override;
    void setText(std::string_view key, std::string_view text) override;
    std::optional<int> tag(std::string_view key) const override;
    void setTag(std::string_view key, std::optional<int> tag) override;
    std::string parentKey(std::string_view key) const override;
    std::size_t childCount(std::string_view key) const override;
    std::vector<std::string> childKeys(std::string_view parentKey) const override;
    void setColours(std::string_view key, Rgb fore, Rgb back) override;
    void setExpanded(std::string_view key, bool expanded) override;
    bool isExpanded(std::string_view key) const override;
    void setSorted(std::string_view key, bool sorted) override;
    void setUserCollapsible(bool collapsible) override;
    std::optional<std::string> selectedKey() const override;

signals:
    // The user double-clicked the tree; the node clicked, if any, is the selected one.
    void doubleClicked();

private:
    void schedule();

    TreeModel* model;
    QPointer<RowView> tree;
    QTimer frame;
    QElapsedTimer sinceSettled;
};

} // namespace stonecall
