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
                              // (ReadUpdateList refuses such a list instead)
};

// A file line, or nothing when the line has no comma (such a line is skipped).
std::optional<FileLine> ParseFileLine(const std::string& line, int lineNumber);

// Every remaining file line of the stream (positioned after the head), lines
// without a comma left out. firstLineNumber is the number of the next line.
std::vector<FileLine> ReadFileLines(std::istream& in, int firstLineNumber = FirstFileLineNumber);

// The installer name from the start of setup.txt: at most SetupListBytes
// bytes, up to the first NUL, with every CR and LF removed wherever it stands.
std::string ReadInstallerName(std::istream& in);

// What makes a listed name unfit to name a file inside the download folder.
// Stable values: they travel in refusals and may be logged.
enum class NameFault : int {
    None = 0,
    Empty = 1,            // no name at all
    Absolute = 2,         // starts with a separator
    DriveLetter = 3,      // "C:" and the like
    ParentComponent = 4,  // a ".." component
    EndsWithSeparator = 5,// no file name after the last separator
    EmptyComponent = 6,   // two separators in a row ("a\\b")
    DotComponent = 7,     // a "." component ("a\.\b", "sub\.")
    ControlCharacter = 8, // NUL, 0x01-0x1F or 0x7F anywhere in the name
};

// The first fault of a listed name, NameFault::None when it is safe. Both
// '\' and '/' count as separators.
NameFault UnsafeNameFault(const std::string& name);

// ---------------------------------------------------------------------------
// Whole-list readers with limits: what the run should use. A list from the
// server is hostile input: these readers hold at most one line (plus what was
// kept) in memory, whatever the stream holds, and refuse the whole list at
// the first line that breaks a rule, naming list, line and reason.

// Bytes of a list that are read at most; a longer list is refused.
inline constexpr std::size_t MaxListBytes = 64u * 1024 * 1024;
// Bytes of one line (without its LF and trailing CR) at most.
inline constexpr std::size_t MaxListLineBytes = 4096;

// Why a list was refused. Stable values.
enum class ListFault : int {
    None = 0,
    ListTooLong = 1, // more than MaxListBytes; line is where the limit was crossed
    LineTooLong = 2, // a line longer than MaxListLineBytes
    UnsafeName = 3,  // a name with a NameFault (nameFault says which)
    BadDigest = 4,   // a digest field that is not exactly 32 hex digits
};

struct ListRefusal {
    std::string list;                   // UpdateListName or SetupListName
    int lineNumber = 0;                 // 1-based
    ListFault fault = ListFault::None;
    NameFault nameFault = NameFault::None; // for ListFault::UnsafeName
    std::string name;                   // the name as listed (may hold controls: escape before showing)
};

struct UpdateList {
    UpdateListHead head;
    std::vector<FileLine> files; // names safe, digests 32 hex digits (either case)
};

// Reads the whole update list into list. Nothing when it was accepted. When
// the head says maintenance, the file lines are not looked at (files stays
// empty) so that maintenance is reported as such. Lines without a comma are
// skipped as before; on every other file line the name must be safe and the
// digest field (after the first comma, up to a second comma or the end of the
// line) must be exactly 32 hexadecimal digits.
std::optional<ListRefusal> ReadUpdateList(std::istream& in, UpdateList& list);

// Reads setup.txt as ReadInstallerName does (first SetupListBytes bytes, up to
// the first NUL, CR and LF removed) and refuses it, as line 1, when the name
// is not safe. Nothing when accepted; name holds the installer name then.
std::optional<ListRefusal> ReadSetupList(std::istream& in, std::string& name);

// True when text is exactly 32 hexadecimal digits, in either case.
bool IsDigestText(const std::string& text);
