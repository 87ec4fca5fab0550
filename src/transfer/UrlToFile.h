#pragma once

#include <string>

// Fetches one URL into one local file with a single GET, replacing the file:
// the server lists of a check run. Redirects are followed; only http and https
// are spoken. True when the whole body of a successful answer (2xx) is on
// disk; on any failure (unreachable, error status, stalled, cannot write) no
// file is left at localPath. Blocking; callable from any thread.
bool UrlToFile(const std::string& url, const std::string& localPath);
