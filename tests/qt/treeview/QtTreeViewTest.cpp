// The Qt tree beyond the shared contract: what the view shows, and that showing changes a
// frame later, together and by ranges of rows, changes nothing but the cost.

#include "TreeHarness.h"
#include "qt/Charset.h"
#include "roster/Numbered.h"

#include <QAccessible>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <random>

using namespace stonecall;

namespace {

// A tree's description in the characters the view shows, as the view's descriptions are.
std::string asShown(const std::string& bytes)
{
    return toQString(bytes).toStdString();
}

// The whole tree as the interface reports it.
std::string describe(const TreeView& tree, const std::string& parent = {}, int depth = 0)
{
    std::string out;
    for (const std::string& key : tree.childKeys(parent)) {
        out += std::string(static_cast<std::size_t>(depth) * 2, ' ') + key + " \"" +
               tree.text(key) + "\"";
        if (tree.tag(key))
            out += " tag=" + std::to_string(*tree.tag(key));
        if (tree.isExpanded(key))
            out += " expanded";
        if (tree.parentKey(key) != parent)
            out += " wrong parent";
        out += "\n" + describe(tree, key, depth + 1);
    }
    return out;
}

class RandomEdits {
public:
    explicit RandomEdits(std::uint32_t seed) : random(seed) {}

    void apply(TreeView& a, TreeView& b)
    {
        const std::string key = numbered("k", pick(40));
        const std::string other = numbered("k", pick(40));
        const int what = pick(100);
        if (what < 45) {
            const std::string parent = pick(4) == 0 ? std::string() : other;
            const std::string before = pick(3) == 0 ? numbered("k", pick(40)) : "";
            const std::string text = word();
            a.insert(parent, before, key, text);
            b.insert(parent, before, key, text);
        } else if (what < 65) {
            a.remove(key);
            b.remove(key);
        } else if (what < 80) {
            const std::string text = word();
            a.setText(key, text);
            b.setText(key, text);
        } else if (what < 87) {
            const bool on = pick(4) != 0;
            a.setSorted(key, on);
            b.setSorted(key, on);
        } else if (what < 94) {
            const bool on = pick(3) != 0;
            a.setExpanded(key, on);
            b.setExpanded(key, on);
        } else if (what < 98) {
            const std::optional<int> tag = pick(2) ? std::optional(pick(4)) : std::nullopt;
            a.setTag(key, tag);
            b.setTag(key, tag);
        } else {
            a.clear();
            b.clear();
        }
    }
    int pick(int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); }

private:
    std::string word()
    {
        static const char letters[] = "aA\xE9\xC9"
                                      "bB\x8A\x9A"
                                      "12";
        std::string text;
        for (int n = 1 + pick(3); n > 0; --n)
            text += letters[pick(10)];
        return text;
    }

    std::mt19937 random;
};

} // namespace

TEST(QtTreeView, RandomEditsSettledAtRandomPointsMatchTheFake)
{
    for (std::uint32_t seed = 1; seed <= 60; ++seed) {
        FakeTreeView fake;
        QtTreeView qt;
        RandomEdits edits(seed);
        for (int round = 0; round < 30; ++round) {
            // Few changes or many scattered ones; sometimes several rounds wait together.
            for (int n = edits.pick(3) == 0 ? 80 : 1 + edits.pick(6); n > 0; --n)
                edits.apply(fake, qt);
            ASSERT_EQ(describe(qt), describe(fake)) << "seed " << seed << " round " << round;
            ASSERT_EQ(qt.count(), fake.count());
            if (edits.pick(3) == 0)
                continue;
            qt.settle();
            ASSERT_EQ(describeView(qt), asShown(describeTexts(fake)))
                << "seed " << seed << " round " << round;
            ASSERT_EQ(describeRows(qt), asShown(describeOpenRows(fake)))
                << "seed " << seed << " round " << round;
        }
    }
}

TEST(QtTreeView, SortedChildrenStandInTheOrderTheFakeSharesWhateverTheirCharacters)
{
    QtTreeView qt;
    FakeTreeView fake;
    for (TreeView* tree : {static_cast<TreeView*>(&qt), static_cast<TreeView*>(&fake)}) {
        tree->add("", "g", "group");
        tree->setSorted("g", true);
    }
    std::mt19937 random(7);
    // Letters, digits, blanks, punctuation and accented letters, in the single-byte set.
    const std::string alphabet = "aAbBzZ09 _-[~\xE9\xC9\xDF\xE5\xC5\x8A\x9A\xB5\x9F\xFF";
    for (int i = 0; i < 300; ++i) {
        std::string text;
        for (int n = 1 + static_cast<int>(random() % 4); n > 0; --n)
            text += alphabet[random() % alphabet.size()];
        qt.add("g", numbered("u", i), text);
        fake.add("g", numbered("u", i), text);
    }
    qt.settle();
    EXPECT_EQ(describeView(qt), asShown(describeTexts(fake)));
}

TEST(QtTreeView, ALogInsWorthOfChangesKeepsOpenNodesOpenAndTheCurrentNodeCurrent)
{
    QtHarness harness;
    QtTreeView& qt = harness.qt;
    qt.add("", "w", "Waiting");
    qt.setExpanded("w", true);
    qt.setSorted("w", true);
    qt.add("", "p", "Playing");
    qt.setExpanded("p", true);
    qt.add("w", "u1", "Ann");
    harness.click("u1");
    ASSERT_EQ(qt.selectedKey(), "u1");

    for (int i = 2; i < 2000; ++i)
        qt.add(i % 2 ? "w" : "p", numbered("u", i), "User " + std::to_string(i));
    qt.setText("u1", "Zoe");
    EXPECT_EQ(qt.selectedKey(), "u1");
    qt.settle();

    EXPECT_TRUE(qt.view()->isOpen(qt.shownNode("w")));
    EXPECT_TRUE(qt.view()->isOpen(qt.shownNode("p")));
    EXPECT_EQ(qt.view()->currentNode(), qt.shownNode("u1"));
    EXPECT_EQ(qt.selectedKey(), "u1");

    for (int i = 2; i < 100; ++i)
        qt.remove(numbered("u", i));
    qt.remove("u1");
    qt.add("w", "u1", "Ann again");
    qt.settle();
    EXPECT_FALSE(qt.selectedKey()) << "a new node under the old key is not the one selected";
    EXPECT_FALSE(qt.view()->currentNode());
}

TEST(QtTreeView, ChangesReachTheViewByThemselvesOnceAFrame)
{
    QtTreeView qt;
    qt.add("", "g", "g");
    qt.setSorted("g", true);
    for (const char* text : {"b", "d", "f", "h"})
        qt.add("g", text, text);
    qt.settle();
    QSignalSpy settles(&qt, &QtTreeView::settled);

    // Two runs of newcomers, one leaving row, one row moving to the end.
    for (const char* text : {"a1", "a2", "e"})
        qt.add("g", text, text);
    qt.remove("f");
    qt.setText("b", "z");
    std::string rows;
    for (const QtTreeView::Node* node : qt.root()->shown().front()->shown())
        rows += node->key + " ";
    EXPECT_EQ(rows, "b d f h ") << "nothing reaches the view before the frame ends";
    ASSERT_TRUE(settles.wait(1000));
    EXPECT_EQ(settles.count(), 1);
    rows.clear();
    for (const QtTreeView::Node* node : qt.shownNode("g")->shown())
        rows += node->key + " ";
    EXPECT_EQ(rows, "a1 a2 d e h b ");
    EXPECT_EQ(qt.childKeys("g"), (std::vector<std::string>{"a1", "a2", "d", "e", "h", "b"}));
}

TEST(QtTreeView, ANodeOpenedBeforeItHasChildrenShowsThemOpen)
{
    QtHarness harness;
    QtTreeView& qt = harness.qt;
    qt.add("", "h7", "Big Bob");
    qt.setExpanded("h7", true);
    qt.add("h7", "c12", "Ann");
    EXPECT_TRUE(qt.view()->isOpen(qt.shownNode("h7")));
    qt.remove("c12");
    qt.add("h7", "empty7-1", "Empty");
    EXPECT_TRUE(qt.view()->isOpen(qt.shownNode("h7")));
}

TEST(QtTreeView, ColoursReachTheScreen)
{
    QtHarness harness;
    QtTreeView& qt = harness.qt;
    qt.add("", "a", "WWWWWWWW");
    qt.setColours("a", Rgb{0, 0, 255}, Rgb{255, 0, 0});
    const QRect row = qt.view()->rectOf(qt.shownNode("a"));
    const QImage shot = qt.view()->viewport()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(row.right() - 2, row.center().y()), QColor(255, 0, 0));
    int text = 0; // the letters' strokes, where they hide the background
    for (int y = row.top(); y <= row.bottom(); ++y) {
        for (int x = row.left(); x <= row.right(); ++x)
            text += shot.pixelColor(x, y).red() < 64 && shot.pixelColor(x, y).blue() > 192;
    }
    EXPECT_GT(text, 10);
}

TEST(QtTreeView, TextsAreShownInTheSingleByteCharacterSet)
{
    QtTreeView qt;
    qt.add("", "a", "Jos\xE9 \x80");
    qt.settle();
    QAccessibleInterface* row = QAccessible::queryAccessibleInterface(qt.view())->child(0);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->text(QAccessible::Name), QString::fromUtf8("José €"));
    EXPECT_EQ(qt.text("a"), "Jos\xE9 \x80");
}

TEST(QtTreeView, ADoubleClickReportsTheClickedNodeAsSelected)
{
    QtHarness harness;
    QtTreeView& qt = harness.qt;
    qt.add("", "h1", "Host");
    qt.setExpanded("h1", true);
    qt.add("h1", "empty1-1", "Empty");
    qt.add("h1", "empty1-2", "Empty");
    std::optional<std::string> selectedWhenReported;
    QObject::connect(&qt, &QtTreeView::doubleClicked,
                     [&] { selectedWhenReported = qt.selectedKey(); });

    const QPoint at = qt.view()->rectOf(qt.shownNode("empty1-2")).center();
    QTest::mouseDClick(qt.view()->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(selectedWhenReported, "empty1-2");
    EXPECT_TRUE(qt.view()->isOpen(qt.shownNode("h1"))) << "a double-click does not fold";

    // Below the rows: reported too, the current node unchanged.
    selectedWhenReported.reset();
    QTest::mouseDClick(qt.view()->viewport(), Qt::LeftButton, {}, {20, 500});
    EXPECT_EQ(selectedWhenReported, "empty1-2");
}

TEST(QtTreeView, KeysMoveTheCurrentNodeThroughTheOpenRowsAndFoldThem)
{
    QtHarness harness;
    QtTreeView& qt = harness.qt;
    qt.add("", "w", "Waiting");
    qt.setExpanded("w", true);
    for (int i = 0; i < 100; ++i)
        qt.add("w", numbered("u", i), "User " + std::to_string(i));
    qt.add("", "p", "Playing");
    qt.add("p", "u100", "Zed");
    harness.click("w");
    RowView* view = qt.view();
    const auto press = [&](Qt::Key key) {
        QTest::keyClick(view, key);
        const std::string now = qt.selectedKey().value_or("");
        // The current row is in sight.
        EXPECT_TRUE(view->viewport()->rect().contains(view->rectOf(qt.shownNode(now))));
        return now;
    };
    EXPECT_EQ(press(Qt::Key_Down), "u0");
    EXPECT_EQ(press(Qt::Key_End), "p") << "the folded node's child is not a row";
    EXPECT_EQ(press(Qt::Key_Up), "u99");
    EXPECT_EQ(press(Qt::Key_Home), "w");
    const int page = view->viewport()->height() / view->rectOf(qt.shownNode("w")).height();
    EXPECT_EQ(press(Qt::Key_PageDown), numbered("u", page - 1));
    EXPECT_EQ(press(Qt::Key_PageUp), "w");
    EXPECT_EQ(press(Qt::Key_End), "p");
    EXPECT_EQ(press(Qt::Key_Right), "p");
    EXPECT_TRUE(qt.isExpanded("p"));
    EXPECT_EQ(press(Qt::Key_Right), "u100");
    EXPECT_EQ(press(Qt::Key_Left), "p");
    EXPECT_EQ(press(Qt::Key_Minus), "p");
    EXPECT_FALSE(qt.isExpanded("p"));
    EXPECT_EQ(press(Qt::Key_Plus), "p");
    EXPECT_TRUE(qt.isExpanded("p"));

    // Rows arriving above the current one leave it current where it now stands.
    for (int i = 101; i < 110; ++i)
        qt.add("w", numbered("u", i), "Another " + std::to_string(i));
    qt.settle();
    EXPECT_EQ(view->currentNode(), qt.shownNode("p"));
    EXPECT_EQ(press(Qt::Key_Up), "u109");
}

TEST(QtTreeView, NodesStayOpenWhenTheUserMayNotFoldThem)
{
    QtHarness harness;
    QtTreeView& qt = harness.qt;
    qt.setUserCollapsible(false);
    qt.add("", "h1", "Host");
    qt.setExpanded("h1", true);
    qt.add("h1", "c2", "Ann");
    harness.click("h1");
    QTest::keyClick(qt.view(), Qt::Key_Left);
    EXPECT_TRUE(qt.view()->isOpen(qt.shownNode("h1")));
    EXPECT_TRUE(qt.isExpanded("h1"));
}

TEST(QtTreeView, AFoldByTheUserIsRemembered)
{
    QtHarness harness;
    QtTreeView& qt = harness.qt;
    qt.add("", "w", "Waiting");
    qt.setExpanded("w", true);
    qt.add("w", "u1", "Ann");
    harness.click("w");
    QTest::keyClick(qt.view(), Qt::Key_Left);
    EXPECT_FALSE(qt.isExpanded("w"));
}

TEST(QtTreeView, APressFromAScreenReaderActsOnItsRowOnlyWhileTheNodeLives)
{
    QtTreeView qt;
    qt.add("", "a", "Ann");
    qt.add("", "b", "Bob");
    qt.settle();
    int pressed = 0;
    QObject::connect(&qt, &QtTreeView::doubleClicked, [&] { ++pressed; });
    QAccessibleInterface* tree = QAccessible::queryAccessibleInterface(qt.view());
    const auto press = [&](int row) {
        tree->child(row)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    };

    press(1);
    QCoreApplication::processEvents();
    EXPECT_EQ(pressed, 1);
    EXPECT_EQ(qt.selectedKey(), "b");
    QAccessibleTableInterface* table = tree->tableInterface();
    ASSERT_TRUE(table);
    EXPECT_FALSE(table->isRowSelected(0));
    EXPECT_TRUE(table->isRowSelected(1));
    EXPECT_FALSE(table->isRowSelected(2));

    // Answered before it acts; the row's node is freed before the press comes to it.
    press(0);
    qt.remove("a");
    qt.settle();
    QCoreApplication::processEvents();
    EXPECT_EQ(pressed, 1);
    EXPECT_EQ(qt.selectedKey(), "b");
}
