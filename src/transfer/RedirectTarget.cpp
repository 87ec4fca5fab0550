#include "transfer/RedirectTarget.h"

#include <strings.h>

#include <curl/curl.h>

bool ResolveRedirect(const std::string& from, const std::string& location, std::string& next)
{
    CURLU* parsed = curl_url();
    char* scheme = nullptr;
    char* url = nullptr;
    const bool allowed = parsed != nullptr && curl_url_set(parsed, CURLUPART_URL, from.c_str(), 0) == CURLUE_OK
        && curl_url_set(parsed, CURLUPART_URL, location.c_str(), CURLU_URLENCODE) == CURLUE_OK
        && curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK
        && (strcasecmp(scheme, "http") == 0 || strcasecmp(scheme, "https") == 0)
        && curl_url_get(parsed, CURLUPART_URL, &url, 0) == CURLUE_OK;
    if (allowed)
        next = url;
    curl_free(scheme);
    curl_free(url);
    curl_url_cleanup(parsed);
    return allowed;
}
