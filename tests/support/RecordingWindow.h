#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "run/DownloadWindow.h"
#include "app/LocalConfig.h"

// A window without widgets for the run's tests: it records every operation in
// order, keeps the last text, enabling, visibility and face of each control,
// and answers message boxes from a script (OK when the script is empty).
// Safe to use from any thread.
class RecordingWindow final : public IDownloadWindow {
public:
    struct ShownMessage {
        MessageOwner owner;
        std::string text;
        MessageButtons buttons;
        std::string caption;
    };

    LocalConfig config;
    // Runs when the run asks for the start command, on the asking thread
    // unless a test says otherwise.
    std::function<void()> onStartCommand;

    const LocalConfig& Config() const override { return config; }
    void SetText(int control, const std::string& utf8Text) override;
    void Enable(int control, bool enabled) override;
    void Show(int control, bool shown) override;
    void SetFace(StartFace face) override;
    void HideMainWindow() override;
    MessageAnswer Message(MessageOwner owner, const std::string& utf8Text, MessageButtons buttons,
                          const std::string& caption) override;
    std::optional<std::string> ChooseFolder(const std::string& utf8Title) override;
    void RunStartCommand() override;

    // The folder the next folder-choice dialogs return (nothing: cancelled).
    void SetChosenFolder(std::optional<std::string> folder);

    // Answers given, in order, to the next message boxes.
    void QueueAnswer(MessageAnswer answer);

    std::vector<std::string> Events() const;
    std::vector<ShownMessage> Messages() const;
    std::string Text(int control) const;
    bool Enabled(int control) const;  // true unless disabled by the run
    bool Visible(int control) const;  // true unless hidden by the run
    StartFace Face() const;
    bool MainWindowHidden() const;

    // Waits until pred (called under the recorder's lock) holds, or the time
    // runs out; returns whether it held.
    bool WaitFor(const std::function<bool(const RecordingWindow&)>& pred,
                 std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    // Waits until a message with this exact text has been shown.
    bool WaitForMessage(const std::string& text,
                        std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

private:
    void Record(std::string event);

    // Recursive, so that a WaitFor predicate may use the accessors.
    mutable std::recursive_mutex m_mutex;
    mutable std::condition_variable_any m_changed;
    std::vector<std::string> m_events;
    std::vector<ShownMessage> m_messages;
    std::deque<MessageAnswer> m_answers;
    std::map<int, std::string> m_texts;
    std::map<int, bool> m_enabled;
    std::map<int, bool> m_visible;
    StartFace m_face = StartFace::Start;
    std::optional<std::string> m_chosenFolder;
    bool m_hidden = false;
};

// A progress bar that keeps positions in 0..100, as the real one does.
class RecordingProgressBar final : public IProgressBar {
public:
    void SetPos(int position) override;
    int Pos() const;
    std::vector<int> Accepted() const;

private:
    mutable std::mutex m_mutex;
    int m_position = 0;
    std::vector<int> m_accepted;
};
