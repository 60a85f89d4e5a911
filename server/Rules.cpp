#include "Rules.h"

#include "wire/CharClass.h"
#include "wire/DisplayName.h"
#include "wire/Encryptor.h"
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

} // namespace

bool acceptableName(std::string_view name)
{
    if (name.empty() || name.size() > MaxNameLength || name == "NONE")
        return false;
    if (unsendableFieldReason(name))
        return false;
    return !std::all_of(name.begin(), name.end(), isBlankShown);
}

std::string nameKey(std::string_view name)
{
    return spacedName(name);
}

std::optional<std::string> relayableChat(std::string_view encoded)
{
    if (encoded.size() % 2 != 0 || !std::all_of(encoded.begin(), encoded.end(), isHexDigit))
        return std::nullopt;
    encoded = encoded.substr(0, 2 * MaxChatCharacters);
    const std::string plain = DecryptText(encoded);
    if (plain.find_first_of("\r\n") != std::string::npos)
        return std::nullopt;
    return std::string(encoded);
}

} // namespace stonecall::server
