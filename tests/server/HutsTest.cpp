// The hut rules, as every client hears them.

#include "LobbyFixture.h"
#include "Rules.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace stonecall;
using namespace stonecall::server;
using namespace stonecall::test;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

class HutsTest : public LobbyFixture {};

TEST_F(HutsTest, HostingAHut)
{
    login(1, "ann");
    login(2, "bob");
    login(3, "cid");
    clear();
    send(1, msg("BEHOST", {"3", "NONE"}));
    EXPECT_THAT(out->take(2), ElementsAre(host(1, 3)));
    EXPECT_THAT(out->take(1), ElementsAre(host(1, 3)));

    send(2, msg("BEHOST", {"4", ""})); // an empty password is an open hut
    send(3, msg("BEHOST", {"2", "Secret"}));
    EXPECT_THAT(out->take(1), ElementsAre(host(2, 4), host(3, 2, "Secret")));

    // Refused: a host asking again, player counts out of range, an overlong password.
    send(1, msg("BEHOST", {"2", "NONE"}));
    login(4, "dan");
    clear();
    for (const char* count : {"1", "5", "x", "", "2.5e9"})
        send(4, msg("BEHOST", {count, "NONE"}));
    send(4, "BEHOST");
    EXPECT_THAT(out->take(4), IsEmpty());
    // A password the lobby will not pass on: the asker hears why, and its state resets the
    // buttons it changed while waiting; nobody else hears anything.
    send(4, msg("BEHOST", {"2", std::string(MaxPasswordLength + 1, 'p')}));
    send(4, msg("BEHOST", {"3", "\x01"}));
    send(4, msg("BEHOST", {"3", "pw "}));
    const Message unusable = notice("Hut not opened: the password holds blanks at its ends "
                                    "or characters that cannot be sent.");
    EXPECT_THAT(out->take(4),
                ElementsAre(notice("Hut not opened: the password is longer than 64 characters."),
                            state(4, "IDLE"), unusable, state(4, "IDLE"), unusable,
                            state(4, "IDLE")));
    EXPECT_THAT(out->take(1), IsEmpty());

    send(4, "BEHOST\xA4"
            "2"); // no password field at all
    EXPECT_THAT(out->take(1), ElementsAre(host(4, 2)));
}

TEST_F(HutsTest, JoiningTakesTheAskedOrFirstFreePlaceAndTellsWhyNot)
{
    for (ConnectionId id = 1; id <= 6; ++id)
        login(id, "u" + std::to_string(id));
    send(1, msg("BEHOST", {"4", "pw"}));
    send(6, msg("BEHOST", {"2", "NONE"}));
    clear();

    send(2, msg("BECLIENT", {"1", "2"})); // the place asked for
    send(3, msg("BECLIENT", {"1", ""}));  // open choice: the first free
    send(4, msg("BECLIENT", {"1", "2"})); // taken meanwhile: the first free
    EXPECT_THAT(out->take(5), ElementsAre(member(2, 1, 2), member(3, 1, 1), member(4, 1, 3)));
    clear();

    // Full or not a hut: the asker is told, and its buttons reset by its own state.
    send(5, msg("BECLIENT", {"1", ""})); // full
    send(5, msg("BECLIENT", {"2", ""})); // not a host
    EXPECT_THAT(out->take(5),
                ElementsAre(notice("Hut not joined: it is full."), state(5, "IDLE"),
                            notice("Hut not joined: it is no longer open."), state(5, "IDLE")));
    EXPECT_THAT(out->take(1), IsEmpty());
    // What no client asks for is ignored.
    send(5, msg("BECLIENT", {"9", ""})); // nobody
    send(5, msg("BECLIENT", {"0", ""}));
    send(5, msg("BECLIENT", {"x", ""}));
    send(5, "BECLIENT");
    send(6, msg("BECLIENT", {"6", ""})); // own hut
    send(6, msg("BECLIENT", {"1", ""})); // a host is not idle
    send(2, msg("BECLIENT", {"6", ""})); // already in a hut
    EXPECT_THAT(out->take(5), IsEmpty());

    // A place given up is free for the next one.
    clear();
    send(3, "BEIDLE");
    send(5, msg("BECLIENT", {"1", "4"})); // places of a 4-player hut are 1 to 3
    EXPECT_THAT(out->take(6), ElementsAre(state(3, "IDLE"), member(5, 1, 1)));
}

TEST_F(HutsTest, HostGoingIdleOrLeavingReturnsItsMembersFirst)
{
    for (ConnectionId id = 1; id <= 4; ++id)
        login(id, "u" + std::to_string(id));
    send(1, msg("BEHOST", {"3", "NONE"}));
    send(2, msg("BECLIENT", {"1", ""}));
    send(3, msg("BECLIENT", {"1", ""}));
    clear();
    send(1, "BEIDLE");
    EXPECT_THAT(out->take(4), ElementsAre(state(2, "IDLE"), state(3, "IDLE"), state(1, "IDLE")));

    // The members are free to join again; then the host's connection is lost.
    send(1, msg("BEHOST", {"3", "NONE"}));
    send(2, msg("BECLIENT", {"1", ""}));
    clear();
    lobby->disconnected(1);
    EXPECT_THAT(out->take(4), ElementsAre(state(2, "IDLE"), state(1, "IDLE"), user(1, "NONE")));
    EXPECT_THAT(out->take(1), IsEmpty());

    // A member that leaves clears its place with a state change before its entry goes.
    send(4, msg("BEHOST", {"2", "NONE"}));
    send(3, msg("BECLIENT", {"4", ""}));
    clear();
    lobby->disconnected(3);
    EXPECT_THAT(out->take(4), ElementsAre(state(3, "IDLE"), user(3, "NONE")));
    send(2, msg("BECLIENT", {"4", ""}));
    EXPECT_THAT(out->take(4), ElementsAre(member(2, 4, 1)));
}

TEST_F(HutsTest, MemberAskingForAHutLeavesTheOneItIsIn)
{
    login(1, "ann");
    login(2, "bob");
    login(3, "cid");
    send(1, msg("BEHOST", {"2", "NONE"}));
    send(2, msg("BECLIENT", {"1", ""}));
    clear();
    send(2, msg("BEHOST", {"3", "NONE"}));
    send(3, msg("BECLIENT", {"1", ""}));
    EXPECT_THAT(out->take(1), ElementsAre(host(2, 3), member(3, 1, 1)));
}

TEST_F(HutsTest, IdleRequestFromAnIdleUserIsAnsweredToItAlone)
{
    login(1, "ann");
    login(2, "bob");
    clear();
    send(1, "BEIDLE");
    EXPECT_THAT(out->take(1), ElementsAre(state(1, "IDLE")));
    EXPECT_THAT(out->take(2), IsEmpty());
}

} // namespace
