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

template <typename T> const T &byLabel(const std::deque<T> &records, const QString &label, const char *kind)
{
    for (const T &r : records)
        if (r.label == label)
            return r;
    qFatal("fixture has no %s labelled \"%s\"", kind, qPrintable(label));
}

QVariant textOrNull(const QString &text)
{
    return text.isEmpty() ? QVariant() : QVariant(text);
}

QVariant blobOrNull(const QByteArray &bytes)
{
    return bytes.isEmpty() ? QVariant() : QVariant(bytes);
}

QVariant keyOrNull(qint64 key)
{
    return key > 0 ? QVariant(key) : QVariant();
}

// Key of the address-book row of a person with a contact, the same in both layouts.
qint64 contactKey(const PersonSpec &p)
{
    return p.contactName.isEmpty() ? 0 : p.pk + 100;
}

QByteArray kv(const QVariantMap &map)
{
    return tinykv::serialize(map);
}

// The template layout keeps in _other what the phone layout has in columns, as
// this program's writer does when it copies a phone's records.
QByteArray personOther(const PersonSpec &p)
{
    return kv({{QStringLiteral("Z_OPT"), p.opt}, {QStringLiteral("ZCONTACT"), contactKey(p)}});
}

QByteArray chatOther(const ChatSpec &c)
{
    QVariantMap map{{QStringLiteral("Z_OPT"), c.opt},
                    {QStringLiteral("ZCONTEXT"), c.context},
                    {QStringLiteral("ZSMARTSTATE"), c.smartState}};
    if (!c.smartNotificationShown.isNull())
        map.insert(QStringLiteral("ZSMARTNOTIFICATIONSHOWN"), c.smartNotificationShown.toInt());
    return kv(map);
}

QByteArray messageOther(const MessageSpec &m)
{
    QVariantMap map{{QStringLiteral("Z_OPT"), m.opt}};
    if (!m.emoticonsRanges.isEmpty())
        map.insert(QStringLiteral("ZEMOTICONSRANGES"), m.emoticonsRanges);
    if (!m.ranges.isEmpty())
        map.insert(QStringLiteral("ZRANGES"), m.ranges);
    return kv(map);
}

QByteArray attachmentOther(const AttachmentSpec &a)
{
    return kv({{QStringLiteral("Z_OPT"), a.opt},
               {QStringLiteral("ZRANGE"), a.range},
               {QStringLiteral("ZSTATE"), a.state},
               {QStringLiteral("ZURL"), a.url}});
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

PersonSpec &StoreSpec::addPerson(const QString &label, const QString &canonPhone, const QString &viberName,
                                 const QString &contactName)
{
    PersonSpec p;
    p.label = label;
    p.pk = nextKey(persons);
    p.canonPhone = canonPhone;
    p.phone = canonPhone.isEmpty() ? QString() : QStringLiteral("+") + canonPhone;
    p.viberName = viberName;
    p.contactName = contactName;
    if (!contactName.isEmpty())
        p.recordId = p.pk * 11;
    persons.push_back(p);
    return persons.back();
}

ChatSpec &StoreSpec::addChat(const QString &label, const QList<qint64> &participants, const QString &groupId,
                             const QString &name)
{
    ChatSpec c;
    c.label = label;
    c.pk = nextKey(chats);
    c.participants = participants;
    c.groupId = groupId;
    c.name = name;
    c.date = 700000000.0 + double(c.pk);
    chats.push_back(c);
    return chats.back();
}

MessageSpec &StoreSpec::addMessage(const QString &label, qint64 chat, qint64 person, const QString &state,
                                   const QString &text, const QString &systemType)
{
    MessageSpec m;
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
    messages.push_back(m);
    return messages.back();
}

LocationSpec &StoreSpec::addLocation(const QString &label, qint64 message, double latitude, double longitude,
                                     const QString &address)
{
    LocationSpec l;
    l.label = label;
    l.pk = nextKey(locations);
    l.message = message;
    l.latitude = latitude;
    l.longitude = longitude;
    l.address = address;
    locations.push_back(l);
    return locations.back();
}

AttachmentSpec &StoreSpec::addAttachment(const QString &label, qint64 message, const QString &type,
                                         const QString &name, const QString &attId)
{
    AttachmentSpec a;
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
    attachments.push_back(a);
    return attachments.back();
}

CallSpec &StoreSpec::addCall(const QString &label, qint64 person, const QString &callType)
{
    CallSpec c;
    c.label = label;
    c.pk = nextKey(calls);
    c.person = person;
    c.callType = callType;
    c.token = 9000000000LL + c.pk;
    c.duration = int(10 * c.pk);
    c.date = 720000000.5 + double(c.pk) * 3600.0;
    calls.push_back(c);
    return calls.back();
}

FileSpec &StoreSpec::addFile(const QString &relativePath, FileKind kind, QSize size)
{
    FileSpec f;
    f.relativePath = relativePath;
    f.kind = kind;
    f.size = size;
    if (kind == FileKind::Bytes)
        f.bytes = QByteArray("not a picture: ") + relativePath.toUtf8();
    files.push_back(f);
    return files.back();
}

const PersonSpec &StoreSpec::person(const QString &label) const
{
    return byLabel(persons, label, "person");
}

const ChatSpec &StoreSpec::chat(const QString &label) const
{
    return byLabel(chats, label, "chat");
}

const MessageSpec &StoreSpec::message(const QString &label) const
{
    return byLabel(messages, label, "message");
}

const LocationSpec &StoreSpec::location(const QString &label) const
{
    return byLabel(locations, label, "location");
}

const AttachmentSpec &StoreSpec::attachment(const QString &label) const
{
    return byLabel(attachments, label, "attachment");
}

const CallSpec &StoreSpec::call(const QString &label) const
{
    return byLabel(calls, label, "call");
}

const PersonSpec *StoreSpec::personByKey(qint64 pk) const
{
    for (const PersonSpec &p : persons)
        if (p.pk == pk)
            return &p;
    return nullptr;
}

// --- The sample store ------------------------------------------------------------

StoreSpec sampleStore()
{
    StoreSpec s;
    PersonSpec &ann = s.addPerson(QStringLiteral("ann"), QStringLiteral("4915111111111"),
                                  QStringLiteral("Annie"), QStringLiteral("Ann Contact"));
    ann.iconId = QStringLiteral("ann-icon");
    const qint64 annKey = ann.pk;
    const qint64 bob =
        s.addPerson(QStringLiteral("bob"), QStringLiteral("4915222222222"), QStringLiteral("Bob")).pk;
    const qint64 cleo = s.addPerson(QStringLiteral("cleo"), QStringLiteral("4915333333333"), QString(),
                                    QStringLiteral("Cleo"))
                            .pk;
    const qint64 dan =
        s.addPerson(QStringLiteral("dan"), QStringLiteral("4915444444444"), QStringLiteral("Dan")).pk;
    const qint64 eve = s.addPerson(QStringLiteral("eve"), QStringLiteral("4915555555555"),
                                   QStringLiteral("Eve"), QStringLiteral("Eve Contact"))
                           .pk;
    PersonSpec &fayRec =
        s.addPerson(QStringLiteral("fay"), QStringLiteral("fay.viber"), QStringLiteral("Fay"));
    fayRec.phone = QStringLiteral("fay.viber");
    const qint64 fay = fayRec.pk;

    const qint64 annChat = s.addChat(QStringLiteral("ann"), {annKey}).pk;
    const qint64 bobChat = s.addChat(QStringLiteral("bob"), {bob}).pk;
    ChatSpec &group = s.addChat(QStringLiteral("group"), {annKey, bob, eve}, QStringLiteral("G-FRIENDS"),
                                QStringLiteral("Friends"));
    group.context = 77;
    group.smartNotificationShown = 1;
    group.smartState = 2;
    group.iconId = QStringLiteral("group-icon");
    const qint64 groupChat = group.pk;
    s.addChat(QStringLiteral("cleo"), {cleo});
    s.addChat(QStringLiteral("empty"), {});
    const qint64 fayChat = s.addChat(QStringLiteral("fay"), {fay}).pk;

    const QString received = QStringLiteral("received");
    MessageSpec &hello =
        s.addMessage(QStringLiteral("received"), annChat, annKey, received, QStringLiteral("Hello 😀"));
    hello.emoticonsRanges = QByteArray("\x01\x02\x03", 3);
    hello.ranges = QByteArray("ranges");
    s.addMessage(QStringLiteral("sending"), annChat, 0, QStringLiteral("SENDING"),
                 QStringLiteral("On my way"));
    s.addMessage(QStringLiteral("delivered"), annChat, 0, QStringLiteral("delivered"),
                 QStringLiteral("Delivered"));
    s.addMessage(QStringLiteral("send"), annChat, 0, QStringLiteral("send"), QStringLiteral("Sent"));
    s.addMessage(QStringLiteral("pending"), annChat, 0, QStringLiteral("Pending"), QStringLiteral("Waiting"));
    s.addMessage(QStringLiteral("pendingNotSent"), annChat, 0, QStringLiteral("pendingNotSent"),
                 QStringLiteral("Not sent"));
    const qint64 failed =
        s.addMessage(QStringLiteral("failed"), annChat, 0, QStringLiteral("failed"), QStringLiteral("Lost"))
            .pk;
    s.addMessage(QStringLiteral("nameChanged"), groupChat, annKey, QStringLiteral("pending"),
                 QStringLiteral("Friends"), QStringLiteral("SystemNameChanged"));
    s.addMessage(QStringLiteral("memberAdded"), groupChat, annKey, received, QStringLiteral("4915555555555"),
                 QStringLiteral("systemMemberAdded"));
    s.addMessage(QStringLiteral("memberAddedEmpty"), groupChat, annKey, received, QString(),
                 QStringLiteral("SYSTEMMEMBERADDED"));
    s.addMessage(QStringLiteral("unknownSystem"), annChat, annKey, received, QStringLiteral("?"),
                 QStringLiteral("systemSomethingNew"));
    s.addMessage(QStringLiteral("noChat"), 999, annKey, received, QStringLiteral("Nowhere"));

    const qint64 location = s.addMessage(QStringLiteral("location"), annChat, annKey, received, QString(),
                                         QStringLiteral("customLocation"))
                                .pk;
    s.addLocation(QStringLiteral("location"), location, 48.1, 11.58, QStringLiteral("Marienplatz, München"));

    auto media = [&](const QString &label, const QString &type, const QString &name,
                     const QString &attId = QString()) -> AttachmentSpec & {
        const qint64 m = s.addMessage(label, annChat, annKey, received, QString()).pk;
        return s.addAttachment(label, m, type, name, attId);
    };
    AttachmentSpec &picture =
        media(QStringLiteral("picture"), QStringLiteral("picture"), QStringLiteral("p1.jpg"));
    picture.url = QStringLiteral("assets-library://asset/asset.JPG?id=ab12-cd34&ext=JPG");
    s.addFile(QStringLiteral("Documents/Attachments/p1.jpg"), FileKind::Jpeg, QSize(80, 60));
    media(QStringLiteral("pictureSmall"), QStringLiteral("picture"), QStringLiteral("p2.jpg"));
    s.addFile(QStringLiteral("Documents/Attachments/p2.jpg"), FileKind::Jpeg);
    s.addFile(QStringLiteral("Documents/AttachmentsPreview/p2.jpg"), FileKind::Jpeg);
    s.addFile(QStringLiteral("Documents/BigAttachmentsPreview/p2.jpg"), FileKind::Jpeg);
    media(QStringLiteral("pictureBig"), QStringLiteral("picture"), QStringLiteral("p3.jpg"));
    s.addFile(QStringLiteral("Documents/Attachments/p3.jpg"), FileKind::Jpeg);
    s.addFile(QStringLiteral("Documents/BigAttachmentsPreview/p3.jpg"), FileKind::Jpeg);
    media(QStringLiteral("picturePng"), QStringLiteral("picture"), QStringLiteral("p4.png"));
    s.addFile(QStringLiteral("Documents/Attachments/p4.png"), FileKind::Png, QSize(30, 60));
    AttachmentSpec &video = media(QStringLiteral("video"), QStringLiteral("video"), QStringLiteral("v1.mp4"));
    video.duration = 61.5;
    s.addFile(QStringLiteral("Documents/Attachments/v1.mp4"), FileKind::Bytes);
    s.addFile(QStringLiteral("Documents/BigAttachmentsPreview/v1.jpg"), FileKind::Jpeg);
    media(QStringLiteral("videoNoPreview"), QStringLiteral("video"), QStringLiteral("v2.mov"));
    s.addFile(QStringLiteral("Documents/Attachments/v2.mov"), FileKind::Bytes);
    AttachmentSpec &audio = media(QStringLiteral("audio"), QStringLiteral("audio"), QStringLiteral("a1.m4a"));
    audio.duration = 12.5;
    s.addFile(QStringLiteral("Documents/VoiceMessages/a1.m4a"), FileKind::Bytes);
    AttachmentSpec &sticker =
        media(QStringLiteral("sticker"), QStringLiteral("sticker"), QString(), QStringLiteral("1234"));
    sticker.state = QString();
    s.addFile(QStringLiteral("Documents/stickers/1200/100/00001234.png"), FileKind::Png);
    AttachmentSpec &pin = media(QStringLiteral("locationAttachment"), QStringLiteral("customLocation"),
                                QStringLiteral("map.jpg"));
    s.addLocation(QStringLiteral("locationAttachment"), pin.message, 48.123456789, 11.58);
    s.addFile(QStringLiteral("Documents/CustomLocationImage/48.123457_11.jpg"), FileKind::Jpeg);
    media(QStringLiteral("other"), QStringLiteral("file"), QStringLiteral("doc.pdf"));
    s.addAttachment(QStringLiteral("ofFailed"), failed, QStringLiteral("picture"),
                    QStringLiteral("lost.jpg"));

    s.addMessage(QStringLiteral("groupText"), groupChat, eve, received, QStringLiteral("Hi all"));
    s.addMessage(QStringLiteral("groupNoSender"), groupChat, 0, QStringLiteral("delivered"),
                 QStringLiteral("Mine"));
    s.addMessage(QStringLiteral("bobText"), bobChat, bob, received, QStringLiteral("Bob here"));
    s.addMessage(QStringLiteral("fayText"), fayChat, fay, received, QStringLiteral("Fay here"));

    s.addCall(QStringLiteral("annIncoming"), annKey, QStringLiteral("incoming"));
    s.addCall(QStringLiteral("bobOutgoing"), bob, QStringLiteral("outgoing_viber"));
    s.addCall(QStringLiteral("danMissed"), dan, QStringLiteral("MISSED"));
    s.addCall(QStringLiteral("danIncoming"), dan, QStringLiteral("Incoming_Video"));
    s.addCall(QStringLiteral("cleoMissed"), cleo, QStringLiteral("missed"));
    s.addCall(QStringLiteral("unknownType"), annKey, QStringLiteral("conference"));
    s.addCall(QStringLiteral("nobody"), 99, QStringLiteral("incoming"));
    return s;
}

// --- StoreWriter -----------------------------------------------------------------

struct StoreWriter::Impl
{
    QString root;
    QString path;
    StoreLayout layout = StoreLayout::Template;
    sqlite3 *db = nullptr;
    QHash<QByteArray, sqlite3_stmt *> statements;
    QHash<qint64, qint64> lineOfPerson;
    qint64 uid = 0;
    bool finished = false;

    bool phone() const { return layout == StoreLayout::Phone; }
    int ent(int templateEnt, int phoneEnt) const { return phone() ? phoneEnt : templateEnt; }

    [[noreturn]] void fail(const QString &what) const
    {
        throw std::runtime_error(
            QStringLiteral("fixture store %1: %2: %3")
                .arg(path, what, db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("not open"))
                .toStdString());
    }

    void exec(const QByteArray &sql)
    {
        char *msg = nullptr;
        if (sqlite3_exec(db, sql.constData(), nullptr, nullptr, &msg) != SQLITE_OK) {
            const QString text = QString::fromUtf8(msg ? msg : "");
            sqlite3_free(msg);
            fail(text);
        }
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
            if (sqlite3_prepare_v2(db, sql.constData(), -1, &stmt, nullptr) != SQLITE_OK)
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

    void close()
    {
        for (sqlite3_stmt *stmt : std::as_const(statements))
            sqlite3_finalize(stmt);
        statements.clear();
        if (db)
            sqlite3_close(db);
        db = nullptr;
    }
};

StoreWriter::StoreWriter(const QString &root, StoreLayout layout, const QString &fileName) : d(new Impl)
{
    d->root = root;
    d->layout = layout;
    d->path = QDir(root).filePath(fileName);
    if (QFileInfo::exists(d->path))
        throw std::runtime_error("fixture store exists already: " + d->path.toStdString());
    QDir().mkpath(QFileInfo(d->path).absolutePath());
    if (sqlite3_open_v2(QFile::encodeName(d->path).constData(), &d->db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
        d->fail(QStringLiteral("open"));
    if (layout == StoreLayout::Template) {
        QFile script(QStringLiteral(":/res/ios_viber_db.sql"));
        if (!script.open(QIODevice::ReadOnly))
            d->fail(QStringLiteral("template schema: ") + script.errorString());
        d->exec(script.readAll());
    } else {
        d->exec(kPhoneSchema);
    }
    d->exec("BEGIN");
}

StoreWriter::~StoreWriter()
{
    if (!d->finished && d->db)
        sqlite3_exec(d->db, "COMMIT", nullptr, nullptr, nullptr);
    d->close();
}

void StoreWriter::finish()
{
    d->exec("COMMIT");
    d->finished = true;
    d->close();
}

QString StoreWriter::storePath() const
{
    return d->path;
}

StoreLayout StoreWriter::layout() const
{
    return d->layout;
}

sqlite3 *StoreWriter::handle() const
{
    return d->db;
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
        cols.append({"ZCONTACT", keyOrNull(contactKey(p))});
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
        cols.append({"_other", personOther(p)});
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
        cols.append({"_other", chatOther(c)});
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
                       {"ZPHONENUMINDEX", keyOrNull(m.person)},
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
        cols.append({"_other", messageOther(m)});
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
        cols.append({"_other", attachmentOther(a)});
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
        cols.append({"_other", kv({{QStringLiteral("Z_OPT"), c.opt}})});
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

// Every row of every table, for comparing whole stores.
QStringList storeRows(Sqlite3DB &db)
{
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

QStringList storeRows(const QString &storePath)
{
    Sqlite3DB db;
    db.openThrow(storePath, Sqlite3DB::ReadOnly);
    return storeRows(db);
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
