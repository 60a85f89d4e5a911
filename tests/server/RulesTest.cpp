#include "Rules.h"
#include "Motd.h"

#include "wire/Encryptor.h"

#include <gtest/gtest.h>

using namespace stonecall;
using namespace stonecall::server;

TEST(ServerRules, NamesThatCannotPoseAsSomeoneElse)
{
    EXPECT_TRUE(acceptableName("ann"));
    EXPECT_TRUE(acceptableName("Old_Fox"));
    EXPECT_TRUE(acceptableName("none")); // only the exact word marks a free entry
    EXPECT_TRUE(acceptableName("x y"));
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
    // Posing as another: blanks at the ends, codes nobody sees, the lobby's own sender.
    EXPECT_FALSE(acceptableName("Alice "));
    EXPECT_FALSE(acceptableName(" Alice"));
    EXPECT_FALSE(acceptableName("Alice_"));
    EXPECT_FALSE(acceptableName("Alice\xA0"));
    EXPECT_FALSE(acceptableName("Ali\xAD"
                                "ce")); // soft hyphen
    EXPECT_FALSE(acceptableName("Al\xA0ice"));
    EXPECT_FALSE(acceptableName("*lobby*"));

    // Taken is judged on what a reader sees: case, "_" and runs of blanks fold.
    EXPECT_EQ(nameKey("Old_Fox"), nameKey("Old Fox"));
    EXPECT_EQ(nameKey("ann"), nameKey("Ann"));
    EXPECT_EQ(nameKey("Old  Fox"), nameKey("old_fox"));
    EXPECT_EQ(nameKey("J\xD6RG"), nameKey("j\xF6rg"));
    EXPECT_NE(nameKey("ann"), nameKey("anna"));

    // Passwords: the same characters as names, empty allowed.
    EXPECT_TRUE(acceptablePassword(""));
    EXPECT_TRUE(acceptablePassword("hunter2"));
    EXPECT_FALSE(acceptablePassword("3\x01"));
    EXPECT_FALSE(acceptablePassword("a\r\n"));
    EXPECT_FALSE(acceptablePassword("pass "));
    EXPECT_FALSE(acceptablePassword(std::string(MaxPasswordLength + 1, 'a')));
}

namespace {
std::optional<std::string> relayed(std::string_view encoded)
{
    const auto chat = relayableChat(encoded);
    return chat ? std::optional(DecryptText(chat->encoded)) : std::nullopt;
}
} // namespace

TEST(ServerRules, ChatIsCleanedOfWhatCouldPoseAsAnotherLine)
{
    EXPECT_EQ(relayed(EncryptText("hello")), "hello");
    EXPECT_EQ(relayed(""), "");
    EXPECT_EQ(relayed("b1aeb5b5b8"), DecryptText("b1aeb5b5b8")); // lower case read the same

    const std::string longLine(MaxChatCharacters + 10, 'x');
    EXPECT_EQ(relayed(EncryptText(longLine)), longLine.substr(0, MaxChatCharacters));
    EXPECT_TRUE(relayableChat(EncryptText(longLine))->cut);
    EXPECT_FALSE(relayableChat(EncryptText(longLine.substr(0, MaxChatCharacters)))->cut);

    EXPECT_EQ(relayed("ABC"), std::nullopt);  // odd length
    EXPECT_EQ(relayed("ZZ00"), std::nullopt); // not hexadecimal
    // A wrap made of blanks, line breaks, a form feed, codes nobody sees.
    EXPECT_EQ(relayed(EncryptText("hi" + std::string(120, ' ') + "Alice: my password")),
              "hi Alice: my password");
    EXPECT_EQ(relayed(EncryptText("a\r\nhost: fake line")), "a host: fake line");
    EXPECT_EQ(relayed(EncryptText("a\fb\t\xA0 c")), "a b c");
    EXPECT_EQ(relayed(EncryptText("a\xAD\x01\x7F\x81"
                                  "b")),
              "ab");
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
