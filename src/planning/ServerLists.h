#pragma once

#include <array>
#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <vector>

// Reading of the two server lists.
//
// update.txt: a status line ("1" = available), a version line, a base URL
// line, then one "relative\name,md5" line per file. Lines end at LF; a CR
// right before the LF is dropped, and a last line without LF still counts.
// setup.txt: the installer's name relative to the download folder.
//
// Lists are narrow text in the locale's character set, kept as read here.
// Listed names use '\' between folder levels. Pure functions, callable from
// any thread.

inline constexpr const char* UpdateListName = "update.txt";
inline constexpr const char* SetupListName = "setup.txt";
// Bytes of setup.txt that are looked at.
inline constexpr std::size_t SetupListBytes = 512;
// The first line of update.txt that names a file.
inline constexpr int FirstFileLineNumber = 4;

// Reads one line into line (without LF and without a trailing CR). False at
// the end of the stream with nothing read.
bool ReadListLine(std::istream& in, std::string& line);

struct UpdateListHead {
    std::string status;
    std::string version;
    std::string baseUrl;

    // Only the status line's first character counts: "1" means available;
    // anything else, an empty line or an empty list means maintenance.
    bool Available() const { return !status.empty() && status[0] == '1'; }
};

// Reads the first three lines; missing lines stay empty.
UpdateListHead ReadUpdateListHead(std::istream& in);

struct FileLine {
    int lineNumber = 0;       // 1-based line number in update.txt
    std::string name;         // everything before the first comma, as listed
    std::array<char, 32> md5; // the 32 bytes after the comma; zero-filled when the line is shorter
};

// A file line, or nothing when the line has no comma (such a line is skipped).
std::optional<FileLine> ParseFileLine(const std::string& line, int lineNumber);

// Every remaining file line of the stream (positioned after the head), lines
// without a comma left out. firstLineNumber is the number of the next line.
std::vector<FileLine> ReadFileLines(std::istream& in, int firstLineNumber = FirstFileLineNumber);

// The installer name from the start of setup.txt: at most SetupListBytes
// bytes, up to the first NUL, with every CR and LF removed wherever it stands.
std::string ReadInstallerName(std::istream& in);

// Why a listed name would not name a file inside the download folder, or
// nothing when it is safe: an absolute name, a drive letter, a ".."
// component, or no file name at all (empty, or ending with a separator).
// Both '\' and '/' count as separators.
std::optional<std::string> UnsafeNameReason(const std::string& name);
