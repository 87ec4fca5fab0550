#include "transfer/CurlGlobal.h"

#include <mutex>

#include <curl/curl.h>

void EnsureCurlGlobal()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}
