#include "planning/DownloadPlan.h"

#include <sys/stat.h>
#include <algorithm>
#include <cstring>

#include "planning/Md5.h"
#include "planning/PartialFile.h"
#include "platform/PathExists.h"
#include "platform/TextConversion.h"

int CompareDigestText(const char computed[32], const std::array<char, 32>& listed)
{
    const int order = std::memcmp(computed, listed.data(), listed.size());
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

int CompareDigestTextIgnoringCase(const char computed[32], const std::array<char, 32>& listed)
{
    const auto lower = [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
    };
    for (std::size_t i = 0; i < listed.size(); ++i) {
        const unsigned char a = lower(computed[i]);
        const unsigned char b = lower(listed[i]);
        if (a != b)
            return a < b ? -1 : 1;
    }
    return 0;
}

namespace {

// Makes every directory level of relativePath below folder, outer first.
// Failures are left for the file test to find.
void MakeDirectoriesOf(const std::string& folder, const std::string& relativePath)
{
    for (std::size_t slash = relativePath.find('/'); slash != std::string::npos;
         slash = relativePath.find('/', slash + 1)) {
        const std::string directory = folder + relativePath.substr(0, slash + 1);
        if (!PathExists(directory))
            ::mkdir(directory.c_str(), 0777);
    }
}

std::optional<std::string> HashFile(const std::string& path)
{
    unsigned char digest[16] = {};
    Md5Context context;
    if (DigestFile(path, &context, digest) != DigestFileOk)
        return std::nullopt;
    return DigestToHex(digest);
}

int CompareFileDigest(const std::string& path, const std::array<char, 32>& listed, const PresentFileDigest& digestOf)
{
    // A file that cannot be read digests as zeros and so differs.
    const std::string text = digestOf(path).value_or(std::string(32, '0'));
    return CompareDigestText(text.data(), listed);
}

std::string LocalName(const FileLine& file)
{
    return ListedNameToLocalPath(LocaleToUtf8(file.name));
}

} // namespace

bool PlannedFiles::AnyNeeded() const
{
    for (const PlanEntry& entry : entries) {
        if (entry.needed != 0)
            return true;
    }
    return false;
}

std::vector<std::string> ListedFilePaths(const std::string& folder, const std::vector<FileLine>& files)
{
    std::vector<std::string> paths;
    paths.reserve(files.size());
    for (const FileLine& file : files)
        paths.push_back(folder + LocalName(file));
    return paths;
}

std::vector<std::string> ListedFileUrls(const std::string& baseUrl, const std::vector<FileLine>& files)
{
    std::vector<std::string> urls;
    urls.reserve(files.size());
    for (const FileLine& file : files)
        urls.push_back(baseUrl + Utf8ToLocale(LocalName(file)));
    return urls;
}

PlannedFiles BuildDownloadPlan(const std::string& folder, const std::string& baseUrl,
                               const std::vector<FileLine>& files, const RemoteSizeQuery& querySize)
{
    return BuildDownloadPlan(folder, baseUrl, files, querySize, HashFile);
}

PlannedFiles BuildDownloadPlan(const std::string& folder, const std::string& baseUrl,
                               const std::vector<FileLine>& files, const RemoteSizeQuery& querySize,
                               const PresentFileDigest& digestOf)
{
    PlannedFiles plan;
    plan.entries.reserve(std::max(files.size(), PlanCapacity));
    std::uint64_t totalBytes = 0;
    std::uint64_t bytesToFetch = 0;
    std::uint64_t bytesDone = 0;

    for (const FileLine& file : files) {
        const std::string relative = LocalName(file);
        PlanEntry entry;
        entry.path = folder + relative;
        std::copy(file.md5.begin(), file.md5.end(), entry.md5.begin());
        const PartialFile partial(entry.path);

        bool exists = false;
        if (folder.empty()) {
            entry.localDiffers = 1;
            entry.partialDiffers = 1;
        } else {
            MakeDirectoriesOf(folder, relative);
            exists = PathExists(entry.path);
            if (exists)
                entry.localDiffers = CompareFileDigest(entry.path, file.md5, digestOf);
            entry.partialDiffers = partial.CompareSideFile(file.md5);
        }

        // The URL carries the name in the list's own character set.
        entry.size = querySize(baseUrl + Utf8ToLocale(relative));
        totalBytes += entry.size;
        if (exists && entry.localDiffers == 0) {
            entry.needed = 0;
            bytesDone += entry.size;
        } else {
            entry.needed = 1;
            if (entry.localDiffers == 0 && entry.partialDiffers == 0) {
                // A partial longer than the file (its size unknown, or the
                // server's copy shrank) counts as the whole file, never as a
                // negative amount still to fetch.
                const std::uint64_t have = std::min(partial.PartialLength(), entry.size);
                bytesDone += have;
                bytesToFetch += entry.size - have;
            } else {
                bytesToFetch += entry.size;
            }
        }
        plan.entries.push_back(std::move(entry));
    }

    plan.totalBytes = totalBytes;
    plan.bytesToFetch = bytesToFetch;
    plan.bytesDone = bytesDone;
    return plan;
}
