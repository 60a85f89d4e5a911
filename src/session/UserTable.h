#pragma once
// The user table: one record per user number the server has announced, indexed from 0.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace stonecall {

struct UserInfo {
    std::string Name; // empty marks a free entry
    std::string Extra;
    std::int32_t JoinedHost = 0;
    std::string State;
    std::string Remark;
    std::int32_t Slot = 0;
    std::int32_t HutSize = 0;
    std::string HutPassword;

    friend bool operator==(const UserInfo&, const UserInfo&) = default;
};

// The longest text a field keeps of what the server sent. Our lobby sends names and hut
// passwords of at most 64 bytes and state words of a few letters, so no honest server comes
// near it; a tree row shows 256 characters, so a text cut here still ends in "..." there.
// Bounded so, a hostile server can make the full table of 32768 entries hold at most some
// 64 MiB of text.
inline constexpr std::size_t MaxFieldText = 512;

// Stores what the server sent into a text field of an entry, cut to MaxFieldText. A field
// that held a long text gives its memory back when a shorter one replaces it: the table lives
// for the whole run, and a string keeps its capacity otherwise.
inline void storeField(std::string& field, std::string_view text)
{
    text = text.substr(0, MaxFieldText);
    if (text.size() < field.capacity() / 2)
        field = std::string(text);
    else
        field.assign(text);
}

// Holds exactly the entries 0 to MaxUserIndex and never shrinks. The table does not watch its
// readers: whoever edits an entry tells the trees which one (the dispatcher does, per message).
class UserTable {
public:
    // Indexes are 16-bit: no table holds more entries than this.
    static constexpr std::size_t MaxEntries = 32768;
    // The room a vector by entry index takes when it must hold `entries`: a small lobby's
    // worth, and past that every possible entry at once (only the pages in use are touched),
    // so a user list that enlarges the table one USER at a time never moves the entries.
    static constexpr std::size_t roomFor(std::size_t entries)
    {
        return entries <= 1024 ? 1024 : MaxEntries;
    }

    UserTable() : Users(1) {}

    std::int16_t MaxUserIndex() const { return static_cast<std::int16_t>(Users.size() - 1); }
    bool contains(long index) const
    {
        return index >= 0 && index < static_cast<long>(Users.size());
    }
    const UserInfo& operator[](std::size_t index) const { return Users[index]; }
    UserInfo& edit(std::size_t index) { return Users[index]; }

    // Enlarges the table to the entries 0 to index, keeping every entry; never shrinks. New
    // entries are free.
    void growTo(std::int16_t index)
    {
        if (index <= MaxUserIndex())
            return;
        const auto entries = static_cast<std::size_t>(index) + 1;
        if (entries > Users.capacity())
            Users.reserve(roomFor(entries));
        Users.resize(entries);
    }

private:
    std::vector<UserInfo> Users;
};

} // namespace stonecall
