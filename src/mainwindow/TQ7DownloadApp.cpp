#include "mainwindow/TQ7DownloadApp.h"

#include <string>

#include "app/LocalConfig.h"
#include "mainwindow/DemoTranslucentDlg.h"
#include "platform/IniFile.h"
#include "platform/InstanceLock.h"

CTQ7_DownloadApp::CTQ7_DownloadApp(int& argc, char** argv)
    : QApplication(argc, argv)
{
    // The company key the settings of the framework would go under; the
    // program keeps none of its own there.
    setOrganizationName(QStringLiteral("Vonmark"));
    setApplicationName(QStringLiteral("zorvath-downloader"));
    setDesktopFileName(QStringLiteral("zorvath-downloader"));
    // The modal loop alone decides when the program ends; hiding the window
    // before a fatal message must not end the event loop under it.
    setQuitOnLastWindowClosed(false);
}

bool CTQ7_DownloadApp::InitInstance()
{
    std::string lockName = ReadIniValue("./config.ini", "settings", "mutex", ConfigValueLength - 1);
    InstanceLock lock;
    if (!lock.Acquire(lockName)) {
        m_bOtherCopy = true;
        return false;
    }

    // Deliberately never destroyed: a check or download run may still be
    // working with the window when the modal loop ends, and the end of the
    // process stops them (see ExitInstance).
    auto* window = new CDemoTranslucentDlg;
    window->exec();

    lock.Release();
    window->hide();
    return false;
}

int CTQ7_DownloadApp::ExitInstance()
{
    return 0;
}
