// zorvath-downloader: the skinned download window. Apart from --help and
// --version it takes no command line; everything comes from ./config.ini in
// the working directory.
#include <cstdio>
#include <cstring>

#include <unistd.h>

#include "mainwindow/TQ7DownloadApp.h"
#include "webpanel/WebEngineSetup.h"

namespace {

const char* const kUsage =
    "Usage: zorvath-downloader [--help | --version]\n"
    "Opens the download window. It works in the current directory and reads its\n"
    "settings from ./config.ini there.\n"
    "\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n";

} // namespace

int main(int argc, char** argv)
{
    // Answered before Qt or the browser engine start, so that both work on a
    // machine without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("zorvath-downloader %s\n", ZORVATH_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
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
