#pragma once

#include <functional>
#include <optional>
#include <string>

// The proxy variables of the environment, each name in either case. The lower
// case one wins when both are set (even to the empty text); nothing: neither
// is set.
struct ProxyEnvironment {
    std::optional<std::string> httpProxy;  // http_proxy, HTTP_PROXY
    std::optional<std::string> httpsProxy; // https_proxy, HTTPS_PROXY
    std::optional<std::string> allProxy;   // all_proxy, ALL_PROXY
    std::optional<std::string> noProxy;    // no_proxy, NO_PROXY
};

// The variables as lookup(name) gives them (nullptr: not set). Pure.
ProxyEnvironment ReadProxyEnvironment(const std::function<const char*(const char*)>& lookup);
// The variables of this process, read now. Any thread.
ProxyEnvironment ReadProcessProxyEnvironment();

// The proxy a request for url goes through, "" for a direct request:
// https_proxy for https URLs, http_proxy for http URLs, all_proxy for either
// when its own is unset or empty; none when no_proxy names the host. no_proxy
// is a comma-separated list of entries, case-insensitive: "*" (every host), a
// host name or IP address, a domain ("example.com" or ".example.com": the
// name and every name under it; "*.example.com" is taken the same way), each
// optionally with ":port" (only requests to that port; default ports 80 and
// 443 count). IP addresses match only in full; IPv6 ones may be written in
// brackets. Pure.
std::string ProxyForUrl(const std::string& url, const ProxyEnvironment& environment);

// Points a curl easy handle (void* = CURL*) at the proxy for url: forced when
// not empty, else the one ProxyForUrl picks from the process environment.
// curl's own reading of the environment is switched off, so that what we
// decided is what happens. Any thread, on a handle that thread owns.
void ApplyProxySettings(void* easy, const std::string& url, const std::string& forced = std::string());
