#pragma once
// The nodes behind a QtTreeView: a one-column item model found by key.
//
// Changes take effect in the model's own storage at once, so every question the core asks is
// answered from the current tree. The view hears of them only when the changes are settled,
// at most once per frame: then each parent with changed children merges its surviving
// children, already in order, with the few new or moved ones, and tells the view with one
// layout change of that parent. Nothing resets the model but clear().

#include "platform/TreeView.h"
#include "roster/TreeOrder.h"

#include <QAbstractItemModel>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace stonecall {

class TreeModel final : public QAbstractItemModel {
public:
    struct Node;
    // What only a node with children needs, made with its first child: most nodes are
    // leaves, and a full lobby makes tens of thousands of them at once.
    struct Children {
        // The children the view knows of, in the order it shows them; a child's `row` is its
        // place in the list.
        std::vector<Node*> shown;
        // Children that are new, or whose text moved them, since the last settle; and those
        // the view has that are removed or moved.
        std::vector<Node*> incoming;
        std::vector<Node*> outgoing;
        // The live children in the order they were placed (owned); a sorted parent sorts
        // them when it settles.
        Node* first = nullptr;
        Node* last = nullptr;
        std::size_t live = 0;
        bool staleRows = false; // the rows of `shown` need numbering
    };

    struct Node {
        // What sorting and settling read first, at the front of the node.
        treeOrder::Head head{};
        Node* parent = nullptr;
        // Neighbours in the parent's list of live children.
        Node* prev = nullptr;
        Node* next = nullptr;
        std::string key;
        std::string text;
        std::unique_ptr<Children> kids;
        int row = 0;
        int tagValue = 0;
        Rgb foreRgb;
        Rgb backRgb;
        // Flags of a bit each, so that a leaf stays at 144 bytes.
        bool hasFore : 1 = false;
        bool hasBack : 1 = false;
        bool hasTag : 1 = false;
        bool queued : 1 = false;
        bool leaving : 1 = false;
        bool inView : 1 = false; // in the parent's `shown`
        bool dead : 1 = false;   // removed: only the view still has it
        bool moved : 1 = false;  // its text changed under a sorted parent
        bool changed : 1 = false;
        bool dirty : 1 = false; // has children to settle
        bool sorted : 1 = false;
        bool expanded : 1 = false;

        Node() = default;
        Node(const Node&) = delete;
        Node& operator=(const Node&) = delete;

        const std::vector<Node*>& shown() const { return kids ? kids->shown : noRows(); }
        Node* first() const { return kids ? kids->first : nullptr; }
        std::size_t live() const { return kids ? kids->live : 0; }
        std::optional<int> tag() const { return hasTag ? std::optional(tagValue) : std::nullopt; }
        std::optional<Rgb> fore() const { return hasFore ? std::optional(foreRgb) : std::nullopt; }
        std::optional<Rgb> back() const { return hasBack ? std::optional(backRgb) : std::nullopt; }
        void setTag(std::optional<int> tag)
        {
            hasTag = tag.has_value();
            tagValue = tag.value_or(0);
        }

    private:
        static const std::vector<Node*>& noRows();
    };

    explicit TreeModel(QObject* parent = nullptr);
    ~TreeModel() override;

    Node* root() const { return root_; }
    Node* find(std::string_view key) const { return byKey.find(key); }
    std::size_t count() const { return byKey.size(); }
    // Live children in the order the view will show them.
    std::vector<Node*> children(Node* parent) const;
    // Where the view has the node; invalid while it has not been told of it.
    QModelIndex indexOf(const Node* node) const;
    Node* nodeOf(const QModelIndex& index) const;
    void setExpandedFlag(Node* node, bool expanded);

    void clear();
    // The caller has checked that parent is live and the key non-empty; `before`, when given,
    // is a live child of parent. A key already in the tree adds nothing (null).
    Node* insert(Node* parent, Node* before, std::string_view key, std::string_view text);
    void remove(Node* node);
    void setText(Node* node, std::string_view text);
    void setColours(Node* node, Rgb fore, Rgb back);
    void setSorted(Node* node, bool sorted);

    // Whether the view knows of the node: it and all its ancestors have been settled.
    bool isShown(const Node* node) const;
    // Whether the node and its ancestors are still in the tree; a removed one stays in the
    // view's rows until the next settle, and its memory is reused after that.
    static bool isLive(const Node* node);
    bool hasPending() const { return !dirtyNodes.empty() || !changedNodes.empty(); }
    // Tells the view of every change since the last time.
    void settle();

    // Told once when the first change after a settle is made.
    std::function<void()> pending;
    // Told before a node leaves with its descendants.
    std::function<void(Node*)> aboutToRemove;
    // The nodes with children the view knows of: the only ones whose rows can open.
    const std::unordered_set<const Node*>& nodesWithRows() const { return parents; }

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    // Nodes by key. The lobby's keys are letters, an entry number and maybe a short tail
    // ("u17", "h7", "empty7-2"): a family of keys alike but for the number stands in a vector
    // by number, found without hashing; any other key is hashed.
    class KeyIndex {
    public:
        Node* find(std::string_view key) const;
        // False, changing nothing, when the key is taken.
        bool add(std::string_view key, Node* node);
        void erase(std::string_view key);
        void clear();
        std::size_t size() const { return count; }

    private:
        struct Family {
            std::string letters;
            std::string tail;
            std::vector<Node*> nodes;
        };
        // The family the key is filed under, and its number there; null for a hashed key.
        Family* familyOf(std::string_view key, std::size_t& number, bool make) const;

        mutable std::vector<Family> families;
        std::unordered_map<std::string_view, Node*> others;
        std::size_t count = 0;
    };

    // Ends the node and all below it.
    void destroy(Node* node);
    void notePending();
    void markDirty(Node* node);
    void markChanged(Node* node);
    // The child is new or must find a new place among its siblings.
    void queue(Node* parent, Node* child);
    void dropKeys(Node* node);
    void leave(Node* child);
    // Shows the live children in order: touches only the nodes that changed.
    void settleNode(Node* parent);
    void forget(Node* node);
    void noteParent(Node* parent);
    static void renumber(Node* parent);
    static Children& kidsOf(Node* parent);
    static void listInsertBefore(Node* parent, Node* child, Node* before);
    static void listUnlink(Node* parent, Node* child);

    // Buffers a settle works in, kept so that a full group's settle takes no fresh memory.
    struct Scratch {
        std::vector<Node*> rows;
        std::vector<Node*> staying;
        std::vector<Node*> incoming;
    };

    Scratch scratch;
    Node* root_;
    KeyIndex byKey;
    std::vector<Node*> dirtyNodes;
    std::vector<Node*> changedNodes;
    // Removed nodes the view may still ask about until it has been told they are gone.
    std::vector<Node*> graveyard;
    // Those the view was told of at the last settle; freed at the next.
    std::vector<Node*> buried;
    // The nodes that have live children, for the view's frequent question.
    std::unordered_set<const Node*> parents;
};

} // namespace stonecall
