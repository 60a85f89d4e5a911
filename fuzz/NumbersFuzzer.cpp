// The number rules on any field: no undefined behaviour, and a field that reads strictly
// reads the same leniently.

#include "FuzzCheck.h"
#include "wire/Numbers.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view field(reinterpret_cast<const char*>(data), size);
    using stonecall::lenientNumber;
    using stonecall::strictNumber;

    const auto lenient16 = lenientNumber<std::int16_t>(field);
    const auto lenient32 = lenientNumber<std::int32_t>(field);
    const auto strict16 = strictNumber<std::int16_t>(field);
    const auto strict32 = strictNumber<std::int32_t>(field);

    if (lenient16)
        FUZZ_CHECK(lenient32 && *lenient32 == *lenient16);
    if (strict16)
        FUZZ_CHECK(strict32 && *strict32 == *strict16);
    if (strict32)
        FUZZ_CHECK(lenient32 && *lenient32 == *strict32);
    return 0;
}
