#include "Rules.h"

#include "wire/CharClass.h"
#include "wire/DisplayName.h"
#include "wire/Encryptor.h"
#include "wire/Keywords.h"
#include "wire/LowerCase.h"
#include "wire/Wire.h"

#include <algorithm>

namespace stonecall::server {

namespace {

bool isBlankShown(char c)
{
    return c == ' ' || c == '_' || c == '\xA0';
}

bool isHexDigit(char c)
{
    return hexValue(c) >= 0;
}

bool hasInvisible(std::string_view text)
{
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return isInvisibleCode(static_cast<unsigned char>(c)); });
}

bool acceptableCharacters(std::string_view text)
{
    if (text.empty())
        return true;
    if (unsendableFieldReason(text) || hasInvisible(text))
        return false;
    return !isBlankShown(text.front()) && !isBlankShown(text.back());
}

} // namespace

bool acceptableName(std::string_view name)
{
    if (name.empty() || name.size() > MaxNameLength || name == NoneValue || name.front() == '*')
        return false;
    return acceptableCharacters(name);
}

bool acceptablePassword(std::string_view password)
{
    return password.size() <= MaxPasswordLength && acceptableCharacters(password);
}

std::string peerText(std::string_view text)
{
    std::string quoted = "\"";
    quoted.append(text.substr(0, MaxLoggedPeerText));
    quoted += '"';
    if (text.size() > MaxLoggedPeerText)
        quoted += " (cut, " + std::to_string(text.size()) + " bytes)";
    return quoted;
}

std::string nameKey(std::string_view name)
{
    std::string key;
    for (const char c : spacedName(name)) {
        if (isBlankShown(c)) {
            if (!key.empty() && key.back() != ' ')
                key += ' ';
            continue;
        }
        key += static_cast<char>(lowerCase(static_cast<unsigned char>(c)));
    }
    while (!key.empty() && key.back() == ' ')
        key.pop_back();
    return key;
}

std::optional<Chat> relayableChat(std::string_view encoded)
{
    if (encoded.size() % 2 != 0 || !std::all_of(encoded.begin(), encoded.end(), isHexDigit))
        return std::nullopt;
    const std::string plain = DecryptText(encoded);
    std::string clean;
    clean.reserve(plain.size());
    for (const char c : plain) {
        const auto u = static_cast<unsigned char>(c);
        const bool blank =
            c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v' || u == 0xA0;
        if (blank) {
            if (clean.empty() || clean.back() != ' ')
                clean += ' ';
        } else if (!isInvisibleCode(u)) {
            clean += c;
        }
    }
    Chat chat;
    if (clean.size() > MaxChatCharacters) {
        clean.resize(MaxChatCharacters);
        chat.cut = true;
    }
    chat.encoded = EncryptText(clean);
    return chat;
}

} // namespace stonecall::server
