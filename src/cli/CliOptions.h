#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What the console client was asked to do.
struct CliOptions {
    std::string configPath = "./config.ini";
    bool configGiven = false;
    std::optional<std::string> folder; // as if chosen with the change-folder button
    bool install = false;              // launch the installer once every file is present
    int retries = 5;                   // failures in a row on one file that are resumed
    double retryWait = 5.0;            // seconds before such a resume
    std::optional<int> connections;    // instead of config.ini's "connections"
    std::optional<std::uint64_t> limitRate; // bytes/s instead of config.ini's "limit"; 0: none
    bool verify = false;               // hash every present file, remembered digests or not
    bool quiet = false;
    bool json = false;                 // standard output: one event object per line, nothing else
    bool help = false;
    bool version = false;
};

// Parses the command line. On wrong usage returns nothing and sets error.
std::optional<CliOptions> ParseCliOptions(int argc, char** argv, std::string& error);

// A --limit-rate value in bytes per second: a number of bytes, or of KiB,
// MiB or GiB with the suffix K, M or G (either case), fractions allowed
// ("1.5M"); 0 is no limit. Nothing when the text is no such rate.
std::optional<std::uint64_t> ParseRate(const std::string& text);

// The text of --help.
std::string CliUsage();
