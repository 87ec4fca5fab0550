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
