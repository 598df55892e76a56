#include "ui/VBBubbleViewMgr.h"

#include "app/Platform.h"

#include <QWebEngineView>

VBBubbleViewMgr::VBBubbleViewMgr(QObject *parent)
    : QObject(parent), m_urlOpener(&openUrl), m_folderOpener(&openFolder)
{
}

void VBBubbleViewMgr::attach(QWebEngineView *view)
{
    m_view = view;
}

QWebEngineView *VBBubbleViewMgr::view() const
{
    return m_view;
}

void VBBubbleViewMgr::setUrlOpener(UrlOpener opener)
{
    m_urlOpener = std::move(opener);
}

void VBBubbleViewMgr::setFolderOpener(FolderOpener opener)
{
    m_folderOpener = std::move(opener);
}

void VBBubbleViewMgr::showBubble(ViberMsgList smslist)
{
    m_messages = smslist;
    m_pageCount = int((m_messages.size() + kPageSize - 1) / kPageSize);
    m_page = 0;
    if (m_pageCount > 0)
        firstPage();
    else
        setViewHtml(QString());
}

void VBBubbleViewMgr::onLoadFinish(bool)
{
    scrollToAnchor();
}

void VBBubbleViewMgr::onLinkClicked(QUrl) {}

void VBBubbleViewMgr::firstPage()
{
    m_anchor = QStringLiteral("start");
    render(1);
}

void VBBubbleViewMgr::previousPage()
{
    if (m_page <= 1)
        return;
    m_anchor = QStringLiteral("end");
    render(m_page - 1);
}

void VBBubbleViewMgr::nextPage()
{
    if (m_page >= m_pageCount)
        return;
    m_anchor = QStringLiteral("start");
    render(m_page + 1);
}

void VBBubbleViewMgr::lastPage()
{
    m_anchor = QStringLiteral("end");
    render(m_pageCount);
}

void VBBubbleViewMgr::scrollToPos(int) {}

void VBBubbleViewMgr::render(int page)
{
    if (page < 1 || page > m_pageCount)
        return;
    m_page = page;
}

void VBBubbleViewMgr::setViewHtml(const QString &html)
{
    m_html = html;
}

void VBBubbleViewMgr::scrollToAnchor() {}

void VBBubbleViewMgr::openLocalFile(const QString &) {}

void VBBubbleViewMgr::saveAttachment(const QString &) {}
