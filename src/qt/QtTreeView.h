#pragma once
// The tree view: the nodes, found by key, shown by a row view that reads them directly.
//
// Changes take effect in the nodes at once, so every question the core asks is answered from
// the current tree. The view hears of them only when they are settled, at most once per
// frame: the first change after the view was last told starts a frame's wait, and then each
// parent with changed children merges its surviving children, already in order, with the few
// new or moved ones; only the rows in sight that now look different are repainted. While
// changes keep coming, they are shown at most four times a second: showing every frame
// doubles what a full lobby's log-in costs.

#include "platform/TreeView.h"
#include "roster/TreeOrder.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QWidget;

namespace stonecall {

class RowView;

class QtTreeView final : public QObject, public TreeView {
    Q_OBJECT
public:
    struct Node;
    // What only a node with children needs, made with its first child: most nodes are
    // leaves, and a full lobby makes tens of thousands of them at once.
    struct Children {
        // The live children in the order they were placed (owned); a sorted parent sorts
        // them when it settles.
        std::vector<Node*> live;
        // The children the view shows, in order.
        std::vector<Node*> shown;
        // The children new, removed or moved by their text since the last settle.
        std::vector<Node*> changed;
    };

    struct Node {
        // What sorting reads first, at the front of the node.
        treeOrder::Head head{};
        Node* parent = nullptr;
        std::string key;
        std::string text;
        std::unique_ptr<Children> kids;
        std::uint32_t place = 0; // in the parent's `live`
        std::uint16_t level = 0; // the root's children are at 1
        std::optional<int> tag;
        std::optional<Rgb> fore;
        std::optional<Rgb> back;
        bool queued : 1 = false; // in the parent's `changed`
        bool inView : 1 = false; // in the parent's `shown`
        bool dead : 1 = false;   // removed: only the view still has it
        bool dirty : 1 = false;  // has children to settle
        bool sorted : 1 = false;
        bool expanded : 1 = false;

        const std::vector<Node*>& shown() const { return kids ? kids->shown : none; }
        const std::vector<Node*>& live() const { return kids ? kids->live : none; }
        static inline const std::vector<Node*> none;
    };

    explicit QtTreeView(QWidget* parent = nullptr);
    ~QtTreeView() override;

    RowView* view() const { return tree; }
    // The node as the view shows it, once pending changes are shown; null when not shown.
    const Node* shownNode(std::string_view key);
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
    std::size_t count() const override { return byKey.size(); }
    bool contains(std::string_view key) const override { return byKey.contains(key); }
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

    Node* root() const { return root_; }
    // Whether the node and its ancestors are still in the tree; the view may show removed ones.
    static bool isLive(const Node* node) { return !within(node, nullptr, true); }
    // Whether the node is the ancestor or below it; with `dead`, stops at a removed node.
    static bool within(const Node* node, const Node* ancestor, bool dead = false);
    // The nodes with children the view shows: the only ones whose rows can open.
    const std::unordered_set<const Node*>& nodesWithRows() const { return parents; }
    // Counts the times nodes were freed: a node held across a turn of the event loop is
    // still there while the count stays the same.
    std::uint64_t frees() const { return freed; }

signals:
    // The user double-clicked the tree; the node clicked, if any, is the selected one.
    void doubleClicked();
    // The view has been shown the pending changes.
    void settled();

private:
    // The node of a key; the root for none.
    Node* find(std::string_view key) const { return key.empty() ? root_ : nodeOf(key); }
    Node* nodeOf(std::string_view key) const
    {
        const auto found = byKey.find(key);
        return found == byKey.end() ? nullptr : found->second;
    }
    // Live children in the order the view will show them.
    std::vector<Node*> children(Node* parent) const;
    bool isShown(const Node* node) const;
    void schedule();
    // Frees the node and all below it.
    void destroy(Node* node);
    void markDirty(Node* node);
    // The child is new, removed, or must find a new place among its siblings.
    void queue(Node* parent, Node* child);
    void dropKeys(Node* node);
    // Shows the live children in order: touches only the nodes that changed.
    void settleNode(Node* parent);

    // Buffers a settle works in, kept so that a full group's settle takes no fresh memory.
    std::vector<Node*> rows, staying, leaving, incoming;
    Node* root_;
    // Keys hashed so that keys alike but for an entry number ("u17", "u18") fall in buckets
    // side by side: a log-in goes through the entries in order, and so through memory in order.
    struct KeyHash {
        std::size_t operator()(std::string_view key) const
        {
            std::size_t hash = 0;
            for (const char c : key)
                hash = hash * 10 + static_cast<unsigned char>(c);
            return hash;
        }
    };
    // Nodes by key; each key is kept in its node.
    std::unordered_map<std::string_view, Node*, KeyHash> byKey;
    std::vector<Node*> dirtyNodes;
    // Removed nodes, which the view may show until the next settle frees them.
    std::vector<Node*> graveyard;
    std::uint64_t freed = 0;
    // The nodes that have shown children, for the view's frequent question.
    std::unordered_set<const Node*> parents;
    QPointer<RowView> tree;
    QTimer frame;
    QElapsedTimer sinceSettled;
};

} // namespace stonecall

// Those who hold the tree also reach its rows on screen.
#include "qt/RowView.h"
