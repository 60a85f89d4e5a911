#include "protocol/WireTrace.h"

#include "wire/CharClass.h"
#include "wire/Keywords.h"
#include "wire/Wire.h"

#include <vector>

namespace stonecall {

namespace {

void appendEscaped(std::string& out, std::string_view text)
{
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\') {
            out += "\\\\";
        } else if (isInvisibleCode(c)) {
            out += "\\x";
            out += UpperHexDigits[c >> 4];
            out += UpperHexDigits[c & 0x0F];
        } else {
            out += ch;
        }
    }
}

// The index (from 0, the keyword being 0) of the first field that may hold a password, or
// fields.size() when the message carries none.
std::size_t firstSecretField(const std::vector<std::string_view>& fields)
{
    if (fields[0] == keyword::BeHost)
        return 2;
    if (fields[0] == keyword::UserState && fields.size() > 2 && fields[2] == stateword::Host)
        return 4;
    return fields.size();
}

} // namespace

std::string traceText(std::string_view message)
{
    // Passwords are found on the whole message, so cutting it short can never expose one.
    const std::vector<std::string_view> fields = splitFields(message);
    std::size_t secret = firstSecretField(fields);
    if (secret + 1 == fields.size() && fields[secret] == NoneValue)
        secret = fields.size();

    std::string out;
    const auto cutAt = [&](std::size_t shown) {
        out += " ...";
        // The count would take in a hidden password's length, so it is left out then.
        if (secret == fields.size())
            out += " (" + std::to_string(message.size() - shown) + " more bytes)";
    };
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const auto offset = static_cast<std::size_t>(fields[i].data() - message.data());
        if (i > 0) {
            if (offset > TraceMaxBytes) { // no room for the separator before this field
                cutAt(offset - 1);
                break;
            }
            out += FieldSep;
        }
        if (i == secret) {
            out += TraceHidden;
            break;
        }
        const std::string_view part = fields[i].substr(0, TraceMaxBytes - offset);
        appendEscaped(out, part);
        if (part.size() < fields[i].size()) {
            cutAt(offset + part.size());
            break;
        }
    }
    return out;
}

} // namespace stonecall
