#include "DesktopFixtures.h"

#include "viber/Sqlite3DB.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

#include <stdexcept>

using namespace Qt::StringLiterals;

namespace fixtures {

namespace {

const char *const kClassicSchema = R"(
CREATE TABLE OriginNumberInfo (Number TEXT, ClientName TEXT, AvatarPath TEXT, Downloadid TEXT);
CREATE TABLE ChatInfo (ChatId INTEGER PRIMARY KEY, TimeStamp INTEGER, Name TEXT, Token INTEGER, Flags INTEGER);
CREATE TABLE ChatRelation (ChatId INTEGER, Number TEXT);
CREATE TABLE Events (EventId INTEGER PRIMARY KEY, TimeStamp INTEGER, Direction INTEGER, Type INTEGER,
  ContactLongitude INTEGER, ContactLatitude INTEGER, ChatID INTEGER, Number TEXT, Token INTEGER);
CREATE TABLE Messages (EventId INTEGER PRIMARY KEY, Type INTEGER, PayloadPath TEXT, ThumbnailPath TEXT,
  Subject TEXT, Body TEXT, Duration INTEGER, PttID TEXT, PttDuration INTEGER, StickerID INTEGER);
CREATE TABLE Calls (EventId INTEGER PRIMARY KEY, Duration INTEGER);
)";

const char *const kContactsSchema = R"(
CREATE TABLE Contact (ContactID INTEGER PRIMARY KEY, Name TEXT, Number TEXT, ClientName TEXT);
CREATE TABLE ChatInfo (ChatId INTEGER PRIMARY KEY, TimeStamp INTEGER, Name TEXT, Token INTEGER, Flags INTEGER);
CREATE TABLE ChatRelation (ChatId INTEGER, ContactID INTEGER);
CREATE TABLE Events (EventId INTEGER PRIMARY KEY, TimeStamp INTEGER, Direction INTEGER, Type INTEGER,
  ContactLongitude INTEGER, ContactLatitude INTEGER, ChatID INTEGER, ContactID INTEGER, Token INTEGER);
CREATE TABLE Messages (EventId INTEGER PRIMARY KEY, Type INTEGER, PayloadPath TEXT, ThumbnailPath TEXT,
  Subject TEXT, Body TEXT, Duration INTEGER, PttID TEXT, PttDuration INTEGER, StickerID INTEGER);
CREATE TABLE Calls (EventId INTEGER PRIMARY KEY, Duration INTEGER);
)";

QString when(double storeTime)
{
    return storeTimeToDateTime(storeTime).toUTC().toString(Qt::ISODate);
}

QString who(const _ViberPerson *person)
{
    return person ? personDisplayName(person) : u"-"_s;
}

QVariant textOrNull(const QString &text)
{
    return text.isEmpty() ? QVariant() : QVariant(text);
}

} // namespace

qint64 desktopTypeValue(DesktopKind kind, DesktopLayout layout)
{
    const bool classic = layout == DesktopLayout::Classic;
    switch (kind) {
    case DesktopKind::Text:
        return classic ? 0x40 : 1;
    case DesktopKind::Picture:
        return classic ? 0x80 : 2;
    case DesktopKind::Video:
        return classic ? 0x200 : 3;
    case DesktopKind::Sticker:
        return classic ? 0x800 : 4;
    case DesktopKind::Voice:
        return classic ? 0x10000 : 6;
    case DesktopKind::Location:
        return classic ? 0x1000 : -1;
    case DesktopKind::Link:
        return classic ? -1 : 9;
    case DesktopKind::AudioFile:
        return classic ? -1 : 11;
    }
    return -1;
}

DesktopStore sampleDesktopStore()
{
    DesktopStore s;
    const QString roaming = u"C:\\Users\\me\\AppData\\Roaming\\ViberPC\\447700900000\\"_s;
    s.contacts = {{1, u"447700900001"_s, u"Ann"_s, roaming + u"Avatars\\ann.jpg"_s},
                  {2, u"447700900002"_s, u"Bob"_s, {}},
                  {3, u"447700900003"_s, u"Cid"_s, {}}};
    const qint64 t = 1500000000000; // 2017-07-14T02:40:00Z
    s.chats = {{10, t, {}, u"447700900001"_s, {1}},
               {11, t + 60000, u"Friends"_s, u"6012345678901"_s, {1, 2, 3}},
               {12, t + 120000, u"Old group"_s, u"6012345678902"_s, {}}};
    auto msg = [&](qint64 id, qint64 chat, qint64 contact, bool out, DesktopKind kind, qint64 token) {
        DesktopMessage m;
        m.eventId = id, m.chat = chat, m.contact = contact, m.outgoing = out, m.kind = kind, m.token = token;
        m.msecs = t + id * 1000;
        return m;
    };
    DesktopMessage hello = msg(100, 10, 1, false, DesktopKind::Text, 9001);
    hello.body = u"Hello"_s;
    DesktopMessage reply = msg(101, 10, 1, true, DesktopKind::Text, 9002);
    reply.body = u"Hi Ann"_s;
    DesktopMessage picture = msg(102, 11, 2, false, DesktopKind::Picture, 9003);
    picture.payloadPath = roaming + u"Pictures\\IMG_1.JPG"_s;
    picture.thumbnailPath = roaming + u"Thumbnails\\IMG_1.jpg"_s;
    picture.subject = u"Beach"_s;
    DesktopMessage video = msg(103, 11, 3, false, DesktopKind::Video, 0);
    video.payloadPath = u"/home/me/ViberDownloads/clip.mp4"_s;
    video.durationMsecs = 12345;
    DesktopMessage sticker = msg(104, 11, 0, true, DesktopKind::Sticker, 9005);
    sticker.stickerId = 123456;
    DesktopMessage voice = msg(105, 10, 1, false, DesktopKind::Voice, 9006);
    voice.pttId = u"ptt-7f3a.m4a"_s;
    voice.durationMsecs = 1999;
    DesktopMessage placed = msg(106, 10, 1, false, DesktopKind::Text, 9007);
    placed.body = u"Here"_s;
    placed.latitude = 51507351;
    placed.longitude = -127000;
    s.messages = {hello, reply, picture, video, sticker, voice, placed};
    s.calls = {{200, 10, 1, false, t + 500000, 5, 7001},
               {201, 10, 1, false, t + 510000, 0, 7002},
               {202, 10, 1, true, t + 520000, 0, 7003}};
    return s;
}

void writeDesktopStore(const DesktopStore &store, const QString &path, DesktopLayout layout)
{
    if (QFileInfo::exists(path) || !QDir().mkpath(QFileInfo(path).absolutePath()))
        throw std::runtime_error("the fixture file exists already or its folder cannot be made");
    const bool classic = layout == DesktopLayout::Classic;
    QHash<qint64, QString> numberOf;
    for (const DesktopContact &c : store.contacts)
        numberOf.insert(c.id, c.number);
    // How Events and ChatRelation name a contact; a contact 0 is none.
    auto ref = [&](qint64 contact) -> QVariant {
        if (contact == 0)
            return {};
        return classic ? QVariant(numberOf.value(contact)) : QVariant(contact);
    };
    auto time = [&](qint64 msecs) { return classic ? msecs / 1000 : msecs; };

    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::ReadWrite | Sqlite3DB::Create);
    db.execThrow(u"BEGIN;"_s + QString::fromLatin1(classic ? kClassicSchema : kContactsSchema));
    for (const DesktopContact &c : store.contacts) {
        Sqlite3Sql sql(classic ? "INSERT INTO OriginNumberInfo (rowid, Number, ClientName, AvatarPath) "
                                 "VALUES (?, ?, ?, ?)"
                               : "INSERT INTO Contact (ContactID, Number, ClientName) VALUES (?, ?, ?)");
        sql.addInt64Param(c.id).addTextParam(c.number).addTextParam(c.clientName);
        if (classic)
            sql.addParam(textOrNull(c.avatarPath));
        db.executeThrow(sql);
    }
    for (const DesktopChat &c : store.chats) {
        db.executeThrow(
            Sqlite3Sql("INSERT INTO ChatInfo (ChatId, TimeStamp, Name, Token) VALUES (?, ?, ?, ?)")
                .addInt64Param(c.id)
                .addInt64Param(time(c.msecs))
                .addParam(textOrNull(c.name))
                .addParam(textOrNull(c.token)));
        for (qint64 member : c.members)
            db.executeThrow(Sqlite3Sql(classic ? "INSERT INTO ChatRelation (ChatId, Number) VALUES (?, ?)"
                                               : "INSERT INTO ChatRelation (ChatId, ContactID) VALUES (?, ?)")
                                .addInt64Param(c.id)
                                .addParam(ref(member)));
    }
    const Sqlite3Sql event(
        classic ? "INSERT INTO Events (EventId, TimeStamp, Direction, ContactLongitude, "
                  "ContactLatitude, ChatID, Number, Token) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"
                : "INSERT INTO Events (EventId, TimeStamp, Direction, ContactLongitude, "
                  "ContactLatitude, ChatID, ContactID, Token) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    for (const DesktopMessage &m : store.messages) {
        const qint64 type = m.type >= 0 ? m.type : desktopTypeValue(m.kind, layout);
        if (type < 0)
            throw std::runtime_error("the layout has no message type for this kind");
        db.executeThrow(Sqlite3Sql(event)
                            .addInt64Param(m.eventId)
                            .addInt64Param(time(m.msecs))
                            .addIntParam(m.outgoing ? 1 : 0)
                            .addInt64Param(m.longitude)
                            .addInt64Param(m.latitude)
                            .addInt64Param(m.chat)
                            .addParam(ref(m.contact))
                            .addInt64Param(m.token));
        db.executeThrow(
            Sqlite3Sql("INSERT INTO Messages (EventId, Type, PayloadPath, ThumbnailPath, Subject, "
                       "Body, Duration, PttID, StickerID) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)")
                .addInt64Param(m.eventId)
                .addInt64Param(type)
                .addParam(textOrNull(m.payloadPath))
                .addParam(textOrNull(m.thumbnailPath))
                .addParam(textOrNull(m.subject))
                .addParam(textOrNull(m.body))
                .addParam(m.durationMsecs < 0 ? QVariant() : QVariant(m.durationMsecs))
                .addParam(textOrNull(m.pttId))
                .addInt64Param(m.stickerId));
    }
    for (const DesktopCall &c : store.calls) {
        db.executeThrow(Sqlite3Sql(event)
                            .addInt64Param(c.eventId)
                            .addInt64Param(time(c.msecs))
                            .addIntParam(c.outgoing ? 1 : 0)
                            .addInt64Param(0)
                            .addInt64Param(0)
                            .addInt64Param(c.chat)
                            .addParam(ref(c.contact))
                            .addInt64Param(c.token));
        db.executeThrow(Sqlite3Sql("INSERT INTO Calls (EventId, Duration) VALUES (?, ?)")
                            .addInt64Param(c.eventId)
                            .addInt64Param(c.durationSecs));
    }
    db.execThrow(u"COMMIT;"_s);
}

QString typeName(ViberMsgType type)
{
    static const char *const names[] = {"?",     "call",    "picture", "location", "system",
                                        "audio", "sticker", "text",    "video",    "file"};
    return QString::fromLatin1(type >= 1 && type <= 9 ? names[type] : names[0]);
}

QStringList recordLines(const ViberData &d)
{
    QStringList lines;
    QList<qint64> ids = d.chats.keys();
    std::sort(ids.begin(), ids.end());
    for (qint64 id : std::as_const(ids)) {
        const _ViberChat *chat = d.chats.value(id);
        QStringList members;
        for (const _ViberPerson *p : chat->participants)
            members << who(p);
        members.sort();
        lines << u"chat %1 '%2' group '%3' %4 [%5]"_s.arg(id).arg(chat->name, chat->groupId, when(chat->date),
                                                                  members.join(u", "_s));
    }
    ids = d.messages.keys();
    std::sort(ids.begin(), ids.end());
    const QString home = QDir::homePath();
    for (qint64 id : std::as_const(ids)) {
        const _ViberMsg *m = d.messages.value(id);
        QString line =
            u"msg %1 in %2 %3 %4 %5 %6 token %7 '%8'"_s.arg(id)
                .arg(m->chat->id)
                .arg(typeName(m->type), isOutgoing(m) ? u"out"_s : u"in"_s, who(m->person), when(m->date))
                .arg(m->token)
                .arg(m->text);
        if (m->latitude != 0 || m->longitude != 0)
            line += u" at %1,%2"_s.arg(m->latitude, 0, 'g', 10).arg(m->longitude, 0, 'g', 10);
        if (const _ViberAtta *a = m->attachment)
            line += u" | '%1' path '%2' preview '%3' id '%4' %5s"_s
                        .arg(a->fileName, a->filePath, a->previewPath, a->attId)
                        .arg(a->duration)
                        .replace(home, u"~"_s);
        if (const _ViberCall *c = m->call) {
            static const char *const types[] = {"?", "incoming", "outgoing", "missed"};
            line += u" | call %1 %2s %3"_s.arg(QLatin1String(types[c->type]))
                        .arg(c->duration)
                        .arg(who(c->person));
        }
        lines << line;
    }
    return lines;
}

} // namespace fixtures
