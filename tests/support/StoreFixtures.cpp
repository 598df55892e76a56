#include "StoreFixtures.h"

#include "viber/Sqlite3DB.h"
#include "viber/TinyKv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QVariantMap>

#include <sqlite3.h>

#include <algorithm>
#include <stdexcept>

namespace fixtures {

namespace {

template <typename T> qint64 nextKey(const std::deque<T> &records)
{
    qint64 max = 0;
    for (const T &r : records)
        max = std::max(max, r.pk);
    return max + 1;
}

QVariant textOrNull(const QString &text)
{
    return text.isEmpty() ? QVariant() : QVariant(text);
}

QVariant blobOrNull(const QByteArray &bytes)
{
    return bytes.isEmpty() ? QVariant() : QVariant(bytes);
}

// Key of the address-book row of a person with a contact, the same in both layouts.
qint64 contactKey(const PersonSpec &p)
{
    return p.contactName.isEmpty() ? 0 : p.pk + 100;
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

struct Column
{
    const char *name;
    QVariant value;
};

} // namespace

// --- StoreSpec -------------------------------------------------------------------
// A new record's key is computed with the record already in place: its key 0 does
// not change the largest.

PersonSpec &StoreSpec::addPerson(const QString &label, const QString &canonPhone, const QString &viberName,
                                 const QString &contactName)
{
    PersonSpec &p = persons.emplace_back();
    p.label = label;
    p.pk = nextKey(persons);
    p.canonPhone = canonPhone;
    p.phone = canonPhone.isEmpty() ? QString() : "+" + canonPhone;
    p.viberName = viberName;
    p.contactName = contactName;
    p.recordId = contactName.isEmpty() ? 0 : p.pk * 11;
    return p;
}

ChatSpec &StoreSpec::addChat(const QString &label, const QList<qint64> &participants, const QString &groupId,
                             const QString &name)
{
    ChatSpec &c = chats.emplace_back();
    c.label = label;
    c.pk = nextKey(chats);
    c.participants = participants;
    c.groupId = groupId;
    c.name = name;
    c.date = 700000000.0 + double(c.pk);
    return c;
}

MessageSpec &StoreSpec::addMessage(const QString &label, qint64 chat, qint64 person, const QString &state,
                                   const QString &text, const QString &systemType)
{
    MessageSpec &m = messages.emplace_back();
    m.label = label;
    m.pk = nextKey(messages);
    m.chat = chat;
    m.person = person;
    m.state = state;
    m.text = text;
    m.systemType = systemType;
    m.token = 5860000000000000000LL + m.pk;
    m.seq = 2100000000LL + m.pk;
    m.date = 710000000.25 + double(m.pk) * 60.0;
    m.stateDate = m.date + 2.5;
    for (ChatSpec &c : chats)
        if (c.pk == chat && c.date < m.date)
            c.date = m.date;
    return m;
}

LocationSpec &StoreSpec::addLocation(const QString &label, qint64 message, double latitude, double longitude,
                                     const QString &address)
{
    LocationSpec &l = locations.emplace_back();
    l.label = label;
    l.pk = nextKey(locations);
    l.message = message;
    l.latitude = latitude;
    l.longitude = longitude;
    l.address = address;
    return l;
}

AttachmentSpec &StoreSpec::addAttachment(const QString &label, qint64 message, const QString &type,
                                         const QString &name, const QString &attId)
{
    AttachmentSpec &a = attachments.emplace_back();
    a.label = label;
    a.pk = nextKey(attachments);
    a.message = message;
    a.type = type;
    a.name = name;
    a.attId = attId;
    a.bucket = QStringLiteral("bucket-%1").arg(a.pk);
    a.fileSize = 1000 + a.pk;
    a.seq = 300 + a.pk;
    a.range = a.fileSize;
    return a;
}

CallSpec &StoreSpec::addCall(const QString &label, qint64 person, const QString &callType)
{
    CallSpec &c = calls.emplace_back();
    c.label = label;
    c.pk = nextKey(calls);
    c.person = person;
    c.callType = callType;
    c.token = 9000000000LL + c.pk;
    c.duration = int(10 * c.pk);
    c.date = 720000000.5 + double(c.pk) * 3600.0;
    return c;
}

FileSpec &StoreSpec::addFile(const QString &relativePath, FileKind kind, QSize size)
{
    FileSpec &f = files.emplace_back();
    f.relativePath = relativePath;
    f.kind = kind;
    f.size = size;
    if (kind == FileKind::Bytes)
        f.bytes = "not a picture: " + relativePath.toUtf8();
    return f;
}

// --- The sample store ------------------------------------------------------------

StoreSpec sampleStore()
{
    StoreSpec s;
    PersonSpec &ann = s.addPerson("ann", "4915111111111", "Annie", "Ann Contact");
    ann.iconId = QStringLiteral("ann-icon");
    const qint64 annKey = ann.pk;
    const qint64 bob = s.addPerson("bob", "4915222222222", "Bob").pk;
    const qint64 cleo = s.addPerson("cleo", "4915333333333", QString(), "Cleo").pk;
    const qint64 dan = s.addPerson("dan", "4915444444444", "Dan").pk;
    const qint64 eve = s.addPerson("eve", "4915555555555", "Eve", "Eve Contact").pk;
    PersonSpec &fayRec = s.addPerson("fay", "fay.viber", "Fay");
    fayRec.phone = QStringLiteral("fay.viber");
    const qint64 fay = fayRec.pk;

    const qint64 annChat = s.addChat("ann", {annKey}).pk;
    const qint64 bobChat = s.addChat("bob", {bob}).pk;
    ChatSpec &group = s.addChat("group", {annKey, bob, eve}, "G-FRIENDS", "Friends");
    group.context = 77;
    group.smartNotificationShown = 1;
    group.smartState = 2;
    group.iconId = QStringLiteral("group-icon");
    const qint64 groupChat = group.pk;
    s.addChat("cleo", {cleo});
    s.addChat("empty", {});
    const qint64 fayChat = s.addChat("fay", {fay}).pk;

    const QString received = QStringLiteral("received");
    MessageSpec &hello = s.addMessage("received", annChat, annKey, received, "Hello 😀");
    hello.emoticonsRanges = QByteArray("\x01\x02\x03", 3);
    hello.ranges = QByteArray("ranges");
    s.addMessage("sending", annChat, 0, "SENDING", "On my way");
    s.addMessage("delivered", annChat, 0, "delivered", "Delivered");
    s.addMessage("send", annChat, 0, "send", "Sent");
    s.addMessage("pending", annChat, 0, "Pending", "Waiting");
    s.addMessage("pendingNotSent", annChat, 0, "pendingNotSent", "Not sent");
    const qint64 failed = s.addMessage("failed", annChat, 0, "failed", "Lost").pk;
    s.addMessage("nameChanged", groupChat, annKey, "pending", "Friends", "SystemNameChanged");
    s.addMessage("memberAdded", groupChat, annKey, received, "4915555555555", "systemMemberAdded");
    s.addMessage("memberAddedEmpty", groupChat, annKey, received, QString(), "SYSTEMMEMBERADDED");
    s.addMessage("unknownSystem", annChat, annKey, received, "?", "systemSomethingNew");
    s.addMessage("noChat", 999, annKey, received, "Nowhere");

    const qint64 location =
        s.addMessage("location", annChat, annKey, received, QString(), "customLocation").pk;
    s.addLocation("location", location, 48.1, 11.58, "Marienplatz, München");

    auto media = [&](const QString &label, const QString &type, const QString &name,
                     const QString &attId = QString()) -> AttachmentSpec & {
        const qint64 m = s.addMessage(label, annChat, annKey, received, QString()).pk;
        return s.addAttachment(label, m, type, name, attId);
    };
    media("picture", "picture", "p1.jpg").url =
        QStringLiteral("assets-library://asset/asset.JPG?id=ab12-cd34&ext=JPG");
    s.addFile("Documents/Attachments/p1.jpg", FileKind::Jpeg, QSize(80, 60));
    media("pictureSmall", "picture", "p2.jpg");
    s.addFile("Documents/Attachments/p2.jpg", FileKind::Jpeg);
    s.addFile("Documents/AttachmentsPreview/p2.jpg", FileKind::Jpeg);
    s.addFile("Documents/BigAttachmentsPreview/p2.jpg", FileKind::Jpeg);
    media("pictureBig", "picture", "p3.jpg");
    s.addFile("Documents/Attachments/p3.jpg", FileKind::Jpeg);
    s.addFile("Documents/BigAttachmentsPreview/p3.jpg", FileKind::Jpeg);
    media("picturePng", "picture", "p4.png");
    s.addFile("Documents/Attachments/p4.png", FileKind::Png, QSize(30, 60));
    media("video", "video", "v1.mp4").duration = 61.5;
    s.addFile("Documents/Attachments/v1.mp4", FileKind::Bytes);
    s.addFile("Documents/BigAttachmentsPreview/v1.jpg", FileKind::Jpeg);
    media("videoNoPreview", "video", "v2.mov");
    s.addFile("Documents/Attachments/v2.mov", FileKind::Bytes);
    media("audio", "audio", "a1.m4a").duration = 12.5;
    s.addFile("Documents/VoiceMessages/a1.m4a", FileKind::Bytes);
    media("sticker", "sticker", QString(), "1234").state = QString();
    s.addFile("Documents/stickers/1200/100/00001234.png", FileKind::Png);
    const qint64 pin = media("locationAttachment", "customLocation", "map.jpg").message;
    s.addLocation("locationAttachment", pin, 48.123456789, 11.58);
    s.addFile("Documents/CustomLocationImage/48.123457_11.jpg", FileKind::Jpeg);
    media("other", "file", "doc.pdf");
    s.addAttachment("ofFailed", failed, "picture", "lost.jpg");

    s.addMessage("groupText", groupChat, eve, received, "Hi all");
    s.addMessage("groupNoSender", groupChat, 0, "delivered", "Mine");
    s.addMessage("bobText", bobChat, bob, received, "Bob here");
    s.addMessage("fayText", fayChat, fay, received, "Fay here");

    s.addCall("annIncoming", annKey, "incoming");
    s.addCall("bobOutgoing", bob, "outgoing_viber");
    s.addCall("danMissed", dan, "MISSED");
    s.addCall("danIncoming", dan, "Incoming_Video");
    s.addCall("cleoMissed", cleo, "missed");
    s.addCall("unknownType", annKey, "conference");
    s.addCall("nobody", 99, "incoming");
    return s;
}

// --- StoreWriter -----------------------------------------------------------------

struct StoreWriter::Impl
{
    QString root;
    StoreLayout layout = StoreLayout::Template;
    Sqlite3DB db;
    QHash<QByteArray, sqlite3_stmt *> statements;
    QHash<qint64, qint64> lineOfPerson;
    qint64 uid = 0;
    bool finished = false;
    // CREATE INDEX statements of the schema, run again once the rows are in.
    QList<QByteArray> deferredIndexes;

    bool phone() const { return layout == StoreLayout::Phone; }
    int ent(int templateEnt, int phoneEnt) const { return phone() ? phoneEnt : templateEnt; }

    [[noreturn]] void fail(const QString &what) const
    {
        throw std::runtime_error(QStringLiteral("fixture store %1: %2: %3")
                                     .arg(db.path(), what, QString::fromUtf8(sqlite3_errmsg(db.handle())))
                                     .toStdString());
    }

    // One prepared statement per table and column set, bound by position.
    void insert(const char *table, const QList<Column> &columns)
    {
        QByteArray key = table;
        for (const Column &c : columns)
            key += ',' + QByteArray(c.name);
        sqlite3_stmt *stmt = statements.value(key);
        if (!stmt) {
            QByteArray names, marks;
            for (const Column &c : columns) {
                names += (names.isEmpty() ? "" : ",") + QByteArray(c.name);
                marks += marks.isEmpty() ? "?" : ",?";
            }
            const QByteArray sql =
                "INSERT INTO " + QByteArray(table) + " (" + names + ") VALUES (" + marks + ")";
            if (sqlite3_prepare_v2(db.handle(), sql.constData(), -1, &stmt, nullptr) != SQLITE_OK)
                fail(QString::fromLatin1(sql));
            statements.insert(key, stmt);
        }
        for (int i = 0; i < columns.size(); ++i) {
            const QVariant &v = columns[i].value;
            const int pos = i + 1;
            int rc;
            if (v.isNull()) {
                rc = sqlite3_bind_null(stmt, pos);
            } else {
                switch (v.typeId()) {
                case QMetaType::Int:
                case QMetaType::LongLong:
                case QMetaType::Bool:
                    rc = sqlite3_bind_int64(stmt, pos, v.toLongLong());
                    break;
                case QMetaType::Double:
                    rc = sqlite3_bind_double(stmt, pos, v.toDouble());
                    break;
                case QMetaType::QByteArray: {
                    const QByteArray b = v.toByteArray();
                    rc = sqlite3_bind_blob(stmt, pos, b.constData(), int(b.size()), SQLITE_TRANSIENT);
                    break;
                }
                default: {
                    const QByteArray t = v.toString().toUtf8();
                    rc = sqlite3_bind_text(stmt, pos, t.constData(), int(t.size()), SQLITE_TRANSIENT);
                    break;
                }
                }
            }
            if (rc != SQLITE_OK)
                fail(QStringLiteral("bind %1.%2").arg(QLatin1String(table), QLatin1String(columns[i].name)));
        }
        const int rc = sqlite3_step(stmt);
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        if (rc != SQLITE_DONE)
            fail(QStringLiteral("insert into %1").arg(QLatin1String(table)));
    }

    // Core Data's bookkeeping columns, present only in a phone's layout.
    void addPhoneColumns(QList<Column> &cols, int phoneEnt, qint32 opt)
    {
        if (!phone())
            return;
        cols.append({"Z_ENT", phoneEnt});
        cols.append({"Z_OPT", opt});
        cols.append({"ZUID", ++uid});
    }

    // Rows of a large store arrive in key order, but their conversation (and other
    // secondary) keys do not: inserted row by row into an index larger than SQLite's
    // page cache, each key lands on a page the cache has just evicted, and the one
    // transaction spills and re-reads pages ever more often as the store grows. Built
    // after the rows instead, an index is made from its keys sorted at once.
    void deferIndexes()
    {
        QList<QByteArray> names;
        {
            Sqlite3Cursor c =
                db.queryThrow("select name, sql from sqlite_master where type='index' and sql is not null");
            while (c.moveNext()) {
                names.append(c.getTextAt(0).toUtf8());
                deferredIndexes.append(c.getTextAt(1).toUtf8());
            }
        }
        for (const QByteArray &name : std::as_const(names))
            db.executeThrow(QByteArray("DROP INDEX \"" + QByteArray(name).replace('"', "\"\"") + '"'));
    }

    void createIndexes()
    {
        for (const QByteArray &sql : std::as_const(deferredIndexes))
            db.executeThrow(sql);
        deferredIndexes.clear();
    }

    void close()
    {
        for (sqlite3_stmt *stmt : std::as_const(statements))
            sqlite3_finalize(stmt);
        statements.clear();
        db.close();
    }
};

StoreWriter::StoreWriter(const QString &root, StoreLayout layout, const QString &fileName) : d(new Impl)
{
    d->root = root;
    d->layout = layout;
    const QString path = QDir(root).filePath(fileName);
    if (QFileInfo::exists(path))
        throw std::runtime_error("fixture store exists already: " + path.toStdString());
    QDir().mkpath(QFileInfo(path).absolutePath());
    d->db.openThrow(path, Sqlite3DB::ReadWrite | Sqlite3DB::Create);
    QFile script(QStringLiteral(":/res/ios_viber_db.sql"));
    if (layout == StoreLayout::Template && !script.open(QIODevice::ReadOnly))
        throw std::runtime_error("template schema: " + script.errorString().toStdString());
    d->db.execThrow(layout == StoreLayout::Template ? QString::fromUtf8(script.readAll())
                                                    : QString::fromLatin1(kPhoneSchema));
    d->db.execThrow(QStringLiteral("BEGIN"));
    d->deferIndexes();
}

StoreWriter::~StoreWriter()
{
    if (!d->finished && d->db.isOpen()) {
        try {
            d->createIndexes();
        } catch (const std::exception &e) {
            qWarning("fixture store %s: %s", qPrintable(d->db.path()), e.what());
        }
        QString error;
        d->db.exec(QStringLiteral("COMMIT"), error);
    }
    d->close();
}

void StoreWriter::finish()
{
    d->createIndexes();
    d->db.execThrow(QStringLiteral("COMMIT"));
    d->finished = true;
    d->close();
}

void StoreWriter::writePerson(const PersonSpec &p)
{
    QList<Column> cols{{"Z_PK", p.pk},
                       {"ZCANONIZEDPHONENUM", textOrNull(p.canonPhone)},
                       {"ZICONID", textOrNull(p.iconId)},
                       {"ZPHONENUM", textOrNull(p.phone)}};
    if (d->phone()) {
        d->addPhoneColumns(cols, 10, p.opt);
        cols.append({"ZNAME", textOrNull(p.viberName)});
        cols.append({"ZCONTACT", contactKey(p) > 0 ? QVariant(contactKey(p)) : QVariant()});
        cols.append({"ZISVIBER", 1});
        cols.append({"ZPHONETYPE", QStringLiteral("mobile")});
        if (!p.contactName.isEmpty())
            d->insert("ZABCONTACT", {{"Z_PK", contactKey(p)},
                                     {"Z_ENT", 1},
                                     {"Z_OPT", 1},
                                     {"ZRECORDID", p.recordId},
                                     {"ZMAINNAME", p.contactName},
                                     {"ZSORTNAME", p.contactName.toUpper()}});
    } else {
        cols.append({"ZNAME", textOrNull(p.shownName())});
        // The template layout keeps in _other what a phone has in columns, as this
        // program's writer does when it copies a phone's records.
        cols.append({"_other", tinykv::serialize({{"Z_OPT", p.opt}, {"ZCONTACT", contactKey(p)}})});
    }
    d->insert("ZPHONENUMBERINDEX", cols);
}

void StoreWriter::writeChat(const ChatSpec &c)
{
    QList<Column> cols{{"Z_PK", c.pk},
                       {"ZDATE", c.date},
                       {"ZGROUPID", textOrNull(c.groupId)},
                       {"ZICONID", textOrNull(c.iconId)},
                       {"ZNAME", textOrNull(c.name)}};
    if (d->phone()) {
        d->addPhoneColumns(cols, 5, c.opt);
        cols.append({"ZCONTEXT", c.context});
        cols.append({"ZSMARTNOTIFICATIONSHOWN", c.smartNotificationShown});
        cols.append({"ZSMARTSTATE", c.smartState});
        cols.append({"ZUNREADCOUNT", 0});
    } else {
        QVariantMap carried{{"Z_OPT", c.opt}, {"ZCONTEXT", c.context}, {"ZSMARTSTATE", c.smartState}};
        if (!c.smartNotificationShown.isNull())
            carried.insert("ZSMARTNOTIFICATIONSHOWN", c.smartNotificationShown.toInt());
        cols.append({"_other", tinykv::serialize(carried)});
    }
    d->insert("ZCONVERSATION", cols);
    for (qint64 person : c.participants) {
        if (d->phone())
            d->insert("Z_5PHONENUMINDEXES", {{"Z_5CONVERSATIONS", c.pk}, {"Z_10PHONENUMINDEXES", person}});
        else
            d->insert("Z_4PHONENUMINDEXES", {{"Z_4CONVERSATIONS", c.pk}, {"Z_7PHONENUMINDEXES", person}});
    }
}

void StoreWriter::writeMessage(const MessageSpec &m)
{
    QList<Column> cols{{"Z_PK", m.pk},
                       {"ZSEQ", m.seq},
                       {"ZTOKEN", m.token},
                       {"ZCONVERSATION", m.chat},
                       {"ZPHONENUMINDEX", m.person > 0 ? QVariant(m.person) : QVariant()},
                       {"ZDATE", m.date},
                       {"ZSTATEDATE", m.stateDate},
                       {"ZSTATE", textOrNull(m.state)},
                       {"ZSYSTEMTYPE", textOrNull(m.systemType)},
                       {"ZTEXT", textOrNull(m.text)}};
    if (d->phone()) {
        d->addPhoneColumns(cols, 21, m.opt);
        cols.append({"Z5_CONVERSATION", 5});
        cols.append({"ZEMOTICONSRANGES", blobOrNull(m.emoticonsRanges)});
        cols.append({"ZRANGES", blobOrNull(m.ranges)});
        cols.append({"ZMESSAGEID", 0});
    } else {
        QVariantMap carried{{"Z_OPT", m.opt}};
        if (!m.emoticonsRanges.isEmpty())
            carried.insert("ZEMOTICONSRANGES", m.emoticonsRanges);
        if (!m.ranges.isEmpty())
            carried.insert("ZRANGES", m.ranges);
        cols.append({"_other", tinykv::serialize(carried)});
    }
    d->insert("ZVIBERMESSAGE", cols);
}

void StoreWriter::writeLocation(const LocationSpec &l)
{
    QList<Column> cols{{"Z_PK", l.pk},
                       {"ZMESSAGE", l.message},
                       {"ZDATE", 0.0},
                       {"ZLATITUDE", l.latitude},
                       {"ZLONGITUDE", l.longitude},
                       {"ZADDRESS", textOrNull(l.address)}};
    d->addPhoneColumns(cols, 20, 1);
    d->insert("ZVIBERLOCATION", cols);
}

void StoreWriter::writeAttachment(const AttachmentSpec &a)
{
    QList<Column> cols{{"Z_PK", a.pk},
                       {"ZFILESIZE", a.fileSize},
                       {"ZSEQ", a.seq},
                       {"ZMESSAGE", a.message},
                       {"ZDURATION", a.duration},
                       {"ZID", textOrNull(a.attId)},
                       {"ZBUCKET", textOrNull(a.bucket)},
                       {"ZNAME", textOrNull(a.name)},
                       {"ZTYPE", textOrNull(a.type)}};
    if (d->phone()) {
        d->addPhoneColumns(cols, 3, a.opt);
        cols.append({"ZRANGE", double(a.range)});
        cols.append({"ZSTATE", textOrNull(a.state)});
        cols.append({"ZURL", textOrNull(a.url)});
    } else {
        cols.append(
            {"_other", tinykv::serialize(
                           {{"Z_OPT", a.opt}, {"ZRANGE", a.range}, {"ZSTATE", a.state}, {"ZURL", a.url}})});
    }
    d->insert("ZATTACHMENT", cols);
}

void StoreWriter::writeCall(const CallSpec &c)
{
    qint64 line = d->lineOfPerson.value(c.person);
    if (!line) {
        line = d->lineOfPerson.size() + 1;
        d->lineOfPerson.insert(c.person, line);
        QList<Column> cols{{"Z_PK", line},
                           {"Z_ENT", d->ent(9, 14)},
                           {"Z_OPT", 1},
                           {"ZCOUNT", 1},
                           {"ZPHONENUMINDEX", c.person},
                           {"ZDATE", c.date},
                           {"ZCALLTYPE", c.callType}};
        if (d->phone())
            cols.append({"ZUID", ++d->uid});
        d->insert("ZRECENTSLINE", cols);
    }
    QList<Column> cols{{"Z_PK", c.pk},
                       {"Z_ENT", d->ent(8, 13)},
                       {"Z_OPT", c.opt},
                       {"ZCALLTOKEN", c.token},
                       {"ZDURATION", c.duration},
                       {"ZRECENTSLINE", line},
                       {"ZDATE", c.date},
                       {"ZCALLTYPE", textOrNull(c.callType)}};
    if (!d->phone()) {
        cols.append({"ZREAD", 1});
        cols.append({"_other", tinykv::serialize({{"Z_OPT", c.opt}})});
    }
    d->insert("ZRECENT", cols);
}

void StoreWriter::writeFile(const FileSpec &f) const
{
    const QString path = QDir(d->root).filePath(f.relativePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    bool ok = false;
    if (f.kind == FileKind::Bytes) {
        QFile file(path);
        ok = file.open(QIODevice::WriteOnly) && file.write(f.bytes) == f.bytes.size();
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

void writeStore(const StoreSpec &plan, const QString &root, StoreLayout layout, const QString &fileName)
{
    StoreWriter w(root, layout, fileName);
    for (const PersonSpec &p : plan.persons)
        w.writePerson(p);
    for (const ChatSpec &c : plan.chats)
        w.writeChat(c);
    for (const MessageSpec &m : plan.messages)
        w.writeMessage(m);
    for (const LocationSpec &l : plan.locations)
        w.writeLocation(l);
    for (const AttachmentSpec &a : plan.attachments)
        w.writeAttachment(a);
    for (const CallSpec &c : plan.calls)
        w.writeCall(c);
    w.finish();
    for (const FileSpec &f : plan.files)
        w.writeFile(f);
}

// --- Comparisons ---------------------------------------------------------------

QStringList storeRows(const QString &storePath)
{
    Sqlite3DB db;
    db.openThrow(storePath, Sqlite3DB::ReadOnly);
    QStringList rows;
    QStringList tables;
    Sqlite3Cursor names = db.queryThrow("select name from sqlite_master where type='table' order by name");
    while (names.moveNext())
        tables << names.getTextAt(0);
    for (const QString &t : std::as_const(tables)) {
        Sqlite3Cursor c =
            db.queryThrow(QStringLiteral("select * from \"%1\"")
                              .arg(QString(t).replace(QLatin1Char('"'), QLatin1String("\"\""))));
        while (c.moveNext()) {
            QStringList values;
            for (const QString &col : c.columnNames())
                values << col + QLatin1Char('=') + c.value(col).toString();
            rows << t + QLatin1Char(' ') + values.join(QLatin1Char(','));
        }
    }
    rows.sort();
    return rows;
}

static QString chatIdentity(const _ViberChat *chat)
{
    if (!chat)
        return QStringLiteral("-");
    if (!chat->groupId.isEmpty())
        return QStringLiteral("group ") + chat->groupId;
    QStringList phones;
    for (const _ViberPerson *p : chat->participants)
        phones << p->phone;
    phones.sort();
    return QStringLiteral("with ") + phones.join(QLatin1Char('/'));
}

// The content of the messages, independent of the store's keys. A voice message's
// name is its key in its store, so it is left out here and checked on its own.
QStringList messageContent(const ViberData &data)
{
    QStringList lines;
    for (const _ViberMsg *m : data.messages) {
        QString line =
            QStringLiteral("%1 | %2 | token=%3 seq=%4 date=%5/%6 state=%7 type=%8 kind=%9 text=%10")
                .arg(chatIdentity(m->chat), m->person ? m->person->phone : QStringLiteral("-"))
                .arg(m->token)
                .arg(m->seq)
                .arg(m->date, 0, 'f', 3)
                .arg(m->stateDate, 0, 'f', 3)
                .arg(int(m->state))
                .arg(int(m->type))
                .arg(int(m->systemKind))
                .arg(m->text);
        if (m->latitude != 0 || m->longitude != 0)
            line += QStringLiteral(" at=%1,%2 %3")
                        .arg(m->latitude, 0, 'g', 12)
                        .arg(m->longitude, 0, 'g', 12)
                        .arg(m->address);
        if (const _ViberAtta *a = m->attachment) {
            line += QStringLiteral(" att kind=%1 size=%2 seq=%3 dur=%4")
                        .arg(a->type)
                        .arg(a->fileSize)
                        .arg(a->seq)
                        .arg(a->duration);
            if (m->type != ViberMsgTypeAudio)
                line += QStringLiteral(" id=%1 name=%2").arg(a->attId, a->fileName);
            const QVariantMap carried = readExtraColumns(a);
            line += QStringLiteral(" url=%1").arg(carried.value(QStringLiteral("ZURL")).toString());
        }
        if (const _ViberCall *c = m->call)
            line += QStringLiteral(" call token=%1 dur=%2 date=%3 type=%4 person=%5")
                        .arg(c->callToken)
                        .arg(c->duration)
                        .arg(c->date, 0, 'f', 3)
                        .arg(int(c->type))
                        .arg(c->person ? c->person->phone : QStringLiteral("-"));
        lines << line;
    }
    lines.sort();
    return lines;
}

// --- Records ---------------------------------------------------------------------

Records::Records() : data(std::make_shared<ViberData>()) {}

_ViberPerson &Records::person(const QString &phone, const QString &name)
{
    auto *p = new _ViberPerson;
    p->id = data->persons.size() + 1;
    p->phone = phone;
    p->name = name;
    data->persons.insert(p->id, p);
    return *p;
}

_ViberChat &Records::chat(const QList<_ViberPerson *> &participants, const QString &groupId,
                          const QString &name)
{
    auto *c = new _ViberChat;
    c->id = data->chats.size() + 1;
    c->groupId = groupId;
    c->name = name;
    for (_ViberPerson *p : participants)
        c->participants.insert(p->id, p);
    data->chats.insert(c->id, c);
    return *c;
}

_ViberMsg &Records::message(_ViberChat &chat, _ViberPerson *person, ViberMsgState state, const QString &text,
                            double date, qint64 token)
{
    auto *m = new _ViberMsg;
    const qint64 id = ++m_lastMessageId;
    m->id = id;
    m->chat = &chat;
    m->person = person;
    m->state = state;
    m->type = ViberMsgTypeText;
    m->text = text;
    m->date = date;
    m->stateDate = date + 1;
    m->token = token;
    m->seq = id;
    data->messages.insert(m->id, m);
    chat.messages.append(m);
    chat.date = std::max(chat.date, date);
    m_order.append(m);
    return *m;
}

_ViberAtta &Records::attachment(_ViberMsg &msg, ViberMsgType type, const QString &fileName,
                                const QString &attId)
{
    auto *a = new _ViberAtta;
    a->id = data->attachments.size() + 1;
    a->fileName = fileName;
    a->attId = attId;
    a->fileSize = 1000 + a->id;
    a->seq = a->id;
    a->message = &msg;
    msg.attachment = a;
    msg.type = type;
    data->attachments.insert(a->id, a);
    return *a;
}

_ViberMsg &Records::call(_ViberChat &chat, _ViberPerson &person, ViberCallType type, qint64 token,
                         double date, qint32 duration)
{
    auto *c = new _ViberCall;
    c->id = data->calls.size() + 1;
    c->callToken = token;
    c->duration = duration;
    c->date = date;
    c->type = type;
    c->person = &person;
    data->calls.insert(c->id, c);
    auto *m = new _ViberMsg;
    m->id = -c->id;
    m->type = ViberMsgTypeCall;
    m->call = c;
    m->chat = &chat;
    m->date = date;
    data->messages.insert(m->id, m);
    chat.messages.append(m);
    m_order.append(m);
    return *m;
}

} // namespace fixtures
