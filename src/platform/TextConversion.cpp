#include "platform/TextConversion.h"

#include <cerrno>
#include <clocale>
#include <cstring>

#include <iconv.h>
#include <langinfo.h>

namespace {

// The locale's character set, or "" when conversions are the identity.
const std::string& LocaleCharset()
{
    static const std::string charset = [] {
        std::setlocale(LC_ALL, "");
        std::string name = nl_langinfo(CODESET);
        if (name == "UTF-8" || name == "utf8" || name == "ANSI_X3.4-1968" || name == "ASCII" ||
            name.empty()) {
            return std::string();
        }
        return name;
    }();
    return charset;
}

std::string Convert(const std::string& text, const char* to, const char* from, const std::string& substitute)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return text;
    std::string out;
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char buffer[1024];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (result != static_cast<std::size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // An invalid or unconvertible sequence: substitute and skip it. In
        // UTF-8 input a whole sequence is skipped, otherwise one byte.
        out += substitute;
        std::size_t skip = 1;
        if (std::strcmp(from, "UTF-8") == 0) {
            while (skip < inLeft && (static_cast<unsigned char>(in[skip]) & 0xC0) == 0x80)
                ++skip;
        }
        in += skip;
        inLeft -= skip;
    }
    iconv_close(cd);
    return out;
}

} // namespace

std::string LocaleToUtf8(const std::string& text)
{
    const std::string& charset = LocaleCharset();
    if (charset.empty() || text.empty())
        return text;
    return Convert(text, "UTF-8", charset.c_str(), "\xEF\xBF\xBD");
}

std::string Utf8ToLocale(const std::string& text)
{
    const std::string& charset = LocaleCharset();
    if (charset.empty() || text.empty())
        return text;
    return Convert(text, charset.c_str(), "UTF-8", "?");
}

std::string ListedNameToLocalPath(std::string name)
{
    for (char& c : name)
        if (c == '\\')
            c = '/';
    return name;
}

namespace {

void AppendEscape(std::string& out, const char* prefix, unsigned value)
{
    static const char digits[] = "0123456789abcdef";
    out += prefix;
    out += digits[(value >> 4) & 0xF];
    out += digits[value & 0xF];
}

// Length of the well-formed UTF-8 sequence at text[i], or 0 when the byte
// there does not start one (RFC 3629 ranges: no overlongs, no surrogates,
// nothing past U+10FFFF).
std::size_t WellFormedLength(const std::string& text, std::size_t i)
{
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = at(i);
    const std::size_t left = text.size() - i;
    const auto continuation = [&](std::size_t k, unsigned char low = 0x80, unsigned char high = 0xBF) {
        return k < left && at(i + k) >= low && at(i + k) <= high;
    };
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return continuation(1) ? 2 : 0;
    if (lead == 0xE0)
        return continuation(1, 0xA0) && continuation(2) ? 3 : 0;
    if ((lead >= 0xE1 && lead <= 0xEC) || lead == 0xEE || lead == 0xEF)
        return continuation(1) && continuation(2) ? 3 : 0;
    if (lead == 0xED)
        return continuation(1, 0x80, 0x9F) && continuation(2) ? 3 : 0;
    if (lead == 0xF0)
        return continuation(1, 0x90) && continuation(2) && continuation(3) ? 4 : 0;
    if (lead >= 0xF1 && lead <= 0xF3)
        return continuation(1) && continuation(2) && continuation(3) ? 4 : 0;
    if (lead == 0xF4)
        return continuation(1, 0x80, 0x8F) && continuation(2) && continuation(3) ? 4 : 0;
    return 0;
}

} // namespace

std::string EscapeControlCharacters(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t length = WellFormedLength(text, i);
        if (length == 0) {
            AppendEscape(out, "\\x", byte);
            ++i;
        } else if (length == 1 && (byte < 0x20 || byte == 0x7F)) {
            AppendEscape(out, "\\x", byte);
            ++i;
        } else if (length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            AppendEscape(out, "\\u00", static_cast<unsigned char>(text[i + 1]));
            i += 2;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}
