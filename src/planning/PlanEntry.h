#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

// One listed file of the download plan.
struct PlanEntry {
    std::string path;              // full local path: download folder + relative name ('/' separated)
    std::array<char, 32> md5{};    // expected digest text as listed, no terminator
    std::uint64_t size = 0;        // size on the server in bytes (0 when unknown)
    int localDiffers = 0;          // 0 equal (or file missing), else sign of the first differing byte
    int partialDiffers = 0;        // 0 when the .des side file is absent or equal
    int needed = 0;                // 1 when the file must be transferred
    // The whole file as the check already received it (a short one), for the
    // download to write without asking again; null when it was not kept.
    std::shared_ptr<const std::string> body;
};
