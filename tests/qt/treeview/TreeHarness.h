#pragma once
// The two trees the contract runs against, behind one face: the in-memory fake and the Qt
// tree, the latter also driven from inside a batch that has already given up signalling
// each change.

#include "FakeTreeView.h"
#include "qt/QtTreeView.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
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

// Runs everything inside a batch that has gone quiet, the way a log-in's burst does; a click
// needs the view, so it ends the batch first and starts a new one after.
class QuietBatchHarness final : public QtHarness {
public:
    QuietBatchHarness() { startQuietBatch(); }
    ~QuietBatchHarness() override { qt.endUpdate(); }
    void click(std::string_view key) override
    {
        qt.endUpdate();
        QtHarness::click(key);
        startQuietBatch();
    }

private:
    void startQuietBatch()
    {
        QSignalSpy quiet(qt.view()->model(), &QAbstractItemModel::modelAboutToBeReset);
        qt.beginUpdate();
        for (int i = 0; i < 60; ++i) {
            qt.add("", "-", "");
            qt.remove("-");
        }
        if (quiet.count() != 1)
            ADD_FAILURE() << "the batch still signals each change";
    }
};

inline std::unique_ptr<TreeHarness> makeHarness(const std::string& kind)
{
    if (kind == "fake")
        return std::make_unique<FakeHarness>();
    if (kind == "qt")
        return std::make_unique<QtHarness>();
    return std::make_unique<QuietBatchHarness>();
}

} // namespace stonecall
