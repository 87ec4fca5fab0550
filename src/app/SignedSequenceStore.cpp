#include "app/SignedSequenceStore.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "platform/AtomicFile.h"
#include "platform/FileFolderStore.h"

namespace {

constexpr const char* kHeader = "# Accepted signed lists: key id, seq, digest of update.txt and setup.txt\n";
constexpr std::uint64_t kMaxSequence = std::uint64_t{1} << 63;

std::mutex g_writeMutex;

bool IsHex(const std::string& text, std::size_t length, bool upper)
{
    if (text.size() != length)
        return false;
    for (char c : text) {
        const bool digit = c >= '0' && c <= '9';
        const bool letter = upper ? (c >= 'A' && c <= 'F') : (c >= 'a' && c <= 'f');
        if (!digit && !letter)
            return false;
    }
    return true;
}

bool ValidKeyId(const std::string& keyId)
{
    return IsHex(keyId, 16, true);
}

bool ValidRelease(const AcceptedRelease& release)
{
    return release.sequence <= kMaxSequence && IsHex(release.listsDigest, 64, false);
}

bool ParseSequence(const std::string& text, std::uint64_t& value)
{
    if (text.empty() || text.size() > 19)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value <= kMaxSequence;
}

using Entries = std::vector<std::pair<std::string, AcceptedRelease>>;

enum class LoadResult { Loaded, Missing, Damaged };

LoadResult Load(const std::string& path, Entries& entries)
{
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found)
        return LoadResult::Missing;
    if (error || status.type() != std::filesystem::file_type::regular)
        return LoadResult::Damaged;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return LoadResult::Damaged;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string keyId, sequence, digest, extra;
        AcceptedRelease release;
        if (!(fields >> keyId >> sequence >> digest) || (fields >> extra) || !ValidKeyId(keyId) ||
            !ParseSequence(sequence, release.sequence) || !IsHex(digest, 64, false))
            return LoadResult::Damaged;
        release.listsDigest = digest;
        for (const auto& entry : entries)
            if (entry.first == keyId)
                return LoadResult::Damaged;
        entries.emplace_back(keyId, release);
    }
    return in.bad() ? LoadResult::Damaged : LoadResult::Loaded;
}

} // namespace

SequenceDecision DecideSequence(const std::optional<AcceptedRelease>& recorded, std::uint64_t sequence,
                                const std::string& listsDigest)
{
    if (!recorded || sequence > recorded->sequence)
        return SequenceDecision::Accept;
    if (sequence < recorded->sequence)
        return SequenceDecision::RefuseLower;
    return listsDigest == recorded->listsDigest ? SequenceDecision::Accept
                                                : SequenceDecision::RefuseSameSeqOtherBytes;
}

SequenceDecision DecideSequence(const ISignedSequenceStore& store, const std::string& keyId, std::uint64_t sequence,
                                const std::string& listsDigest)
{
    AcceptedRelease release;
    switch (store.Read(keyId, release)) {
    case SequenceStoreRead::Found:
        return DecideSequence(release, sequence, listsDigest);
    case SequenceStoreRead::Absent:
        return DecideSequence(std::nullopt, sequence, listsDigest);
    case SequenceStoreRead::Damaged:
        break;
    }
    return SequenceDecision::RefuseStoreDamaged;
}

FileSignedSequenceStore::FileSignedSequenceStore(std::string path)
    : m_path(std::move(path))
{
}

SequenceStoreRead FileSignedSequenceStore::Read(const std::string& keyId, AcceptedRelease& out) const
{
    if (m_path.empty())
        return SequenceStoreRead::Absent;
    Entries entries;
    switch (Load(m_path, entries)) {
    case LoadResult::Missing:
        return SequenceStoreRead::Absent;
    case LoadResult::Damaged:
        return SequenceStoreRead::Damaged;
    case LoadResult::Loaded:
        break;
    }
    for (const auto& [id, release] : entries) {
        if (id == keyId) {
            out = release;
            return SequenceStoreRead::Found;
        }
    }
    return SequenceStoreRead::Absent;
}

bool FileSignedSequenceStore::Write(const std::string& keyId, const AcceptedRelease& release)
{
    if (m_path.empty() || !ValidKeyId(keyId) || !ValidRelease(release))
        return false;
    std::lock_guard lock(g_writeMutex);
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(m_path).parent_path(), error);

    Entries entries;
    if (Load(m_path, entries) == LoadResult::Damaged)
        return false;
    bool replaced = false;
    for (auto& entry : entries) {
        if (entry.first == keyId) {
            entry.second = release;
            replaced = true;
        }
    }
    if (!replaced)
        entries.emplace_back(keyId, release);

    std::string content = kHeader;
    for (const auto& [id, accepted] : entries)
        content += id + " " + std::to_string(accepted.sequence) + " " + accepted.listsDigest + "\n";
    return WriteFileAtomically(m_path, content, 0600);
}

SequenceStoreRead MemorySignedSequenceStore::Read(const std::string& keyId, AcceptedRelease& out) const
{
    std::lock_guard lock(m_mutex);
    if (damaged)
        return SequenceStoreRead::Damaged;
    const auto found = releases.find(keyId);
    if (found == releases.end())
        return SequenceStoreRead::Absent;
    out = found->second;
    return SequenceStoreRead::Found;
}

bool MemorySignedSequenceStore::Write(const std::string& keyId, const AcceptedRelease& release)
{
    std::lock_guard lock(m_mutex);
    if (damaged)
        return false;
    releases[keyId] = release;
    return true;
}

std::string SystemSignedSequenceStorePath()
{
    const std::string folderStore = SystemFolderStorePath();
    if (folderStore.empty())
        return {};
    return (std::filesystem::path(folderStore).parent_path() / "Halvane.releases").string();
}

namespace {

// Finds the file anew on each call, so a changed environment (tests) is seen.
class EnvironmentSignedSequenceStore final : public ISignedSequenceStore {
public:
    SequenceStoreRead Read(const std::string& keyId, AcceptedRelease& out) const override
    {
        return FileSignedSequenceStore(SystemSignedSequenceStorePath()).Read(keyId, out);
    }
    bool Write(const std::string& keyId, const AcceptedRelease& release) override
    {
        return FileSignedSequenceStore(SystemSignedSequenceStorePath()).Write(keyId, release);
    }
};

} // namespace

ISignedSequenceStore& SystemSignedSequenceStore()
{
    static EnvironmentSignedSequenceStore store;
    return store;
}
