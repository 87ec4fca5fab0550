#include "planning/DownloadPlan.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "planning/PartialFile.h"
#include "platform/FolderBeneath.h"
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

// A name no list can give (it starts with a dot and holds the process id).
std::string ProbeName()
{
    return ".zorvath-write-test-" + std::to_string(::getpid());
}

// Notes the first failure of the disk; links and other types are left for
// the download run to name.
void NoteUnwritable(PlannedFiles& plan, FolderStatus status, const std::string& path)
{
    if (status.result == FolderResult::IoError && plan.unwritable.Ok()) {
        plan.unwritable = status;
        plan.unwritablePath = path;
    }
}

// A digest given for a present file against the listed one. A file that
// could not be read digests as zeros and so differs.
int CompareFileDigest(const std::optional<std::string>& digest, const std::array<char, 32>& listed)
{
    const std::string text = digest.value_or(std::string(32, '0'));
    return CompareDigestTextIgnoringCase(text.data(), listed);
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

std::vector<std::string> ListedFileNames(const std::vector<FileLine>& files)
{
    std::vector<std::string> names;
    names.reserve(files.size());
    for (const FileLine& file : files)
        names.push_back(LocalName(file));
    return names;
}

std::vector<std::string> ListedFileUrls(const std::string& baseUrl, const std::vector<FileLine>& files)
{
    std::vector<std::string> urls;
    urls.reserve(files.size());
    for (const FileLine& file : files)
        urls.push_back(baseUrl + Utf8ToLocale(LocalName(file)));
    return urls;
}

PlannedFiles BuildDownloadPlan(const FolderBeneath& folder, const std::string& folderPath, const std::string& baseUrl,
                               const std::vector<FileLine>& files, const RemoteSizeQuery& querySize)
{
    return BuildDownloadPlan(folder, folderPath, baseUrl, files, querySize, PresentFileDigest());
}

PlannedFiles BuildDownloadPlan(const FolderBeneath& folder, const std::string& folderPath, const std::string& baseUrl,
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
        entry.path = folderPath + relative;
        std::copy(file.md5.begin(), file.md5.end(), entry.md5.begin());
        const PartialFile partial(folder, folderPath, relative);

        bool exists = false;
        PartialFile::Name which = PartialFile::Name::Final;
        FolderStatus status;
        if (!folderPath.empty()) {
            status = folder.MakeDirectoriesOf(relative);
            NoteUnwritable(plan, status, folderPath + relative.substr(0, relative.rfind('/') + 1));
            if (status.Ok())
                status = partial.CheckNames(which);
        }
        if (folderPath.empty() || !status.Ok()) {
            entry.localDiffers = 1;
            entry.partialDiffers = 1;
        } else {
            exists = folder.Exists(relative).Ok();
            if (exists)
                entry.localDiffers = digestOf ? CompareFileDigest(digestOf(relative), file.md5)
                                              : partial.CompareFinal(file.md5);
            entry.partialDiffers = partial.CompareSideFile(file.md5);
        }

        // A complete file is its own size; only the others are asked for,
        // with the name in the list's own character set.
        const bool complete = exists && entry.localDiffers == 0;
        std::uint64_t length = 0;
        if (complete && folder.Length(relative, length).Ok())
            entry.size = length;
        else
            entry.size = querySize(baseUrl + Utf8ToLocale(relative));
        totalBytes += entry.size;
        if (complete) {
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

    if (!folderPath.empty() && plan.AnyNeeded() && plan.unwritable.Ok()) {
        UniqueFd probe;
        const std::string name = ProbeName();
        const FolderStatus status = folder.CreateFresh(name, probe);
        NoteUnwritable(plan, status, folderPath);
        if (status.Ok())
            folder.Unlink(name);
    }

    plan.totalBytes = totalBytes;
    plan.bytesToFetch = bytesToFetch;
    plan.bytesDone = bytesDone;
    return plan;
}
