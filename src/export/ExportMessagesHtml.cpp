#include "ExportMessagesHtml.h"

#include "MediaType.h"
#include "MessageText.h"
#include "TimeText.h"

#include "app/FileHelpers.h"

#include <QFileInfo>
#include <QUrl>

#include <stdexcept>

namespace {

const char kFilesFolder[] = "files";
const QLatin1String kFilesPrefix("files/");

QString pageStart(const QString &title)
{
    return QLatin1String("<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
                         "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\n"
                         "<html xmlns=\"http://www.w3.org/1999/xhtml\">\n"
                         "<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />\n"
                         "<title>") +
           title.toHtmlEscaped() +
           QLatin1String("</title>\n"
                         "<link href=\"files/style.css\" type=\"text/css\" rel=\"stylesheet\"/>\n"
                         // A page of thousands of bubbles lays out only those in view; the
                         // window's pages are short and jump to anchors, so they lay out all.
                         "<style type=\"text/css\">.bb1, .bb2 { content-visibility: auto; "
                         "contain-intrinsic-size: auto 60px; }</style></head><body>\n");
}

QString pageAddress(const QString &fileName)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(fileName));
}

} // namespace

HtmlFilesFolder::HtmlFilesFolder(const QDir &outputFolder, CopyFile copy)
    : m_files(outputFolder.filePath(QLatin1String(kFilesFolder))), m_copy(std::move(copy))
{
    m_style.artPrefix = kFilesPrefix;
    m_style.picturePrefix = kFilesPrefix;
    m_style.photoLimit = 200;
    m_style.pictureLimit = 128;
    m_style.standalone = true;
    m_style.fileAddress = [this](const QString &path, const QString &name) { return attachment(path, name); };
}

void HtmlFilesFolder::copyArtwork()
{
    const QDir art(QDir(MessageText::pictureFolder()).filePath(QStringLiteral("vbbb")));
    for (const QString &name : art.entryList(QDir::Files, QDir::Name)) {
        const QString target = m_files.filePath(name);
        if (!QFileInfo::exists(target))
            m_copy(art.filePath(name), target);
    }
}

QString HtmlFilesFolder::attachment(const QString &source, const QString &name)
{
    if (source.isEmpty())
        return QString();
    auto it = m_copies.constFind(source);
    if (it != m_copies.constEnd())
        return *it;
    QString address;
    if (QFileInfo(source).isFile()) {
        // Names come from the store: only the name part is used, made safe, and
        // unique in the folder so that two attachments never share a copy.
        // The extension the content shows: a voice note stored as "2" plays as "2.m4a".
        const QFileInfo info(source);
        QString base = exportFileName(info.completeBaseName());
        if (base.isEmpty())
            base = QStringLiteral("file");
        const QString extension = exportFileName(MediaType::copyExtension(source, false, name), 16);
        const QString target = uniqueFilePath(
            m_files.filePath(extension.isEmpty() ? base : base + QLatin1Char('.') + extension));
        m_copy(source, target);
        address = kFilesPrefix + pageAddress(QFileInfo(target).fileName());
    }
    m_copies.insert(source, address);
    return address;
}

void HtmlFilesFolder::copyPicturesUsedIn(const QString &html)
{
    // Pictures are named by hexadecimal code points or emoticon words: never a
    // quote, so the name ends at the attribute's closing quote.
    for (const QLatin1String folder : {QLatin1String("files/emoji/"), QLatin1String("files/vb_emoji/")}) {
        for (qsizetype at = html.indexOf(folder); at >= 0; at = html.indexOf(folder, at)) {
            at += kFilesPrefix.size();
            const qsizetype end = html.indexOf(QLatin1Char('"'), at);
            if (end < 0)
                break;
            const QString picture = html.mid(at, end - at);
            if (m_pictures.contains(picture))
                continue;
            m_pictures.insert(picture);
            const QString source = QDir(MessageText::pictureFolder()).filePath(picture);
            const QString target = m_files.filePath(picture);
            if (QFileInfo(source).isFile() && !QFileInfo::exists(target))
                m_copy(source, target);
        }
    }
}

void ExportMessagesHtml::begin()
{
    open();
    out() << pageStart(m_title);
    const QString heading = QLatin1String("<p class=\"title\" style=\"text-align:center;\"><b><bdi>") +
                            MessageText::messageHtml(m_title, m_files.style().picturePrefix) +
                            QLatin1String("</bdi></b><br/><a href=\"index.html\">") +
                            MessageText::messageHtml(StreamedFileExport::tr("IDS_EXPORT_ALL_CHATS")) +
                            QLatin1String("</a></p>\n") + pagerHtml(m_pages, m_page);
    m_files.copyPicturesUsedIn(heading);
    out() << heading;
    checkWritten();
}

void ExportMessagesHtml::write(const _ViberMsg &msg)
{
    QString html;
    const QDate day = storeTimeToDateTime(msg.date).date();
    if (day != m_day) {
        html += MessageText::systemMessageHtml(TimeText::day(msg.date), m_files.style().picturePrefix);
        html += QLatin1Char('\n');
        m_day = day;
    }
    html += BubblePage::messageHtml(&msg, m_files.style());
    m_files.copyPicturesUsedIn(html);
    out() << html << '\n';
    checkWritten();
}

QString ExportMessagesHtml::pagerHtml(const QStringList &pages, qsizetype page)
{
    if (pages.size() <= 1)
        return QString();
    const auto text = [](const char *key) {
        return MessageText::messageHtml(QCoreApplication::translate("BubblePage", key));
    };
    const auto link = [&](qsizetype to, const QString &shown) {
        return QStringLiteral("<a href=\"%1\">%2</a>")
            .arg(MessageText::attributeHtml(pageAddress(pages.at(to))), shown);
    };
    QStringList parts;
    if (page > 0)
        parts << link(page - 1, text("IDS_BUBBLE_PREVIOUS_PAGE"));
    parts << MessageText::messageHtml(QCoreApplication::translate("BubblePage", "IDS_BUBBLE_PAGE_%1_OF_%2")
                                          .arg(page + 1)
                                          .arg(pages.size()));
    if (page + 1 < pages.size())
        parts << link(page + 1, text("IDS_BUBBLE_NEXT_PAGE"));
    // Every page of the chat, to jump to.
    QStringList jumps;
    for (qsizetype to = 0; to < pages.size(); ++to)
        jumps << (to == page ? QStringLiteral("<b>%1</b>").arg(to + 1) : link(to, QString::number(to + 1)));
    return QLatin1String("<p class=\"pager\" style=\"text-align:center;\">") +
           parts.join(QLatin1String(" &nbsp; ")) + QLatin1String("<br/>") + jumps.join(QLatin1Char(' ')) +
           QLatin1String("</p>\n");
}

void ExportMessagesHtml::finish()
{
    out() << pagerHtml(m_pages, m_page) << "</body></html>\n";
    StreamedFileExport::finish();
}

namespace {

// Each label isolated, so that a right-to-left one cannot reorder those beside it; a
// label reads left to right, name then number, the name isolated in it by itself.
QString participants(const QStringList &labels)
{
    QStringList names;
    for (const QString &label : labels)
        names << QLatin1String("<bdi dir=\"ltr\">") + MessageText::messageHtml(label, kFilesPrefix) +
                     QLatin1String("</bdi>");
    return names.join(QLatin1String(", "));
}

} // namespace

void writeHtmlIndex(const QString &filePath, const QList<HtmlChatEntry> &chats, HtmlFilesFolder &files)
{
    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        throw std::runtime_error(
            StreamedFileExport::writeError(filePath, StreamedFileExport::failureReason(file)).toStdString());
    QTextStream out(&file);
    out.setEncoding(QStringConverter::Utf8);
    const QString title = StreamedFileExport::tr("IDS_EXPORT_ALL_CHATS");
    out << pageStart(title) << "<h1>" << MessageText::messageHtml(title) << "</h1>\n<table class=\"chats\">\n"
        << "<tr><th>" << MessageText::messageHtml(StreamedFileExport::tr("IDS_EXPORT_INDEX_CHAT"))
        << "</th><th>" << MessageText::messageHtml(StreamedFileExport::tr("IDS_EXPORT_INDEX_PARTICIPANTS"))
        << "</th><th>" << MessageText::messageHtml(StreamedFileExport::tr("IDS_EXPORT_INDEX_MESSAGES"))
        << "</th><th>" << MessageText::messageHtml(StreamedFileExport::tr("IDS_EXPORT_INDEX_FIRST"))
        << "</th><th>" << MessageText::messageHtml(StreamedFileExport::tr("IDS_EXPORT_INDEX_LAST"))
        << "</th></tr>\n";
    for (const HtmlChatEntry &chat : chats) {
        const QString row =
            QStringLiteral("<tr><td><a href=\"%1\"><bdi>%2</bdi></a></td><td>%3</td>"
                           "<td>%4</td><td>%5</td><td>%6</td></tr>\n")
                .arg(MessageText::attributeHtml(pageAddress(chat.fileName)),
                     MessageText::messageHtml(chat.title, kFilesPrefix), participants(chat.participants),
                     QString::number(chat.messages), TimeText::date(chat.first), TimeText::date(chat.last));
        files.copyPicturesUsedIn(row);
        out << row;
    }
    out << "</table>\n</body></html>\n";
    out.flush();
    if (out.status() != QTextStream::Ok || !file.commit())
        throw std::runtime_error(
            StreamedFileExport::writeError(filePath, StreamedFileExport::failureReason(file)).toStdString());
}
