#pragma once

#include <string>

// Turns a URL made of a base URL and a listed relative name into one that can
// go on the wire: every '\' before the query becomes '/', and each path byte
// that may not stand in a URL (space, controls, non-ASCII, '"', '#', '<', '>',
// '^', '`', '{', '|', '}', '[', ']', and a '%' not followed by two hex digits)
// is written as %XX. An existing %XX, the scheme, the host and the query are
// left as they are. Pure function; any thread.
std::string EncodeUrlPath(const std::string& url);
