#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>

#include "app/LocalConfig.h"
#include "run/DownloadWindow.h"

class JsonEvents;

// The main window of the console client: the run's window operations become
// lines on the console. Message boxes go to standard error in the system's
// texts; status, version and folder texts go to standard output (unless
// quiet). On a terminal the speed line is not printed: the client redraws one
// progress line in place instead (DrawProgress); elsewhere the speed line is
// printed at most once a second.
//
// Questions are answered as the client was told: the close question with OK,
// "choose a folder first" with Cancel. The client learns what happened from
// the session's results, never from these texts; the start command the check
// run asks for is the client's own to give (its main loop clicks start once
// the check is over). Any thread may call every operation.
//
// With json, standard output carries only events: the field texts and the
// message boxes become events as the window would show them, messages are
// also written to standard error, and the client's own lines go there too.
class ConsoleWindow final : public IDownloadWindow {
public:
    ConsoleWindow(LocalConfig config, bool quiet, bool terminal, JsonEvents* json = nullptr);

    const LocalConfig& Config() const override { return m_config; }
    void SetText(int control, const std::string& utf8Text) override;
    void Enable(int control, bool enabled) override;
    void Show(int control, bool shown) override;
    void SetFace(StartFace face) override;
    void HideMainWindow() override;
    MessageAnswer Message(MessageOwner owner, const std::string& utf8Text, MessageButtons buttons,
                          const std::string& caption) override;
    std::optional<std::string> ChooseFolder(const std::string& utf8Title) override;
    void RunStartCommand() override;

    // The folder the next folder choice returns.
    void SetChosenFolder(std::optional<std::string> folder);

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
    JsonEvents* const m_json;

    mutable std::mutex m_mutex;
    bool m_progressDrawn = false;
    std::chrono::steady_clock::time_point m_lastSpeedLine{};
    std::string m_lastStatus;
    std::string m_lastVersion;
    std::string m_lastFolder;
    std::optional<std::string> m_chosenFolder;
};

// The console has no bar to draw; the client computes the percent itself.
class ConsoleProgressBar final : public IProgressBar {
public:
    void SetPos(int) override {}
};
