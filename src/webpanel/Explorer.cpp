#include "webpanel/Explorer.h"

#include <QUrl>
#include <QWebEngineSettings>

CExplorer::CExplorer(QWidget* parent)
    : QWebEngineView(parent)
{
    settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    // The page never sees a right press, so it never gets a menu either.
    setContextMenuPolicy(Qt::NoContextMenu);
}

QUrl CExplorer::AddressToUrl(const QString& address)
{
    QString trimmed = address.trimmed();
    if (trimmed.isEmpty()) {
        return QUrl(QStringLiteral("about:blank"));
    }
    QUrl url = QUrl::fromUserInput(trimmed);
    if (!url.isValid()) {
        return QUrl(QStringLiteral("about:blank"));
    }
    return url;
}

void CExplorer::Navigate(const QString& address)
{
    load(AddressToUrl(address));
}
