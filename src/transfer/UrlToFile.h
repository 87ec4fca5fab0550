#pragma once

#include <string>

// How a list fetch ended.
enum class ListFetch : int {
    Fetched = 0,       // the whole body of a 2xx answer is on disk
    NetworkFailed = 1, // unreachable, error status, stalled or cut short
    CannotWrite = 2,   // the local file could not be created or written
};

// Fetches one URL into one local file with a single GET, replacing the file:
// the server lists of a check run. Redirects are followed; only http and https
// are spoken. On any failure no file is left at localPath. Blocking; callable
// from any thread.
ListFetch UrlToFile(const std::string& url, const std::string& localPath);
