// Hosting, leaving and joining huts against an in-memory lobby window and scripted dialogs.

#include "huts/HutActions.h"
#include "FakeWindows.h"
#include "roster/TreeKeys.h"
#include "session/Session.h"

#include <gtest/gtest.h>

#include <map>

using namespace stonecall;
using namespace stonecall::testing;
using Messages = std::vector<std::string>;

namespace {

const std::string PasswordBox =
    "[Join Hut: Password Needed] A password is required to join this hut!\r\n\r\nGive password:";

class HutActionsTest : public ::testing::Test {
protected:
    HutActionsTest()
    {
        session.Users.growTo(20);
        session.MyIndex = 3;
        session.Users.edit(3).Name = "Me";
    }

    // A host and its hut as the hut list shows it: the host's line, then one line per place,
    // empty places tagged with their number when the hut has a password.
    void addHut(int host, const std::string& password, int size, std::map<int, int> members = {})
    {
        UserInfo& user = session.Users.edit(static_cast<std::size_t>(host));
        user.Name = "Host" + std::to_string(host);
        user.State = "HOST";
        user.HutSize = size;
        user.HutPassword = password;
        const std::string hutKey = treeKeys::hut(host);
        lobby.huts.add("", hutKey, user.Name);
        for (int place = 1; place < size; ++place) {
            if (members.contains(place)) {
                lobby.huts.add(hutKey, treeKeys::member(members[place]), "Member");
                continue;
            }
            const std::string key = treeKeys::emptyPlace(host, place);
            lobby.huts.add(hutKey, key, "Empty");
            if (password != "NONE")
                lobby.huts.setTag(key, place);
        }
    }

    void doubleClick(const std::string& key)
    {
        lobby.huts.select(key);
        actions.lstHuts_DblClick();
    }

    Session session;
    FakeLobbyWindow lobby;
    FakeDialogs dialogs;
    Messages sent;
    HutActions actions{session, lobby, dialogs,
                       [this](std::string m) { sent.push_back(std::move(m)); }};
};

using Hosting = HutActionsTest;
using Joining = HutActionsTest;

TEST_F(Hosting, CreateTogglesThePanelAndRaisesItEveryTime)
{
    actions.cmdCreate_Click();
    EXPECT_TRUE(lobby.menuGame);
    actions.cmdCreate_Click();
    EXPECT_FALSE(lobby.menuGame);
    EXPECT_EQ(lobby.raised, (Messages{"MenuGame", "MenuGame"}));
    EXPECT_TRUE(sent.empty());
}

TEST_F(Hosting, EmptyPasswordBoxHostsAnOpenHutAndSwapsTheButtons)
{
    lobby.menuGame = true;
    lobby.exit = false;
    actions.HutCount_Click(2);
    EXPECT_EQ(sent, Messages{"BEHOST\xA4"
                             "4\xA4NONE"});
    EXPECT_FALSE(lobby.menuGame);
    EXPECT_FALSE(lobby.create);
    EXPECT_TRUE(lobby.exit);
    EXPECT_FALSE(lobby.launch);
}

TEST_F(Hosting, LabelIndexGivesThePlayersAndThePasswordGoesAsTyped)
{
    lobby.pass = "Se cret\xE9";
    actions.HutCount_Click(0);
    actions.HutCount_Click(1);
    EXPECT_EQ(sent, (Messages{"BEHOST\xA4"
                              "2\xA4Se cret\xE9",
                              "BEHOST\xA4"
                              "3\xA4Se cret\xE9"}));
    EXPECT_EQ(lobby.pass, "Se cret\xE9");
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(Hosting, IndexOutsideTheLabelsDoesNothing)
{
    lobby.menuGame = true;
    for (std::int16_t index : {-1, 3, 32767})
        actions.HutCount_Click(index);
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(lobby.menuGame);
    EXPECT_TRUE(lobby.create);
}

TEST_F(Hosting, PasswordThatWouldBreakTheMessageIsRefusedAndThePanelStays)
{
    const std::string refused[] = {"a\xA4"
                                   "b",
                                   std::string("end\x06", 4), "tab\there", "\x7F",
                                   std::string("\0", 1)};
    for (const std::string& pass : refused) {
        SCOPED_TRACE(pass);
        lobby.menuGame = true;
        lobby.create = true;
        lobby.exit = false;
        lobby.pass = pass;
        dialogs.shown.clear();
        actions.HutCount_Click(1);
        EXPECT_TRUE(sent.empty());
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_TRUE(dialogs.shown[0].starts_with("This password cannot be used: "))
            << dialogs.shown[0];
        EXPECT_TRUE(lobby.menuGame);
        EXPECT_TRUE(lobby.create);
        EXPECT_FALSE(lobby.exit);
    }
}

TEST_F(Hosting, ExitAndLaunchSendOrShowOnlyTheirOwnThing)
{
    lobby.create = false;
    lobby.exit = true;
    lobby.launch = true;
    actions.cmdExit_Click();
    EXPECT_EQ(sent, Messages{"BEIDLE"});
    actions.cmdLaunch_Click();
    EXPECT_EQ(dialogs.shown, Messages{"Wait for next version :o"});
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_FALSE(lobby.create);
    EXPECT_TRUE(lobby.exit);
    EXPECT_TRUE(lobby.launch);
}

TEST_F(Joining, LinesThatAreNoEmptyPlaceOfAnotherHutDoNothing)
{
    addHut(7, "NONE", 3, {{1, 12}});
    addHut(9, "NONE", 1);
    addHut(3, "NONE", 2);       // the local user's own hut
    actions.lstHuts_DblClick(); // nothing selected
    for (const char* key : {"h7", "c12", "h9", "empty3-1", "gone"})
        doubleClick(key);
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(Joining, MalformedOrUnknownHostKeysDoNothing)
{
    session.Users.edit(7).HutPassword = "NONE";
    for (const char* hut :
         {"h", "hx", "h-7", "h+7", "h7x", "H7", "g7", "h21", "h99999999999", "h40000"}) {
        SCOPED_TRACE(hut);
        lobby.huts.clear();
        lobby.huts.add("", hut, "Host");
        lobby.huts.add(hut, "empty7-1", "Empty");
        doubleClick("empty7-1");
    }
    lobby.huts.clear();
    lobby.huts.add("", "empty7-1", "Empty"); // an empty place without a hut
    doubleClick("empty7-1");
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(Joining, OpenHutSendsAnEmptyPlaceFieldWithoutAsking)
{
    addHut(7, "NONE", 3, {{1, 12}});
    doubleClick("empty7-2");
    EXPECT_EQ(sent, Messages{"BECLIENT\xA4"
                             "7\xA4"});
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(Joining, PasswordIsAskedForAndComparedIgnoringCase)
{
    addHut(7, "SeCret", 3, {{1, 12}});
    dialogs.answers = {"secRET"};
    doubleClick("empty7-2");
    EXPECT_EQ(dialogs.shown, Messages{PasswordBox});
    EXPECT_EQ(sent, Messages{"BECLIENT\xA4"
                             "7\xA4"
                             "2"});
}

TEST_F(Joining, WrongCancelledOrEmptyAnswersSendNothing)
{
    addHut(7, "secret", 4);
    dialogs.answers = {"secrets"};
    doubleClick("empty7-3");
    EXPECT_EQ(dialogs.shown, (Messages{PasswordBox, "Wrong password!"}));
    dialogs.shown.clear();
    dialogs.answers = {""}; // Cancel gives the empty text too
    doubleClick("empty7-1");
    EXPECT_EQ(dialogs.shown, Messages{PasswordBox});
    EXPECT_TRUE(sent.empty());
}

TEST_F(Joining, AnswerOfSpacesIsComparedLikeAnyOther)
{
    addHut(7, "   ", 2);
    addHut(8, "secret", 2);
    dialogs.answers = {"   ", " ", "   "};
    doubleClick("empty7-1");
    doubleClick("empty7-1");
    doubleClick("empty8-1");
    EXPECT_EQ(sent, Messages{"BECLIENT\xA4"
                             "7\xA4"
                             "1"});
    EXPECT_EQ(std::count(dialogs.shown.begin(), dialogs.shown.end(), "Wrong password!"), 2);
}

TEST_F(Joining, NoneInCapitalsIsAnOpenHutWhileLowerCaseIsARealPassword)
{
    lobby.pass = "NONE";
    actions.HutCount_Click(0);
    lobby.pass = "none";
    actions.HutCount_Click(0);
    EXPECT_EQ(sent, (Messages{"BEHOST\xA4"
                              "2\xA4NONE",
                              "BEHOST\xA4"
                              "2\xA4none"}));
    sent.clear();

    addHut(7, "none", 2);
    dialogs.answers = {"NONE"};
    doubleClick("empty7-1");
    EXPECT_EQ(dialogs.shown, Messages{PasswordBox});
    EXPECT_EQ(sent, Messages{"BECLIENT\xA4"
                             "7\xA4"
                             "1"});
}

TEST_F(Joining, AccentedCapitalsMatchTheirSmallLetters)
{
    // Latin-1 capitals, S and Z caron, OE, Y diaeresis against their small forms.
    addHut(7,
           "\xC9"
           "COLE\xC0\xDE\x8A\x8C\x8E\x9F",
           2);
    dialogs.answers = {"\xE9"
                       "cole\xE0\xFE\x9A\x9C\x9E\xFF"};
    doubleClick("empty7-1");
    EXPECT_EQ(sent, Messages{"BECLIENT\xA4"
                             "7\xA4"
                             "1"});
}

TEST_F(Joining, SignsThatAreNoLettersDoNotFold)
{
    // Multiplication and division sign, sharp s and y diaeresis, at and backquote, a shorter text.
    const std::pair<const char*, const char*> pairs[] = {
        {"\xD7", "\xF7"}, {"\xDF", "\xFF"}, {"@", "`"}, {"[", "{"}, {"abc", "ab"}};
    for (const auto& [password, answer] : pairs) {
        SCOPED_TRACE(password);
        lobby.huts.clear();
        addHut(7, password, 2);
        dialogs.shown.clear();
        dialogs.answers = {answer};
        doubleClick("empty7-1");
        EXPECT_EQ(dialogs.shown.back(), "Wrong password!");
    }
    EXPECT_TRUE(sent.empty());
}

// Server messages handled while the input box is open may rebuild the tree and grow the table.
class ReentrantDialogs final : public Dialogs {
public:
    void MsgBox(const std::string& text) override { shown.push_back(text); }
    std::string InputBox(const std::string&, const std::string&) override
    {
        whileOpen();
        return answer;
    }
    std::function<void()> whileOpen;
    std::string answer;
    Messages shown;
};

TEST_F(Joining, ChangesWhileTheBoxIsOpenAreSeenAfterIt)
{
    ReentrantDialogs reentrant;
    HutActions join{session, lobby, reentrant,
                    [this](std::string m) { sent.push_back(std::move(m)); }};
    addHut(7, "old", 3);
    reentrant.whileOpen = [&] {
        lobby.huts.clear();
        session.Users.growTo(30000);
        session.Users.edit(7).HutPassword = "new";
    };
    reentrant.answer = "old";
    lobby.huts.select("empty7-2");
    join.lstHuts_DblClick();
    EXPECT_EQ(reentrant.shown, Messages{"Wrong password!"});

    addHut(7, "old", 3);
    reentrant.answer = "NEW";
    lobby.huts.select("empty7-2");
    join.lstHuts_DblClick();
    EXPECT_EQ(sent, Messages{"BECLIENT\xA4"
                             "7\xA4"
                             "2"});
}

} // namespace
