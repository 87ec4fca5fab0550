#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/UniqueFd.h"

// The local file a transfer fills: opened for writing, created when missing,
// contents kept, locked against other openers for as long as it is open.
// Failures after Open raise TransferError(DownloadFileError). One thread.
class LocalFile {
public:
    LocalFile() = default;
    ~LocalFile();
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;

    // False when the file cannot be opened or another opener holds it.
    bool Open(const std::string& path);
    // Takes an already open file (say one reached beneath the download
    // folder) instead of opening by path. False when another opener holds it.
    bool Adopt(UniqueFd file);
    std::uint64_t Length() const;
    void SeekToEnd();
    // Empties the file and positions it at its start.
    void Truncate();
    // Writes all bytes at the current position.
    void Write(const char* bytes, std::size_t count);
    void Close();

private:
    int m_fd = -1;
};
