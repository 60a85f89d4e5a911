#pragma once
// Numbers in and out of message fields, as the lobby's rooms read and write them.

#include "wire/Numbers.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace stonecall::server {

// Field `at` (0 is the keyword) as a number in the strict form, or nothing.
inline std::optional<std::int32_t> numberField(const std::vector<std::string_view>& fields,
                                               std::size_t at)
{
    if (at >= fields.size())
        return std::nullopt;
    return strictNumber<std::int32_t>(fields[at]);
}

// A number as a field without a string to hold it: a user list has thousands.
class Digits {
public:
    explicit Digits(long value)
        : size_(static_cast<std::size_t>(std::to_chars(text_, text_ + sizeof text_, value).ptr -
                                         text_))
    {}
    operator std::string_view() const { return {text_, size_}; }

private:
    char text_[24];
    std::size_t size_;
};

} // namespace stonecall::server
