#include "StoreFixtures.h"

#include "TestSupport.h"

#include "viber/Sqlite3DB.h"
#include "viber/TinyKv.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QVariantMap>

#include <algorithm>
#include <stdexcept>
#include <type_traits>

using namespace Qt::StringLiterals;

namespace fixtures {

namespace {

template <typename T> qint64 nextKey(const std::deque<T> &records)
{
    qint64 max = 0;
    for (const T &r : records)
        max = std::max(max, r.pk);
    return max + 1;
}

template <typename T> QVariant orNull(const T &value)
{
    return value.isEmpty() ? QVariant() : QVariant(value);
}

const char kPhoneSchema[] = R"SQL(
CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);
CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);
CREATE TABLE ZABCONTACT (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZRECORDID INTEGER,
    ZSORTORDER INTEGER, ZMAINNAME VARCHAR, ZSORTNAME VARCHAR);
CREATE TABLE ZCONVERSATION (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCONTEXT INTEGER,
    ZISLOCATION INTEGER, ZISMUTED INTEGER, ZLASTMESSAGETOKEN INTEGER, ZSMARTNOTIFICATIONSHOWN INTEGER,
    ZSMARTSTATE INTEGER, ZUID INTEGER, ZUNREADCOUNT INTEGER, ZLASTMESSAGESENDER INTEGER, ZDATE TIMESTAMP,
    ZLASTGENERALNOTIFICATIONDATE TIMESTAMP, ZBACKGROUND VARCHAR, ZGROUPID VARCHAR, ZICONID VARCHAR,
    ZLASTMESSAGETEXT VARCHAR, ZLASTMESSAGETYPE VARCHAR, ZNAME VARCHAR, ZLASTMESSAGEEMOTICONSRANGES BLOB,
    ZLASTMESSAGERANGES BLOB);
CREATE TABLE ZPHONENUMBERINDEX (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZAPPID INTEGER,
    ZGROUPID INTEGER, ZISBLOCKED INTEGER, ZISSYSTEM INTEGER, ZISVIBER INTEGER, ZUID INTEGER, ZCONTACT INTEGER,
    ZCANONIZEDPHONENUM VARCHAR, ZICONID VARCHAR, ZNAME VARCHAR, ZPHONENUM VARCHAR, ZPHONETYPE VARCHAR);
CREATE TABLE Z_5PHONENUMINDEXES (Z_5CONVERSATIONS INTEGER, Z_10PHONENUMINDEXES INTEGER,
    PRIMARY KEY (Z_5CONVERSATIONS, Z_10PHONENUMINDEXES));
CREATE TABLE ZVIBERMESSAGE (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZDELIVEREDCOUNT INTEGER,
    ZFORWARDTYPE INTEGER, ZMESSAGEID INTEGER, ZSEQ INTEGER, ZTOKEN INTEGER, ZUID INTEGER, ZATTACHMENT INTEGER,
    ZCONVERSATION INTEGER, Z5_CONVERSATION INTEGER, ZLOCATION INTEGER, ZPHONENUMINDEX INTEGER, ZDATE TIMESTAMP,
    ZSTATEDATE TIMESTAMP, ZCALLTYPE VARCHAR, ZSTATE VARCHAR, ZSYSTEMTYPE VARCHAR, ZTEXT VARCHAR,
    ZEMOTICONSRANGES BLOB, ZRANGES BLOB);
CREATE TABLE ZVIBERLOCATION (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZUID INTEGER,
    ZMESSAGE INTEGER, ZVIBE INTEGER, ZDATE TIMESTAMP, ZHORIZONTALACCURACY FLOAT, ZLATITUDE FLOAT,
    ZLONGITUDE FLOAT, ZADDRESS VARCHAR);
CREATE TABLE ZATTACHMENT (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCACHEPOLICY INTEGER,
    ZFILESIZE INTEGER, ZMEDIADOWNLOADTYPE INTEGER, ZSEQ INTEGER, ZUID INTEGER, ZMESSAGE INTEGER,
    ZDURATION FLOAT, ZRANGE FLOAT, ZID VARCHAR, ZBUCKET VARCHAR, ZFILEHASH VARCHAR, ZNAME VARCHAR,
    ZSTATE VARCHAR, ZTYPE VARCHAR, ZURL VARCHAR);
CREATE TABLE ZRECENT (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCALLTOKEN INTEGER,
    ZDURATION INTEGER, ZREAD INTEGER, ZCALLLOGMESSAGE INTEGER, ZRECENTSLINE INTEGER, ZDATE TIMESTAMP,
    ZCALLTYPE VARCHAR);
CREATE TABLE ZRECENTSLINE (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZCOUNT INTEGER,
    ZUID INTEGER, ZCONTACT INTEGER, ZPHONENUMINDEX INTEGER, ZDATE TIMESTAMP, ZCALLTYPE VARCHAR,
    ZPHONENUMBER VARCHAR);
CREATE INDEX ZVIBERMESSAGE_ZCONVERSATION_INDEX ON ZVIBERMESSAGE (ZCONVERSATION);
CREATE INDEX Z_ViberMessage_byTokenIndex ON ZVIBERMESSAGE (ZTOKEN COLLATE BINARY ASC);
CREATE INDEX ZVIBERLOCATION_ZMESSAGE_INDEX ON ZVIBERLOCATION (ZMESSAGE);
CREATE INDEX Z_5PHONENUMINDEXES_Z_10PHONENUMINDEXES_INDEX ON Z_5PHONENUMINDEXES (Z_10PHONENUMINDEXES, Z_5CONVERSATIONS);
CREATE INDEX ZRECENT_ZRECENTSLINE_INDEX ON ZRECENT (ZRECENTSLINE);
INSERT INTO Z_PRIMARYKEY (Z_ENT, Z_NAME, Z_SUPER, Z_MAX) VALUES
    (1, 'ABContact', 0, 0), (2, 'ABContactNumber', 0, 0), (3, 'Attachment', 0, 0), (4, 'ABContactSource', 0, 0),
    (5, 'Conversation', 0, 0), (6, 'ConversationRole', 0, 0), (7, 'DeletedViberMessage', 0, 0),
    (8, 'FavIndex', 0, 0), (9, 'Like', 0, 0), (10, 'PhoneNumberIndex', 0, 0), (11, 'PhoneNumberMapping', 0, 0),
    (12, 'Vibe', 0, 0), (13, 'Recent', 0, 0), (14, 'RecentsLine', 0, 0), (15, 'Statistics', 0, 0),
    (16, 'Sticker', 0, 0), (17, 'StickersPackage', 0, 0), (18, 'Tag', 0, 0), (19, 'TransferTask', 0, 0),
    (20, 'ViberLocation', 0, 0), (21, 'ViberMessage', 0, 0);
)SQL";

// A row's columns, named in space-separated lists, and their values in order.
struct Row
{
    QList<QByteArray> names;
    QVariantList values;
    Row &add(const char *columns, const QVariantList &v)
    {
        names += QByteArray(columns).split(' ');
        values += v;
        if (names.size() != values.size())
            throw std::logic_error(std::string("fixture columns without values: ") + columns);
        return *this;
    }
};

// The rows sql selects, each as its values joined by "|".
QStringList select(Sqlite3DB &db, const QString &sql)
{
    Sqlite3Cursor c = db.queryThrow(sql);
    QStringList out;
    const QStringList columns = c.columnNames();
    while (c.moveNext()) {
        QStringList values;
        for (const QString &col : columns) {
            const QVariant v = c.value(col);
            values << (v.isNull()                            ? u"NULL"_s
                       : v.typeId() == QMetaType::QByteArray ? QString::fromLatin1(v.toByteArray().toHex())
                                                             : v.toString());
        }
        out << values.join(u'|');
    }
    return out;
}

} // namespace

PersonPlan &StorePlan::addPerson(const QString &label, const QString &canonPhone, const QString &viberName,
                                 const QString &contactName)
{
    const qint64 pk = nextKey(persons);
    const QString phone = canonPhone.isEmpty() ? QString() : u'+' + canonPhone;
    return persons.emplace_back(PersonPlan{label, pk, canonPhone, phone, viberName, QString(), contactName,
                                           contactName.isEmpty() ? 0 : pk * 11});
}

ChatPlan &StorePlan::addChat(const QString &label, const QList<qint64> &participants, const QString &groupId,
                             const QString &name)
{
    const qint64 pk = nextKey(chats);
    return chats.emplace_back(ChatPlan{label, pk, 700000000.0 + double(pk), groupId, name, QString(),
                                       participants, 0, QVariant(), 0});
}

MessagePlan &StorePlan::addMessage(const QString &label, qint64 chat, qint64 person, const QString &state,
                                   const QString &text, const QString &systemType)
{
    const qint64 pk = nextKey(messages);
    const double date = 710000000.25 + double(pk) * 60.0;
    for (ChatPlan &c : chats)
        if (c.pk == chat)
            c.date = std::max(c.date, date);
    return messages.emplace_back(MessagePlan{label, pk, chat, person, 5860000000000000000LL + pk,
                                             2100000000LL + pk, date, date + 2.5, state, systemType, text,
                                             QByteArray(), QByteArray()});
}

LocationPlan &StorePlan::addLocation(const QString &label, qint64 message, double latitude, double longitude,
                                     const QString &address)
{
    return locations.emplace_back(
        LocationPlan{label, nextKey(locations), message, latitude, longitude, address});
}

AttachmentPlan &StorePlan::addAttachment(const QString &label, qint64 message, const QString &type,
                                         const QString &name, const QString &attId)
{
    const qint64 pk = nextKey(attachments);
    return attachments.emplace_back(AttachmentPlan{label, pk, message, type, name, attId,
                                                   u"bucket-%1"_s.arg(pk), 1000 + pk, 300 + pk, 1000 + pk, 0,
                                                   u"complete"_s, QString()});
}

CallPlan &StorePlan::addCall(const QString &label, qint64 person, const QString &callType)
{
    const qint64 pk = nextKey(calls);
    return calls.emplace_back(CallPlan{label, pk, person, 9000000000LL + pk, qint32(10 * pk),
                                       720000000.5 + double(pk) * 3600.0, callType});
}

FilePlan &StorePlan::addFile(const QString &relativePath, FileKind kind, QSize size)
{
    return files.emplace_back(FilePlan{relativePath, kind, size});
}

StorePlan sampleStoreAndMore(bool newCall)
{
    StorePlan s = sampleStore();
    const qint64 bob = s.person(u"bob"_s).pk;
    for (int i = 0; i < 3; ++i)
        s.addMessage(u"new%1"_s.arg(i), s.chat(u"bob"_s).pk, bob, u"received"_s, u"New %1"_s.arg(i));
    if (newCall)
        s.addCall(u"newCall"_s, bob, u"incoming"_s);
    return s;
}

StorePlan sampleStore()
{
    StorePlan s;
    PersonPlan &ann = s.addPerson(u"ann"_s, u"4915111111111"_s, u"Annie"_s, u"Ann Contact"_s);
    ann.iconId = u"ann-icon"_s;
    const qint64 annKey = ann.pk;
    const qint64 bob = s.addPerson(u"bob"_s, u"4915222222222"_s, u"Bob"_s).pk;
    const qint64 cleo = s.addPerson(u"cleo"_s, u"4915333333333"_s, QString(), u"Cleo"_s).pk;
    const qint64 dan = s.addPerson(u"dan"_s, u"4915444444444"_s, u"Dan"_s).pk;
    const qint64 eve = s.addPerson(u"eve"_s, u"4915555555555"_s, u"Eve"_s, u"Eve Contact"_s).pk;
    PersonPlan &fayRec = s.addPerson(u"fay"_s, u"fay.viber"_s, u"Fay"_s);
    fayRec.phone = u"fay.viber"_s;
    const qint64 fay = fayRec.pk;

    const qint64 annChat = s.addChat(u"ann"_s, {annKey}).pk;
    const qint64 bobChat = s.addChat(u"bob"_s, {bob}).pk;
    ChatPlan &group = s.addChat(u"group"_s, {annKey, bob, eve}, u"G-FRIENDS"_s, u"Friends"_s);
    group.context = 77;
    group.smartNotificationShown = 1;
    group.smartState = 2;
    group.iconId = u"group-icon"_s;
    const qint64 groupChat = group.pk;
    s.addChat(u"cleo"_s, {cleo});
    s.addChat(u"empty"_s, {});
    const qint64 fayChat = s.addChat(u"fay"_s, {fay}).pk;

    const QString received = u"received"_s;
    MessagePlan &hello = s.addMessage(u"received"_s, annChat, annKey, received, u"Hello 😀"_s);
    hello.emoticonsRanges = QByteArray("\x01\x02\x03", 3);
    hello.ranges = QByteArray("ranges");
    s.addMessage(u"sending"_s, annChat, 0, u"SENDING"_s, u"On my way"_s);
    s.addMessage(u"delivered"_s, annChat, 0, u"delivered"_s, u"Delivered"_s);
    s.addMessage(u"send"_s, annChat, 0, u"send"_s, u"Sent"_s);
    s.addMessage(u"pending"_s, annChat, 0, u"Pending"_s, u"Waiting"_s);
    s.addMessage(u"pendingNotSent"_s, annChat, 0, u"pendingNotSent"_s, u"Not sent"_s);
    const qint64 failed = s.addMessage(u"failed"_s, annChat, 0, u"failed"_s, u"Lost"_s).pk;
    s.addMessage(u"nameChanged"_s, groupChat, annKey, u"pending"_s, u"Friends"_s, u"SystemNameChanged"_s);
    s.addMessage(u"memberAdded"_s, groupChat, annKey, received, u"4915555555555"_s, u"systemMemberAdded"_s);
    s.addMessage(u"memberAddedEmpty"_s, groupChat, annKey, received, QString(), u"SYSTEMMEMBERADDED"_s);
    s.addMessage(u"unknownSystem"_s, annChat, annKey, received, u"?"_s, u"systemSomethingNew"_s);
    s.addMessage(u"noChat"_s, 999, annKey, received, u"Nowhere"_s);

    const qint64 location =
        s.addMessage(u"location"_s, annChat, annKey, received, QString(), u"customLocation"_s).pk;
    s.addLocation(u"location"_s, location, 48.1, 11.58, u"Marienplatz, München"_s);

    // A message with an attachment, and the files of the store folder.
    auto media = [&](const QString &label, const QString &type, const QString &name, const QStringList &files,
                     const QString &attId = QString()) -> AttachmentPlan & {
        const qint64 m = s.addMessage(label, annChat, annKey, received, QString()).pk;
        for (const QString &f : files)
            s.addFile(u"Documents/"_s + f, f.endsWith(u".jpg")   ? FileKind::Jpeg
                                           : f.endsWith(u".png") ? FileKind::Png
                                                                 : FileKind::Bytes);
        return s.addAttachment(label, m, type, name, attId);
    };
    media(u"picture"_s, u"picture"_s, u"p1.jpg"_s, {}).url =
        u"assets-library://asset/asset.JPG?id=ab12-cd34&ext=JPG"_s;
    s.addFile(u"Documents/Attachments/p1.jpg"_s, FileKind::Jpeg, QSize(80, 60));
    media(u"pictureSmall"_s, u"picture"_s, u"p2.jpg"_s,
          {u"Attachments/p2.jpg"_s, u"AttachmentsPreview/p2.jpg"_s, u"BigAttachmentsPreview/p2.jpg"_s});
    media(u"pictureBig"_s, u"picture"_s, u"p3.jpg"_s,
          {u"Attachments/p3.jpg"_s, u"BigAttachmentsPreview/p3.jpg"_s});
    media(u"picturePng"_s, u"picture"_s, u"p4.png"_s, {});
    s.addFile(u"Documents/Attachments/p4.png"_s, FileKind::Png, QSize(30, 60));
    media(u"video"_s, u"video"_s, u"v1.mp4"_s, {u"Attachments/v1.mp4"_s, u"BigAttachmentsPreview/v1.jpg"_s})
        .duration = 61.5;
    media(u"videoNoPreview"_s, u"video"_s, u"v2.mov"_s, {u"Attachments/v2.mov"_s});
    media(u"audio"_s, u"audio"_s, u"a1.m4a"_s, {u"VoiceMessages/a1.m4a"_s}).duration = 12.5;
    media(u"sticker"_s, u"sticker"_s, QString(), {u"stickers/1200/100/00001234.png"_s}, u"1234"_s).state =
        QString();
    const qint64 pin = media(u"locationAttachment"_s, u"customLocation"_s, u"map.jpg"_s,
                             {u"CustomLocationImage/48.123457_11.jpg"_s})
                           .message;
    s.addLocation(u"locationAttachment"_s, pin, 48.123456789, 11.58);
    media(u"other"_s, u"file"_s, u"doc.pdf"_s, {});
    s.addAttachment(u"ofFailed"_s, failed, u"picture"_s, u"lost.jpg"_s);

    s.addMessage(u"groupText"_s, groupChat, eve, received, u"Hi all"_s);
    s.addMessage(u"groupNoSender"_s, groupChat, 0, u"delivered"_s, u"Mine"_s);
    s.addMessage(u"bobText"_s, bobChat, bob, received, u"Bob here"_s);
    s.addMessage(u"fayText"_s, fayChat, fay, received, u"Fay here"_s);

    s.addCall(u"annIncoming"_s, annKey, u"incoming"_s);
    s.addCall(u"bobOutgoing"_s, bob, u"outgoing_viber"_s);
    s.addCall(u"danMissed"_s, dan, u"MISSED"_s);
    s.addCall(u"danIncoming"_s, dan, u"Incoming_Video"_s);
    s.addCall(u"cleoMissed"_s, cleo, u"missed"_s);
    s.addCall(u"unknownType"_s, annKey, u"conference"_s);
    s.addCall(u"nobody"_s, 99, u"incoming"_s);
    return s;
}

void exec(const QString &storePath, const QString &sql)
{
    Sqlite3DB db;
    db.openThrow(storePath, Sqlite3DB::ReadWrite);
    db.execThrow(sql);
}

ViberMsgMerger mergeAll(IOSViberDb &db, QList<_ViberMsg *> messages)
{
    std::stable_sort(messages.begin(), messages.end(), [](const _ViberMsg *a, const _ViberMsg *b) {
        return a->chat->id != b->chat->id ? a->chat->id < b->chat->id : a->date < b->date;
    });
    db.requireWriterTables();
    db.execThrow(u"BEGIN IMMEDIATE"_s);
    ViberMsgMerger merger(db);
    for (const _ViberMsg *m : std::as_const(messages)) {
        qint64 att = 0, loc = 0;
        merger.mergeMessage(m, att, loc);
    }
    merger.dropEmptyInsertedChats();
    if (db.hasColumn(u"ZCONVERSATION"_s, u"ZLASTMESSAGETEXT"_s)) // a phone's summary columns
        db.refreshLastMessages();
    db.refreshRecentsLines();
    db.refreshConversationDates();
    db.refreshPrimaryKeyMax();
    db.execThrow(u"COMMIT"_s);
    db.close();
    return merger;
}

namespace {

// count of 200,000 messages, grown or shrunk with messages.
qint64 scaled(qint64 count, qint64 messages, qint64 minimum = 1)
{
    // In double: a million times a few thousand stays far inside its exact range.
    return std::max(minimum, qint64(double(count) * double(messages) / 200000.0));
}

} // namespace

ScaledSizes::ScaledSizes(qint64 n)
    : messages(n), chats(scaled(2000, n, 10)), groups(chats / 10), attachments(scaled(20000, n)),
      locations(scaled(2000, n)), calls(scaled(5000, n)),
      persons(chats - groups + scaled(500, n)) // 500 with calls or groups only
{
}

void writeScaledStore(const QString &root, const ScaledSizes &n)
{
    StoreWriter w(root, StoreLayout::Phone);
    for (qint64 i = 1; i <= n.persons; ++i) {
        const QString canon = u"49151%1"_s.arg(i, 8, 10, QLatin1Char('0'));
        const bool contact = i % 3 == 0;
        w.writePerson({QString(), i, canon, u'+' + canon, u"Viber user %1"_s.arg(i), u"icon-%1"_s.arg(i),
                       contact ? u"Contact %1"_s.arg(i) : QString(), contact ? i : 0});
    }
    const qint64 single = n.chats - n.groups;
    for (qint64 i = 1; i <= n.chats; ++i) {
        ChatPlan c{QString(), i, 700000000.0 + i, {}, {}, {}, {i}, 0, {}, 0};
        if (i > single) {
            c.groupId = u"group-%1"_s.arg(i);
            c.name = u"Group %1"_s.arg(i);
            c.participants.clear();
            for (int k = 0; k < 6; ++k)
                c.participants.append(1 + (i * 7 + k * 131) % n.persons);
            std::sort(c.participants.begin(), c.participants.end());
            c.participants.erase(std::unique(c.participants.begin(), c.participants.end()),
                                 c.participants.end());
        }
        w.writeChat(c);
    }
    static const char *const states[] = {"received", "delivered",      "send",
                                         "received", "pendingNotSent", "SENDING"};
    for (qint64 i = 1; i <= n.messages; ++i) {
        const qint64 chat = 1 + (i - 1) % n.chats;
        const QString state = QLatin1String(states[i % 6]);
        const qint64 person = state != u"received" ? 0 : chat <= single ? chat : 1 + i % n.persons;
        const double date = 710000000.0 + i * 13.5;
        w.writeMessage(
            {QString(), i, chat, person, 5860000000000000000LL + i, i, date, date + 1, state, QString(),
             u"Message %1 of chat %2: a line of ordinary length, with a few words 😀"_s.arg(i).arg(chat),
             i % 10 == 0 ? QByteArray("\x01\x00\x02\x00", 4) : QByteArray(), QByteArray()});
    }
    for (qint64 i = 1; i <= n.locations; ++i)
        w.writeLocation(
            {QString(), i, i * 97, 48.0 + i / 10000.0, 11.0 + i / 10000.0, u"Street %1"_s.arg(i)});
    static const char *const types[] = {"picture", "video", "audio", "sticker", "customLocation", "file"};
    for (qint64 i = 1; i <= n.attachments; ++i) {
        const QString type = QLatin1String(types[i % 6]);
        w.writeAttachment({QString(), i, i * 9 + 1, type, u"%1-%2.jpg"_s.arg(type).arg(i),
                           QString::number(1000 + i), u"bucket"_s, 10000 + i, i, 10000 + i,
                           type == u"audio" ? 12.5 : 0, u"complete"_s, QString()});
    }
    static const char *const callTypes[] = {"incoming", "outgoing_viber", "missed"};
    for (qint64 i = 1; i <= n.calls; ++i) // some persons have no one-to-one chat: made-up chats
        w.writeCall({QString(), i, 1 + (i * 37) % n.persons, 9000000000LL + i, qint32(i % 600),
                     720000000.0 + i * 60.0, QLatin1String(callTypes[i % 3])});
    w.finish();
}

struct StoreWriter::Impl
{
    QString root;
    bool phone = false;
    Sqlite3DB db;
    QHash<qint64, qint64> lineOfPerson;
    qint64 uid = 0;
    bool finished = false;
    QList<QByteArray> deferredIndexes; // CREATE INDEX statements, run once the rows are in

    // The connection keeps each text's prepared statement: one per table and column set.
    void insert(const char *table, const Row &row)
    {
        Sqlite3Sql sql("INSERT INTO " + QByteArray(table) + " (" + row.names.join(',') + ") VALUES (?" +
                       QByteArray(",?").repeated(row.values.size() - 1) + ')');
        for (const QVariant &v : row.values)
            sql.addParam(v);
        db.executeThrow(sql);
    }

    // Core Data's bookkeeping and carried values: own columns in a phone's layout (with the
    // phone-only ones), the _other blob in this program's, as its writer keeps them.
    Row &addCarried(Row &row, int phoneEnt, const char *columns, const QVariantList &values,
                    const char *phoneOnly = nullptr, const QVariantList &phoneValues = {})
    {
        if (phone) {
            row.add("Z_ENT ZUID", {phoneEnt, ++uid}).add(columns, values);
            return phoneOnly ? row.add(phoneOnly, phoneValues) : row;
        }
        QVariantMap map;
        const QList<QByteArray> names = QByteArray(columns).split(' ');
        for (qsizetype i = 0; i < names.size(); ++i)
            if (!values.value(i).isNull())
                map.insert(QString::fromLatin1(names.at(i)), values.value(i));
        return row.add("_other", {tinykv::serialize(map)});
    }

    // Secondary keys arrive out of order: into an index larger than the page cache, each lands on a
    // page just evicted. Built after the rows, an index is made from its keys sorted at once.
    void deferIndexes()
    {
        QStringList names;
        Sqlite3Cursor c =
            db.queryThrow("select name, sql from sqlite_master where type='index' and sql is not null");
        while (c.moveNext()) {
            names << c.getTextAt(0);
            deferredIndexes << c.getTextAt(1).toUtf8();
        }
        c = Sqlite3Cursor();
        for (const QString &name : std::as_const(names))
            db.execThrow(u"DROP INDEX \"%1\""_s.arg(QString(name).replace(u'"', u"\"\""_s)));
    }

    void commit()
    {
        for (const QByteArray &sql : std::as_const(deferredIndexes))
            db.executeThrow(sql);
        deferredIndexes.clear();
        db.execThrow(u"COMMIT"_s);
        db.close();
    }
};

StoreWriter::StoreWriter(const QString &root, StoreLayout layout, const QString &fileName) : d(new Impl)
{
    d->root = root;
    d->phone = layout == StoreLayout::Phone;
    const QString path = QDir(root).filePath(fileName);
    if (QFileInfo::exists(path))
        throw std::runtime_error("fixture store exists already: " + path.toStdString());
    QDir().mkpath(QFileInfo(path).absolutePath());
    d->db.openThrow(path, Sqlite3DB::ReadWrite | Sqlite3DB::Create);
    QFile script(u":/res/ios_viber_db.sql"_s);
    if (!d->phone && !script.open(QIODevice::ReadOnly))
        throw std::runtime_error("template schema: " + script.errorString().toStdString());
    d->db.execThrow(d->phone ? QString::fromLatin1(kPhoneSchema) : QString::fromUtf8(script.readAll()));
    d->db.execThrow(u"BEGIN"_s);
    d->deferIndexes();
}

StoreWriter::~StoreWriter()
{
    try {
        if (!d->finished && d->db.isOpen())
            d->commit();
    } catch (const std::exception &e) {
        qWarning("fixture store %s: %s", qPrintable(d->db.path()), e.what());
    }
}

void StoreWriter::finish()
{
    d->commit();
    d->finished = true;
}

void StoreWriter::writePerson(const PersonPlan &p)
{
    Row row = Row().add("Z_PK ZCANONIZEDPHONENUM ZICONID ZPHONENUM ZNAME",
                        {p.pk, orNull(p.canonPhone), orNull(p.iconId), orNull(p.phone),
                         orNull(d->phone ? p.viberName : p.shownName())});
    d->insert("ZPHONENUMBERINDEX",
              d->addCarried(row, 10, "Z_OPT ZCONTACT", {3, p.contactName.isEmpty() ? 0 : p.pk + 100},
                            "ZISVIBER ZPHONETYPE", {1, u"mobile"_s}));
    if (d->phone && !p.contactName.isEmpty())
        d->insert("ZABCONTACT",
                  Row().add("Z_PK Z_ENT Z_OPT ZRECORDID ZMAINNAME ZSORTNAME",
                            {p.pk + 100, 1, 1, p.recordId, p.contactName, p.contactName.toUpper()}));
}

void StoreWriter::writeChat(const ChatPlan &c)
{
    Row row = Row().add("Z_PK ZDATE ZGROUPID ZICONID ZNAME",
                        {c.pk, c.date, orNull(c.groupId), orNull(c.iconId), orNull(c.name)});
    d->insert("ZCONVERSATION",
              d->addCarried(row, 5, "Z_OPT ZCONTEXT ZSMARTNOTIFICATIONSHOWN ZSMARTSTATE",
                            {4, c.context, c.smartNotificationShown, c.smartState}, "ZUNREADCOUNT", {0}));
    for (qint64 person : c.participants)
        d->insert(d->phone ? "Z_5PHONENUMINDEXES" : "Z_4PHONENUMINDEXES",
                  Row().add(d->phone ? "Z_5CONVERSATIONS Z_10PHONENUMINDEXES"
                                     : "Z_4CONVERSATIONS Z_7PHONENUMINDEXES",
                            {c.pk, person}));
}

void StoreWriter::writeMessage(const MessagePlan &m)
{
    Row row =
        Row().add("Z_PK ZSEQ ZTOKEN ZCONVERSATION ZPHONENUMINDEX ZDATE ZSTATEDATE ZSTATE ZSYSTEMTYPE ZTEXT",
                  {m.pk, m.seq, m.token, m.chat, m.person > 0 ? QVariant(m.person) : QVariant(), m.date,
                   m.stateDate, orNull(m.state), orNull(m.systemType), orNull(m.text)});
    if (d->phone)
        d->addCarried(row, 21, "Z_OPT ZEMOTICONSRANGES ZRANGES",
                      {5, orNull(m.emoticonsRanges), orNull(m.ranges)}, "Z5_CONVERSATION ZMESSAGEID", {5, 0});
    else // the writer keeps a kind's spelling with the record
        d->addCarried(row, 21, "Z_OPT ZEMOTICONSRANGES ZRANGES ZSYSTEMTYPE",
                      {5, orNull(m.emoticonsRanges), orNull(m.ranges), orNull(m.systemType)});
    d->insert("ZVIBERMESSAGE", row);
}

void StoreWriter::writeLocation(const LocationPlan &l)
{
    Row row = Row().add("Z_PK ZMESSAGE ZDATE ZLATITUDE ZLONGITUDE ZADDRESS",
                        {l.pk, l.message, 0.0, l.latitude, l.longitude, orNull(l.address)});
    d->insert("ZVIBERLOCATION", d->phone ? row.add("Z_ENT Z_OPT ZUID", {20, 1, ++d->uid}) : row);
}

void StoreWriter::writeAttachment(const AttachmentPlan &a)
{
    Row row = Row().add("Z_PK ZFILESIZE ZSEQ ZMESSAGE ZDURATION ZID ZBUCKET ZNAME ZTYPE",
                        {a.pk, a.fileSize, a.seq, a.message, a.duration, orNull(a.attId), orNull(a.bucket),
                         orNull(a.name), orNull(a.type)});
    // A phone's NULL reads as an empty text, which this program's layout keeps.
    d->insert("ZATTACHMENT", d->addCarried(row, 3, "Z_OPT ZRANGE ZSTATE ZURL", {6, a.range, a.state, a.url}));
}

void StoreWriter::writeCall(const CallPlan &c)
{
    qint64 &line = d->lineOfPerson[c.person];
    if (!line) {
        line = d->lineOfPerson.size();
        Row row = Row().add("Z_PK Z_ENT Z_OPT ZCOUNT ZPHONENUMINDEX ZDATE ZCALLTYPE",
                            {line, d->phone ? 14 : 9, 1, 1, c.person, c.date, c.callType});
        d->insert("ZRECENTSLINE", d->phone ? row.add("ZUID", {++d->uid}) : row);
    }
    Row row = Row().add("Z_PK Z_ENT Z_OPT ZCALLTOKEN ZDURATION ZRECENTSLINE ZDATE ZCALLTYPE",
                        {c.pk, d->phone ? 13 : 8, 1, c.token, c.duration, line, c.date, orNull(c.callType)});
    QVariantMap carried{{u"Z_OPT"_s, 1}};
    if (!c.callType.isEmpty())
        carried.insert(u"ZCALLTYPE"_s, c.callType);
    d->insert("ZRECENT", d->phone ? row : row.add("ZREAD _other", {1, tinykv::serialize(carried)}));
}

void StoreWriter::writeFile(const FilePlan &f) const
{
    const QString path = QDir(d->root).filePath(f.relativePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    bool ok = false;
    if (f.kind == FileKind::Bytes) {
        ok = testsupport::writeFile(path, "not a picture: " + f.relativePath.toUtf8());
    } else {
        // A real picture with some content, so that decoders and scalers have work to do.
        QImage image(f.size, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, qRgb(x * 255 / image.width(), y * 255 / image.height(), 128));
        ok = image.save(path, f.kind == FileKind::Jpeg ? "JPG" : "PNG");
    }
    if (!ok)
        throw std::runtime_error("fixture file not written: " + path.toStdString());
}

void writeStore(const StorePlan &plan, const QString &root, StoreLayout layout, const QString &fileName)
{
    StoreWriter w(root, layout, fileName);
    for (const PersonPlan &p : plan.persons)
        w.writePerson(p);
    for (const ChatPlan &c : plan.chats)
        w.writeChat(c);
    for (const MessagePlan &m : plan.messages)
        w.writeMessage(m);
    for (const LocationPlan &l : plan.locations)
        w.writeLocation(l);
    for (const AttachmentPlan &a : plan.attachments)
        w.writeAttachment(a);
    for (const CallPlan &c : plan.calls)
        w.writeCall(c);
    w.finish();
    for (const FilePlan &f : plan.files)
        w.writeFile(f);
}

QString rows(const QString &storePath, const QString &sql)
{
    // Read-write: closing it then leaves no journal files of a write-ahead log behind.
    Sqlite3DB db;
    db.openThrow(storePath, Sqlite3DB::ReadWrite);
    return select(db, sql).join(u", "_s);
}

QStringList storeRows(const QString &storePath)
{
    Sqlite3DB db;
    db.openThrow(storePath, Sqlite3DB::ReadOnly);
    QStringList out;
    const QStringList tables = select(db, u"select name from sqlite_master where type='table'"_s);
    for (const QString &t : tables) {
        const QStringList rows =
            select(db, u"select * from \"%1\""_s.arg(QString(t).replace(u'"', u"\"\""_s)));
        for (const QString &row : rows)
            out << t + u' ' + row;
    }
    out.sort();
    return out;
}

QStringList filesBelow(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        const QByteArray hash =
            f.open(QIODevice::ReadOnly)
                ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex()
                : QByteArray();
        out << QDir(root).relativeFilePath(f.fileName()) + u' ' + QString::fromLatin1(hash);
    }
    out.sort();
    return out;
}

// Values as text, joined by spaces.
QString text(const QString &s)
{
    return s;
}
template <typename T> QString text(T v)
{
    if constexpr (std::is_enum_v<T>)
        return QString::number(int(v));
    else
        return QString::number(v, std::is_floating_point_v<T> ? 'f' : 'g',
                               std::is_floating_point_v<T> ? 6 : 0);
}
template <typename... T> QString join(const T &...values)
{
    return QStringList{text(values)...}.join(u' ');
}

QStringList messageContent(const ViberData &data, Detail detail)
{
    const bool all = detail == Detail::Everything;
    auto person = [&](const _ViberPerson *p) {
        return p ? p->phone + (detail != Detail::WithoutNames ? u' ' + p->name : QString()) : u"-"_s;
    };
    // Chats by group id, name and participants; keys differ from store to store.
    auto chat = [&](const _ViberChat *c) {
        QStringList people;
        for (const _ViberPerson *p : c->participants)
            people << person(p);
        people.sort();
        const QString name = c->id > 0 ? c->name : QString(); // a made-up chat's is its person's
        return u"%1 '%2' with %3"_s.arg(c->groupId, name, people.join(u'/'));
    };
    auto key = [](const _ViberEntity *e) {
        return e ? u"#%1:%2"_s.arg(e->id).arg(QString::fromLatin1(e->other.toHex())) : u"-"_s;
    };
    auto path = [](const QString &p) { return p.mid(p.indexOf(u"/Documents/")); };
    QStringList lines;
    for (const _ViberMsg *m : data.messages) {
        QString line = join(chat(m->chat), u"|"_s, person(m->person), u"|"_s, m->token, m->seq, m->date,
                            m->stateDate, m->state, m->type, m->systemKind, m->text.toString());
        if (m->latitude() != 0 || m->longitude() != 0)
            line += join(u" at"_s, m->latitude(), m->longitude(), m->address());
        if (const _ViberAtta *a = m->attachment) {
            line += join(u" att"_s, a->type, a->fileSize, a->seq, a->duration,
                         readExtraColumns(a).value(u"ZURL"_s).toString());
            if (m->type != ViberMsgTypeAudio)
                line += join(QString(), a->attId, a->fileName);
            if (all)
                line += join(QString(), key(a), a->bucket, path(a->filePath), path(a->previewPath));
        }
        if (const _ViberCall *c = m->call)
            line += join(u" call"_s, c->callToken, c->duration, c->date, c->type, person(c->person));
        if (all)
            line += join(u" keys"_s, key(m), m->chat->id, key(m->person), key(m->call));
        lines << line;
    }
    for (const _ViberPerson *p : all ? data.persons : decltype(data.persons)())
        lines << join(u"person"_s, key(p), person(p), path(p->viberIconPath), path(p->contactIconPath));
    for (const _ViberChat *c : all ? data.chats : decltype(data.chats)()) {
        QStringList messages;
        for (const _ViberMsg *m : c->messages)
            messages << QString::number(m->id);
        lines << join(u"chat"_s, key(c), chat(c), c->date, messages.join(u','));
    }
    lines.sort();
    return lines;
}

} // namespace fixtures
