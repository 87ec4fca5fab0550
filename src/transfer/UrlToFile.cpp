#include "transfer/UrlToFile.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>

#include <curl/curl.h>

#include "transfer/CurlCertificates.h"
#include "transfer/CurlGlobal.h"
#include "transfer/ProxyEnvironment.h"
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

struct BoundedText {
    std::string& body;
    std::size_t limit; // bytes kept at most
    bool full = false;
};

std::size_t WriteToText(char* data, std::size_t size, std::size_t count, void* target)
{
    auto& text = *static_cast<BoundedText*>(target);
    const std::size_t bytes = size * count;
    const std::size_t room = text.limit - text.body.size();
    try {
        text.body.append(data, std::min(bytes, room));
    } catch (const std::bad_alloc&) {
        return 0;
    }
    if (bytes > room) {
        text.full = true;
        return 0; // ends the transfer: what was kept is enough to refuse it
    }
    return bytes;
}

// One GET of url, its body handed to write with data. The curl result.
CURLcode Fetch(const std::string& url, curl_write_callback write, void* data)
{
    EnsureCurlGlobal();
    CURL* curl = curl_easy_init();
    if (curl == nullptr)
        return CURLE_FAILED_INIT;

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
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, write);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, data);
    // Chosen for the listed URL; a redirect keeps that choice.
    ApplyProxySettings(curl, wireUrl);
    ApplyCertificateSettings(curl);

    const CURLcode result = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    return result;
}

} // namespace

ListFetch UrlToFile(const std::string& url, const std::string& localPath)
{
    std::FILE* file = std::fopen(localPath.c_str(), "wb");
    if (file == nullptr)
        return ListFetch::CannotWrite;
    const CURLcode result = Fetch(url, WriteToFile, file);
    const bool closed = std::fclose(file) == 0;
    if (result == CURLE_OK && closed)
        return ListFetch::Fetched;
    std::remove(localPath.c_str());
    // A body the disk would not take is the folder's fault, not the network's.
    return result == CURLE_WRITE_ERROR || (result == CURLE_OK && !closed) ? ListFetch::CannotWrite
                                                                          : ListFetch::NetworkFailed;
}

ListFetch UrlToMemory(const std::string& url, std::size_t maxBytes, std::string& body)
{
    body.clear();
    BoundedText text{body, maxBytes};
    const CURLcode result = Fetch(url, WriteToText, &text);
    if (result == CURLE_OK)
        return ListFetch::Fetched;
    body.clear();
    return text.full ? ListFetch::TooLarge : ListFetch::NetworkFailed;
}

ListFetch UrlToText(const std::string& url, std::size_t maxBytes, std::string& body)
{
    body.clear();
    BoundedText text{body, maxBytes + 1};
    const CURLcode result = Fetch(url, WriteToText, &text);
    if (result == CURLE_OK || (result == CURLE_WRITE_ERROR && text.full))
        return ListFetch::Fetched;
    body.clear();
    body.shrink_to_fit();
    return ListFetch::NetworkFailed;
}
