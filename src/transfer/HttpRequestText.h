#pragma once

#include <cstdint>
#include <string>

// The texts our file requests carry and the answer values we read, shared by
// HttpDownloader and TransferEngine so both speak alike. Pure; any thread.

// The header lines of every file request, in this order: accept block, range
// line (only when a range is asked), client block. The client block asks for
// the body as it is stored: nothing here decodes a compressed body.
const std::string& FileRequestAcceptBlock();
const std::string& FileRequestClientBlock();
// "Range: bytes=first-last\r\n".
std::string RangeLine(std::uint64_t first, std::uint64_t last);
// "Range: bytes=first-\r\n".
std::string OpenRangeLine(std::uint64_t first);

// A Content-Length value: the leading decimal digits (after blanks and an
// optional '+'); anything that is not a non-negative number in int64 range
// counts as 0, i.e. unknown.
std::uint64_t ParseContentLength(const std::string& text);

// The whole length from a Content-Range value "bytes a-b/total"; 0 when it is
// absent, '*' or not a number.
std::uint64_t ParseContentRangeTotal(const std::string& text);
