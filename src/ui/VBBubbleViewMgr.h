#pragma once

#include "export/BubblePage.h"
#include "viber/ViberMsgList.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QMenu;
class QTemporaryDir;
class QWebEngineView;

// Shows messages as chat bubbles in a web view, 50 to a page, and answers the
// clicks on page links and attachments.
class VBBubbleViewMgr : public QObject
{
    Q_OBJECT
public:
    // Pages above this size are loaded from a temporary file (setHtml's limit is 2 MB).
    static constexpr qsizetype kMaxInlinePageBytes = 1900 * 1024;

    // How attachments and web links leave the program; replaceable so tests
    // never launch desktop programs.
    using UrlOpener = std::function<bool(const QString &urlOrPath)>;
    using FolderOpener = std::function<bool(const QString &path)>;

    explicit VBBubbleViewMgr(QObject *parent = nullptr);
    ~VBBubbleViewMgr() override;

    // The view is not owned. Its page is replaced by one that hands every
    // clicked link to onLinkClicked.
    void attach(QWebEngineView *view);
    QWebEngineView *view() const;

    int page() const { return m_page; }
    int pageCount() const { return m_pageCount; }
    // Messages to a page; the page shown is laid out again around the same message.
    int pageSize() const { return m_pageSize; }
    void setPageSize(int size);
    QString anchor() const { return m_anchor; }
    // The HTML last set into the view.
    QString currentHtml() const { return m_html; }

    // The bubble view's right-click menu: Copy for selected text, and for a
    // link to a local file (an attachment) Open and Save As.
    void fillContextMenu(QMenu *menu, const QUrl &link, const QString &selectedText);

    // Marks every occurrence of keyword (letter case ignored) in the pages shown,
    // this one and those to come; "" removes the marks.
    void setHighlight(const QString &keyword);
    QString highlight() const { return m_highlight; }
    void setUrlOpener(UrlOpener opener);
    void setFolderOpener(FolderOpener opener);

signals:
    // A link of the welcome page: "itunes", "store", "desktop", "device" or "demo".
    void welcomeLinkClicked(const QString &way);
    // The marks of setHighlight were put on the page shown: count of them.
    void highlightShown(int count);

public slots:
    void showBubble(ViberMsgList smslist);
    // The ways in, for a window without any source yet.
    void showWelcome();
    void onLoadFinish(bool);
    void onLinkClicked(QUrl url);
    void firstPage();
    void previousPage();
    void nextPage();
    void lastPage();
    void scrollToPos(int ipos);

private:
    static QUrl baseUrl();
    void render(int page);
    void setViewHtml(const QString &html);
    void scrollToAnchor();
    void applyHighlight();
    void openLocalFile(const QString &path);
    void saveAttachment(const QString &path);

    QPointer<QWebEngineView> m_view;
    ViberMsgList m_messages;
    int m_page = 0;
    int m_pageCount = 0;
    int m_pageSize = BubblePage::kPageSize;
    QString m_anchor;
    QString m_html;
    QString m_highlight;
    UrlOpener m_urlOpener;
    FolderOpener m_folderOpener;
    std::unique_ptr<QTemporaryDir> m_pageFolder; // holds pages too large for setHtml
};
