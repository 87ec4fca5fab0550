#pragma once

#include <cstddef>
#include <string>

// Reads one value of an ini file, the way the deployment settings are read.
// Section and key names match without regard to ASCII case; the value is the
// text after the first '=', blanks around it trimmed and one pair of
// surrounding double or single quotes removed. A line whose first non-blank
// character is ';' is a comment. The file is UTF-8, with or without a BOM,
// with LF or CRLF line ends. A missing file, section or key gives "".
// The value keeps at most maxChars characters (code points); longer values
// are cut. Any thread may call it.
std::string ReadIniValue(const std::string& path, const std::string& section, const std::string& key,
                         std::size_t maxChars = 511);
