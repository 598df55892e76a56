#include "ExportMessagesJson.h"

#include "MessageText.h"

#include <QJsonDocument>

namespace {

const char *const kStates[] = {"none", "delivered", "received", "sent", "pending"};
const char *const kCalls[] = {"unknown",        "incoming",       "outgoing",     "missed",
                              "incoming_video", "outgoing_video", "missed_video", "outgoing_viber_out"};
const char *const kChatKinds[] = {"chat", "channel", "my_notes"};

QString nameOf(const char *const *names, int count, int value)
{
    return QString::fromLatin1(value >= 0 && value < count ? names[value] : names[0]);
}

QJsonValue personObject(const _ViberPerson *person)
{
    if (!person)
        return QJsonValue::Null;
    return QJsonObject{{QStringLiteral("name"), person->name}, {QStringLiteral("phone"), person->phone}};
}

} // namespace

// ISO 8601 in local time with its offset, so that the moment is exact and reads as the
// user saw it. Zones change their offset only on quarter hours: it is looked up once
// for each, not for every message, which would take half of the export's time.
QString ExportMessagesJson::isoDate(double storeTime)
{
    const qint64 secs = storeTimeToSecs(storeTime);
    const qint64 quarter = secs >= 0 ? secs / 900 : (secs - 899) / 900;
    auto it = m_offsets.constFind(quarter);
    if (it == m_offsets.cend())
        it = m_offsets.insert(quarter,
                              QDateTime::fromSecsSinceEpoch(secs, Qt::UTC).toLocalTime().offsetFromUtc());
    const int offset = *it;
    QString text = QDateTime::fromSecsSinceEpoch(secs + offset, Qt::UTC).toString(u"yyyy-MM-ddTHH:mm:ss");
    if (offset == 0)
        return text + QLatin1Char('Z');
    const int minutes = qAbs(offset) / 60;
    return text + (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

namespace {

// A file's path from the store's "Documents" folder on; files elsewhere by name.
QString relativePath(const QString &path)
{
    const qsizetype documents = path.lastIndexOf(QLatin1String("/Documents/"));
    return documents >= 0 ? path.mid(documents + 1) : path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

QJsonObject ExportMessagesJson::chatObject(const _ViberChat &chat)
{
    QJsonArray participants;
    for (const _ViberPerson *person : MessageText::participantsByPhone(&chat))
        participants.append(personObject(person));
    return {{QStringLiteral("id"), chat.id},
            {QStringLiteral("title"), MessageText::chatTitle(&chat)},
            {QStringLiteral("groupId"), chat.groupId},
            {QStringLiteral("kind"), nameOf(kChatKinds, 3, int(chatKind(&chat)))},
            {QStringLiteral("participants"), participants}};
}

QJsonObject ExportMessagesJson::messageObject(const _ViberMsg &msg)
{
    const bool outgoing = isOutgoing(&msg);
    QJsonObject o{
        {QStringLiteral("id"), msg.id},
        {QStringLiteral("date"), isoDate(msg.date)},
        {QStringLiteral("direction"), outgoing ? QStringLiteral("outgoing") : QStringLiteral("incoming")},
        {QStringLiteral("state"), nameOf(kStates, 5, msg.state)},
        {QStringLiteral("type"), MessageText::kindName(msg.type)},
        // A one-to-one chat's outgoing message names the other party, not its sender.
        {QStringLiteral("sender"), outgoing ? QJsonValue::Null : personObject(msg.person)},
        {QStringLiteral("text"), msg.text}};
    if (msg.token != 0)
        o.insert(QStringLiteral("token"), QString::number(msg.token));
    if (msg.type == ViberMsgTypeSystem)
        o.insert(QStringLiteral("systemText"), MessageText::systemText(&msg));
    // What a reader sees, where it differs from the stored text (formatted messages,
    // quotes, forwards, polls, files); the store's own values beside it, unchanged.
    if (const QString shown = MessageText::plainText(&msg);
        shown != msg.text && msg.type != ViberMsgTypeSystem && msg.type != ViberMsgTypeCall)
        o.insert(QStringLiteral("shownText"), shown);
    if (!msg.other.isEmpty()) {
        const QVariantMap columns = readExtraColumns(&msg);
        const QString systemType = columns.value(QStringLiteral("ZSYSTEMTYPE")).toString();
        if (!systemType.isEmpty())
            o.insert(QStringLiteral("storeSystemType"), systemType);
        const QString metadata = columns.value(QStringLiteral("ZMETADATA")).toString();
        if (!metadata.isEmpty()) {
            // Kept as the JSON it is; text that is no JSON object stays text.
            const QJsonDocument doc = QJsonDocument::fromJson(metadata.toUtf8());
            o.insert(QStringLiteral("metadata"),
                     doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(metadata));
        }
    }
    if (msg.latitude() != 0 || msg.longitude() != 0)
        o.insert(QStringLiteral("location"), QJsonObject{{QStringLiteral("latitude"), msg.latitude()},
                                                         {QStringLiteral("longitude"), msg.longitude()},
                                                         {QStringLiteral("address"), msg.address()}});
    if (const _ViberAtta *a = msg.attachment) {
        QJsonObject att{
            {QStringLiteral("type"), a->type.isEmpty() ? MessageText::kindName(msg.type) : a->type},
            {QStringLiteral("name"), a->fileName},
            {QStringLiteral("size"), a->fileSize},
            {QStringLiteral("duration"), a->duration}};
        if (!a->filePath.isEmpty())
            att.insert(QStringLiteral("path"), relativePath(a->filePath));
        if (!a->previewPath.isEmpty())
            att.insert(QStringLiteral("preview"), relativePath(a->previewPath));
        o.insert(QStringLiteral("attachment"), att);
    }
    if (const _ViberCall *c = msg.call) {
        QJsonObject call{{QStringLiteral("type"), nameOf(kCalls, 8, c->type)},
                         {QStringLiteral("duration"), c->duration},
                         {QStringLiteral("text"), MessageText::callText(c)},
                         {QStringLiteral("person"), personObject(c->person)}};
        const QString stored = readExtraColumns(c).value(QStringLiteral("ZCALLTYPE")).toString();
        if (!stored.isEmpty())
            call.insert(QStringLiteral("storeType"), stored);
        o.insert(QStringLiteral("call"), call);
    }
    return o;
}

void ExportMessagesJson::begin()
{
    open();
    if (m_list)
        writeUtf8("[\n");
}

void ExportMessagesJson::write(const _ViberMsg &msg)
{
    if (msg.chat != m_chat)
        flushChat();
    m_chat = msg.chat;
    // Each message is laid out when it comes: an array of a chat's thousands of
    // objects costs more to build than to write.
    if (!m_messages.isEmpty())
        m_messages += ",\n";
    m_messages += "        " + nested(messageObject(msg), 2);
}

QByteArray ExportMessagesJson::nested(const QJsonObject &object, int depth)
{
    QByteArray text = QJsonDocument(object).toJson(QJsonDocument::Indented);
    text.chop(1); // the document's last line break
    return text.replace("\n", "\n" + QByteArray(4 * depth, ' '));
}

void ExportMessagesJson::flushChat()
{
    if (!m_chat)
        return;
    // As the indented document writer lays out {"chat": ..., "messages": [...]}.
    if (m_list && m_written > 0)
        writeUtf8(",\n");
    writeUtf8("{\n    \"chat\": " + nested(chatObject(*m_chat), 1) + ",\n    \"messages\": [\n" + m_messages +
              "\n    ]\n}\n");
    ++m_written;
    m_chat = nullptr;
    m_messages.clear();
}

void ExportMessagesJson::finish()
{
    flushChat();
    if (m_list)
        writeUtf8("]\n");
    StreamedFileExport::finish();
}
