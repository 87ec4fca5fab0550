#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Readers of the two answer headers that say which bytes a body holds. Pure
// functions over the header's value (as HttpClient::QueryHeader gives it,
// trimmed); any thread.

// Content-Length: optional blanks, an optional '+', then the leading decimal
// digits; whatever follows them is ignored. 0 (unknown) when there are no
// digits or the number does not fit in a signed 64-bit value.
std::uint64_t ParseContentLength(std::string_view text);

// A satisfied byte range: "bytes FIRST-LAST/TOTAL" or "bytes FIRST-LAST/*".
struct ContentRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;              // inclusive
    std::optional<std::uint64_t> total;  // nothing for "*"
    bool operator==(const ContentRange&) const = default;
};

// Content-Range of a 206 answer, or nothing when the value is not a
// satisfied range: another unit, "*/TOTAL", missing or non-decimal numbers,
// LAST before FIRST, LAST not below TOTAL, numbers past INT64_MAX, or
// anything after the total. The unit compares without regard to case.
std::optional<ContentRange> ParseContentRange(std::string_view text);

// Whether a 206 answer holds the bytes asked for: its range starts at start
// and, when both are known, its total is size (0: unknown). Anything else
// would be written at the wrong place in the file.
bool RangeAnswersRequest(const std::optional<ContentRange>& range, std::uint64_t start, std::uint64_t size);
