#pragma once
// A tree of nodes found by key. Keys are unique within a tree; texts are byte strings in the
// client's single-byte character set. Adding under a parent makes the node its last child;
// a parent whose children are sorted places it among them by text.

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

    virtual void clear() = 0;
    // A top-level node when parentKey is empty, else the last child of that node.
    virtual void add(std::string_view parentKey, std::string_view key, std::string_view text) = 0;
    virtual void remove(std::string_view key) = 0;
    virtual std::size_t count() const = 0;
    virtual bool contains(std::string_view key) const = 0;

    virtual std::string text(std::string_view key) const = 0;
    virtual void setText(std::string_view key, std::string_view text) = 0;
    virtual std::optional<int> tag(std::string_view key) const = 0;
    virtual void setTag(std::string_view key, std::optional<int> tag) = 0;
    // Empty for a top-level node.
    virtual std::string parentKey(std::string_view key) const = 0;
    virtual std::size_t childCount(std::string_view key) const = 0;
    // The children in the order the tree shows them; the top-level nodes for an empty key.
    virtual std::vector<std::string> childKeys(std::string_view parentKey) const = 0;
    virtual void setColours(std::string_view key, Rgb fore, Rgb back) = 0;
    virtual void setExpanded(std::string_view key, bool expanded) = 0;
    virtual bool isExpanded(std::string_view key) const = 0;
    virtual void setSorted(std::string_view key, bool sorted) = 0;

    // The node the user last selected, if any.
    virtual std::optional<std::string> selectedKey() const = 0;
};

} // namespace stonecall
