#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/DownloadWindow.h"
#include "app/LocalConfig.h"

// The main window of the console client: the run's window operations become
// lines on the console. Message boxes go to standard error in the system's
// texts; status, version and folder texts go to standard output (unless
// quiet). On a terminal the speed line is not printed: the client redraws one
// progress line in place instead (DrawProgress); elsewhere the speed line is
// printed at most once a second.
//
// Questions are answered as the client was told: the close question with OK,
// "choose a folder first" with Cancel. A message without an owner is one the
// check run shows just before it ends the program: it is recorded as fatal and
// the calling thread is held there, so that the client ends the program with
// its own exit status. Any thread may call every operation.
class ConsoleWindow final : public IDownloadWindow {
public:
    ConsoleWindow(LocalConfig config, bool quiet, bool terminal);

    const LocalConfig& Config() const override { return m_config; }
    void SetText(int control, const std::string& utf8Text) override;
    void Enable(int control, bool enabled) override;
    void Show(int control, bool shown) override;
    void SetFace(const StateImageIds& face) override;
    void HideMainWindow() override;
    MessageAnswer Message(MessageOwner owner, const std::string& utf8Text, MessageButtons buttons,
                          const std::string& caption) override;
    std::optional<std::string> ChooseFolder(const std::string& utf8Title) override;
    void RunStartCommand() override;

    // The folder the next folder choice returns.
    void SetChosenFolder(std::optional<std::string> folder);

    // What the client loop reads.
    bool FatalShown() const;
    // Messages shown on the download thread so far (each pauses the run).
    int DownloadMessages() const;
    // Whether a message with exactly this text was shown.
    bool Shown(const std::string& text) const;

    // Redraws the terminal's progress line (terminal only).
    void DrawProgress(const std::string& line);
    // Ends a progress line so that the next output starts on its own line.
    void EndProgressLine();
    // A line of the client's own on standard output (unless quiet) or, when
    // error is set, on standard error.
    void PrintLine(const std::string& line, bool error = false);

private:
    void WriteLocked(int fd, const std::string& text);
    void BreakProgressLocked();

    const LocalConfig m_config;
    const bool m_quiet;
    const bool m_terminal;

    mutable std::mutex m_mutex;
    bool m_progressDrawn = false;
    std::chrono::steady_clock::time_point m_lastSpeedLine{};
    std::string m_lastStatus;
    std::string m_lastVersion;
    std::string m_lastFolder;
    std::optional<std::string> m_chosenFolder;
    bool m_fatal = false;
    int m_downloadMessages = 0;
    std::vector<std::string> m_shown;
};

// The console has no bar to draw; the client computes the percent itself.
class ConsoleProgressBar final : public IProgressBar {
public:
    void SetPos(int) override {}
};
