#pragma once

#include <QUrl>
#include <QWebEnginePage>

// The page of the bubble view. It runs no script of its own, keeps every clicked
// link from navigating and hands it to the program instead.
class BubbleWebPage : public QWebEnginePage
{
    Q_OBJECT
public:
    explicit BubbleWebPage(QObject *parent = nullptr);

signals:
    void linkClicked(QUrl url);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
};
