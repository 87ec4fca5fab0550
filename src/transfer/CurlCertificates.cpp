#include "transfer/CurlCertificates.h"

#include <cstdlib>
#include <initializer_list>

#include <curl/curl.h>

void ApplyCertificateSettings(void* handle)
{
    CURL* easy = static_cast<CURL*>(handle);
    for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            curl_easy_setopt(easy, CURLOPT_CAINFO, value);
            break;
        }
    }
    const char* dir = std::getenv("SSL_CERT_DIR");
    if (dir != nullptr && *dir != '\0')
        curl_easy_setopt(easy, CURLOPT_CAPATH, dir);
}
