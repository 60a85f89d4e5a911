#include "wire/Wire.h"

#include "wire/CharClass.h"

namespace stonecall {

std::string makeCommand(std::string_view keyword, std::initializer_list<std::string_view> fields)
{
    std::size_t size = keyword.size();
    for (auto field : fields)
        size += 1 + field.size();
    std::string text;
    text.reserve(size + 1);
    appendCommand(text, keyword, fields);
    return text;
}

void appendCommand(std::string& text, std::string_view keyword,
                   std::initializer_list<std::string_view> fields)
{
    // Short messages (nearly all) are put together on the stack and appended at once.
    char message[256];
    std::size_t size = keyword.size();
    for (auto field : fields)
        size += 1 + field.size();
    if (size > sizeof message) {
        text.append(keyword);
        for (auto field : fields) {
            text.push_back(FieldSep);
            text.append(field);
        }
        return;
    }
    char* at = std::copy(keyword.begin(), keyword.end(), message);
    for (auto field : fields) {
        *at++ = FieldSep;
        at = std::copy(field.begin(), field.end(), at);
    }
    text.append(message, size);
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
