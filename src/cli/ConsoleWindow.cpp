#include "cli/ConsoleWindow.h"

#include <utility>

#include <unistd.h>

#include "cli/JsonEvents.h"
#include "platform/AtomicFile.h"
#include "platform/TextConversion.h"
#include "run/Messages.h"

namespace {

// Text that may carry names, the version line or other server text, made
// safe for a terminal line by line: the run's own line breaks stay, every
// other control character is escaped.
std::string Printable(const std::string& text)
{
    std::string out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\n', start);
        out += EscapeControlCharacters(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return out;
        out += '\n';
        start = end + 1;
    }
}

bool IsSpeedLine(const std::string& text)
{
    return text.rfind(kSpeedLabel, 0) == 0;
}

bool IsCheckingProgress(const std::string& text)
{
    return text.rfind(kCheckingProgressLabel, 0) == 0;
}

} // namespace

ConsoleWindow::ConsoleWindow(LocalConfig config, bool quiet, bool terminal, JsonEvents* json)
    : m_config(std::move(config)), m_quiet(quiet), m_terminal(terminal && json == nullptr), m_json(json)
{
}

void ConsoleWindow::WriteLocked(int fd, const std::string& text)
{
    WriteWholly(fd, text);
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
    if (m_json != nullptr) {
        // Every text the window would show, each change once.
        std::string* last = control == IDC_STATUS ? &m_lastStatus
                            : control == IDC_VERSION ? &m_lastVersion
                            : control == IDC_FOLDER  ? &m_lastFolder
                                                     : nullptr;
        if (last == nullptr || *last == utf8Text)
            return;
        *last = utf8Text;
        m_json->Text(control == IDC_STATUS ? "status" : control == IDC_VERSION ? "version" : "folder", utf8Text);
        return;
    }
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
        if (IsCheckingProgress(utf8Text) && m_terminal) {
            // Redrawn in place, like the download's progress line.
            m_lastStatus = utf8Text;
            WriteLocked(STDOUT_FILENO, "\r" + Printable(utf8Text) + "\033[K");
            m_progressDrawn = true;
            return;
        }
        if (IsSpeedLine(utf8Text) || IsCheckingProgress(utf8Text)) {
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
        WriteLocked(STDOUT_FILENO, Printable(utf8Text) + "\n");
        break;
    }
    case IDC_VERSION:
        if (utf8Text == m_lastVersion)
            return;
        m_lastVersion = utf8Text;
        BreakProgressLocked();
        WriteLocked(STDOUT_FILENO, Printable(utf8Text) + "\n");
        break;
    case IDC_FOLDER: {
        // The field shows a space before a folder, or a prompt instead.
        if (utf8Text.empty() || utf8Text == m_lastFolder)
            return;
        m_lastFolder = utf8Text;
        BreakProgressLocked();
        if (utf8Text.front() == ' ')
            WriteLocked(STDOUT_FILENO, kFolderLabel + Printable(utf8Text) + "\n");
        else
            WriteLocked(STDOUT_FILENO, Printable(utf8Text) + "\n");
        break;
    }
    default:
        break;
    }
}

void ConsoleWindow::Enable(int, bool) {}

void ConsoleWindow::Show(int, bool) {}

void ConsoleWindow::SetFace(StartFace face)
{
    if (m_json == nullptr)
        return;
    // The start button's face is where the window shows the run's phase:
    // a pause button while files are fetched, a continue button while the
    // run is parked. The end of the run is the client's to tell.
    switch (face) {
    case StartFace::Checking: m_json->SetPhase(RunPhase::Checking); break;
    case StartFace::Pause: m_json->SetPhase(RunPhase::Downloading); break;
    case StartFace::Continue: m_json->SetPhase(RunPhase::Paused); break;
    case StartFace::Start:
    case StartFace::Install: break;
    }
}

void ConsoleWindow::HideMainWindow() {}

MessageAnswer ConsoleWindow::Message(MessageOwner, const std::string& utf8Text, MessageButtons buttons,
                                     const std::string& caption)
{
    const bool okCancel = buttons == MessageButtons::OkCancel;
    const bool closing = okCancel && utf8Text == kCloseQuestion;
    const MessageAnswer answer = closing || !okCancel ? MessageAnswer::Ok : MessageAnswer::Cancel;
    if (m_json != nullptr)
        m_json->Message(utf8Text, caption, okCancel, answer == MessageAnswer::Ok);
    if (closing)
        return answer;
    {
        std::lock_guard lock(m_mutex);
        BreakProgressLocked();
        WriteLocked(STDERR_FILENO, Printable(utf8Text) + "\n");
    }
    return answer;
}

std::optional<std::string> ConsoleWindow::ChooseFolder(const std::string&)
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_chosenFolder, std::nullopt);
}

void ConsoleWindow::RunStartCommand()
{
    // The client's main loop clicks start once the check is over.
}

void ConsoleWindow::SetChosenFolder(std::optional<std::string> folder)
{
    std::lock_guard lock(m_mutex);
    m_chosenFolder = std::move(folder);
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
    WriteLocked(error || m_json != nullptr ? STDERR_FILENO : STDOUT_FILENO, Printable(line) + "\n");
}
