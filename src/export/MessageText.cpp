#include "MessageText.h"

#include "Emoji.h"
#include "TimeText.h"
#include "viber/Emoticons.h"
#include "viber/MessageMetadata.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>
#include <iterator>
#include <limits>

namespace {

QMutex g_pictureFolderMutex;
QString g_pictureFolder; // empty: the program's folder

const char kPictureStyle[] = "style=\"vertical-align:top;\"";
// Emoji pictures are painted large enough for sharp print and zoom, and shown at
// the height of a line of text like the emoticons beside them.
const char kEmojiStyle[] = "style=\"vertical-align:top;width:20px;height:20px;\"";

enum class EscapeFor { Text, Attribute };

// One pass that appends: QString::replace moves the rest of the text for each
// batch of matches, which grows quadratically on long texts full of them.
void appendEscaped(QString &html, QStringView text, EscapeFor target)
{
    qsizetype done = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        QLatin1String entity;
        switch (text[i].unicode()) {
        case u'&':
            entity = QLatin1String("&amp;");
            break;
        case u'<':
            entity = QLatin1String("&lt;");
            break;
        case u'>':
            entity = QLatin1String("&gt;");
            break;
        case u'\n':
            if (target == EscapeFor::Text)
                entity = QLatin1String("<br/>");
            break;
        case u'"':
            if (target == EscapeFor::Attribute)
                entity = QLatin1String("&quot;");
            break;
        case u'\'':
            if (target == EscapeFor::Attribute)
                entity = QLatin1String("&#39;");
            break;
        default:
            break;
        }
        if (entity.isNull())
            continue;
        html += text.mid(done, i - done);
        html += entity;
        done = i + 1;
    }
    html += text.mid(done);
}

QString escapeHtml(QStringView text, EscapeFor target)
{
    QString html;
    html.reserve(text.size() + text.size() / 8);
    appendEscaped(html, text, target);
    return html;
}

} // namespace

QString MessageText::plainText(const _ViberMsg *msg)
{
    const QString content = contentText(msg);
    const QString preamble = preambleText(msg);
    if (preamble.isEmpty())
        return content;
    return content.isEmpty() ? preamble : preamble + QLatin1Char('\n') + content;
}

namespace {

// What a message says above its content: that it was forwarded, and what it quotes.
struct Preamble
{
    QString forward; // the whole line; empty for no forward
    bool edited = false;
    QString quoteName; // empty with quoteText for no quote
    QString quoteText;
};

// Only messages with extra columns can have one: a search asks this of every message.
Preamble preambleOf(const _ViberMsg *msg)
{
    Preamble p;
    if (!msg || msg->other.isEmpty() || msg->type == ViberMsgTypeCall || msg->type == ViberMsgTypeSystem)
        return p;
    const MessageMetadata meta = MessageMetadata::of(msg);
    if (meta.forwarded)
        p.forward = meta.forwardedFrom.isEmpty()
                        ? MessageText::tr("IDS_MSG_FORWARDED")
                        : MessageText::tr("IDS_MSG_FORWARDED_FROM").arg(isolatedText(meta.forwardedFrom));
    p.edited = meta.edited;
    if (!meta.quote.isEmpty()) {
        p.quoteName = meta.quote.name;
        p.quoteText = meta.quote.text.isEmpty() ? meta.quote.attachmentName : meta.quote.text;
    }
    return p;
}

} // namespace

QString MessageText::preambleText(const _ViberMsg *msg)
{
    const Preamble p = preambleOf(msg);
    QStringList lines;
    if (!p.forward.isEmpty())
        lines << p.forward;
    if (p.edited)
        lines << tr("IDS_MSG_EDITED");
    if (!p.quoteName.isEmpty() || !p.quoteText.isEmpty())
        lines << tr("IDS_MSG_QUOTE").arg(isolatedText(p.quoteName), p.quoteText);
    return lines.join(QLatin1Char('\n'));
}

QString MessageText::bodyText(const _ViberMsg *msg)
{
    if (!msg)
        return QString();
    if (msg->systemKind == ViberSystemKindFormatted)
        return MessageMetadata::formattedText(msg->text.toString());
    if (!msg->other.isEmpty()) {
        const MessageMetadata meta = MessageMetadata::of(msg);
        if (!meta.pollQuestion.isEmpty() || !meta.pollOptions.isEmpty()) {
            QString poll = tr("IDS_MSG_POLL")
                               .arg(meta.pollQuestion.isEmpty() ? msg->text.toString() : meta.pollQuestion);
            for (const QString &option : meta.pollOptions)
                poll += QStringLiteral("\n\u2022 ") + option;
            return poll;
        }
    }
    return msg->text.toString();
}

QString MessageText::fileDescription(const _ViberMsg *msg)
{
    const QString details = fileDetails(msg);
    return details.isEmpty() ? fileName(msg) : QStringLiteral("%1 (%2)").arg(fileName(msg), details);
}

QString MessageText::fileName(const _ViberMsg *msg)
{
    if (!msg)
        return QString();
    const _ViberAtta *att = msg->attachment;
    if (att && !att->fileName.isEmpty())
        return att->fileName;
    const MessageMetadata::File file = MessageMetadata::of(msg).file;
    if (!file.name.isEmpty())
        return file.name;
    return att ? att->type : file.extension;
}

QString MessageText::fileDetails(const _ViberMsg *msg)
{
    if (!msg)
        return QString();
    const _ViberAtta *att = msg->attachment;
    const MessageMetadata::File file = MessageMetadata::of(msg).file;
    const QString name = fileName(msg);
    QString kind = file.contentType;
    if (kind.isEmpty() && !file.extension.isEmpty() && !name.endsWith(file.extension, Qt::CaseInsensitive))
        kind = file.extension;
    const qint64 size = att && att->fileSize > 0 ? att->fileSize : std::max<qint64>(file.size, 0);
    QStringList details;
    if (!kind.isEmpty())
        details << kind;
    if (size > 0)
        details << QLocale::system().formattedDataSize(size);
    return details.join(QLatin1String(", "));
}

QString MessageText::preambleHtml(const _ViberMsg *msg, QLatin1String picturePrefix)
{
    const Preamble p = preambleOf(msg);
    QString html;
    if (!p.forward.isEmpty())
        html += QLatin1String("<div class=\"forward\" style=\"font-style:italic;opacity:0.7;\">") +
                messageHtml(p.forward, picturePrefix) + QLatin1String("</div>");
    if (p.edited)
        html += QLatin1String("<div class=\"edited\" style=\"font-style:italic;opacity:0.7;\">") +
                tr("IDS_MSG_EDITED").toHtmlEscaped() + QLatin1String("</div>");
    if (!p.quoteName.isEmpty() || !p.quoteText.isEmpty())
        html += QLatin1String("<div class=\"quote\" style=\"border-left:3px solid #7360f2;padding-left:6px;"
                              "margin-bottom:4px;opacity:0.8;\"><b><bdi>") +
                messageHtml(p.quoteName, picturePrefix) + QLatin1String("</bdi></b><br/>") +
                messageHtml(p.quoteText, picturePrefix) + QLatin1String("</div>");
    return html;
}

QString MessageText::contentText(const _ViberMsg *msg)
{
    if (!msg)
        return QString();
    // Fonts draw Unicode emoji; only carrier emoji without a counterpart become the
    // placeholder. Asked first, since a search runs this over every message of a source.
    const QString body =
        msg->other.isEmpty() && msg->systemKind == ViberSystemKindNone ? msg->text.toString() : bodyText(msg);
    const QString text =
        Emoji::hasCarrierEmoji(body) ? Emoji::withUnicodeEmoji(body, tr("IDS_MSG_EMOJI")) : body;
    // A caption is part of the message: text exports would lose it otherwise. A file the
    // phone no longer has, or never fetched, says so.
    auto captioned = [&](const QString &placeholder) {
        const QString shown = placeholder + attachmentStateText(msg->attachment);
        return text.isEmpty() ? shown : shown + QLatin1Char(' ') + text;
    };
    switch (msg->type) {
    case ViberMsgTypeCall:
        return msg->call ? callTextWithParty(msg) : tr("IDS_MSG_UNKNOWN_CALL");
    case ViberMsgTypePicture:
        return captioned(tr("IDS_MSG_IMAGE"));
    case ViberMsgTypeLocation:
        return text.isEmpty() ? tr("IDS_MSG_LOCATION") : text + QLatin1Char(' ') + tr("IDS_MSG_LOCATION");
    case ViberMsgTypeSystem:
        return systemText(msg);
    case ViberMsgTypeAudio:
        return captioned(tr("IDS_MSG_AUDIO"));
    case ViberMsgTypeSticker:
        return tr("IDS_MSG_STICKER").arg(msg->attachment ? msg->attachment->attId : tr("IDS_MSG_UNKNOWN"));
    case ViberMsgTypeText:
        return text;
    case ViberMsgTypeVideo:
        return captioned(tr("IDS_MSG_VIDEO"));
    case ViberMsgTypeFile:
        return captioned(tr("IDS_MSG_FILE").arg(fileDescription(msg)));
    }
    return QString();
}

QString MessageText::attachmentStateText(const _ViberAtta *attachment)
{
    // Looked for in the bytes first: a search runs this over every message.
    if (!attachment || attachment->other.isEmpty() ||
        (!attachment->other.contains("expired") && !attachment->other.contains("needDownload")))
        return QString();
    const QString state = readExtraColumns(attachment).value(QStringLiteral("ZSTATE")).toString();
    if (state.compare(QLatin1String("expired"), Qt::CaseInsensitive) == 0)
        return QLatin1Char(' ') + tr("IDS_MSG_EXPIRED");
    if (state.compare(QLatin1String("needDownload"), Qt::CaseInsensitive) == 0)
        return QLatin1Char(' ') + tr("IDS_MSG_NOT_DOWNLOADED");
    return QString();
}

QString MessageText::callText(const _ViberCall *call)
{
    if (!call)
        return tr("IDS_CALL_UNKNOWN");
    const QString length = TimeText::duration(call->duration);
    switch (call->type) {
    case ViberCallTypeIncoming:
        return tr("IDS_CALL_INCOMING").arg(length);
    case ViberCallTypeOutgoing:
        return tr("IDS_CALL_OUTGOING").arg(length);
    case ViberCallTypeMissed:
        return tr("IDS_CALL_MISSED");
    case ViberCallTypeIncomingVideo:
        return tr("IDS_CALL_INCOMING_VIDEO").arg(length);
    case ViberCallTypeOutgoingVideo:
        return tr("IDS_CALL_OUTGOING_VIDEO").arg(length);
    case ViberCallTypeMissedVideo:
        return tr("IDS_CALL_MISSED_VIDEO");
    case ViberCallTypeOutgoingViberOut:
        return tr("IDS_CALL_VIBER_OUT").arg(length);
    case ViberCallTypeUnknown:
        break;
    }
    return tr("IDS_CALL_UNKNOWN");
}

const _ViberPerson *MessageText::callParty(const _ViberMsg *msg)
{
    if (!msg)
        return nullptr;
    if (msg->call && msg->call->person)
        return msg->call->person;
    if (msg->person)
        return msg->person;
    if (msg->chat && msg->chat->groupId.isEmpty() && msg->chat->participants.size() == 1)
        return msg->chat->participants.cbegin().value();
    return nullptr;
}

QString MessageText::callTextWithParty(const _ViberMsg *msg)
{
    if (!msg)
        return QString();
    const QString text = callText(msg->call);
    const _ViberPerson *party = callParty(msg);
    return party ? tr("IDS_CALL_WITH_PARTY_%1_%2").arg(text, isolatedText(personLabel(party))) : text;
}

QString MessageText::kindName(int type)
{
    static const char *const kinds[] = {"unknown", "call",    "picture", "location", "system",
                                        "audio",   "sticker", "text",    "video",    "file"};
    return QString::fromLatin1(type >= 0 && type < int(std::size(kinds)) ? kinds[type] : kinds[0]);
}

QString MessageText::systemText(const _ViberMsg *msg)
{
    if (!msg)
        return QString();
    const QString who = msg->person ? isolatedText(personDisplayName(msg->person)) : tr("IDS_SYS_YOU");
    switch (msg->systemKind) {
    case ViberSystemKindNameChanged:
        // One multi-argument arg(): a "%2" inside the name must stay text.
        return tr("IDS_SYS_NAME_CHANGED").arg(who, isolatedText(msg->text.toString()));
    case ViberSystemKindMemberAdded:
        // Older stores name the person added only as the row's person.
        if (msg->text.isEmpty() && msg->person)
            return tr("IDS_SYS_MEMBER_ADDED").arg(who);
        return tr("IDS_SYS_MEMBER_JOINED").arg(isolatedText(msg->text.toString()));
    case ViberSystemKindCallLog: {
        // The call as the chat tells it: its kind and length are the message's own.
        const QVariantMap columns = readExtraColumns(msg);
        _ViberCall call;
        call.type = callTypeFromStoreText(columns.value(QStringLiteral("ZCALLTYPE")).toString());
        call.duration = qint32(std::clamp<qint64>(columns.value(QStringLiteral("ZCALLDURATION")).toLongLong(),
                                                  0, std::numeric_limits<qint32>::max()));
        return callText(&call);
    }
    case ViberSystemKindSelfAdded:
        return tr("IDS_SYS_SELF_ADDED");
    case ViberSystemKindIconChanged:
        return tr("IDS_SYS_ICON_CHANGED").arg(who);
    case ViberSystemKindMessageRemoved:
        return tr("IDS_SYS_MESSAGE_REMOVED").arg(who);
    case ViberSystemKindPinCreated: {
        const QString pin = MessageMetadata::of(msg).pinText;
        return pin.isEmpty() ? tr("IDS_SYS_PINNED").arg(who)
                             : tr("IDS_SYS_PINNED_TEXT").arg(who, isolatedText(pin));
    }
    case ViberSystemKindOther:
        return tr("IDS_SYS_UNSUPPORTED");
    case ViberSystemKindFormatted:
    case ViberSystemKindUrl:
    case ViberSystemKindNone:
        break;
    }
    return QString();
}

QString MessageText::chatTitle(const _ViberChat *chat)
{
    if (!chat)
        return QString();
    const QString name = chat->name.trimmed();
    switch (chatKind(chat)) {
    case ViberChatKind::MyNotes:
        return name.isEmpty() ? tr("IDS_CHAT_MY_NOTES") : name;
    case ViberChatKind::Channel:
        return tr("IDS_CHAT_CHANNEL").arg(name);
    case ViberChatKind::Chat:
        break;
    }
    if (!name.isEmpty())
        return name;
    QStringList names;
    for (const _ViberPerson *p : participantsByPhone(chat))
        names.append(isolatedText(personDisplayName(p)));
    return names.join(QLatin1String(", "));
}

QString MessageText::participantLabels(const _ViberChat *chat)
{
    return participantLabelList(chat).join(QLatin1String(", "));
}

QList<const _ViberPerson *> MessageText::participantsByPhone(const _ViberChat *chat)
{
    QList<const _ViberPerson *> persons;
    persons.reserve(chat->participants.size());
    for (const _ViberPerson *p : chat->participants)
        if (p)
            persons.append(p);
    std::sort(persons.begin(), persons.end(), [](const _ViberPerson *a, const _ViberPerson *b) {
        if (a->phone != b->phone)
            return a->phone < b->phone;
        if (a->name != b->name)
            return a->name < b->name;
        return a->id < b->id;
    });
    return persons;
}

QStringList MessageText::participantLabelList(const _ViberChat *chat)
{
    QStringList labels;
    if (!chat)
        return labels;
    for (const _ViberPerson *p : participantsByPhone(chat))
        labels.append(personLabel(p));
    return labels;
}

QString MessageText::messageHtml(const QString &text, QLatin1String picturePrefix)
{
    // Emoji are looked for in the text, not in the markup made of it; picture names
    // are hexadecimal digits and "-" only, safe inside the attribute.
    QString html;
    html.reserve(text.size() + text.size() / 8);
    qsizetype escaped = 0;
    for (Emoji::Match m = Emoji::find(text, 0); m.position >= 0;
         m = Emoji::find(text, m.position + m.length)) {
        appendEscaped(html, QStringView(text).mid(escaped, m.position - escaped), EscapeFor::Text);
        html += QLatin1String("<img src=\"") + picturePrefix + QLatin1String("emoji/") + m.picture +
                QLatin1String(".png\" ") + QLatin1String(kEmojiStyle) + QLatin1String(" />");
        escaped = m.position + m.length;
    }
    appendEscaped(html, QStringView(text).mid(escaped), EscapeFor::Text);

    // Only the table's codes become pictures: they are the ones Viber draws, and
    // being plain words they are safe both as file names and inside the attribute.
    // Any other bracketed text, "(see below)" or a crafted "(x\" onerror=...)", stays text.
    const QDir folder(pictureFolder());
    // Per code its picture element, empty without a picture: asked of the disk once.
    QHash<QString, QString> pictures;
    QString result;
    qsizetype done = 0;
    for (Emoticons::Match m = Emoticons::find(html, 0); m.position >= 0;
         m = Emoticons::find(html, m.position + m.length)) {
        if (Emoticons::number(m.code) < 0)
            continue;
        auto it = pictures.constFind(m.code);
        if (it == pictures.constEnd()) {
            const QString file = folder.filePath(QStringLiteral("vb_emoji/%1.png").arg(m.code));
            QString img;
            if (QFileInfo(file).isFile())
                img = QStringLiteral("<img src=\"%1vb_emoji/%2.png\" %3 />")
                          .arg(picturePrefix, m.code, QLatin1String(kPictureStyle));
            it = pictures.insert(m.code, img);
        }
        if (it->isEmpty())
            continue;
        result += QStringView(html).mid(done, m.position - done);
        result += *it;
        done = m.position + m.length;
    }
    if (done == 0)
        return html;
    result += QStringView(html).mid(done);
    return result;
}

QString MessageText::systemMessageHtml(const QString &text, QLatin1String picturePrefix)
{
    return QLatin1String("<div style=\"text-align:center; margin-bottom:20px;\"><div class=\"r\">") +
           messageHtml(text, picturePrefix) + QLatin1String("</div><div class=\"clear\"></div></div>");
}

QString MessageText::attributeHtml(const QString &text)
{
    return escapeHtml(text, EscapeFor::Attribute);
}

namespace {

QMutex g_mapSiteMutex;
QString g_mapSite; // empty: OpenStreetMap

const char kOpenStreetMap[] = "https://www.openstreetmap.org/?mlat=%1&mlon=%2#map=16/%1/%2";

// A web address in a text: a scheme or "www." after anything but a letter or digit,
// running to the next space, quote or angle bracket.
const QRegularExpression &webAddressPattern()
{
    static const QRegularExpression pattern(QStringLiteral("(?<![\\w@.])(?:https?://|www\\.)[^\\s<>\"]+"),
                                            QRegularExpression::CaseInsensitiveOption |
                                                QRegularExpression::UseUnicodePropertiesOption);
    return pattern;
}

// An address ends before the punctuation that closes the sentence around it; a
// closing bracket stays when the address opened it.
qsizetype trimmedAddressLength(QStringView address)
{
    static const QString closing = QStringLiteral(")]}"), opening = QStringLiteral("([{"),
                         sentenceEnds = QStringLiteral(".,;:!?'");
    qsizetype length = address.size();
    while (length > 0) {
        const QChar last = address.at(length - 1);
        const qsizetype bracket = closing.indexOf(last);
        const QStringView kept = address.left(length);
        const bool unopened = bracket >= 0 && kept.count(opening.at(bracket)) < kept.count(last);
        if (!sentenceEnds.contains(last) && !unopened)
            break;
        --length;
    }
    return length;
}

} // namespace

QString MessageText::webAddress(const QString &text)
{
    QString address = text;
    if (address.startsWith(QLatin1String("www."), Qt::CaseInsensitive))
        address.prepend(QLatin1String("http://"));
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty())
        return QString();
    return QString::fromLatin1(url.toEncoded());
}

QString MessageText::linkedHtml(const QString &text, QLatin1String picturePrefix, bool newTab)
{
    QString html;
    qsizetype done = 0;
    QRegularExpressionMatchIterator it = webAddressPattern().globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const qsizetype length =
            trimmedAddressLength(QStringView(text).mid(m.capturedStart(), m.capturedLength()));
        const QString shown = text.mid(m.capturedStart(), length);
        const QString address = webAddress(shown);
        if (address.isEmpty())
            continue;
        html += messageHtml(text.mid(done, m.capturedStart() - done), picturePrefix);
        html +=
            QStringLiteral("<a href=\"%1\"%2 rel=\"noopener noreferrer\">%3</a>")
                .arg(attributeHtml(address), newTab ? QLatin1String(" target=\"_blank\"") : QLatin1String(),
                     escapeHtml(shown, EscapeFor::Text));
        done = m.capturedStart() + length;
    }
    if (done == 0)
        return messageHtml(text, picturePrefix);
    return html + messageHtml(text.mid(done), picturePrefix);
}

QString MessageText::mapSite()
{
    QMutexLocker lock(&g_mapSiteMutex);
    return g_mapSite.isEmpty() ? QLatin1String(kOpenStreetMap) : g_mapSite;
}

void MessageText::setMapSite(const QString &addressTemplate)
{
    QMutexLocker lock(&g_mapSiteMutex);
    g_mapSite = addressTemplate;
}

QString MessageText::mapLinkAddress(const _ViberMsg *msg)
{
    if (!msg)
        return QString();
    return mapSite().arg(QString::number(msg->latitude(), 'f', 6), QString::number(msg->longitude(), 'f', 6));
}

QString MessageText::coordinatesText(const _ViberMsg *msg)
{
    if (!msg)
        return QString();
    return QString::number(msg->latitude(), 'f', 6) + QLatin1String(", ") +
           QString::number(msg->longitude(), 'f', 6);
}

QString MessageText::pictureFolder()
{
    {
        QMutexLocker lock(&g_pictureFolderMutex);
        if (!g_pictureFolder.isEmpty())
            return g_pictureFolder;
    }
    // The build paints the pictures beside the programs; an installed program finds
    // them in its data folder, the same way from the executable wherever the tree
    // was installed or unpacked.
    static const QString installed = [] {
        const QDir program(QCoreApplication::applicationDirPath());
        if (program.exists(QStringLiteral("vbbb")))
            return program.path();
        return QDir::cleanPath(program.filePath(QStringLiteral(CHATWHARF_DATA_FROM_BIN)));
    }();
    return installed;
}

void MessageText::setPictureFolder(const QString &folder)
{
    QMutexLocker lock(&g_pictureFolderMutex);
    g_pictureFolder = folder;
}
