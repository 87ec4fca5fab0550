#include "transfer/UrlToFile.h"

#include <cstdio>

#include <curl/curl.h>

#include "transfer/CurlGlobal.h"
#include "transfer/UrlPath.h"

namespace {

// A list is a few kilobytes: a server that sends nothing for this long is
// taken as gone.
constexpr long ConnectTimeoutSeconds = 5;
constexpr long StallSeconds = 30;

std::size_t WriteToFile(char* data, std::size_t size, std::size_t count, void* file)
{
    return std::fwrite(data, size, count, static_cast<std::FILE*>(file));
}

} // namespace

bool UrlToFile(const std::string& url, const std::string& localPath)
{
    EnsureCurlGlobal();
    CURL* curl = curl_easy_init();
    if (curl == nullptr)
        return false;

    std::FILE* file = std::fopen(localPath.c_str(), "wb");
    if (file == nullptr) {
        curl_easy_cleanup(curl);
        return false;
    }

    const std::string wireUrl = EncodeUrlPath(url);
    curl_easy_setopt(curl, CURLOPT_URL, wireUrl.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, ConnectTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, StallSeconds);
    // The list must be fresh, never a cached copy.
    curl_slist* headers = curl_slist_append(nullptr, "Cache-Control: no-cache");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteToFile);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, file);

    const CURLcode result = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);

    const bool closed = std::fclose(file) == 0;
    if (result != CURLE_OK || !closed) {
        std::remove(localPath.c_str());
        return false;
    }
    return true;
}
