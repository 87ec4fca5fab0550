#pragma once

#include <cstdint>
#include <string>

// The size query of the check run (a plain GET, status 200 only), 0 when it
// fails or the answer carries no length. Called on a check run's thread.
std::uint64_t QueryListedFileSize(const std::string& url);
