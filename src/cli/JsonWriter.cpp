#include "cli/JsonWriter.h"

#include <cstdio>

namespace {

// The length of the well-formed UTF-8 sequence at text[at], or 0 when it is
// ill-formed; then *skip is the length of its maximal ill-formed part (at
// least 1), which one replacement character stands for.
std::size_t SequenceLength(std::string_view text, std::size_t at, std::size_t* skip)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80; // the range of the second byte
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // overlong below
        else if (lead == 0xED)
            high = 0x9F; // surrogates above
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90; // overlong below
        else if (lead == 0xF4)
            high = 0x8F; // beyond U+10FFFF above
    } else {
        *skip = 1;
        return 0;
    }
    std::size_t i = 1;
    for (; i < length && at + i < text.size(); ++i) {
        const unsigned char next = byte(at + i);
        const unsigned char min = i == 1 ? low : 0x80;
        const unsigned char max = i == 1 ? high : 0xBF;
        if (next < min || next > max)
            break;
    }
    if (i == length)
        return length;
    *skip = i;
    return 0;
}

void AppendEscape(std::string& out, unsigned code)
{
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", code);
    out += escape;
}

} // namespace

void AppendJsonString(std::string& out, std::string_view text)
{
    out += '"';
    std::size_t at = 0;
    while (at < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (c < 0x80) {
            switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F)
                    AppendEscape(out, c);
                else
                    out += static_cast<char>(c);
            }
            ++at;
            continue;
        }
        std::size_t skip = 0;
        const std::size_t length = SequenceLength(text, at, &skip);
        if (length == 0) {
            AppendEscape(out, 0xFFFD);
            at += skip;
            continue;
        }
        // Line and paragraph separators end a line for some readers.
        const std::string_view sequence = text.substr(at, length);
        if (sequence == "\xE2\x80\xA8" || sequence == "\xE2\x80\xA9")
            AppendEscape(out, sequence[2] == '\xA8' ? 0x2028 : 0x2029);
        else
            out += sequence;
        at += length;
    }
    out += '"';
}

void JsonObject::Key(std::string_view key)
{
    if (!m_members.empty())
        m_members += ',';
    AppendJsonString(m_members, key);
    m_members += ':';
}

JsonObject& JsonObject::Add(std::string_view key, std::string_view value)
{
    Key(key);
    AppendJsonString(m_members, value);
    return *this;
}

JsonObject& JsonObject::Add(std::string_view key, std::int64_t value)
{
    Key(key);
    m_members += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::Add(std::string_view key, std::uint64_t value)
{
    Key(key);
    m_members += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::Add(std::string_view key, bool value)
{
    Key(key);
    m_members += value ? "true" : "false";
    return *this;
}

std::string JsonObject::Line() const
{
    return "{" + m_members + "}\n";
}
