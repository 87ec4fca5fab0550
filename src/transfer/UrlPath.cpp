#include "transfer/UrlPath.h"

#include <cctype>

namespace {

bool IsHex(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// RFC 3986 pchar plus '/', without the percent sign (handled apart).
bool MayStandInPath(unsigned char c)
{
    if (c >= 0x80 || c <= 0x20 || c == 0x7F)
        return false;
    if (std::isalnum(c))
        return true;
    switch (c) {
    case '-': case '.': case '_': case '~':
    case '!': case '$': case '&': case '\'': case '(': case ')':
    case '*': case '+': case ',': case ';': case '=':
    case ':': case '@': case '/':
        return true;
    default:
        return false;
    }
}

} // namespace

std::string EncodeUrlPath(const std::string& url)
{
    static const char hex[] = "0123456789ABCDEF";

    // The path starts after "scheme://authority"; without a scheme the whole
    // text up to the query is taken as path.
    std::size_t pathStart = 0;
    const auto schemeEnd = url.find("://");
    if (schemeEnd != std::string::npos) {
        pathStart = url.find_first_of("/\\?", schemeEnd + 3);
        if (pathStart == std::string::npos)
            return url;
    }
    auto queryStart = url.find('?', pathStart);
    if (queryStart == std::string::npos)
        queryStart = url.size();

    std::string out = url.substr(0, pathStart);
    out.reserve(url.size() + 16);
    for (std::size_t i = pathStart; i < queryStart; ++i) {
        const auto c = static_cast<unsigned char>(url[i]);
        if (c == '\\') {
            out += '/';
        } else if (c == '%' && i + 2 < queryStart && IsHex(url[i + 1]) && IsHex(url[i + 2])) {
            out += url[i];
        } else if (c != '%' && MayStandInPath(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        }
    }
    out.append(url, queryStart, std::string::npos);
    return out;
}
