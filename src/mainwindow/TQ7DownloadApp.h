#pragma once

#include <QApplication>

// The program's application object: start-up and the orderly end.
//
// InitInstance takes the single-instance lock named by "mutex" in
// ./config.ini, runs the main window modally and always returns false. A
// second copy with the same lock name returns at once, showing and reporting
// nothing. Most runs never come back from the modal loop: the close button,
// the installer launch and fatal errors end the process through
// ReportAndTerminate. User-interface thread only.
class CTQ7_DownloadApp : public QApplication {
    Q_OBJECT
public:
    CTQ7_DownloadApp(int& argc, char** argv);

    bool InitInstance();
    // The process's exit status after InitInstance has returned.
    int ExitInstance();

    // Whether the last InitInstance found another copy running.
    bool FoundOtherCopy() const { return m_bOtherCopy; }

private:
    bool m_bOtherCopy = false;
};
