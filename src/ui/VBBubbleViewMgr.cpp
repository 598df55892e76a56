#include "ui/VBBubbleViewMgr.h"

#include "app/Platform.h"
#include "export/BubblePage.h"
#include "export/MessageText.h"
#include "ui/BubbleWebPage.h"
#include "ui/MessageBoxes.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMenu>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QWebEngineContextMenuRequest>
#include <QWebEngineScript>
#include <QWebEngineView>

namespace {

// Media the desktop shows or plays itself; anything else is offered for saving.
const char kOpenableSuffixes[] = "jpg jpeg png bmp gif mp3 mp4 mov";

// "..." and the last three components, enough to recognise the file in a box.
QString shortPath(const QString &path)
{
    const QStringList parts = QDir::fromNativeSeparators(path).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.size() <= 3)
        return path;
    return QLatin1String(".../") + parts.mid(parts.size() - 3).join(QLatin1Char('/'));
}

bool copyFileReplacing(const QString &source, const QString &target)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    // QSaveFile replaces an existing target only once the copy is complete, so a
    // failed copy leaves the old file as it was.
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    QByteArray chunk;
    while (!(chunk = in.read(1 << 20)).isEmpty()) {
        if (out.write(chunk) != chunk.size()) {
            out.cancelWriting();
            return false;
        }
    }
    if (in.error() != QFileDevice::NoError) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

} // namespace

VBBubbleViewMgr::VBBubbleViewMgr(QObject *parent)
    : QObject(parent), m_urlOpener(&openUrl), m_folderOpener(&openFolder)
{
}

VBBubbleViewMgr::~VBBubbleViewMgr() = default;

void VBBubbleViewMgr::attach(QWebEngineView *view)
{
    if (m_view)
        disconnect(m_view, nullptr, this, nullptr);
    m_view = view;
    if (!view)
        return;
    auto *page = new BubbleWebPage(view);
    view->setPage(page);
    connect(view, &QWebEngineView::loadFinished, this, &VBBubbleViewMgr::onLoadFinish);
    connect(page, &BubbleWebPage::linkClicked, this, &VBBubbleViewMgr::onLinkClicked);
    // The engine's own menu offers Back, Reload and View source, which lead away
    // from the program's page; this one offers what a chat reader needs.
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        if (!m_view)
            return;
        const QWebEngineContextMenuRequest *request = m_view->lastContextMenuRequest();
        QMenu menu(m_view);
        menu.setObjectName(QStringLiteral("menuBubbleView"));
        fillContextMenu(&menu, request ? request->linkUrl() : QUrl(),
                        request ? request->selectedText() : QString());
        if (!menu.isEmpty())
            menu.exec(m_view->mapToGlobal(pos));
    });
}

void VBBubbleViewMgr::fillContextMenu(QMenu *menu, const QUrl &link, const QString &selectedText)
{
    if (!selectedText.isEmpty()) {
        QAction *copy = menu->addAction(tr("IDS_BUBBLE_COPY"));
        copy->setObjectName(QStringLiteral("actionBubbleCopy"));
        connect(copy, &QAction::triggered, this,
                [selectedText] { QGuiApplication::clipboard()->setText(selectedText); });
    }
    if (!link.isLocalFile())
        return;
    const QString path = link.toLocalFile();
    QAction *open = menu->addAction(tr("IDS_BUBBLE_OPEN_ATTACHMENT"));
    open->setObjectName(QStringLiteral("actionBubbleOpen"));
    connect(open, &QAction::triggered, this, [this, path] { openLocalFile(path); });
    QAction *save = menu->addAction(tr("IDS_BUBBLE_SAVE_ATTACHMENT"));
    save->setObjectName(QStringLiteral("actionBubbleSave"));
    save->setEnabled(QFileInfo(path).isFile());
    connect(save, &QAction::triggered, this, [this, path] { saveAttachment(path); });
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

QUrl VBBubbleViewMgr::baseUrl()
{
    // The folder holding vbbb, emoji and vb_emoji; a test may point it elsewhere.
    QString folder = MessageText::pictureFolder();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return QUrl::fromLocalFile(folder);
}

void VBBubbleViewMgr::showBubble(ViberMsgList smslist)
{
    m_messages = smslist;
    m_pageCount = BubblePage::pageCount(m_messages.size(), m_pageSize);
    m_page = 0;
    m_anchor.clear();
    if (m_pageCount > 0)
        firstPage();
    else
        setViewHtml(BubblePage::emptyPageHtml());
}

void VBBubbleViewMgr::setPageSize(int size)
{
    size = std::max(size, 1);
    if (size == m_pageSize)
        return;
    // The first message of the page shown stays in view.
    const qsizetype first = m_page > 0 ? qsizetype(m_page - 1) * m_pageSize : 0;
    m_pageSize = size;
    m_pageCount = BubblePage::pageCount(m_messages.size(), m_pageSize);
    if (m_pageCount > 0)
        render(BubblePage::pageOfIndex(first, m_pageSize));
}

void VBBubbleViewMgr::showWelcome()
{
    showBubble(ViberMsgList());
    setViewHtml(BubblePage::welcomePageHtml());
}

void VBBubbleViewMgr::onLoadFinish(bool)
{
    applyHighlight();
    scrollToAnchor();
}

void VBBubbleViewMgr::setHighlight(const QString &keyword)
{
    if (keyword == m_highlight)
        return;
    m_highlight = keyword;
    applyHighlight();
}

void VBBubbleViewMgr::applyHighlight()
{
    if (!m_view)
        return;
    // The old marks go first, then each text of the page (not its style sheet) is
    // split around the keyword. The keyword reaches the script as a JSON string.
    static const QString script =
        QStringLiteral("(function(k){"
                       "var old=document.querySelectorAll('mark.cwfound');"
                       "for(var j=0;j<old.length;j++){var p=old[j].parentNode;"
                       "p.replaceChild(document.createTextNode(old[j].textContent),old[j]);p.normalize();}"
                       "if(!k||!document.body)return 0;"
                       "var lk=k.toLowerCase(),n=0,nodes=[],"
                       "w=document.createTreeWalker(document.body,NodeFilter.SHOW_TEXT,null);"
                       "while(w.nextNode()){var t=w.currentNode.parentNode.nodeName;"
                       "if(t!=='STYLE'&&t!=='SCRIPT')nodes.push(w.currentNode);}"
                       "nodes.forEach(function(t){var s=t.nodeValue,ls=s.toLowerCase(),i=ls.indexOf(lk);"
                       "if(i<0||ls.length!==s.length)return;"
                       "var f=document.createDocumentFragment(),last=0;"
                       "while(i>=0){f.appendChild(document.createTextNode(s.substring(last,i)));"
                       "var m=document.createElement('mark');m.className='cwfound';"
                       "m.textContent=s.substring(i,i+k.length);f.appendChild(m);n++;"
                       "last=i+k.length;i=ls.indexOf(lk,last);}"
                       "f.appendChild(document.createTextNode(s.substring(last)));"
                       "t.parentNode.replaceChild(f,t);});"
                       "return n;})(%1)");
    const QByteArray keyword = QJsonDocument(QJsonArray{m_highlight}).toJson(QJsonDocument::Compact);
    const QString literal = QString::fromUtf8(keyword.mid(1, keyword.size() - 2));
    QPointer<VBBubbleViewMgr> self(this);
    m_view->page()->runJavaScript(script.arg(literal), QWebEngineScript::ApplicationWorld,
                                  [self](const QVariant &count) {
                                      if (self)
                                          emit self->highlightShown(count.toInt());
                                  });
}

void VBBubbleViewMgr::onLinkClicked(QUrl url)
{
    const bool ownLink = url.isLocalFile() || url.scheme().isEmpty();
    const std::pair<const char *, void (VBBubbleViewMgr::*)()> pageLinks[] = {
        {BubblePage::kFirstPageLink, &VBBubbleViewMgr::firstPage},
        {BubblePage::kPreviousPageLink, &VBBubbleViewMgr::previousPage},
        {BubblePage::kNextPageLink, &VBBubbleViewMgr::nextPage},
        {BubblePage::kLastPageLink, &VBBubbleViewMgr::lastPage},
    };
    const QLatin1String welcome(BubblePage::kWelcomeLinkPrefix);
    if (ownLink && url.path().startsWith(welcome)) {
        emit welcomeLinkClicked(url.path().mid(welcome.size()));
        return;
    }
    for (const auto &[path, go] : pageLinks) {
        if (ownLink && url.path() == QLatin1String(path)) {
            (this->*go)();
            return;
        }
    }
    if (!url.isLocalFile()) {
        const QString address = url.toString(QUrl::FullyEncoded);
        if (!m_urlOpener(address))
            showWarning(tr("IDS_BUBBLE_OPEN_FAILED").arg(address.toHtmlEscaped()), m_view);
        return;
    }
    openLocalFile(url.toLocalFile());
}

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
    if (m_pageCount < 1)
        return;
    m_anchor = QStringLiteral("end");
    render(m_pageCount);
}

void VBBubbleViewMgr::scrollToPos(int ipos)
{
    if (ipos < 0 || ipos >= m_messages.size() || !m_messages.at(ipos))
        return;
    const int target = BubblePage::pageOfIndex(ipos, m_pageSize);
    m_anchor = BubblePage::messageAnchor(m_messages.at(ipos));
    if (target == m_page)
        scrollToAnchor();
    else
        render(target);
}

void VBBubbleViewMgr::render(int page)
{
    if (page < 1 || page > m_pageCount)
        return;
    m_page = page;
    setViewHtml(BubblePage::pageHtml(m_messages, page, m_pageSize));
}

void VBBubbleViewMgr::setViewHtml(const QString &html)
{
    m_html = html;
    if (!m_view)
        return;
    const QByteArray bytes = html.toUtf8();
    if (bytes.size() <= kMaxInlinePageBytes) {
        m_view->setHtml(html, baseUrl());
        return;
    }
    // setHtml passes the page as a data address, which the engine refuses above
    // 2 MB: a page of long messages is loaded from a file instead, with a base
    // element that keeps the pictures' relative addresses pointing beside the program.
    QString page = html;
    const QString head = QStringLiteral("<head>");
    const qsizetype at = page.indexOf(head);
    if (at >= 0)
        page.insert(
            at + head.size(),
            QStringLiteral("<base href=\"%1\"/>").arg(MessageText::attributeHtml(baseUrl().toString())));
    if (!m_pageFolder)
        m_pageFolder = std::make_unique<QTemporaryDir>();
    const QString path = m_pageFolder->filePath(QStringLiteral("bubble.html"));
    QSaveFile file(path);
    const QByteArray data = page.toUtf8();
    if (!m_pageFolder->isValid() || !file.open(QIODevice::WriteOnly) || file.write(data) != data.size() ||
        !file.commit()) {
        qWarning("Cannot write the bubble page %s", qPrintable(QDir::toNativeSeparators(path)));
        m_view->setHtml(QString(), baseUrl());
        return;
    }
    m_view->load(QUrl::fromLocalFile(path));
}

void VBBubbleViewMgr::scrollToAnchor()
{
    if (!m_view || m_anchor.isEmpty())
        return;
    // Anchors are "start", "end" or "sms_" and a number: nothing to quote. The
    // script runs in the program's own world, as the page itself runs none.
    const QString script = QStringLiteral("(function(){var a=document.getElementsByName('%1');"
                                          "if(a.length)a[0].scrollIntoView(true);})();")
                               .arg(m_anchor);
    m_view->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld);
}

void VBBubbleViewMgr::openLocalFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.size() <= 0) {
        showWarning(tr("IDS_ATTACHMENT_NOT_FOUND").arg(shortPath(path).toHtmlEscaped()), m_view);
        return;
    }
    const QString suffix = info.suffix().trimmed();
    if (!suffix.isEmpty() && QLatin1String(kOpenableSuffixes).contains(suffix)) {
        if (!m_folderOpener(path))
            showWarning(tr("IDS_BUBBLE_OPEN_FAILED").arg(shortPath(path).toHtmlEscaped()), m_view);
        return;
    }
    saveAttachment(path);
}

void VBBubbleViewMgr::saveAttachment(const QString &path)
{
    const QFileInfo source(path);
    QFileDialog dialog(m_view, tr("IDS_SAVE_ATTACHMENT"), QDir::homePath());
    dialog.setObjectName(QStringLiteral("saveAttachmentDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.selectFile(QDir(QDir::homePath()).filePath(source.fileName()));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString target = dialog.selectedFiles().constFirst();
    if (target.isEmpty())
        return;

    // Saving onto the attachment itself must not remove it first.
    const QFileInfo targetInfo(target);
    bool ok = true;
    if (!(targetInfo.exists() && targetInfo.canonicalFilePath() == source.canonicalFilePath()))
        ok = copyFileReplacing(path, target);
    if (ok)
        showInfo(tr("IDS_SAVE_ATTACHMENT_SUC"), m_view);
    else
        reportError(tr("IDS_SAVE_ATTACHMENT_FILE_ERROR") + QLatin1String("<br/>") +
                        QDir::toNativeSeparators(target).toHtmlEscaped(),
                    m_view);
}
