#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "planning/PlanEntry.h"
#include "planning/ServerLists.h"

// Asks the server for one file's size; 0 when the size is unknown (the query
// failed or the answer carried no length).
using RemoteSizeQuery = std::function<std::uint64_t(const std::string& url)>;

// The digest text (32 lowercase hex digits) of a present file at a full
// path, or nothing when it cannot be read (it then differs from any listed
// digest).
using PresentFileDigest = std::function<std::optional<std::string>(const std::string& path)>;

// Records reserved when a plan is built. The plan grows past it: a list may
// name any number of files.
inline constexpr std::size_t PlanCapacity = 1000;

// The plan of one check: every listed file in list order, and the totals the
// progress starts from.
struct PlannedFiles {
    std::vector<PlanEntry> entries;
    std::uint64_t totalBytes = 0;   // sum of the listed files' sizes
    std::uint64_t bytesToFetch = 0; // what is still to come over the network
    std::uint64_t bytesDone = 0;    // present files and usable partial bytes

    int FileCount() const { return static_cast<int>(entries.size()); }
    // Whether any file must still be brought into place. Judged by the files,
    // not the bytes: a missing file of unknown or zero size, or a complete
    // partial file not yet renamed, adds no bytes but is still missing.
    bool AnyNeeded() const;
};

// Byte-wise comparison of a computed digest text with the listed 32 bytes, as
// unsigned bytes: 0 when equal, else -1 or 1 after the first differing byte
// (-1 when the computed byte is smaller). Case matters.
int CompareDigestText(const char computed[32], const std::array<char, 32>& listed);

// As CompareDigestText, but ASCII letters compare without regard to case (both
// sides lowered first), so a list written with uppercase hexadecimal digits
// matches the lowercase text DigestToHex makes.
int CompareDigestTextIgnoringCase(const char computed[32], const std::array<char, 32>& listed);

// Judges every listed file against the disk. folder is the run's download
// folder ("" or ending in '/').
//
// Per file: the directories of its name are made below folder, outer to inner;
// a present file whose digest text equals the listed one is complete; any
// other file is needed, and resumes from its .tmp partial file when no .des
// side file disagrees with the listed digest. With an empty folder nothing on
// disk is looked at and every file is needed. Each file's size comes from
// querySize with baseUrl + its name in the list's character set.
//
// Runs on the calling thread; the names must have passed UnsafeNameReason.
PlannedFiles BuildDownloadPlan(const std::string& folder, const std::string& baseUrl,
                               const std::vector<FileLine>& files, const RemoteSizeQuery& querySize);
// As above, with the digests of present files from digestOf instead of
// hashed here (so that they may be known before, from a cache or other
// threads). The plan is the same as long as digestOf tells the truth.
PlannedFiles BuildDownloadPlan(const std::string& folder, const std::string& baseUrl,
                               const std::vector<FileLine>& files, const RemoteSizeQuery& querySize,
                               const PresentFileDigest& digestOf);

// Where BuildDownloadPlan looks for each listed file: folder + its local
// name, in list order.
std::vector<std::string> ListedFilePaths(const std::string& folder, const std::vector<FileLine>& files);
// The URL BuildDownloadPlan asks the size of, for each listed file in list
// order.
std::vector<std::string> ListedFileUrls(const std::string& baseUrl, const std::vector<FileLine>& files);
