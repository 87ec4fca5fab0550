#pragma once

#include <string>

#include <QString>

#include "webpanel/Explorer.h"
#include "webpanel/StandardDialog.h"

// The web page panel beside the main window: a key-coloured (pure green)
// panel with one browser, 311 x 162 pixels at its top-left, showing the page
// at pageAddress. The owner places it and keeps it at its offset.
//
// It takes its own input except what must never reach the page or close
// anything: Escape, Alt+F4, right presses and right double-clicks are
// swallowed; Enter does not end it. User-interface thread only.
class CChildDlg : public CStandardDialog {
    Q_OBJECT
public:
    static constexpr int BrowserWidth = 311;
    static constexpr int BrowserHeight = 162;

    CChildDlg(QWidget* parent, const std::string& pageAddress);
    ~CChildDlg() override;

    CExplorer& Browser() { return m_browser; }

    // Enter never ends the panel.
    void accept() override; // OnOK

    // Sees every event for the panel and the browser's own widgets before
    // they are delivered; true means swallowed.
    bool PreTranslateMessage(QObject* receiver, QEvent* event);

protected:
    bool OnInitDialog() override;
    // Under a window manager Alt+F4 arrives as the manager's close request,
    // never as a key: the panel ignores it as it ignores the key.
    void closeEvent(QCloseEvent* event) override;

private:
    // Installed on the application, so it sees events for the browser's
    // inner widgets too, whatever the engine creates under it.
    class MessageFilter : public QObject {
    public:
        explicit MessageFilter(CChildDlg& panel) : m_panel(panel) {}
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            return m_panel.PreTranslateMessage(watched, event);
        }

    private:
        CChildDlg& m_panel;
    };

    bool IsMine(QObject* receiver) const;

    QString m_pageAddress;
    CExplorer m_browser;
    MessageFilter m_filter{*this};
};
