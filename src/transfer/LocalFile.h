#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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
