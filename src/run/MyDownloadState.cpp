#include "run/MyDownloadState.h"

#include <chrono>
#include <cstdio>

#include "run/DownloadSession.h"
#include "run/DownloadWindow.h"
#include "run/Messages.h"
#include "transfer/TransferEngine.h"

std::uint32_t MonotonicTickCount()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

MyDownloadState::MyDownloadState(TickSource tick) : m_tick(std::move(tick)) {}

void MyDownloadState::OnBegin(std::uint64_t, std::uint64_t)
{
    // A pause asked just before this transfer began still stops it.
    m_bStop = g_downloadSession.pause.Requested();
    m_meter.Reset(m_tick(), g_downloadSession.bytesDone);
    m_lastShown.reset();
}

int MyDownloadState::ShouldStop()
{
    return m_bStop ? 1 : 0;
}

void MyDownloadState::RequestStop()
{
    m_bStop = true;
    if (TransferEngine* engine = m_engine.load())
        engine->StopAll();
}

void MyDownloadState::AttachEngine(TransferEngine* engine)
{
    m_engine = engine;
}

bool MyDownloadState::StopRequested() const
{
    return m_bStop;
}

std::string MyDownloadState::SpeedText(int wholeKbps, double kbps)
{
    char text[64];
    if (wholeKbps == 1)
        return "<1KB/s";
    if (kbps > 1024.0)
        std::snprintf(text, sizeof text, "%.01fMB/s", kbps / 1024.0);
    else
        std::snprintf(text, sizeof text, "%dKB/s", wholeKbps);
    return text;
}

void MyDownloadState::OnProgress(std::uint64_t, std::uint64_t blockSize)
{
    DownloadSession& session = g_downloadSession;
    const std::uint64_t done = session.bytesDone.fetch_add(blockSize) + blockSize;

    const std::uint32_t now = m_tick();
    m_meter.Sample(now, done);
    // The line is refreshed a few times a second at most.
    if (m_lastShown && static_cast<std::uint32_t>(now - *m_lastShown) < kRefreshMs)
        return;
    const double kbps = m_meter.BytesPerSecond() / 1024.0;
    const int whole = kbps < 2147483647.0 ? static_cast<int>(kbps) : 2147483647;
    if (whole == 0)
        return;
    m_lastShown = now;
    const std::string speed = SpeedText(whole, kbps);

    const std::uint64_t total = session.totalBytes;
    if (session.bytesToFetch == 0 || total == 0)
        return;

    char sizes[64];
    std::snprintf(sizes, sizeof sizes, "%dMB/%dMB", static_cast<int>(done / 1048576),
                  static_cast<int>(total / 1048576));
    const double exact = static_cast<double>(done) / static_cast<double>(total) * 100.0;
    // Rounded through single precision on purpose: a hair below 100 reads 100.
    const float rounded = static_cast<float>(exact);
    const int percent = rounded < 2147483520.0f ? static_cast<int>(rounded) : 2147483520;

    if (IDownloadWindow* window = session.mainWindow.load())
        window->SetText(IDC_STATUS, kSpeedLabel + speed + ",  " + sizes);
    if (percent != session.lastPercent) {
        if (IProgressBar* bar = session.progressBar.load())
            bar->SetPos(percent);
        session.lastPercent = percent;
    }
}
