#pragma once

#include <QString>
#include <QWebEngineView>

// The embedded browser of the page panel (Qt WebEngine). It shows the page at
// an address given as text and loads it asynchronously; nothing is reported
// back. An empty, malformed or unreachable address leaves the browser's own
// empty page: Chromium's error page is turned off. User-interface thread only.
class CExplorer : public QWebEngineView {
    Q_OBJECT
public:
    explicit CExplorer(QWidget* parent);

    // Starts loading address; does not wait for it.
    void Navigate(const QString& address);

    // What Navigate makes of an address: about:blank for nothing usable.
    static QUrl AddressToUrl(const QString& address);
};
