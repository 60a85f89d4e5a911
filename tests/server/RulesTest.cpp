#include "Rules.h"
#include "Motd.h"

#include "wire/Encryptor.h"

#include <gtest/gtest.h>

using namespace stonecall;
using namespace stonecall::server;

TEST(ServerRules, NamesThatClientsCanShowAndTellApart)
{
    EXPECT_TRUE(acceptableName("ann"));
    EXPECT_TRUE(acceptableName("Old_Fox"));
    EXPECT_TRUE(acceptableName("none")); // only the exact word marks a free entry
    EXPECT_TRUE(acceptableName(" x "));
    EXPECT_TRUE(acceptableName("J\xF6rg")); // Windows-1252 letters are fine
    EXPECT_TRUE(acceptableName(std::string(MaxNameLength, 'a')));

    EXPECT_FALSE(acceptableName(""));
    EXPECT_FALSE(acceptableName("NONE"));
    EXPECT_FALSE(acceptableName("a\tb"));
    EXPECT_FALSE(acceptableName(std::string("a\0b", 3)));
    EXPECT_FALSE(acceptableName("a\x7F"));
    EXPECT_FALSE(acceptableName("a\x81")); // no glyph in Windows-1252
    EXPECT_FALSE(acceptableName("__ _"));  // shown as nothing but blanks
    EXPECT_FALSE(acceptableName(std::string(MaxNameLength + 1, 'a')));

    EXPECT_EQ(nameKey("Old_Fox"), nameKey("Old Fox"));
    EXPECT_NE(nameKey("ann"), nameKey("Ann"));
}

TEST(ServerRules, ChatIsRelayedAsItCameWithinLimits)
{
    EXPECT_EQ(relayableChat(EncryptText("hello")), EncryptText("hello"));
    EXPECT_EQ(relayableChat(""), "");
    EXPECT_EQ(relayableChat("b1aeb5b5b8"), "b1aeb5b5b8"); // lower case kept as it came

    const std::string longLine(MaxChatCharacters + 10, 'x');
    EXPECT_EQ(relayableChat(EncryptText(longLine)),
              EncryptText(longLine.substr(0, MaxChatCharacters)));

    EXPECT_EQ(relayableChat("ABC"), std::nullopt);  // odd length
    EXPECT_EQ(relayableChat("ZZ00"), std::nullopt); // not hexadecimal
    EXPECT_EQ(relayableChat(EncryptText("a\r\nhost: fake line")), std::nullopt);
    EXPECT_EQ(relayableChat(EncryptText("a\nb")), std::nullopt);
}

TEST(ServerMotd, FileTextBecomesLines)
{
    using Lines = std::vector<std::string>;
    EXPECT_EQ(motdFromText(""), Lines{});
    EXPECT_EQ(motdFromText("one\ntwo\n"), (Lines{"one", "two"}));
    EXPECT_EQ(motdFromText("one\r\n\r\nthree"), (Lines{"one", "", "three"}));
    EXPECT_EQ(motdFromText("\n"), Lines{""});

    std::string many;
    for (std::size_t i = 0; i < MaxMotdLines + 5; ++i)
        many += "line\n";
    EXPECT_EQ(motdFromText(many).size(), MaxMotdLines);
    EXPECT_EQ(motdFromText(std::string(MaxMotdLineLength + 9, 'x'))[0].size(), MaxMotdLineLength);
}
