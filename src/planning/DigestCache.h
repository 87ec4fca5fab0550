#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

// What makes a file's remembered digest still true: any change of any field
// (touched, rewritten, replaced, truncated) means the file must be hashed
// again.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
    std::int64_t ctimeNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of the file at path now (following links); nullopt when it
// cannot be examined or is not a regular file.
std::optional<FileIdentity> IdentifyFile(const std::string& path);
// The same for an open file (fstat).
std::optional<FileIdentity> IdentifyDescriptor(int fd);

// Where the digests of one download folder are kept:
// ${XDG_CACHE_HOME:-$HOME/.cache}/zorvath/<MD5 of the folder path>.digests.
// "" when neither variable gives a place.
std::string DigestCacheFileFor(const std::string& folder);

// Remembered MD5 digests of the files present in one download folder, kept
// in one cache file. The file starts with a format line and the MD5 of the
// body; one that is missing, damaged, truncated or of another format is
// taken as empty (never half trusted) and written whole again by Save. Save
// writes atomically (temporary beside it, fsync, rename). One thread at a
// time.
class DigestCache {
public:
    enum class LoadResult { Loaded, Missing, Damaged };

    explicit DigestCache(std::string cacheFile) : m_file(std::move(cacheFile)) {}

    // Reads the cache file, replacing what is held.
    LoadResult Load();
    // The remembered digest (32 lowercase hex digits) when identity matches
    // in every field.
    std::optional<std::string> Find(const FileIdentity& identity) const;
    // Remembers a digest for the file with this identity (one per device and
    // inode: an older entry for the same file is replaced).
    void Remember(const FileIdentity& identity, const std::string& md5Hex);
    // Writes the cache file when anything changed since Load (or the file
    // was damaged). False when it could not be written.
    bool Save();
    // Save, but only when the last write is at least interval ago: a run
    // that lands many files a second rewrites the whole file once in that
    // time, not once per file. Whatever waits goes with the next Save.
    bool SaveAtMostEvery(std::chrono::milliseconds interval);

    std::size_t Size() const { return m_entries.size(); }
    const std::string& File() const { return m_file; }

private:
    std::string m_file;
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::pair<FileIdentity, std::string>> m_entries;
    bool m_changed = false;
    std::optional<std::chrono::steady_clock::time_point> m_savedAt; // of the last write, if any
};

