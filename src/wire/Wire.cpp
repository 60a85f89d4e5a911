#include "wire/Wire.h"

#include "wire/CharClass.h"

#include <algorithm>

namespace stonecall {

std::string makeCommand(std::string_view keyword, std::initializer_list<std::string_view> fields)
{
    std::string text;
    appendCommand(text, keyword, fields);
    return text;
}

void appendCommand(std::string& text, std::string_view keyword,
                   std::initializer_list<std::string_view> fields)
{
    // The room is taken once and the pieces copied into it: a user list appends thousands.
    std::size_t size = keyword.size();
    for (auto field : fields)
        size += 1 + field.size();
    const std::size_t start = text.size();
    text.resize(start + size);
    char* at = std::copy(keyword.begin(), keyword.end(), text.data() + start);
    for (auto field : fields) {
        *at++ = FieldSep;
        at = std::copy(field.begin(), field.end(), at);
    }
}

std::vector<std::string_view> splitFields(std::string_view message)
{
    std::vector<std::string_view> fields;
    splitFields(message, fields);
    return fields;
}

void splitFields(std::string_view message, std::vector<std::string_view>& fields)
{
    fields.clear();
    std::size_t start = 0;
    for (;;) {
        const std::size_t sep = message.find(FieldSep, start);
        if (sep == std::string_view::npos) {
            fields.push_back(message.substr(start));
            return;
        }
        fields.push_back(message.substr(start, sep - start));
        start = sep + 1;
    }
}

std::optional<std::string> unsendableFieldReason(std::string_view text)
{
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (ch == FieldSep)
            return std::string("the character \xA4 is reserved by the lobby protocol");
        if (isControlCode(c))
            return std::string("control characters are not allowed");
    }
    return std::nullopt;
}

} // namespace stonecall
