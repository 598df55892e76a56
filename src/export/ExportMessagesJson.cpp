#include "ExportMessagesJson.h"

#include "MessageText.h"

#include <QJsonDocument>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace {

const char *const kStates[] = {"none", "delivered", "received", "sent", "pending"};
const char *const kCalls[] = {"unknown",        "incoming",       "outgoing",     "missed",
                              "incoming_video", "outgoing_video", "missed_video", "outgoing_viber_out"};
const char *const kChatKinds[] = {"chat", "channel", "my_notes"};

QString nameOf(const char *const *names, int count, int value)
{
    return QString::fromLatin1(value >= 0 && value < count ? names[value] : names[0]);
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

namespace {

// Lays out an object as the indented document writer does (four spaces a level,
// keys in the order given, which must be the writer's sorted order), written
// straight into the output: building a QJsonObject for each of 100,000 messages
// costs more than the writing.
class JsonLayout
{
public:
    JsonLayout(QByteArray &out, int depth) : m_out(out), m_depth(depth) { m_out += "{\n"; }
    JsonLayout(const JsonLayout &) = delete;
    JsonLayout &operator=(const JsonLayout &) = delete;

    void text(const char *key, QStringView value)
    {
        name(key);
        quoted(value);
    }
    void integer(const char *key, qint64 value)
    {
        name(key);
        m_out += QByteArray::number(value);
    }
    void number(const char *key, double value)
    {
        name(key);
        // As a JSON value holds it: whole numbers within a double's exact range as
        // integers, others in their shortest form, and no infinities.
        if (!qIsFinite(value))
            m_out += "null";
        else if (value == std::trunc(value) && std::abs(value) <= kExactWhole)
            m_out += QByteArray::number(qint64(value));
        else
            m_out += QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
    }
    void null(const char *key)
    {
        name(key);
        m_out += "null";
    }
    // value is already laid out at this depth.
    void raw(const char *key, const QByteArray &value)
    {
        name(key);
        m_out += value;
    }
    // Opens an object as the value of key; close() it before the next key.
    JsonLayout object(const char *key)
    {
        name(key);
        return JsonLayout(m_out, m_depth + 1);
    }
    void person(const char *key, const _ViberPerson *person)
    {
        name(key);
        JsonLayout::person(m_out, m_depth + 1, person);
    }
    // A person's object, or null.
    static void person(QByteArray &out, int depth, const _ViberPerson *person)
    {
        if (!person) {
            out += "null";
            return;
        }
        JsonLayout p(out, depth);
        p.text("name", person->name);
        p.text("phone", person->phone);
        p.close();
    }
    void close()
    {
        if (m_fields > 0)
            m_out += '\n';
        m_out.append(4 * m_depth, ' ');
        m_out += '}';
    }

    // A JSON string, escaped as the document writer escapes it: UTF-8, with control
    // characters, quotes, backslashes and unpaired surrogates as escapes.
    static void quote(QByteArray &out, QStringView value)
    {
        static const char hex[] = "0123456789abcdef";
        out += '"';
        const char16_t *p = value.utf16(), *end = p + value.size();
        while (p != end) {
            const char16_t *plain = p;
            while (p != end && *p >= 0x20 && *p < 0x80 && *p != '"' && *p != '\\')
                ++p;
            if (p != plain) {
                const qsizetype at = out.size();
                out.resize(at + (p - plain));
                std::copy(plain, p, out.data() + at);
            }
            if (p == end)
                break;
            const char16_t u = *p;
            if (u < 0x80) {
                out += '\\';
                switch (u) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '\b':
                    out += 'b';
                    break;
                case '\f':
                    out += 'f';
                    break;
                case '\n':
                    out += 'n';
                    break;
                case '\r':
                    out += 'r';
                    break;
                case '\t':
                    out += 't';
                    break;
                default:
                    out += "u00";
                    out += hex[u >> 4];
                    out += hex[u & 0xf];
                }
                ++p;
                continue;
            }
            const char16_t *run = p;
            while (p != end && *p >= 0x80 && !(QChar::isSurrogate(*p)))
                ++p;
            if (p != run) {
                out += QStringView(run, p).toUtf8();
                continue;
            }
            if (QChar::isHighSurrogate(*p) && p + 1 != end && QChar::isLowSurrogate(p[1])) {
                out += QStringView(p, 2).toUtf8();
                p += 2;
                continue;
            }
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += hex[(*p >> shift) & 0xf];
            ++p;
        }
        out += '"';
    }

private:
    static constexpr double kExactWhole = 9007199254740992.0; // 2^53

    void name(const char *key)
    {
        if (m_fields++ > 0)
            m_out += ",\n";
        m_out.append(4 * (m_depth + 1), ' ');
        m_out += '"';
        m_out += key;
        m_out += "\": ";
    }
    void quoted(QStringView value) { quote(m_out, value); }

    QByteArray &m_out;
    int m_depth;
    int m_fields = 0;
};

} // namespace

void ExportMessagesJson::layChat(QByteArray &out, const _ViberChat &chat)
{
    JsonLayout o(out, 1);
    o.text("groupId", chat.groupId);
    o.integer("id", chat.id);
    o.text("kind", nameOf(kChatKinds, 3, int(chatKind(&chat))));
    // The array as the document writer lays it out, empty or not.
    o.raw("participants", "[\n");
    const QList<const _ViberPerson *> people = MessageText::participantsByPhone(&chat);
    for (qsizetype i = 0; i < people.size(); ++i) {
        out.append(4 * 3, ' ');
        JsonLayout::person(out, 3, people.at(i));
        out += i + 1 < people.size() ? ",\n" : "\n";
    }
    out.append(4 * 2, ' ');
    out += ']';
    o.text("title", MessageText::chatTitle(&chat));
    o.close();
}

void ExportMessagesJson::layMessage(QByteArray &out, const _ViberMsg &msg)
{
    const bool outgoing = isOutgoing(&msg);
    QString storeSystemType;
    QByteArray metadata;
    if (mayHoldExtraColumn(&msg, {"ZSYSTEMTYPE", "ZMETADATA"})) {
        const QVariantMap columns = readExtraColumns(&msg);
        storeSystemType = columns.value(QStringLiteral("ZSYSTEMTYPE")).toString();
        const QString stored = columns.value(QStringLiteral("ZMETADATA")).toString();
        if (!stored.isEmpty()) {
            // Kept as the JSON it is; text that is no JSON object stays text.
            const QJsonDocument doc = QJsonDocument::fromJson(stored.toUtf8());
            if (doc.isObject()) {
                metadata = nested(doc.object(), 3);
            } else {
                JsonLayout::quote(metadata, stored);
            }
        }
    }
    JsonLayout o(out, 2);
    if (const _ViberAtta *a = msg.attachment) {
        JsonLayout att = o.object("attachment");
        att.number("duration", a->duration);
        att.text("name", a->fileName);
        if (!a->filePath.isEmpty())
            att.text("path", relativePath(a->filePath));
        if (!a->previewPath.isEmpty())
            att.text("preview", relativePath(a->previewPath));
        att.integer("size", a->fileSize);
        att.text("type", a->type.isEmpty() ? MessageText::kindName(msg.type) : a->type);
        att.close();
    }
    if (const _ViberCall *c = msg.call) {
        JsonLayout call = o.object("call");
        call.integer("duration", c->duration);
        call.person("person", c->person);
        const QString stored = readExtraColumns(c).value(QStringLiteral("ZCALLTYPE")).toString();
        if (!stored.isEmpty())
            call.text("storeType", stored);
        call.text("text", MessageText::callText(c));
        call.text("type", nameOf(kCalls, 8, c->type));
        call.close();
    }
    o.text("date", isoDate(msg.date));
    o.text("direction", outgoing ? u"outgoing" : u"incoming");
    o.integer("id", msg.id);
    if (msg.latitude() != 0 || msg.longitude() != 0) {
        JsonLayout place = o.object("location");
        place.text("address", msg.address());
        place.number("latitude", msg.latitude());
        place.number("longitude", msg.longitude());
        place.close();
    }
    if (!metadata.isEmpty())
        o.raw("metadata", metadata);
    // A one-to-one chat's outgoing message names the other party, not its sender.
    if (outgoing)
        o.null("sender");
    else
        o.person("sender", msg.person);
    // What a reader sees, where it differs from the stored text (formatted messages,
    // quotes, forwards, polls, files); the store's own values beside it, unchanged.
    if (msg.type != ViberMsgTypeSystem && msg.type != ViberMsgTypeCall) {
        if (const QString shown = MessageText::plainText(&msg); shown != msg.text)
            o.text("shownText", shown);
    }
    o.text("state", nameOf(kStates, 5, msg.state));
    if (!storeSystemType.isEmpty())
        o.text("storeSystemType", storeSystemType);
    if (msg.type == ViberMsgTypeSystem)
        o.text("systemText", MessageText::systemText(&msg));
    o.text("text", msg.text.toString());
    if (msg.token != 0)
        o.text("token", QString::number(msg.token));
    o.text("type", MessageText::kindName(msg.type));
    o.close();
}

QJsonObject ExportMessagesJson::messageObject(const _ViberMsg &msg)
{
    QByteArray out;
    layMessage(out, msg);
    return QJsonDocument::fromJson(out).object();
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
    m_messages += "        ";
    layMessage(m_messages, msg);
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
    QByteArray chat = "{\n    \"chat\": ";
    layChat(chat, *m_chat);
    writeUtf8(chat + ",\n    \"messages\": [\n" + m_messages + "\n    ]\n}\n");
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
