#pragma once

#include <optional>
#include <string>

#include "run/StartFace.h"

struct LocalConfig;

// Control ids of the main window's widgets.
enum ControlId : int {
    IDC_START = 1000,
    IDC_MINIMIZE = 1001,
    IDC_CLOSE = 1002,
    IDC_BROWSE = 1003,
    IDC_FOLDER = 1005,
    IDC_PROGRESS = 1006,
    IDC_STATUS = 1010,
    IDC_HOMEPAGE = 1015,
    IDC_VERSION = 1019,
    IDC_REGISTER = 1020,
};

enum class MessageOwner { None, MainWindow };
enum class MessageButtons { Ok, OkCancel };
enum class MessageAnswer { Ok, Cancel };

// The main window as the check run, the download run, the progress reporter
// and the commands see it: plain operations addressed by control id. The Qt
// window implements it and hops to the user-interface thread; the console
// client and the tests implement it without any widget.
//
// Every operation may be called from any thread. Message() blocks the calling
// thread until the user has answered, like a modal box on that thread.
class IDownloadWindow {
public:
    virtual ~IDownloadWindow() = default;

    // The configuration the window read when it was created.
    virtual const LocalConfig& Config() const = 0;

    virtual void SetText(int control, const std::string& utf8Text) = 0;
    virtual void Enable(int control, bool enabled) = 0;
    // ShowWidget: visibility changes and a new frame is asked for.
    virtual void Show(int control, bool shown) = 0;
    // The start button (control 1000) shows this face.
    virtual void SetFace(StartFace face) = 0;
    // Hides the main window (and its web page panel) before a fatal message.
    virtual void HideMainWindow() = 0;
    // A modal message box with the default caption unless one is given.
    virtual MessageAnswer Message(MessageOwner owner, const std::string& utf8Text,
                                  MessageButtons buttons = MessageButtons::Ok,
                                  const std::string& caption = {}) = 0;
    // The folder-choice dialog with the given title: the chosen folder as an
    // absolute path, or nothing when the user cancelled.
    virtual std::optional<std::string> ChooseFolder(const std::string& utf8Title) = 0;
    // Asks for the start-button command. It always runs on the thread that
    // runs the user's commands (the window's user-interface thread, the
    // console client's main loop), never on the caller's: a worker that asks
    // for it does not wait for it.
    virtual void RunStartCommand() = 0;
};

// The progress bar as the progress reporter sees it. SetPos keeps positions
// within 0..100 and ignores the rest; it may be called from any thread and
// asks for no frame.
class IProgressBar {
public:
    virtual ~IProgressBar() = default;
    virtual void SetPos(int position) = 0;
};
