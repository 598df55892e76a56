#include "BubblePage.h"

#include "MessageText.h"
#include "TimeText.h"

#include <QDate>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace {

const char kDocumentStart[] =
    "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
    "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">"
    "<html xmlns=\"http://www.w3.org/1999/xhtml\">"
    "<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />"
    "<title>Bubble</title><link href=\"vbbb/style.css\" type=\"text/css\" rel=\"stylesheet\"/>"
    "</head><body><a name=\"start\"></a>";

QDate localDay(const _ViberMsg *msg)
{
    return storeTimeToDateTime(msg->date).date();
}

bool isNonEmptyFile(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.isFile() && info.size() > 0;
}

// Each piece finds its own direction: Arabic and Hebrew flow right to left.
QString wrapped(const QString &piece)
{
    return QLatin1String("<div dir=\"auto\">") + piece + QLatin1String("</div>");
}

QString linkAttributes(const BubbleStyle &style)
{
    return style.standalone ? QStringLiteral(" target=\"_blank\" rel=\"noopener noreferrer\"")
                            : QStringLiteral(" rel=\"noopener noreferrer\"");
}

// The program's own placeholder picture, named, where a file is missing: never a
// picture the browser cannot load.
QString placeholderHtml(const QString &name, int limit, const BubbleStyle &style)
{
    QString html =
        QStringLiteral("<img style=\"max-width:%1px;max-height:%1px;\" src=\"%2empty_photo.jpg\" />")
            .arg(QString::number(limit), style.artPrefix);
    if (!name.isEmpty())
        html += QLatin1String("<div class=\"missing\">") + MessageText::messageHtml(name) +
                QLatin1String("</div>");
    return html;
}

// A picture of a local file, linked to target when there is one; the placeholder
// with the name when the picture is not there.
QString pictureLink(const QString &target, const QString &source, const QString &name, int limit,
                    const BubbleStyle &style)
{
    const QString src = isNonEmptyFile(source) ? style.fileAddress(source, QString()) : QString();
    if (src.isEmpty())
        return target.isEmpty() ? placeholderHtml(name, limit, style)
                                : QStringLiteral("<a href=\"%1\"%2>%3</a>")
                                      .arg(MessageText::attributeHtml(target), linkAttributes(style),
                                           placeholderHtml(name, limit, style));
    const QString img = QStringLiteral("<img style=\"max-width:%1px;max-height:%1px;\" src=\"%2\" %3>")
                            .arg(QString::number(limit), MessageText::attributeHtml(src),
                                 style.standalone ? QLatin1String("loading=\"lazy\"") : QLatin1String());
    if (target.isEmpty())
        return img;
    return QStringLiteral("<a href=\"%1\"%2>%3</a>")
        .arg(MessageText::attributeHtml(target), linkAttributes(style), img);
}

QString attachmentName(const _ViberMsg *msg, const QString &path)
{
    const QString name = msg->attachment ? msg->attachment->fileName : QString();
    return name.isEmpty() ? QFileInfo(path).fileName() : name;
}

QString bubbleBody(const _ViberMsg *msg, const BubbleStyle &style)
{
    const _ViberAtta *att = msg->attachment;
    auto text = [&](const QString &t) { return MessageText::messageHtml(t, style.picturePrefix); };
    // What people write may hold web addresses: those become links, nothing else does.
    auto written = [&](const QString &t) {
        return MessageText::linkedHtml(t, style.picturePrefix, style.standalone);
    };
    const QString caption = msg->text.isEmpty() ? QString() : wrapped(written(msg->text.toString()));
    switch (msg->type) {
    case ViberMsgTypePicture: {
        if (!att)
            return QString();
        const QString preview = isNonEmptyFile(att->previewPath) ? att->previewPath : att->filePath;
        return wrapped(pictureLink(style.fileAddress(att->filePath, att->fileName), preview,
                                   attachmentName(msg, att->filePath), style.photoLimit, style)) +
               caption;
    }
    case ViberMsgTypeLocation: {
        // The place as text with a link to a map site: nothing is fetched to show it.
        const QString map = MessageText::mapLinkAddress(msg);
        QString body;
        if (att && isNonEmptyFile(att->previewPath))
            body += wrapped(pictureLink(map, att->previewPath, QString(), style.pictureLimit, style));
        const QString place =
            msg->address().trimmed().isEmpty() ? BubblePage::tr("IDS_BUBBLE_LOCATION") : msg->address();
        body += wrapped(QStringLiteral("<a class=\"map\" href=\"%1\"%2>%3</a>")
                            .arg(MessageText::attributeHtml(map), linkAttributes(style), text(place)));
        body += wrapped(QLatin1String("<span class=\"coordinates\">") +
                        text(MessageText::coordinatesText(msg)) + QLatin1String("</span>"));
        return body + caption;
    }
    case ViberMsgTypeAudio: {
        if (!att)
            return QString();
        const QString file =
            isNonEmptyFile(att->filePath) ? style.fileAddress(att->filePath, att->fileName) : QString();
        const QString length = text(TimeText::duration(att->duration));
        // An exported page plays it; the view hands it to the desktop's player.
        if (style.standalone && !file.isEmpty())
            return wrapped(QStringLiteral("<audio controls=\"controls\" preload=\"none\" src=\"%1\"></audio>"
                                          "<div class=\"length\">%2</div>")
                               .arg(MessageText::attributeHtml(file), length)) +
                   caption;
        return wrapped(QStringLiteral("<img width=\"32px\" src=\"%1voice.png\" align=\"middle\" />"
                                      "<a href=\"%2\">%3</a>")
                           .arg(style.artPrefix,
                                MessageText::attributeHtml(
                                    file.isEmpty() ? style.fileAddress(att->filePath, att->fileName) : file),
                                length)) +
               caption;
    }
    case ViberMsgTypeSticker: {
        if (!att)
            return QString();
        // A sticker kept with the store shows; any other is named, never fetched.
        return wrapped(pictureLink(QString(), att->previewPath, MessageText::contentText(msg),
                                   style.pictureLimit, style));
    }
    case ViberMsgTypeText:
        return wrapped(written(MessageText::bodyText(msg)));
    case ViberMsgTypeVideo: {
        if (!att)
            return QString();
        const QString file =
            isNonEmptyFile(att->filePath) ? style.fileAddress(att->filePath, att->fileName) : QString();
        QString body;
        if (style.standalone && !file.isEmpty()) {
            const QString poster =
                isNonEmptyFile(att->previewPath) ? style.fileAddress(att->previewPath, QString()) : QString();
            body =
                wrapped(QStringLiteral("<video controls=\"controls\" preload=\"none\"%1 "
                                       "style=\"max-width:%2px;max-height:%2px;\" src=\"%3\"></video>")
                            .arg(poster.isEmpty() ? QString()
                                                  : QLatin1String(" poster=\"") +
                                                        MessageText::attributeHtml(poster) + QLatin1Char('"'),
                                 QString::number(style.photoLimit), MessageText::attributeHtml(file)));
        } else {
            body = wrapped(
                pictureLink(file.isEmpty() ? style.fileAddress(att->filePath, att->fileName) : file,
                            att->previewPath, attachmentName(msg, att->filePath), style.pictureLimit, style));
        }
        body += wrapped(text(TimeText::duration(att->duration)));
        return body + caption;
    }
    case ViberMsgTypeFile: {
        if (!att)
            return QString();
        const QString details = MessageText::fileDetails(msg);
        return wrapped(QStringLiteral("<a class=\"file\" href=\"%1\"%2>%3</a>%4")
                           .arg(MessageText::attributeHtml(style.fileAddress(att->filePath, att->fileName)),
                                style.standalone ? QLatin1String(" target=\"_blank\"") : QLatin1String(),
                                text(MessageText::fileName(msg)),
                                details.isEmpty() ? QString()
                                                  : QLatin1String(" (") + text(details) + QLatin1Char(')'))) +
               caption;
    }
    default:
        return QString();
    }
}

} // namespace

int BubblePage::pageCount(qsizetype count, int pageSize)
{
    if (count <= 0)
        return 0;
    pageSize = std::max(pageSize, 1);
    return int((count + pageSize - 1) / pageSize);
}

int BubblePage::pageOfIndex(qsizetype index, int pageSize)
{
    return int(index / std::max(pageSize, 1)) + 1;
}

QString BubblePage::messageAnchor(const _ViberMsg *msg)
{
    return QStringLiteral("sms_%1").arg(msg ? msg->id : 0);
}

QString BubblePage::localFileAddress(const QString &path)
{
    if (path.isEmpty())
        return QString();
    return QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded());
}

QString BubblePage::pictureLinkHtml(const QString &target, const QString &source)
{
    return pictureLink(target, source, QFileInfo(source).fileName(), kPictureLimit, viewStyle());
}

const BubbleStyle &BubblePage::viewStyle()
{
    static const BubbleStyle style = [] {
        BubbleStyle s;
        s.fileAddress = [](const QString &path, const QString &) {
            return BubblePage::localFileAddress(path);
        };
        return s;
    }();
    return style;
}

QString BubblePage::messageHtml(const _ViberMsg *msg)
{
    return messageHtml(msg, viewStyle());
}

QString BubblePage::messageHtml(const _ViberMsg *msg, const BubbleStyle &style)
{
    QString html;
    switch (msg->type) {
    case ViberMsgTypeCall:
        if (msg->call)
            html +=
                MessageText::systemMessageHtml(MessageText::callTextWithParty(msg) + QLatin1String("      ") +
                                                   TimeText::time(msg->call->date),
                                               style.picturePrefix);
        return html;
    case ViberMsgTypeSystem: {
        // A call told in the chat shows its time, as a call entry does.
        QString text = MessageText::systemText(msg);
        if (msg->systemKind == ViberSystemKindCallLog)
            text += QLatin1String("      ") + TimeText::time(msg->date);
        return html + MessageText::systemMessageHtml(text, style.picturePrefix);
    }
    case ViberMsgTypePicture:
    case ViberMsgTypeLocation:
    case ViberMsgTypeAudio:
    case ViberMsgTypeSticker:
    case ViberMsgTypeText:
    case ViberMsgTypeVideo:
    case ViberMsgTypeFile:
        break;
    default:
        return html;
    }

    html += QStringLiteral("<div class=\"%1\">")
                .arg(isOutgoing(msg) ? QLatin1String("bb2") : QLatin1String("bb1"));
    if (msg->chat && !msg->chat->groupId.isEmpty() && msg->person)
        html += QStringLiteral("<div class=\"handle\"><bdi>%1</bdi></div><div class=\"clear\"></div>")
                    .arg(MessageText::messageHtml(personDisplayName(msg->person), style.picturePrefix));
    html += MessageText::preambleHtml(msg, style.picturePrefix);
    html += bubbleBody(msg, style);
    html += QStringLiteral("<div class=\"bb_time\">%1</div>").arg(TimeText::time(msg->date));
    html += QLatin1String("</div><div class=\"clear\"></div>");
    return html;
}

QString BubblePage::pagerHtml(int page, int count)
{
    if (count <= 1)
        return QString();
    // Arrows keep the pager on one line in a narrow pane; the words are the links' titles.
    auto link = [](const char *path, const char *key) {
        static const QHash<QByteArray, const char *> arrows{{kFirstPageLink, "\u00ab"},
                                                            {kPreviousPageLink, "\u2039"},
                                                            {kNextPageLink, "\u203a"},
                                                            {kLastPageLink, "\u00bb"}};
        return QStringLiteral("<a href=\"%1\" title=\"%2\" style=\"text-decoration:none;\">%3</a>")
            .arg(QLatin1String(path), MessageText::messageHtml(tr(key)),
                 QString::fromUtf8(arrows.value(QByteArray(path))));
    };
    QStringList parts;
    if (page > 1) {
        parts << link(kFirstPageLink, QT_TR_NOOP("IDS_BUBBLE_FIRST_PAGE"))
              << link(kPreviousPageLink, QT_TR_NOOP("IDS_BUBBLE_PREVIOUS_PAGE"));
    }
    parts << tr("IDS_BUBBLE_PAGE_%1_OF_%2").arg(QLocale().toString(page), QLocale().toString(count));
    if (page < count) {
        parts << link(kNextPageLink, QT_TR_NOOP("IDS_BUBBLE_NEXT_PAGE"))
              << link(kLastPageLink, QT_TR_NOOP("IDS_BUBBLE_LAST_PAGE"));
    }
    return QLatin1String("<p class=\"pager\" style=\"text-align:center;white-space:nowrap;\">") +
           parts.join(QLatin1String(" &nbsp; ")) + QLatin1String("</p>");
}

QString BubblePage::emptyPageHtml()
{
    return QLatin1String(kDocumentStart) + QLatin1String("<a name=\"end\"></a></body></html>");
}

QString BubblePage::welcomePageHtml()
{
    const std::pair<const char *, const char *> ways[] = {
        {"itunes", QT_TR_NOOP("IDS_WELCOME_ITUNES")},   {"store", QT_TR_NOOP("IDS_WELCOME_STORE")},
        {"desktop", QT_TR_NOOP("IDS_WELCOME_DESKTOP")}, {"device", QT_TR_NOOP("IDS_WELCOME_DEVICE")},
        {"demo", QT_TR_NOOP("IDS_WELCOME_DEMO")},
    };
    QString html = QLatin1String(kDocumentStart);
    html += MessageText::systemMessageHtml(tr("IDS_WELCOME_TITLE"));
    for (const auto &[link, key] : ways)
        html +=
            QStringLiteral("<p class=\"welcome\" style=\"text-align:center;\"><a href=\"%1%2\">%3</a></p>")
                .arg(QLatin1String(kWelcomeLinkPrefix), QLatin1String(link),
                     MessageText::messageHtml(tr(key)));
    return html + QLatin1String("<a name=\"end\"></a></body></html>");
}

QString BubblePage::pageHtml(const QList<_ViberMsg *> &messages, int page, int pageSize)
{
    pageSize = std::max(pageSize, 1);
    const int count = pageCount(messages.size(), pageSize);
    if (page < 1 || page > count)
        return QString();

    QString html = QLatin1String(kDocumentStart);
    html += pagerHtml(page, count);

    const qsizetype first = qsizetype(page - 1) * pageSize;
    const qsizetype last = qMin<qsizetype>(first + pageSize, messages.size());
    QDate previousDay;
    for (qsizetype i = first; i < last; ++i) {
        const _ViberMsg *msg = messages.at(i);
        if (!msg)
            continue;
        const QDate day = localDay(msg);
        QString dayLine;
        if (i == first || day != previousDay)
            dayLine = MessageText::systemMessageHtml(TimeText::day(msg->date));
        previousDay = day;
        // The anchor goes before the day line, so a jump shows the message's day too.
        html += QStringLiteral("<a name=\"%1\"></a>").arg(messageAnchor(msg));
        html += dayLine;
        html += messageHtml(msg);
    }

    html += pagerHtml(page, count);
    html += QLatin1String("<a name=\"end\"></a></body></html>");
    return html;
}
