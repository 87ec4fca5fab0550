#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "planning/PlanEntry.h"
#include "planning/ServerLists.h"

struct DownloadSession;

// Asks the server for one file's size; 0 when the size is unknown (the query
// failed or the answer carried no length).
using RemoteSizeQuery = std::function<std::uint64_t(const std::string& url)>;

// The size query of the transfer layer (a plain GET, status 200 only), 0 when
// it fails. Called on a check run's thread.
std::uint64_t QueryListedFileSize(const std::string& url);

// Byte-wise comparison of a computed digest text with the listed 32 bytes, as
// unsigned bytes: 0 when equal, else -1 or 1 after the first differing byte
// (-1 when the computed byte is smaller). Case matters.
int CompareDigestText(const char computed[32], const std::array<char, 32>& listed);

// As CompareDigestText, but ASCII letters compare without regard to case (both
// sides lowered first), so a list written with uppercase hexadecimal digits
// matches the lowercase text DigestToHex makes.
int CompareDigestTextIgnoringCase(const char computed[32], const std::array<char, 32>& listed);

// Judges every listed file against the disk and fills the session's plan and
// totals. The session must hold a freshly reset plan (DownloadSession::
// ResetPlan) and folder is the run's download folder ("" or ending in '/').
//
// Per file: the directories of its name are made below folder, outer to inner;
// a present file whose digest text equals the listed one is complete; any
// other file is needed, and resumes from its .tmp partial file when no .des
// side file disagrees with the listed digest. With an empty folder nothing on
// disk is looked at and every file is needed.
//
// Writes plan entries, then fileCount, totalBytes, bytesToFetch and bytesDone.
// Runs on a check run's thread; the names must have passed UnsafeNameReason.
void BuildDownloadPlan(DownloadSession& session, const std::string& folder, const std::string& baseUrl,
                       const std::vector<FileLine>& files,
                       const RemoteSizeQuery& querySize = QueryListedFileSize);
