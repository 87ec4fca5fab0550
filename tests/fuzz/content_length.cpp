// Content-Length values of any form: never more than a signed 64-bit number.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzCheck.h"
#include "transfer/ContentHeaders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::uint64_t length = ParseContentLength(text);
    FUZZ_CHECK(length <= static_cast<std::uint64_t>(INT64_MAX));
    return 0;
}
