#include "transfer/ProxyEnvironment.h"

#include <cstdlib>
#include <cstdint>
#include <strings.h>

#include <curl/curl.h>

namespace {

std::optional<std::string> Variable(const std::function<const char*(const char*)>& lookup, const char* lower,
                                    const char* upper)
{
    if (const char* value = lookup(lower))
        return std::string(value);
    if (const char* value = lookup(upper))
        return std::string(value);
    return std::nullopt;
}

std::string Lowered(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string Trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool IsIpAddress(const std::string& host)
{
    return host.find(':') != std::string::npos || host.find_first_not_of("0123456789.") == std::string::npos;
}

// The parts of a URL no_proxy looks at; false when url is not one.
struct Target {
    std::string scheme;
    std::string host; // lower case, without brackets or a trailing dot
    long port = 0;
};

bool ParseTarget(const std::string& url, Target& target)
{
    CURLU* parsed = curl_url();
    if (parsed == nullptr)
        return false;
    char* scheme = nullptr;
    char* host = nullptr;
    char* port = nullptr;
    const bool ok = curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK
                    && curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK
                    && curl_url_get(parsed, CURLUPART_HOST, &host, 0) == CURLUE_OK
                    && curl_url_get(parsed, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK;
    if (ok) {
        target.scheme = Lowered(scheme);
        target.host = Lowered(host);
        if (target.host.size() > 1 && target.host.front() == '[' && target.host.back() == ']')
            target.host = target.host.substr(1, target.host.size() - 2);
        if (!target.host.empty() && target.host.back() == '.')
            target.host.pop_back();
        target.port = std::strtol(port, nullptr, 10);
    }
    curl_free(scheme);
    curl_free(host);
    curl_free(port);
    curl_url_cleanup(parsed);
    return ok;
}

// Does one no_proxy entry (trimmed, lower case, not empty) name the target?
bool EntryMatches(std::string entry, const Target& target)
{
    if (entry == "*")
        return true;
    long port = 0;
    if (entry.front() == '[') {
        // [v6 address] or [v6 address]:port
        const auto close = entry.find(']');
        if (close == std::string::npos)
            return false;
        const std::string rest = entry.substr(close + 1);
        if (!rest.empty()) {
            if (rest.size() < 2 || rest.front() != ':' || rest.find_first_not_of("0123456789", 1) != std::string::npos)
                return false;
            port = std::strtol(rest.c_str() + 1, nullptr, 10);
        }
        entry = entry.substr(1, close - 1);
    } else if (const auto colon = entry.find(':');
               colon != std::string::npos && entry.find(':', colon + 1) == std::string::npos) {
        // name:port (a bare IPv6 address has more than one colon and no port)
        const std::string digits = entry.substr(colon + 1);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        port = std::strtol(digits.c_str(), nullptr, 10);
        entry.resize(colon);
    }
    if (port != 0 && port != target.port)
        return false;
    if (entry.rfind("*.", 0) == 0)
        entry.erase(0, 1);
    if (!entry.empty() && entry.front() == '.')
        entry.erase(0, 1);
    if (!entry.empty() && entry.back() == '.')
        entry.pop_back();
    if (entry.empty())
        return false;
    if (target.host == entry)
        return true;
    // A domain covers the names under it; an address is only ever itself.
    if (IsIpAddress(target.host) || IsIpAddress(entry))
        return false;
    const std::string& host = target.host;
    return host.size() > entry.size() && host.compare(host.size() - entry.size(), entry.size(), entry) == 0
           && host[host.size() - entry.size() - 1] == '.';
}

bool Bypassed(const std::string& noProxy, const Target& target)
{
    std::size_t from = 0;
    while (from <= noProxy.size()) {
        auto end = noProxy.find(',', from);
        if (end == std::string::npos)
            end = noProxy.size();
        const std::string entry = Lowered(Trimmed(noProxy.substr(from, end - from)));
        if (!entry.empty() && EntryMatches(entry, target))
            return true;
        from = end + 1;
    }
    return false;
}

} // namespace

ProxyEnvironment ReadProxyEnvironment(const std::function<const char*(const char*)>& lookup)
{
    ProxyEnvironment environment;
    environment.httpProxy = Variable(lookup, "http_proxy", "HTTP_PROXY");
    environment.httpsProxy = Variable(lookup, "https_proxy", "HTTPS_PROXY");
    environment.allProxy = Variable(lookup, "all_proxy", "ALL_PROXY");
    environment.noProxy = Variable(lookup, "no_proxy", "NO_PROXY");
    return environment;
}

ProxyEnvironment ReadProcessProxyEnvironment()
{
    return ReadProxyEnvironment([](const char* name) { return std::getenv(name); });
}

std::string ProxyForUrl(const std::string& url, const ProxyEnvironment& environment)
{
    Target target;
    if (!ParseTarget(url, target))
        return std::string();
    const std::optional<std::string>* own = nullptr;
    if (target.scheme == "http")
        own = &environment.httpProxy;
    else if (target.scheme == "https")
        own = &environment.httpsProxy;
    else
        return std::string();
    std::string proxy = own->has_value() ? Trimmed(**own) : std::string();
    if (proxy.empty() && environment.allProxy)
        proxy = Trimmed(*environment.allProxy);
    if (proxy.empty())
        return std::string();
    if (environment.noProxy && Bypassed(*environment.noProxy, target))
        return std::string();
    return proxy;
}

void ApplyProxySettings(void* handle, const std::string& url, const std::string& forced)
{
    CURL* easy = static_cast<CURL*>(handle);
    const std::string proxy = forced.empty() ? ProxyForUrl(url, ReadProcessProxyEnvironment()) : forced;
    // "" is a direct request whatever the environment says; an empty no-proxy
    // list sends every host through the proxy we chose.
    curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
}
