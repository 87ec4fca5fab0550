#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class DigestCache;

// The digests of the files present among a check's names below the download
// folder, worked out on threads of their own while the check thread asks the
// server for sizes. Each thread holds the folder open in a FolderBeneath of
// its own, so no link at a name (or on the way) is followed and only regular
// files are read.
// A digest remembered in the cache for the file as it is now is taken as it
// is; any other file is hashed and remembered. verify: the cache is not
// asked (every file is hashed), but still learns the digests.
//
// Started by the constructor; Wait (or the destructor) joins the threads.
// Find is for after Wait; the cache belongs to these threads until then.
class PresentFileDigests {
public:
    // At most this many files are hashed at once: two keep a disk busy
    // without starving the rest of the machine.
    static constexpr int kThreads = 2;

    // folder: the download folder's path; names: below it, '/' between
    // levels. cache may be null (nothing remembered).
    PresentFileDigests(std::string folder, std::vector<std::string> names, DigestCache* cache, bool verify);
    ~PresentFileDigests();
    PresentFileDigests(const PresentFileDigests&) = delete;
    PresentFileDigests& operator=(const PresentFileDigests&) = delete;

    void Wait();
    // The digest of the file at name as found, or nothing when it was not
    // present or could not be read.
    std::optional<std::string> Find(const std::string& name) const;
    // Files hashed (not taken from the cache).
    std::size_t Hashed() const { return m_hashed; }

    // How far the work is, for a check that shows it: the bytes of the
    // present files that are settled (hashed so far, or remembered), of all
    // their bytes. Any thread, at any time.
    struct Progress {
        std::uint64_t done = 0;
        std::uint64_t total = 0;
    };
    Progress Done() const { return {m_bytesDone, m_bytesTotal}; }

private:
    void Work();

    std::string m_folder;
    std::vector<std::string> m_names;
    DigestCache* m_cache;
    bool m_verify;
    std::atomic<std::size_t> m_next{0};
    std::atomic<std::size_t> m_hashed{0};
    std::uint64_t m_bytesTotal = 0;
    std::atomic<std::uint64_t> m_bytesDone{0};
    mutable std::mutex m_mutex; // the cache and m_found
    std::map<std::string, std::string> m_found;
    std::vector<std::thread> m_threads;
};
