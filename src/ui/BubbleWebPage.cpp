#include "ui/BubbleWebPage.h"

#include <QWebEngineSettings>

BubbleWebPage::BubbleWebPage(QObject *parent) : QWebEnginePage(parent)
{
    QWebEngineSettings *s = settings();
    // Pages are built from store contents. Escaping keeps them inert, and with
    // script off a slip there still cannot run anything; the view scrolls through
    // runJavaScript in its own world, which this setting does not block.
    s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    // Previews are local files; nothing a page shows comes from the web.
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
}

bool BubbleWebPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    if (type == NavigationTypeLinkClicked) {
        // Web addresses go to the user's browser, the page's own links and attachments
        // to the program; any other scheme (javascript:, data:, ...) goes nowhere.
        const QString scheme = url.scheme().toLower();
        if (scheme == QLatin1String("http") || scheme == QLatin1String("https") || url.isLocalFile())
            emit linkClicked(url);
        return false;
    }
    // The program's own setHtml loads; nothing in a page may lead anywhere else.
    if (type == NavigationTypeTyped || type == NavigationTypeOther || type == NavigationTypeReload)
        return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
    return false;
}

QWebEnginePage *BubbleWebPage::createWindow(WebWindowType)
{
    return nullptr;
}
