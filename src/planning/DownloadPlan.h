#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "planning/PlanEntry.h"
#include "planning/ServerLists.h"
#include "platform/FolderResult.h"

class FolderBeneath;

// Asks the server for one file's size; 0 when the size is unknown (the query
// failed or the answer carried no length).
using RemoteSizeQuery = std::function<std::uint64_t(const std::string& url)>;

// The digest text (32 lowercase hex digits) of a present file, by its name
// below the download folder ('/' between levels), or nothing when it cannot
// be read (it then differs from any listed digest).
using PresentFileDigest = std::function<std::optional<std::string>(const std::string& relative)>;

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
    // The first write into the folder that failed for a reason of the disk
    // (read-only, full, no permission: FolderResult::IoError), and where; Ok
    // when the folder took what the plan wrote.
    FolderStatus unwritable;
    std::string unwritablePath;

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
// folder held open, folderPath its path ("" or ending in '/'); every file is
// reached through folder, never through a link.
//
// Per file: the directories of its name are made below folder, outer to inner;
// a present file whose digest text equals the listed one, without regard to
// case, is complete; any other file is needed, and resumes from its .tmp
// partial file when no .des side file disagrees with the listed digest. A
// name taken by a link, a FIFO, a device or a folder (or a link on the way)
// is needed with nothing on disk trusted: the download run names it. When
// anything is needed the folder is tried with a fresh file that is removed
// again; a folder that cannot be written is reported in unwritable. With an
// empty folderPath nothing on disk is looked at and every file is needed.
// A complete file's size is its length on disk; every other file's comes
// from querySize with baseUrl + its name in the list's character set.
//
// Runs on the calling thread; the names must have passed ReadUpdateList.
PlannedFiles BuildDownloadPlan(const FolderBeneath& folder, const std::string& folderPath, const std::string& baseUrl,
                               const std::vector<FileLine>& files, const RemoteSizeQuery& querySize);
// As above, with the digests of present files from digestOf instead of
// hashed here (so that they may be known before, from a cache or other
// threads). The plan is the same as long as digestOf tells the truth.
PlannedFiles BuildDownloadPlan(const FolderBeneath& folder, const std::string& folderPath, const std::string& baseUrl,
                               const std::vector<FileLine>& files, const RemoteSizeQuery& querySize,
                               const PresentFileDigest& digestOf);

// The name below the download folder BuildDownloadPlan looks for each listed
// file at, in list order.
std::vector<std::string> ListedFileNames(const std::vector<FileLine>& files);
// The URL BuildDownloadPlan asks the size of, for each listed file in list
// order.
std::vector<std::string> ListedFileUrls(const std::string& baseUrl, const std::vector<FileLine>& files);
