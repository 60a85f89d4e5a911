#include "Rules.h"

#include "protocol/Wire.h"
#include "roster/Encryptor.h"

#include <algorithm>
#include <limits>

namespace stonecall::server {

namespace {

bool isBlankShown(char c)
{
    return c == ' ' || c == '_' || c == '\xA0';
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

template <class Int> bool fits(double value)
{
    return value >= static_cast<double>(std::numeric_limits<Int>::min()) &&
           value <= static_cast<double>(std::numeric_limits<Int>::max());
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
    std::string key(name);
    std::replace(key.begin(), key.end(), '_', ' ');
    return key;
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

std::optional<std::int32_t> verifyResponse(std::int16_t challenge)
{
    const int v = challenge;
    const int first = v + VerifyConstant;
    if (!fits<std::int16_t>(first))
        return std::nullopt;
    const int sum = first + v;
    if (!fits<std::int16_t>(sum))
        return std::nullopt;
    const double product = 2.0 * v * sum;
    if (!fits<std::int32_t>(product))
        return std::nullopt;
    return static_cast<std::int32_t>(product);
}

} // namespace stonecall::server
