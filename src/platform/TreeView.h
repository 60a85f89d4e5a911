#pragma once
// A tree of nodes found by key. Keys are unique within a tree; texts are byte strings in the
// client's single-byte character set.
//
// Order: the children of a node are kept in the order they were placed, except under a node
// whose children are sorted: those stand in ascending order of their texts, letter case
// ignored (after the platform's locale), ties broken by the exact text and then by the key,
// from the moment the flag is set and after every change of a child's text.
//
// Requests that cannot be carried out (a key already in use, a parent or node that does not
// exist) change nothing; queries about a missing node give empty answers.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stonecall {

struct Rgb {
    unsigned char red = 0, green = 0, blue = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};
inline constexpr Rgb Black{0, 0, 0};
inline constexpr Rgb White{255, 255, 255};

class TreeView {
public:
    virtual ~TreeView() = default;

    // Removes every node; nothing is selected afterwards.
    virtual void clear() = 0;
    // A top-level node when parentKey is empty, else a child of that node: placed right before
    // its sibling beforeKey, or last when beforeKey is empty or not a child of that parent.
    virtual void insert(std::string_view parentKey, std::string_view beforeKey,
                        std::string_view key, std::string_view text) = 0;
    void add(std::string_view parentKey, std::string_view key, std::string_view text)
    {
        insert(parentKey, {}, key, text);
    }
    // Removes the node with all its descendants; a selection inside them goes too.
    virtual void remove(std::string_view key) = 0;
    // All nodes, at every level.
    virtual std::size_t count() const = 0;
    virtual bool contains(std::string_view key) const = 0;

    virtual std::string text(std::string_view key) const = 0;
    virtual void setText(std::string_view key, std::string_view text) = 0;
    virtual std::optional<int> tag(std::string_view key) const = 0;
    virtual void setTag(std::string_view key, std::optional<int> tag) = 0;
    // Empty for a top-level node.
    virtual std::string parentKey(std::string_view key) const = 0;
    // The top-level nodes for an empty key.
    virtual std::size_t childCount(std::string_view key) const = 0;
    // The children in the order the tree shows them; the top-level nodes for an empty key.
    virtual std::vector<std::string> childKeys(std::string_view parentKey) const = 0;
    virtual void setColours(std::string_view key, Rgb fore, Rgb back) = 0;
    // The flag is kept for a node without children and holds once children are added.
    virtual void setExpanded(std::string_view key, bool expanded) = 0;
    virtual bool isExpanded(std::string_view key) const = 0;
    virtual void setSorted(std::string_view key, bool sorted) = 0;
    // Whether the user may fold nodes away; when not, expanded nodes stay open.
    virtual void setUserCollapsible(bool collapsible) = 0;

    // The node the user last selected, if any.
    virtual std::optional<std::string> selectedKey() const = 0;
};

} // namespace stonecall
