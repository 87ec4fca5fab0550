#pragma once

#include <cstdint>
#include <string>

// The texts our file requests carry and the split of an answer's header
// lines, shared by HttpClient, HttpDownloader and TransferEngine so all speak
// alike (header values are read with ContentHeaders.h). Pure; any thread.

// The header lines of every file request, in this order: accept block, range
// line (only when a range is asked), client block. The client block asks for
// the body as it is stored: nothing here decodes a compressed body.
const std::string& FileRequestAcceptBlock();
const std::string& FileRequestClientBlock();
// "Range: bytes=first-last\r\n".
std::string RangeLine(std::uint64_t first, std::uint64_t last);
// "Range: bytes=first-\r\n".
std::string OpenRangeLine(std::uint64_t first);

// One answer header line ("Name: value", line ending included or not) as its
// name and its value without surrounding blanks. False for a line that is no
// header (a status line, a continuation, the empty line).
bool SplitHeaderLine(const std::string& line, std::string& name, std::string& value);
