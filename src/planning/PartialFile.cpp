#include "planning/PartialFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include <unistd.h>

#include "planning/DownloadPlan.h"
#include "planning/Md5.h"
#include "planning/RunningDigest.h"
#include "platform/AtomicFile.h"
#include "platform/FolderBeneath.h"

namespace {

// A block is written in pieces of this size: writing 1 GiB in 512 KiB calls
// spent over a second copying into the page cache, in 16 to 128 KiB calls
// about a tenth of that (perf, ext4 on this build machine).
constexpr std::size_t WritePieceSize = 128 * 1024;

// Up to 32 bytes of the file's start; the count read, or -1 when it cannot be
// opened.
int ReadHead(const FolderBeneath& folder, const std::string& relative, char head[32])
{
    UniqueFd file;
    if (!folder.OpenForReading(relative, file).Ok())
        return -1;
    int total = 0;
    while (total < 32) {
        const ssize_t n = ::read(file.Get(), head + total, static_cast<std::size_t>(32 - total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        total += static_cast<int>(n);
    }
    return total;
}

// The file's digest text, or nothing when it cannot be opened or read.
std::optional<std::string> DigestText(const FolderBeneath& folder, const std::string& relative)
{
    UniqueFd file;
    if (!folder.OpenForReading(relative, file).Ok())
        return std::nullopt;
    Md5Context context;
    unsigned char digest[16];
    if (DigestDescriptor(file.Get(), &context, digest) != DigestFileOk)
        return std::nullopt;
    return DigestToHex(digest);
}

} // namespace

std::string PartialFile::RelativeName(Name name) const
{
    switch (name) {
    case Name::Partial: return m_relative + ".tmp";
    case Name::Side: return m_relative + ".des";
    case Name::Final: break;
    }
    return m_relative;
}

FolderStatus PartialFile::CheckNames(Name& which) const
{
    for (const Name name : {Name::Final, Name::Partial, Name::Side}) {
        const FolderStatus status = m_folder.Exists(RelativeName(name));
        if (!status.Ok() && status.result != FolderResult::NotFound) {
            which = name;
            return status;
        }
    }
    return FolderStatus{};
}

FolderStatus PartialFile::MakeFolders() const
{
    return m_folder.MakeDirectoriesOf(m_relative);
}

int PartialFile::CompareSideFile(const Digest& listed) const
{
    char head[32] = {};
    if (ReadHead(m_folder, RelativeName(Name::Side), head) < 0)
        return 0;
    const int order = std::memcmp(head, listed.data(), listed.size());
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

FolderStatus PartialFile::WriteSideFile(const Digest& md5) const
{
    const std::string side = RelativeName(Name::Side);
    char head[32] = {};
    std::uint64_t length = 0;
    if (m_folder.Length(side, length).Ok() && length == 32 && ReadHead(m_folder, side, head) == 32 &&
        std::memcmp(head, md5.data(), md5.size()) == 0)
        return FolderStatus{};

    // The new text goes beside the side file first, then takes its name.
    const std::string fresh = side + ".new";
    UniqueFd file;
    FolderStatus status = m_folder.OpenForWriting(fresh, file);
    if (!status.Ok())
        return status;
    const bool written = WriteWholly(file.Get(), std::string(md5.data(), md5.size())) && ::fsync(file.Get()) == 0;
    const int error = errno != 0 ? errno : EIO;
    file.Reset();
    if (!written) {
        m_folder.Unlink(fresh);
        return FolderStatus{FolderResult::IoError, error};
    }
    status = m_folder.Rename(fresh, side);
    if (!status.Ok())
        m_folder.Unlink(fresh);
    return status;
}

std::uint64_t PartialFile::PartialLength() const
{
    std::uint64_t length = 0;
    if (!m_folder.Length(RelativeName(Name::Partial), length).Ok())
        return 0;
    return length;
}

FolderStatus PartialFile::OpenPartial(UniqueFd& file) const
{
    return m_folder.OpenForAppend(RelativeName(Name::Partial), file);
}

bool PartialFile::PartialMatches(const Digest& listed) const
{
    const auto text = DigestText(m_folder, RelativeName(Name::Partial));
    return text && CompareDigestTextIgnoringCase(text->data(), listed) == 0;
}

int PartialFile::CompareFinal(const Digest& listed) const
{
    const unsigned char zeros[16] = {};
    const std::string text = DigestText(m_folder, RelativeName(Name::Final)).value_or(DigestToHex(zeros));
    return CompareDigestTextIgnoringCase(text.data(), listed);
}

FolderStatus PartialFile::Remove(Name name) const
{
    const FolderStatus status = m_folder.Unlink(RelativeName(name));
    return status.result == FolderResult::NotFound ? FolderStatus{} : status;
}

FolderStatus PartialFile::Commit() const
{
    const FolderStatus status = m_folder.Rename(RelativeName(Name::Partial), RelativeName(Name::Final));
    if (status.Ok())
        m_folder.Unlink(RelativeName(Name::Side));
    return status;
}

bool PartialAppender::Append(const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(m_fd.Get(), data, std::min(size, WritePieceSize));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool PartialAppender::Restart()
{
    return ::ftruncate(m_fd.Get(), 0) == 0;
}

FolderStatus PartialFile::OpenForAppend(PartialAppender& out) const
{
    UniqueFd file;
    const FolderStatus status = OpenPartial(file);
    out = PartialAppender(std::move(file));
    return status;
}

FolderStatus PartialFile::TruncatePartial() const
{
    UniqueFd file;
    return m_folder.OpenForWriting(RelativeName(Name::Partial), file);
}

bool PartialFile::SeedDigest(RunningDigest& digest, std::uint64_t length) const
{
    UniqueFd file;
    if (!m_folder.OpenForReading(RelativeName(Name::Partial), file).Ok()) {
        digest.Reset();
        return false;
    }
    return digest.SeedFromDescriptor(file.Get(), length);
}

std::optional<FileIdentity> PartialFile::Identity(Name name) const
{
    UniqueFd file;
    if (!m_folder.OpenForReading(RelativeName(name), file).Ok())
        return std::nullopt;
    return IdentifyDescriptor(file.Get());
}

std::optional<FileIdentity> PartialFile::PartialIdentity() const
{
    return Identity(Name::Partial);
}

std::optional<FileIdentity> PartialFile::FinalIdentity() const
{
    return Identity(Name::Final);
}
