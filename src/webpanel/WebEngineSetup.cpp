#include "webpanel/WebEngineSetup.h"

#include <cstdlib>
#include <string>

#include <dirent.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QQuickWindow>
#include <QSGRendererInterface>

namespace {

// A GPU is worth trying only when a DRM render node can be opened; Xvfb,
// containers and most CI machines have none, and Chromium then spends seconds
// failing before it falls back on its own.
bool GpuRenderNodeUsable()
{
    DIR* dir = opendir("/dev/dri");
    if (dir == nullptr) {
        return false;
    }
    bool usable = false;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.rfind("renderD", 0) == 0) {
            std::string path = "/dev/dri/" + name;
            if (access(path.c_str(), R_OK | W_OK) == 0) {
                usable = true;
                break;
            }
        }
    }
    closedir(dir);
    return usable;
}

std::string EnvText(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

void AppendChromiumFlag(const std::string& flag)
{
    std::string flags = EnvText("QTWEBENGINE_CHROMIUM_FLAGS");
    if ((" " + flags + " ").find(" " + flag + " ") != std::string::npos) {
        return;
    }
    if (!flags.empty()) {
        flags += ' ';
    }
    flags += flag;
    setenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.c_str(), 1);
}

} // namespace

WebEngineChoice DecideWebEngineSetup(bool runningAsRoot, bool gpuUsable, const std::string& platform)
{
    WebEngineChoice choice;
    choice.sandboxDisabled = runningAsRoot;
    // offscreen and minimal have no OpenGL of their own.
    bool glPlatform = !(platform == "offscreen" || platform == "minimal" || platform == "vnc");
    choice.softwareRendering = !gpuUsable || !glPlatform;
    return choice;
}

void PrepareWebEngine()
{
    std::string platform = EnvText("QT_QPA_PLATFORM");
    WebEngineChoice choice = DecideWebEngineSetup(geteuid() == 0, GpuRenderNodeUsable(), platform);

    if (choice.sandboxDisabled && std::getenv("QTWEBENGINE_DISABLE_SANDBOX") == nullptr) {
        setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    }
    if (choice.softwareRendering) {
        AppendChromiumFlag("--disable-gpu");
        if (std::getenv("QT_QUICK_BACKEND") == nullptr) {
            QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        }
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

bool WebPanelAvailable()
{
    QString helper = qEnvironmentVariable("QTWEBENGINE_PROCESS_PATH");
    if (helper.isEmpty()) {
        helper = QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + "/QtWebEngineProcess";
    }
    QFileInfo info(helper);
    return info.exists() && info.isExecutable();
}
