#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "transfer/LocalFile.h"
#include "transfer/TransferSink.h"

// A job's body into one local file: bytes present are kept and appended to,
// or dropped when the server sends the whole file again; a write failure
// stops the job and the result becomes DownloadFileError. The file stays
// open (and locked) from Open until OnEnd. Called on the engine's driving
// thread, like every sink.
class FileTransferSink final : public ITransferSink {
public:
    // Optional hooks, called after the file has been dealt with.
    struct Hooks {
        std::function<void(std::uint64_t total, std::uint64_t startOffset)> begin;
        // After each block is on disk; false stops the job.
        std::function<bool(const char* data, std::size_t size)> written;
        std::function<void(DownloadState result)> end;
    };

    FileTransferSink() = default;
    explicit FileTransferSink(Hooks hooks) : m_hooks(std::move(hooks)) {}

    // Opens (creates) the file. False when it cannot be opened or is locked.
    bool Open(const std::string& path);
    // Opens the file only when the body begins, so that many queued jobs do
    // not each hold an open file; a file that cannot be opened then stops the
    // job with DownloadFileError.
    void OpenAtBegin(std::string path) { m_pathAtBegin = std::move(path); }
    // Bytes present now (after Open): the startOffset to ask for.
    std::uint64_t Length() const;

    void OnBegin(std::uint64_t total, std::uint64_t startOffset) override;
    bool OnBlock(const char* data, std::size_t size) override;
    void OnEnd(DownloadState result) override;

    // The job's result once ended: the engine's, or DownloadFileError when
    // the file failed.
    DownloadState Result() const { return m_result; }
    bool Ended() const { return m_ended; }

private:
    Hooks m_hooks;
    std::string m_pathAtBegin;
    LocalFile m_file;
    bool m_fileFailed = false;
    bool m_ended = false;
    DownloadState m_result = DownloadOk;
};
