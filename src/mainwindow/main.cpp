// zorvath-downloader: the skinned download window. It takes no command line;
// everything comes from ./config.ini in the working directory.
#include <cstdio>

#include <unistd.h>

#include "mainwindow/TQ7DownloadApp.h"
#include "webpanel/WebEngineSetup.h"

int main(int argc, char** argv)
{
    PrepareWebEngine();
    CTQ7_DownloadApp app(argc, argv);
    app.InitInstance();
    int status = app.ExitInstance();
    // Worker runs may still be going and still hold the window; ending here,
    // without destructors, stops them without pulling anything from under
    // them.
    std::fflush(nullptr);
    _exit(status);
}
