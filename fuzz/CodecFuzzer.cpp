// The chat codec on any bytes: decoding never fails, and encoding always round-trips into
// text that can travel as a field.

#include "FuzzCheck.h"
#include "wire/Encryptor.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);

    const std::string decoded = stonecall::DecryptText(input);
    FUZZ_CHECK(decoded.size() == (input.size() + 1) / 2);
    FUZZ_CHECK(stonecall::HexDecode(input).size() == decoded.size());

    const std::string encoded = stonecall::EncryptText(input);
    FUZZ_CHECK(encoded.size() == 2 * input.size());
    for (char c : encoded)
        FUZZ_CHECK((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
    FUZZ_CHECK(stonecall::DecryptText(encoded) == input);
    FUZZ_CHECK(stonecall::HexDecode(stonecall::HexEncode(input)) == input);
    return 0;
}
