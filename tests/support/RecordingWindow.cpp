#include "support/RecordingWindow.h"

void RecordingWindow::Record(std::string event)
{
    m_events.push_back(std::move(event));
    m_changed.notify_all();
}

void RecordingWindow::SetText(int control, const std::string& utf8Text)
{
    std::lock_guard lock(m_mutex);
    m_texts[control] = utf8Text;
    Record("text " + std::to_string(control) + " " + utf8Text);
}

void RecordingWindow::Enable(int control, bool enabled)
{
    std::lock_guard lock(m_mutex);
    m_enabled[control] = enabled;
    Record("enable " + std::to_string(control) + " " + (enabled ? "1" : "0"));
}

void RecordingWindow::Show(int control, bool shown)
{
    std::lock_guard lock(m_mutex);
    m_visible[control] = shown;
    Record("show " + std::to_string(control) + " " + (shown ? "1" : "0"));
}

void RecordingWindow::SetFace(StartFace face)
{
    std::lock_guard lock(m_mutex);
    m_face = face;
    Record("face " + std::to_string(static_cast<int>(face)));
}

void RecordingWindow::HideMainWindow()
{
    std::lock_guard lock(m_mutex);
    m_hidden = true;
    Record("hide");
}

MessageAnswer RecordingWindow::Message(MessageOwner owner, const std::string& utf8Text, MessageButtons buttons,
                                       const std::string& caption)
{
    std::lock_guard lock(m_mutex);
    m_messages.push_back({owner, utf8Text, buttons, caption});
    Record(std::string("message ") + (owner == MessageOwner::None ? "none " : "main ") + utf8Text);
    if (m_answers.empty())
        return MessageAnswer::Ok;
    const MessageAnswer answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

std::optional<std::string> RecordingWindow::ChooseFolder(const std::string& utf8Title)
{
    std::lock_guard lock(m_mutex);
    Record("choose " + utf8Title);
    return m_chosenFolder;
}

void RecordingWindow::SetChosenFolder(std::optional<std::string> folder)
{
    std::lock_guard lock(m_mutex);
    m_chosenFolder = std::move(folder);
}

void RecordingWindow::RunStartCommand()
{
    {
        std::lock_guard lock(m_mutex);
        Record("start");
    }
    if (onStartCommand)
        onStartCommand();
}

void RecordingWindow::QueueAnswer(MessageAnswer answer)
{
    std::lock_guard lock(m_mutex);
    m_answers.push_back(answer);
}

std::vector<std::string> RecordingWindow::Events() const
{
    std::lock_guard lock(m_mutex);
    return m_events;
}

std::vector<RecordingWindow::ShownMessage> RecordingWindow::Messages() const
{
    std::lock_guard lock(m_mutex);
    return m_messages;
}

std::string RecordingWindow::Text(int control) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_texts.find(control);
    return it == m_texts.end() ? std::string() : it->second;
}

bool RecordingWindow::Enabled(int control) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_enabled.find(control);
    return it == m_enabled.end() || it->second;
}

bool RecordingWindow::Visible(int control) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_visible.find(control);
    return it == m_visible.end() || it->second;
}

StartFace RecordingWindow::Face() const
{
    std::lock_guard lock(m_mutex);
    return m_face;
}

bool RecordingWindow::MainWindowHidden() const
{
    std::lock_guard lock(m_mutex);
    return m_hidden;
}

bool RecordingWindow::WaitFor(const std::function<bool(const RecordingWindow&)>& pred,
                              std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return pred(*this); });
}

bool RecordingWindow::WaitForMessage(const std::string& text, std::chrono::milliseconds timeout) const
{
    return WaitFor(
        [&](const RecordingWindow& w) {
            for (const auto& m : w.m_messages)
                if (m.text == text)
                    return true;
            return false;
        },
        timeout);
}

void RecordingProgressBar::SetPos(int position)
{
    std::lock_guard lock(m_mutex);
    if (position < 0 || position > 100)
        return;
    m_position = position;
    m_accepted.push_back(position);
}

int RecordingProgressBar::Pos() const
{
    std::lock_guard lock(m_mutex);
    return m_position;
}

std::vector<int> RecordingProgressBar::Accepted() const
{
    std::lock_guard lock(m_mutex);
    return m_accepted;
}
