#pragma once

#include <optional>
#include <string>

#include <QObject>

#include "app/LocalConfig.h"
#include "layeredui/TranslucentButton.h"
#include "layeredui/TranslucentDialog.h"
#include "layeredui/TranslucentProgressBar.h"
#include "run/DownloadWindow.h"

// The downloader's main window: the skinned dialog with its ten widgets, the
// web page panel beside it, and the window side of the run.
//
// It reads the configuration when it is created, chooses the download folder
// and starts the first check run when it is initialised, and binds every
// button to its command. It is also the window the check run, the download
// run and the commands see (IDownloadWindow): those operations may come from
// any thread and reach the widgets on the user-interface thread; a message
// box or a folder choice asked from a worker blocks that worker until the
// user has answered.
//
// Owned by the start-up routine; lives for the whole modal loop.
class CDemoTranslucentDlg : public CTranslucentDialog, public IDownloadWindow {
    Q_OBJECT
public:
    // The caption of message boxes that name none: the program's name.
    static const char* const DefaultCaption;
    static const char* const WindowTitle;

    CDemoTranslucentDlg();
    ~CDemoTranslucentDlg() override;

    // IDownloadWindow: any thread.
    const LocalConfig& Config() const override;
    void SetText(int control, const std::string& utf8Text) override;
    void Enable(int control, bool enabled) override;
    void Show(int control, bool shown) override;
    void SetFace(StartFace face) override;
    void HideMainWindow() override;
    MessageAnswer Message(MessageOwner owner, const std::string& utf8Text, MessageButtons buttons,
                          const std::string& caption) override;
    std::optional<std::string> ChooseFolder(const std::string& utf8Title) override;
    void RunStartCommand() override;

    // Commands, user-interface thread only.
    void OnStartButton();
    void OnMinimizeButton();
    void OnCloseButton();
    void OnBrowseButton();
    void OnFolderButton();
    void OnHomepageButton();
    void OnRegisterButton();

    // Sees every event for this window and its widgets before delivery; true
    // means consumed. Enter and Escape are consumed, Alt+F4 runs the close
    // command.
    bool PreTranslateMessage(QObject* receiver, QEvent* event);

    // The widget with that control id, or nullptr.
    CTranslucentWnd* Widget(int control);

    CTranslucentButton m_btnStart{IDC_START, this};
    CTranslucentButton m_btnMinimize{IDC_MINIMIZE, this};
    CTranslucentButton m_btnClose{IDC_CLOSE, this};
    CTranslucentButton m_btnBrowse{IDC_BROWSE, this};
    CTranslucentButton m_btnFolder{IDC_FOLDER, this};
    CTranslucentButton m_btnStatus{IDC_STATUS, this};
    CTranslucentProgressBar m_progress{IDC_PROGRESS, this};
    CTranslucentButton m_btnHomepage{IDC_HOMEPAGE, this};
    CTranslucentButton m_btnRegister{IDC_REGISTER, this};
    CTranslucentButton m_btnVersion{IDC_VERSION, this};

protected:
    // Reads the configuration, then makes the web page panel (nullptr when
    // the browser engine is missing: the window works without it).
    QWidget* CreateCompanionDialog() override;
    void InitWidgets() override;
    void OnCommand(int controlId) override;
    // A close request from the window system (Alt+F4 under a window manager,
    // the task bar's close) is the close command; a close from our own code
    // ends the modal loop.
    void closeEvent(QCloseEvent* event) override;

private:
    // Runs fn on the user-interface thread and waits for it.
    template <class Fn>
    auto OnUiThread(Fn&& fn) -> decltype(fn());

    class MessageFilter : public QObject {
    public:
        explicit MessageFilter(CDemoTranslucentDlg& window) : m_window(window) {}
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            return m_window.PreTranslateMessage(watched, event);
        }

    private:
        CDemoTranslucentDlg& m_window;
    };

    // The progress bar as the run sees it.
    class ProgressBarLink final : public IProgressBar {
    public:
        explicit ProgressBarLink(CTranslucentProgressBar& bar) : m_bar(bar) {}
        void SetPos(int position) override { m_bar.SetPos(position); }

    private:
        CTranslucentProgressBar& m_bar;
    };

    LocalConfig m_config;
    MessageFilter m_filter{*this};
    ProgressBarLink m_progressLink{m_progress};
};
