#pragma once
// The nodes behind a QtTreeView: a one-column item model found by key.
//
// Each change is signalled to the view as it happens (insert, remove, move, data), except
// inside a batch: after a handful of changes the model stops signalling, applies further
// changes to its own storage only (appending and marking parents for sorting, leaving removed
// nodes in place until the end), and at the end of the outermost batch puts every parent in
// order once and signals a single reset. A log-in of thousands of users then costs one sort
// per group instead of one view update per user.

#include "platform/TreeView.h"
#include "qt/KeyIndex.h"

#include <QAbstractItemModel>
#include <QCollator>
#include <QString>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace stonecall {

class TreeModel final : public QAbstractItemModel {
public:
    // The first fields are what putting thousands of children in order reads and writes
    // for each of them; they lie together.
    struct Node {
        std::string text;
        // The live children as a list: in display order for an unsorted parent at all
        // times, in any order for a sorted parent while dirty.
        Node* prev = nullptr;
        Node* next = nullptr;
        int row = 0;
        bool dead = false;
        bool dirty = false;
        bool sorted = false;
        bool expanded = false;
        Node* parent = nullptr;

        std::string key;
        // Owned. In display order with valid rows unless `dirty`; then they may include dead
        // nodes and, under a sorted parent, stand in any order.
        std::vector<Node*> children;
        std::size_t live = 0;
        Node* first = nullptr;
        Node* last = nullptr;
        std::optional<int> tag;
        std::optional<Rgb> fore;
        std::optional<Rgb> back;
        mutable std::optional<QCollatorSortKey> sortKey; // made when first needed

        Node() = default;
        Node(const Node&) = delete;
        Node& operator=(const Node&) = delete;
        ~Node();
    };

    explicit TreeModel(QObject* parent = nullptr);
    ~TreeModel() override;

    void beginBatch();
    void endBatch();
    // Between the reset's start and the end of the batch: the view must not be asked.
    bool isResetting() const { return resetting; }

    Node* root() const { return root_; }
    Node* find(std::string_view key) const;
    std::size_t count() const { return byKey.size(); }
    // Live children in display order.
    std::vector<Node*> children(Node* parent) const;
    QModelIndex indexOf(Node* node) const;
    Node* nodeOf(const QModelIndex& index) const;
    void forEachExpanded(const std::function<void(Node*)>& visit) const;
    void setExpandedFlag(Node* node, bool expanded);

    void clear();
    // The caller has checked that parent is live, the key new and non-empty; `before`, when
    // given, is a live child of parent.
    Node* insert(Node* parent, Node* before, std::string_view key, std::string_view text);
    void remove(Node* node);
    void setText(Node* node, std::string_view text);
    void setColours(Node* node, Rgb fore, Rgb back);
    void setSorted(Node* node, bool sorted);

    // Told before a node leaves with its descendants.
    std::function<void(Node*)> aboutToRemove;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void takeText(Node* node, std::string_view text) const;
    int compareFolded(std::string_view a, std::string_view b) const;
    bool less(const Node* a, const Node* b) const;
    void sortChildren(std::vector<Node*>& children) const;
    // Counts a change and, deep inside a batch, switches to the quiet mode.
    void noteChange();
    void markDirty(Node* node);
    void gainChild(Node* parent);
    void loseChild(Node* parent);
    // Brings the children of a dirty node in order; dead ones wait in the graveyard.
    void settle(Node* node) const;
    void putInOrder(Node* node) const;
    void settleAll();
    void dropKeys(Node* node);
    void renumber(Node* parent, std::size_t from) const;
    void resortNow(Node* parent);
    static void listAppend(Node* parent, Node* child);
    static void listInsertBefore(Node* parent, Node* child, Node* before);
    static void listUnlink(Node* parent, Node* child);

    Node* root_;
    KeyIndex<Node> byKey;
    QCollator collator;
    bool foldOnly;
    // Each byte's character folded to its case-insensitive form, for the C locale.
    std::array<char16_t, 256> foldedUnit;
    int batchDepth = 0;
    int batchChanges = 0;
    bool resetting = false;
    mutable std::vector<Node*> dirtyNodes;
    mutable std::vector<Node*> graveyard;
    // The live nodes whose expanded flag is set, and those that have children.
    std::unordered_set<Node*> expandedNodes;
    std::unordered_set<Node*> parents;
};

} // namespace stonecall
