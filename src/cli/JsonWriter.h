#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Appends text as one JSON string, quotes included. The text is taken as
// UTF-8: quotes, backslashes and control characters (and DEL, U+2028,
// U+2029) are written as escapes, every ill-formed byte sequence (a stray
// continuation byte, a truncated or overlong sequence, a surrogate, a code
// point above U+10FFFF) as one \ufffd per maximal ill-formed part. The
// result never holds a raw line break, so it is safe on a line of its own.
void AppendJsonString(std::string& out, std::string_view text);

// One JSON object written on one line, member by member in the order added.
// Keys are our own ASCII words; values are escaped as above.
class JsonObject {
public:
    JsonObject& Add(std::string_view key, std::string_view value);
    // Without it a string literal would pick the bool overload.
    JsonObject& Add(std::string_view key, const char* value) { return Add(key, std::string_view(value)); }
    JsonObject& Add(std::string_view key, std::int64_t value);
    JsonObject& Add(std::string_view key, std::uint64_t value);
    JsonObject& Add(std::string_view key, int value) { return Add(key, static_cast<std::int64_t>(value)); }
    JsonObject& Add(std::string_view key, bool value);

    // The object and a line feed.
    std::string Line() const;

private:
    void Key(std::string_view key);

    std::string m_members;
};
