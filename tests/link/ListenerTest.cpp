#include "ClientFixture.h"
#include "link/ListenerModule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace stonecall;
using namespace stonecall::testing;
using Shown = std::vector<std::string>;

namespace {

const std::string F = "\xA9"; // field separator
const std::string M = "\xAE"; // message end

std::string broadcast(const std::string& text)
{
    return "SENDBROADCAST" + F + text + M;
}

// The module as the client builds it, started, with the link fed through VLan0's events.
class Listener : public ClientFixture {
protected:
    ListenerModule& link = client.listener();
};

} // namespace

TEST_F(Listener, StartRecordsTheLinkAndOnlyGivesTheSocketItsPort)
{
    EXPECT_EQ(link.LinkFieldSep, '\xA9');
    EXPECT_EQ(link.LinkMsgEnd, '\xAE');
    EXPECT_EQ(link.LinkSpareMark, '\xAB');
    EXPECT_EQ(link.LinkAddress, "127.0.0.1");
    EXPECT_EQ(link.LinkPort, 8057);
    EXPECT_EQ(vlan.localPort, 8057);
    EXPECT_EQ(vlan.closeCalls, 0);
    EXPECT_TRUE(vlan.connectCalls.empty());
    EXPECT_TRUE(vlan.accepted.empty());
    EXPECT_TRUE(vlan.sent.empty());
    // The lobby window came into being, hidden, loaded once.
    EXPECT_EQ(lobby.captionText, "Stonecall v. 0.1.1 - Fernhollow");
    EXPECT_FALSE(lobby.visible);
    lobby.captionText.clear();
    link.StartListener();
    EXPECT_EQ(lobby.captionText, "");
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(Listener, ConnectionRequestClosesThenAccepts)
{
    vlan.connected = true;
    vlan.onConnectionRequest(7);
    vlan.onConnectionRequest(9);
    EXPECT_EQ(vlan.closeCalls, 2);
    EXPECT_EQ(vlan.accepted, (std::vector<int>{7, 9}));
    EXPECT_TRUE(vlan.connected); // the accept came after the close
    EXPECT_TRUE(vlan.sent.empty());
}

TEST_F(Listener, OneArrivalShowsTheRawTextThenTheBroadcast)
{
    vlan.deliver(broadcast("Hello there"));
    EXPECT_EQ(dialogs.shown, (Shown{broadcast("Hello there"), "Hello there"}));
    EXPECT_EQ(link.LinkMessageCount, 1);
    EXPECT_EQ(link.LinkBuffer(), "");
    EXPECT_EQ(link.BroadcastText, "Hello there");
    EXPECT_EQ(app.doEventsCalls, 1);
}

TEST_F(Listener, AMessageSplitOverTwoArrivals)
{
    vlan.deliver("SENDBROAD");
    EXPECT_EQ(dialogs.shown, Shown{"SENDBROAD"});
    EXPECT_EQ(link.LinkBuffer(), "SENDBROAD");
    EXPECT_EQ(link.LinkMessageCount, 0);
    vlan.deliver("CAST" + F + "T" + M);
    EXPECT_EQ(dialogs.shown, (Shown{"SENDBROAD", broadcast("T"), "T"}));
    EXPECT_EQ(link.LinkMessageCount, 1);
}

TEST_F(Listener, KeywordIgnoresLetterCaseOnly)
{
    vlan.deliver("sendbroadcast" + F + "a" + M + "SendBroadCast" + F + "b" + M);
    vlan.deliver("SENDBROADCAST " + F + "c" + M + "SEND" + F + "d" + M + "xSENDBROADCAST" + F +
                 "e" + M);
    EXPECT_EQ(dialogs.shown.size(), 4u);
    EXPECT_EQ(dialogs.shown[1], "a");
    EXPECT_EQ(dialogs.shown[2], "b");
    EXPECT_EQ(link.LinkMessageCount, 5);
}

TEST_F(Listener, OnlyTheSecondFieldIsShown)
{
    vlan.deliver("SENDBROADCAST" + F + "A" + F + "B" + F + M);
    vlan.deliver("SENDBROADCAST" + F + F + "B" + M); // an empty second field
    vlan.deliver("SENDBROADCAST" + M);               // none at all
    const Shown expected{"SENDBROADCAST" + F + "A" + F + "B" + F + M,
                         "A",
                         "SENDBROADCAST" + F + F + "B" + M,
                         "",
                         "SENDBROADCAST" + M,
                         ""};
    EXPECT_EQ(dialogs.shown, expected);
    EXPECT_EQ(link.BroadcastText, "");
}

TEST_F(Listener, TwoMessagesInOneArrivalAreHandledInOrderWithAPassBetween)
{
    std::vector<int> passesSeenAtBox;
    dialogs.onMsgBox = [&](const std::string&) { passesSeenAtBox.push_back(app.doEventsCalls); };
    vlan.deliver(broadcast("one") + broadcast("two") + "SEND");
    EXPECT_EQ(dialogs.shown, (Shown{broadcast("one") + broadcast("two") + "SEND", "one", "two"}));
    EXPECT_EQ(passesSeenAtBox, (std::vector<int>{0, 0, 1}));
    EXPECT_EQ(app.doEventsCalls, 2);
    EXPECT_EQ(link.LinkBuffer(), "SEND");
}

TEST_F(Listener, AnArrivalWithoutTerminatorWaits)
{
    vlan.deliver("SENDBROADCAST" + F + "no end");
    EXPECT_EQ(dialogs.shown, Shown{"SENDBROADCAST" + F + "no end"});
    EXPECT_EQ(link.LinkMessageCount, 0);
    EXPECT_EQ(app.doEventsCalls, 0);
    EXPECT_EQ(link.LinkBuffer(), "SENDBROADCAST" + F + "no end");
}

TEST_F(Listener, EmptyMessagesAreCountedNotHandled)
{
    vlan.deliver(M + M + broadcast("x") + M);
    EXPECT_EQ(dialogs.shown, (Shown{M + M + broadcast("x") + M, "x"}));
    EXPECT_EQ(link.LinkMessageCount, 4);
    EXPECT_EQ(app.doEventsCalls, 4);
}

TEST_F(Listener, ReadsNoMoreThanTheArrivalAnnounces)
{
    vlan.incoming = broadcast("x");
    link.ListenerReceive(5);
    EXPECT_EQ(link.LinkBuffer(), "SENDB");
    link.ListenerReceive(-1);
    link.ListenerReceive(0);
    EXPECT_EQ(link.LinkBuffer(), "SENDB");
    link.ListenerReceive(1000);
    EXPECT_EQ(dialogs.shown.back(), "x");
    EXPECT_EQ(link.LinkMessageCount, 1);
}

TEST_F(Listener, NestedArrivalInABroadcastBoxKeepsEveryMessageOnceInOrder)
{
    bool injected = false;
    dialogs.onMsgBox = [&](const std::string& text) {
        if (text == "A" && !injected) {
            injected = true;
            vlan.deliver("OADCAST" + F + "C" + M + broadcast("D") + "SEN");
        }
    };
    vlan.deliver(broadcast("A") + broadcast("B") + "SENDBR");
    const Shown expected{broadcast("A") + broadcast("B") + "SENDBR",
                         "A",
                         broadcast("B") + broadcast("C") + broadcast("D") + "SEN",
                         "B",
                         "C",
                         "D"};
    EXPECT_EQ(dialogs.shown, expected);
    EXPECT_EQ(link.LinkMessageCount, 4);
    EXPECT_EQ(link.LinkBuffer(), "SEN");
}

TEST_F(Listener, NestedArrivalInTheRawBoxOrTheEventPass)
{
    int raw = 0;
    dialogs.onMsgBox = [&](const std::string& text) {
        if (text.rfind("SENDBROADCAST", 0) == 0 && text.size() > 3 && ++raw == 1)
            vlan.deliver("CAST" + F + "B" + M); // completes the outer arrival's tail
    };
    app.onDoEvents = [&] {
        if (app.doEventsCalls == 1)
            vlan.deliver(broadcast("C"));
    };
    vlan.deliver(broadcast("A") + "SENDBROAD");
    // The raw box lets B in, whose arrival cuts A and B; the pass after A lets C in, which
    // finds B still waiting in front of it.
    const Shown expected{broadcast("A") + "SENDBROAD",
                         broadcast("A") + broadcast("B"),
                         "A",
                         broadcast("B") + broadcast("C"),
                         "B",
                         "C"};
    EXPECT_EQ(dialogs.shown, expected);
    EXPECT_EQ(link.LinkMessageCount, 3);
    EXPECT_EQ(link.LinkBuffer(), "");
}

TEST_F(Listener, ManyMessagesWithNestingAtEveryBox)
{
    // Every broadcast box lets one more message in until twenty have come; each must be
    // shown once, in the order sent.
    int next = 1;
    dialogs.onMsgBox = [&](const std::string& text) {
        if (text.size() <= 2 && next < 20)
            vlan.deliver(broadcast(std::to_string(next++)));
    };
    vlan.deliver(broadcast("0"));
    Shown texts;
    for (const std::string& s : dialogs.shown)
        if (s.size() <= 2)
            texts.push_back(s);
    Shown expected;
    for (int i = 0; i < 20; ++i)
        expected.push_back(std::to_string(i));
    EXPECT_EQ(texts, expected);
    EXPECT_EQ(link.LinkMessageCount, 20);
}

TEST_F(Listener, AnUnfinishedMessageIsCappedButCompleteOnesSurvive)
{
    const std::size_t cap = ListenerModule::MaxUnfinishedMessage;
    vlan.deliver(std::string(cap, 'x'));
    EXPECT_EQ(link.LinkBuffer().size(), cap); // exactly at the cap: kept
    vlan.deliver("y");
    EXPECT_EQ(link.LinkBuffer(), "");
    EXPECT_EQ(dialogs.shown.back(), "");

    vlan.deliver(broadcast("kept") + std::string(cap + 1, 'z'));
    EXPECT_EQ(dialogs.shown.back(), "kept");
    EXPECT_EQ(link.LinkBuffer(), "");
    vlan.deliver("SENDBROADCAST" + F + "after" + M);
    EXPECT_EQ(dialogs.shown.back(), "after");
}

TEST_F(Listener, TheModuleLetsGoOfTheSocket)
{
    {
        FakeSocket socket;
        {
            ListenerModule module(socket, dialogs, app, [] {});
            EXPECT_TRUE(socket.onDataArrival);
        }
        EXPECT_FALSE(socket.onDataArrival);
        EXPECT_FALSE(socket.onConnectionRequest);
        socket.deliver("x" + M);
    }
    EXPECT_TRUE(dialogs.shown.empty());
}
