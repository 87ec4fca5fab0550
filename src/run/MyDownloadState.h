#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "run/SpeedMeter.h"
#include "transfer/DownloadState.h"

class TransferEngine;

// A millisecond tick count from the monotonic clock, wrapping at 2^32.
// Differences of two ticks are taken as unsigned 32-bit values, so a wrap in
// between does no harm.
std::uint32_t MonotonicTickCount();

// The download thread's progress reporter. For every block the transfer
// writes it adds the block to DownloadSession::bytesDone and samples the
// speed over the last two seconds (SpeedMeter); a few times a second at most
// it writes the status line ("速度:" speed ",  " sizes) into the main window
// and moves the progress bar by whole percent. It also
// carries the pause request of the start button to the transfer layer.
//
// OnBegin, OnProgress and ShouldStop run on the download thread;
// RequestStop may be called from any thread.
class MyDownloadState final : public IDownloadState {
public:
    using TickSource = std::function<std::uint32_t()>;
    // The status line is written at most this often (milliseconds).
    static constexpr std::uint32_t kRefreshMs = 250;

    // tick: the clock used for the speed; the monotonic one unless a test
    // gives its own.
    explicit MyDownloadState(TickSource tick = MonotonicTickCount);

    // Clears the stop request unless the session's pause is still asked, and
    // starts the speed meter over. Sizes are ignored.
    void OnBegin(std::uint64_t totalSize, std::uint64_t localSize) override;
    void OnProgress(std::uint64_t totalSize, std::uint64_t blockSize) override;
    // 1 while a pause is requested.
    int ShouldStop() override;

    // The pause request: every transfer in hand ends after its current block
    // (through the engine's StopAll once one is attached).
    void RequestStop();
    // The engine the run's transfers go through; null detaches it. The
    // engine must outlive this object or be detached first.
    void AttachEngine(TransferEngine* engine);
    bool StopRequested() const;

    // The speed text for a whole-KiB/s value and the exact KiB/s value:
    // "<1KB/s", "%.01fMB/s" or "%dKB/s".
    static std::string SpeedText(int wholeKbps, double kbps);

private:

    TickSource m_tick;
    SpeedMeter m_meter;
    std::optional<std::uint32_t> m_lastShown;
    std::atomic<bool> m_bStop{false};
    std::atomic<TransferEngine*> m_engine{nullptr};
};
