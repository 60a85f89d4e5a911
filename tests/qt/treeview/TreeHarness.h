#pragma once
// The two trees the contract runs against, behind one face: the in-memory fake and the Qt
// tree, whose view is told of changes only when a click needs it.

#include "FakeTreeView.h"
#include "qt/QtTreeView.h"
#include "qt/ShownText.h"

#include <gtest/gtest.h>

#include <QTest>

#include <memory>
#include <string>

namespace stonecall {

class TreeHarness {
public:
    virtual ~TreeHarness() = default;
    virtual TreeView& tree() = 0;
    // What the user's click on the node does.
    virtual void click(std::string_view key) = 0;
};

class FakeHarness final : public TreeHarness {
public:
    TreeView& tree() override { return fake; }
    void click(std::string_view key) override { fake.select(key); }

    FakeTreeView fake;
};

class QtHarness : public TreeHarness {
public:
    QtHarness()
    {
        qt.view()->resize(300, 600);
        qt.view()->show();
        [[maybe_unused]] bool shown = QTest::qWaitForWindowExposed(qt.view());
    }
    TreeView& tree() override { return qt; }
    void click(std::string_view key) override
    {
        const QtTreeView::Node* node = qt.shownNode(key);
        qt.view()->scrollTo(node);
        QTest::mouseClick(qt.view()->viewport(), Qt::LeftButton, {},
                          qt.view()->rectOf(node).center());
    }

    QtTreeView qt;
};

inline std::unique_ptr<TreeHarness> makeHarness(const std::string& kind)
{
    if (kind == "fake")
        return std::make_unique<FakeHarness>();
    return std::make_unique<QtHarness>();
}

// The same tree as the view holds it: rows, texts and which nodes the view opens.
inline std::string describeView(const QtTreeView& qt, const QtTreeView::Node* parent = nullptr,
                                int depth = 0)
{
    std::string out;
    for (const QtTreeView::Node* node : (parent ? parent : qt.root())->shown()) {
        out += std::string(static_cast<std::size_t>(depth) * 2, ' ') +
               shownTreeText(node->text).toStdString();
        if (node->parent != (parent ? parent : qt.root()))
            out += " wrong parent";
        if (qt.view()->isOpen(node))
            out += " open";
        out += "\n" + describeView(qt, node, depth + 1);
    }
    return out;
}

// The rows the view shows from its top, found by place, each indented by its depth.
inline std::string describeRows(const QtTreeView& qt)
{
    const RowView& view = *qt.view();
    std::string out;
    const int height = view.rectOf(view.rowAt(view.rowAtY(0))).height();
    for (int y = 0; height > 0; y += height) {
        const QtTreeView::Node* node = view.rowAt(view.rowAtY(y));
        if (!node)
            break;
        int depth = 0;
        for (const QtTreeView::Node* up = node->parent; up != qt.root(); up = up->parent)
            ++depth;
        out += std::string(static_cast<std::size_t>(depth) * 2, ' ') +
               shownTreeText(node->text).toStdString();
        if (view.rectOf(node).top() != y)
            out += " misplaced";
        out += "\n";
    }
    return out;
}

// The rows a tree shows: the children of open nodes.
inline std::string describeOpenRows(const TreeView& tree, const std::string& parent = {},
                                    int depth = 0)
{
    std::string out;
    for (const std::string& key : tree.childKeys(parent)) {
        out += std::string(static_cast<std::size_t>(depth) * 2, ' ') + tree.text(key) + "\n";
        if (tree.isExpanded(key))
            out += describeOpenRows(tree, key, depth + 1);
    }
    return out;
}

inline std::string describeTexts(const TreeView& tree, const std::string& parent = {},
                                 int depth = 0)
{
    std::string out;
    for (const std::string& key : tree.childKeys(parent)) {
        out += std::string(static_cast<std::size_t>(depth) * 2, ' ') + tree.text(key);
        if (tree.isExpanded(key) && tree.childCount(key) > 0)
            out += " open";
        out += "\n" + describeTexts(tree, key, depth + 1);
    }
    return out;
}

} // namespace stonecall
