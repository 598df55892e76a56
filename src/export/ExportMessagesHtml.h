#pragma once

#include "BubblePage.h"
#include "StreamedFileExport.h"

#include <QDate>
#include <QDir>
#include <QHash>
#include <QSet>

#include <functional>

// The "files" folder beside the exported pages, shared by all pages of one
// export: the style sheet with its frames, the emoji pictures the pages use, and
// a copy of every attachment shown, each made once.
class HtmlFilesFolder
{
public:
    // Copies a file to a path that does not exist yet, creating its folder;
    // raises on failure. The export's own, so that it can remove what it made.
    using CopyFile = std::function<void(const QString &source, const QString &target)>;

    HtmlFilesFolder(const QDir &outputFolder, CopyFile copy);

    // The style sheet, voice icon and frames from the artwork folder.
    void copyArtwork();
    // The page's address of a copy of the file; empty when the source is no file.
    // name: what the store calls the file, whose extension the copy takes when
    // neither the content nor the source's name tells its kind.
    QString attachment(const QString &source, const QString &name = QString());
    // Copies the emoji pictures a piece of page refers to that are not there yet.
    void copyPicturesUsedIn(const QString &html);

    // How the pages refer to all of this.
    const BubbleStyle &style() const { return m_style; }

private:
    QDir m_files;
    CopyFile m_copy;
    BubbleStyle m_style;
    QHash<QString, QString> m_copies; // source path -> page address
    QSet<QString> m_pictures;         // emoji pictures copied ("emoji/1F600.png")
};

// One chat's page of chat bubbles, a day line before each day's first message.
// A long chat takes several pages, each with links to the previous and next one
// and to every page of the chat.
class ExportMessagesHtml : public StreamedFileExport
{
public:
    // Messages on one page at most: a browser opens a page of them in a moment.
    static constexpr qint64 kPageSize = 5000;

    // pages: the file names of all the chat's pages, beside each other; page: this
    // one's index among them.
    ExportMessagesHtml(const QString &filePath, const QString &title, HtmlFilesFolder &files,
                       const QStringList &pages = {}, qsizetype page = 0,
                       ExportFile::Place place = ExportFile::Alone)
        : StreamedFileExport(filePath, false, place), m_title(title), m_files(files), m_pages(pages),
          m_page(page)
    {
    }
    // Where a page is among pages, with links to the others; empty for one page.
    static QString pagerHtml(const QStringList &pages, qsizetype page);

    void begin() override;
    void write(const _ViberMsg &msg) override;
    void finish() override;

private:
    QString m_title;
    HtmlFilesFolder &m_files;
    QStringList m_pages;
    qsizetype m_page;
    QDate m_day;
};

// What the index page tells of one chat's page.
struct HtmlChatEntry
{
    QString fileName; // of the page, beside the index
    QString title;
    QStringList participants; // labels
    qint64 messages = 0;
    double first = 0;
    double last = 0;
};

// The index page listing the chat pages of an export; raises on failure.
void writeHtmlIndex(const QString &filePath, const QList<HtmlChatEntry> &chats, HtmlFilesFolder &files);
