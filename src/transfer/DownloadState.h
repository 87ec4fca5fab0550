#pragma once

#include <cstdint>

// The transfer layer's results. Values are stable.
enum DownloadState : std::int32_t {
    DownloadOk = 0,
    DownloadNetError = 1,
    DownloadFileError = 2,
    DownloadStopped = 3,
    DownloadSizeError = 4,
};

// Progress and stop, as the transfer layer reports them. All three run on
// the thread that called HttpDownloader::Download.
class IDownloadState {
public:
    virtual ~IDownloadState() = default;
    // Once per body transfer, after the ranged request was accepted.
    virtual void OnBegin(std::uint64_t totalSize, std::uint64_t localSize) = 0;
    // After each written block when ShouldStop said no.
    virtual void OnProgress(std::uint64_t totalSize, std::uint64_t blockSize) = 0;
    // After each written block; non-zero ends the transfer.
    virtual int ShouldStop() = 0;
};

// Does nothing and never stops. One process-wide instance.
class DummyDownloadState final : public IDownloadState {
public:
    void OnBegin(std::uint64_t, std::uint64_t) override {}
    void OnProgress(std::uint64_t, std::uint64_t) override {}
    int ShouldStop() override { return 0; }
    static DummyDownloadState& Instance();
};
