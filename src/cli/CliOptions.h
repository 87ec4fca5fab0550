#pragma once

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
    bool verify = false;               // hash every present file, remembered digests or not
    bool quiet = false;
    bool json = false;                 // standard output: one event object per line, nothing else
    bool help = false;
    bool version = false;
};

// Parses the command line. On wrong usage returns nothing and sets error.
std::optional<CliOptions> ParseCliOptions(int argc, char** argv, std::string& error);

// The text of --help.
std::string CliUsage();
