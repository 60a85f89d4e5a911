#pragma once
// The two trees the contract runs against, behind one face: the in-memory fake and the Qt
// tree, whose view is told of changes only when a click needs it.

#include "FakeTreeView.h"
#include "qt/QtTreeView.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QTreeView>

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
        const QModelIndex index = qt.indexOf(key);
        qt.view()->scrollTo(index);
        QTest::mouseClick(qt.view()->viewport(), Qt::LeftButton, {},
                          qt.view()->visualRect(index).center());
    }

    QtTreeView qt;
};

inline std::unique_ptr<TreeHarness> makeHarness(const std::string& kind)
{
    if (kind == "fake")
        return std::make_unique<FakeHarness>();
    return std::make_unique<QtHarness>();
}

} // namespace stonecall
