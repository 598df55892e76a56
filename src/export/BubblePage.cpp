#include "BubblePage.h"
#include "TimeText.h"

#include "MessageText.h"

#include <QDate>
#include <QFileInfo>
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

bool isWebAddress(const QString &text)
{
    // Map and sticker pictures are served over https, older records may hold http.
    return text.startsWith(QLatin1String("http://")) || text.startsWith(QLatin1String("https://"));
}

// Each piece finds its own direction: Arabic and Hebrew flow right to left.
QString wrapped(const QString &piece)
{
    return QLatin1String("<div dir=\"auto\">") + piece + QLatin1String("</div>");
}

QString pictureLink(const QString &target, const QString &source, int limit, const BubbleStyle &style)
{
    QString src;
    if (isWebAddress(source))
        src = source;
    else if (isNonEmptyFile(source))
        src = style.fileAddress(source);
    if (src.isEmpty())
        src = style.artPrefix + QLatin1String("empty_photo.jpg");
    return QStringLiteral(
               "<a href=\"%1\"%2><img style=\"max-width:%3px;max-height:%3px;\" src=\"%4\" %5></a>")
        .arg(MessageText::attributeHtml(target),
             style.standalone ? QLatin1String(" target=\"_blank\"") : QLatin1String(), QString::number(limit),
             MessageText::attributeHtml(src),
             style.standalone ? QLatin1String("loading=\"lazy\"") : QLatin1String());
}

QString bubbleBody(const _ViberMsg *msg, const BubbleStyle &style)
{
    const _ViberAtta *att = msg->attachment;
    auto text = [&](const QString &t) { return MessageText::messageHtml(t, style.picturePrefix); };
    switch (msg->type) {
    case ViberMsgTypePicture: {
        if (!att)
            return QString();
        QString body =
            wrapped(pictureLink(style.fileAddress(att->filePath), att->previewPath, style.photoLimit, style));
        if (!msg->text.isEmpty())
            body += wrapped(text(msg->text));
        return body;
    }
    case ViberMsgTypeLocation: {
        // The map needs no attachment: its address comes from the coordinates.
        const QString map = MessageText::mapPictureAddress(msg);
        const QString preview = att ? att->previewPath : QString();
        const QString source = isNonEmptyFile(preview) ? preview : map;
        QString body =
            wrapped(pictureLink(map, source, style.pictureLimit, style)) + wrapped(text(msg->address));
        // What the sender wrote with the place.
        if (!msg->text.isEmpty())
            body += wrapped(text(msg->text));
        return body;
    }
    case ViberMsgTypeAudio:
        if (!att)
            return QString();
        return wrapped(QStringLiteral("<img width=\"32px\" src=\"%1voice.png\" align=\"middle\" />"
                                      "<a href=\"%2\">%3</a>")
                           .arg(style.artPrefix, MessageText::attributeHtml(style.fileAddress(att->filePath)),
                                text(TimeText::duration(att->duration))));
    case ViberMsgTypeSticker: {
        if (!att)
            return QString();
        // A sticker kept with the store shows offline; the web is the fallback.
        if (isNonEmptyFile(att->previewPath))
            return wrapped(pictureLink(style.fileAddress(att->previewPath), att->previewPath,
                                       style.pictureLimit, style));
        const QString sticker = MessageText::stickerPictureAddress(att);
        return wrapped(pictureLink(sticker, sticker, style.pictureLimit, style));
    }
    case ViberMsgTypeText:
        return wrapped(text(MessageText::bodyText(msg)));
    case ViberMsgTypeVideo: {
        if (!att)
            return QString();
        QString body = wrapped(
            pictureLink(style.fileAddress(att->filePath), att->previewPath, style.pictureLimit, style));
        body += wrapped(text(TimeText::duration(att->duration)));
        if (!msg->text.isEmpty())
            body += wrapped(text(msg->text));
        return body;
    }
    case ViberMsgTypeFile: {
        if (!att)
            return QString();
        const QString details = MessageText::fileDetails(msg);
        QString body = wrapped(
            QStringLiteral("<a class=\"file\" href=\"%1\"%2>%3</a>%4")
                .arg(MessageText::attributeHtml(style.fileAddress(att->filePath)),
                     style.standalone ? QLatin1String(" target=\"_blank\"") : QLatin1String(),
                     text(MessageText::fileName(msg)),
                     details.isEmpty() ? QString() : QLatin1String(" (") + text(details) + QLatin1Char(')')));
        if (!msg->text.isEmpty())
            body += wrapped(text(msg->text));
        return body;
    }
    default:
        return QString();
    }
}

} // namespace

int BubblePage::pageCount(qsizetype count)
{
    if (count <= 0)
        return 0;
    return int((count + kPageSize - 1) / kPageSize);
}

int BubblePage::pageOfIndex(qsizetype index)
{
    return int(index / kPageSize) + 1;
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
    return pictureLink(target, source, kPictureLimit, viewStyle());
}

const BubbleStyle &BubblePage::viewStyle()
{
    static const BubbleStyle style = [] {
        BubbleStyle s;
        s.fileAddress = &BubblePage::localFileAddress;
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
    html += MessageText::bubbleBackgroundHtml();
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
    auto link = [](const char *path, const char *key) {
        return QStringLiteral("<a href=\"%1\">%2</a>")
            .arg(QLatin1String(path), MessageText::messageHtml(tr(key)));
    };
    QStringList parts;
    if (page > 1) {
        parts << link(kFirstPageLink, QT_TR_NOOP("IDS_BUBBLE_FIRST_PAGE"))
              << link(kPreviousPageLink, QT_TR_NOOP("IDS_BUBBLE_PREVIOUS_PAGE"));
    }
    parts << tr("IDS_BUBBLE_PAGE_%1_OF_%2").arg(page).arg(count);
    if (page < count) {
        parts << link(kNextPageLink, QT_TR_NOOP("IDS_BUBBLE_NEXT_PAGE"))
              << link(kLastPageLink, QT_TR_NOOP("IDS_BUBBLE_LAST_PAGE"));
    }
    return QLatin1String("<p class=\"pager\" style=\"text-align:center;\">") +
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

QString BubblePage::pageHtml(const QList<_ViberMsg *> &messages, int page)
{
    const int count = pageCount(messages.size());
    if (page < 1 || page > count)
        return QString();

    QString html = QLatin1String(kDocumentStart);
    html += pagerHtml(page, count);

    const qsizetype first = qsizetype(page - 1) * kPageSize;
    const qsizetype last = qMin<qsizetype>(first + kPageSize, messages.size());
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
