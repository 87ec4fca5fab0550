// Content-Range values of any form: an accepted range is ordered and lies
// inside its total.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzCheck.h"
#include "transfer/ContentHeaders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto range = ParseContentRange(text);
    if (!range)
        return 0;
    FUZZ_CHECK(range->first <= range->last);
    FUZZ_CHECK(range->last <= static_cast<std::uint64_t>(INT64_MAX));
    if (range->total)
        FUZZ_CHECK(range->last < *range->total);
    return 0;
}
