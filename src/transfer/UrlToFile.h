#pragma once

#include <cstddef>
#include <string>

// How a list fetch ended.
enum class ListFetch : int {
    Fetched = 0,       // the whole body of a 2xx answer is on disk (or in memory)
    NetworkFailed = 1, // unreachable, error status, stalled or cut short
    CannotWrite = 2,   // the local file could not be created or written
    TooLarge = 3,      // UrlToMemory only: the body ran past its byte cap
};

// Fetches one URL into one local file with a single GET, replacing the file:
// the server lists of a check run. Redirects are followed; only http and https
// are spoken. On any failure no file is left at localPath. Blocking; callable
// from any thread.
ListFetch UrlToFile(const std::string& url, const std::string& localPath);

// Fetches one URL into memory the same way (one GET, redirects, http and
// https only), keeping at most maxBytes: a body that runs past them ends the
// transfer and gives TooLarge. body holds the whole body when Fetched and is
// empty otherwise. For the small side files of the lists (their signatures).
ListFetch UrlToMemory(const std::string& url, std::size_t maxBytes, std::string& body);

// Fetches one URL into memory the same way: the server lists of a check run,
// which so never touch the download folder. At most maxBytes + 1 bytes are
// kept: a longer body ends the transfer and comes back Fetched with
// maxBytes + 1 bytes, so that the list reader refuses it as too long. body
// is empty after a failure.
ListFetch UrlToText(const std::string& url, std::size_t maxBytes, std::string& body);
