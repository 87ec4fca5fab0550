#include "cli/ConsoleWindow.h"

#include <algorithm>
#include <thread>
#include <utility>

#include <unistd.h>

#include "app/Commands.h"
#include "planning/DownloadSession.h"
#include "platform/WorkerThread.h"

namespace {

const char kCloseQuestion[] = "下载未完成,是否仍要关闭?";
const char kSpeedPrefix[] = "速度:";

bool IsSpeedLine(const std::string& text)
{
    return text.rfind(kSpeedPrefix, 0) == 0;
}

bool OnDownloadThread()
{
    const auto download = g_downloadSession.DownloadThread();
    return download != nullptr && WorkerThread::Current() == download.get();
}

} // namespace

ConsoleWindow::ConsoleWindow(LocalConfig config, bool quiet, bool terminal)
    : m_config(std::move(config)), m_quiet(quiet), m_terminal(terminal)
{
}

void ConsoleWindow::WriteLocked(int fd, const std::string& text)
{
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n <= 0)
            return;
        written += static_cast<std::size_t>(n);
    }
}

void ConsoleWindow::BreakProgressLocked()
{
    if (m_progressDrawn) {
        WriteLocked(STDOUT_FILENO, "\n");
        m_progressDrawn = false;
    }
}

void ConsoleWindow::SetText(int control, const std::string& utf8Text)
{
    std::lock_guard lock(m_mutex);
    if (m_quiet)
        return;
    switch (control) {
    case IDC_STATUS: {
        if (utf8Text.empty()) {
            m_lastStatus.clear();
            return;
        }
        if (utf8Text == m_lastStatus)
            return;
        if (IsSpeedLine(utf8Text)) {
            // The terminal gets its redrawn progress line instead.
            if (m_terminal)
                return;
            const auto now = std::chrono::steady_clock::now();
            if (now - m_lastSpeedLine < std::chrono::seconds(1))
                return;
            m_lastSpeedLine = now;
        }
        m_lastStatus = utf8Text;
        BreakProgressLocked();
        WriteLocked(STDOUT_FILENO, utf8Text + "\n");
        break;
    }
    case IDC_VERSION:
        if (utf8Text == m_lastVersion)
            return;
        m_lastVersion = utf8Text;
        BreakProgressLocked();
        WriteLocked(STDOUT_FILENO, utf8Text + "\n");
        break;
    case IDC_FOLDER: {
        // The field shows a space before a folder, or a prompt instead.
        if (utf8Text.empty() || utf8Text == m_lastFolder)
            return;
        m_lastFolder = utf8Text;
        BreakProgressLocked();
        if (utf8Text.front() == ' ')
            WriteLocked(STDOUT_FILENO, "下载路径:" + utf8Text + "\n");
        else
            WriteLocked(STDOUT_FILENO, utf8Text + "\n");
        break;
    }
    default:
        break;
    }
}

void ConsoleWindow::Enable(int, bool) {}

void ConsoleWindow::Show(int, bool) {}

void ConsoleWindow::SetFace(const StateImageIds&) {}

void ConsoleWindow::HideMainWindow() {}

MessageAnswer ConsoleWindow::Message(MessageOwner owner, const std::string& utf8Text, MessageButtons buttons,
                                     const std::string&)
{
    if (buttons == MessageButtons::OkCancel && utf8Text == kCloseQuestion)
        return MessageAnswer::Ok;

    const bool fatal = owner == MessageOwner::None;
    const bool fromDownload = OnDownloadThread();
    {
        std::lock_guard lock(m_mutex);
        BreakProgressLocked();
        WriteLocked(STDERR_FILENO, utf8Text + "\n");
        m_shown.push_back(utf8Text);
        if (fatal)
            m_fatal = true;
        else if (fromDownload)
            ++m_downloadMessages;
    }
    if (fatal) {
        // The check run would end the program with exit status 0 after this;
        // the client ends it with its own status instead.
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
    }
    return buttons == MessageButtons::OkCancel ? MessageAnswer::Cancel : MessageAnswer::Ok;
}

std::optional<std::string> ConsoleWindow::ChooseFolder(const std::string&)
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_chosenFolder, std::nullopt);
}

void ConsoleWindow::RunStartCommand()
{
    OnStartButton();
}

void ConsoleWindow::SetChosenFolder(std::optional<std::string> folder)
{
    std::lock_guard lock(m_mutex);
    m_chosenFolder = std::move(folder);
}

bool ConsoleWindow::FatalShown() const
{
    std::lock_guard lock(m_mutex);
    return m_fatal;
}

int ConsoleWindow::DownloadMessages() const
{
    std::lock_guard lock(m_mutex);
    return m_downloadMessages;
}

bool ConsoleWindow::Shown(const std::string& text) const
{
    std::lock_guard lock(m_mutex);
    return std::find(m_shown.begin(), m_shown.end(), text) != m_shown.end();
}

void ConsoleWindow::DrawProgress(const std::string& line)
{
    std::lock_guard lock(m_mutex);
    if (m_quiet || !m_terminal)
        return;
    WriteLocked(STDOUT_FILENO, "\r" + line + "\033[K");
    m_progressDrawn = true;
}

void ConsoleWindow::EndProgressLine()
{
    std::lock_guard lock(m_mutex);
    BreakProgressLocked();
}

void ConsoleWindow::PrintLine(const std::string& line, bool error)
{
    std::lock_guard lock(m_mutex);
    if (m_quiet && !error)
        return;
    BreakProgressLocked();
    WriteLocked(error ? STDERR_FILENO : STDOUT_FILENO, line + "\n");
}
