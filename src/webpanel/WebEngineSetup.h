#pragma once

#include <string>

// Process-wide preparation of the page panel's browser engine. Must run on the
// main thread before the QApplication is constructed; later calls have no
// effect on an engine that is already running.
//
// - Chromium's sandbox cannot start for root: only then is it turned off
//   (QTWEBENGINE_DISABLE_SANDBOX=1). An explicit setting by the user wins.
// - Without a usable GPU (no readable render node, or a platform without
//   OpenGL such as offscreen) the engine and Qt Quick render in software.
// - Shared OpenGL contexts, which the engine asks for before the application
//   object exists.
void PrepareWebEngine();

// Whether a page panel can be made at all: the engine's helper process is
// installed. When it is not, the main window runs without its panel.
bool WebPanelAvailable();

// The flags PrepareWebEngine decided on, for tests and for the log.
struct WebEngineChoice {
    bool sandboxDisabled = false;
    bool softwareRendering = false;
};
WebEngineChoice DecideWebEngineSetup(bool runningAsRoot, bool gpuUsable, const std::string& platform);
