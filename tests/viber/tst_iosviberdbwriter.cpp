#include "support/StoreFixtures.h"
#include "support/TestSupport.h"

#include "export/Emoticons.h"
#include "viber/IOSViberDb.h"
#include "viber/TinyKv.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using fixtures::Records;
using fixtures::StoreLayout;

Q_DECLARE_METATYPE(fixtures::StoreLayout)

namespace {

const QString kFile = QString::fromLatin1(fixtures::kStoreFileName);

// An empty store of the layout in root.
std::unique_ptr<IOSViberDb> emptyStore(const QString &root, StoreLayout layout)
{
    if (layout == StoreLayout::Phone) {
        fixtures::StoreWriter w(root, layout);
        w.finish();
    } else {
        QDir(root).mkpath(QStringLiteral("Documents"));
    }
    auto db = std::make_unique<IOSViberDb>(QDir(root), kFile);
    db->open();
    return db;
}

QVariant scalar(IOSViberDb &db, const QString &sql)
{
    Sqlite3Cursor c = db.queryThrow(sql);
    return c.moveNext() ? c.value(c.columnNames().value(0)) : QVariant();
}

qint64 count(IOSViberDb &db, const QString &table)
{
    return scalar(db, QStringLiteral("select count(*) from %1").arg(table)).toLongLong();
}

// A merge run as the copy and the transfer make it: chat by chat, in one transaction.
void mergeAll(IOSViberDb &db, QList<_ViberMsg *> messages)
{
    std::stable_sort(messages.begin(), messages.end(), [](const _ViberMsg *a, const _ViberMsg *b) {
        if (a->chat->id != b->chat->id)
            return a->chat->id < b->chat->id;
        return a->date < b->date;
    });
    db.requireWriterTables();
    db.execThrow(QStringLiteral("BEGIN IMMEDIATE"));
    IOSViberDb::MergeState state;
    for (const _ViberMsg *m : messages) {
        qint64 att = 0, loc = 0;
        db.mergeMessage(state, m, att, loc);
    }
    db.dropEmptyInsertedChats(state);
    db.refreshRecentsLines();
    db.refreshConversationDates();
    db.execThrow(QStringLiteral("COMMIT"));
}

} // namespace

class TestIOSViberDbWriter : public QObject
{
    Q_OBJECT

private slots:
    void zuidStartsAtOneAcrossTables();
    void zuidContinuesFromTheStoreMaximum();
    void rowsFollowTheTargetLayout_data();
    void rowsFollowTheTargetLayout();
    void duplicateWindow_data();
    void duplicateWindow();
    void oneToOneChatNeverMatchesAGroup();
    void backLinksOfAttachmentAndLocation();
    void voiceAttachmentIsNamedByItsKey();
    void callsAreKeptApartByType();
    void unwritableRecordsLeaveNothing();
    void summaryColumns();
    void storeWithoutAWriterTableIsRefusedUntouched();
    void roundTrip_data();
    void roundTrip();

private:
    static void addLayouts();
};

void TestIOSViberDbWriter::addLayouts()
{
    QTest::addColumn<StoreLayout>("layout");
    QTest::newRow("template layout") << StoreLayout::Template;
    QTest::newRow("phone layout") << StoreLayout::Phone;
}

void TestIOSViberDbWriter::zuidStartsAtOneAcrossTables()
{
    QTemporaryDir dir;
    auto db = emptyStore(dir.path(), StoreLayout::Phone);
    Records r;
    _ViberPerson &ann = r.person(QStringLiteral("+491511"));
    _ViberChat &chat = r.chat({&ann});
    _ViberMsg &msg = r.message(chat, &ann, ViberMsgStateReceived, QStringLiteral("hi"), 7e8, 42);

    qint64 counter = -1;
    const qint64 chatKey = db->insertChat(counter, &chat);
    qint64 att = -5, loc = -5;
    const qint64 msgKey = db->insertMessage(counter, chatKey, &msg, att, loc);
    QCOMPARE(scalar(*db, QStringLiteral("select ZUID from ZCONVERSATION")).toLongLong(), 1);
    // The sender is inserted while the message's row is collected, after its ZUID.
    QCOMPARE(
        scalar(*db, QStringLiteral("select ZUID from ZVIBERMESSAGE where Z_PK=%1").arg(msgKey)).toLongLong(),
        2);
    QCOMPARE(scalar(*db, QStringLiteral("select ZUID from ZPHONENUMBERINDEX")).toLongLong(), 3);
    QCOMPARE(counter, 3);
    QCOMPARE(att, 0);
    QCOMPARE(loc, 0);

    // Without advancing, the counter stays where it is.
    db->nextZuid(counter, false);
    QCOMPARE(counter, 3);
}

void TestIOSViberDbWriter::zuidContinuesFromTheStoreMaximum()
{
    QTemporaryDir dir;
    auto db = emptyStore(dir.path(), StoreLayout::Phone);
    db->execThrow(QStringLiteral("insert into ZRECENTSLINE(Z_PK, ZUID) values (1, 17); "
                                 "insert into ZATTACHMENT(Z_PK, ZUID) values (1, 9)"));
    qint64 counter = -1;
    db->nextZuid(counter, false);
    QCOMPARE(counter, 17);
    db->nextZuid(counter);
    QCOMPARE(counter, 18);

    // The template layout has no ZUID column: its rows get none, and the counter
    // starts from nothing.
    QTemporaryDir other;
    auto plain = emptyStore(other.path(), StoreLayout::Template);
    qint64 c2 = -1;
    plain->nextZuid(c2);
    QCOMPARE(c2, 1);
}

void TestIOSViberDbWriter::rowsFollowTheTargetLayout_data()
{
    addLayouts();
}

void TestIOSViberDbWriter::rowsFollowTheTargetLayout()
{
    QFETCH(StoreLayout, layout);
    QTemporaryDir dir;
    auto db = emptyStore(dir.path(), layout);
    const bool phone = layout == StoreLayout::Phone;

    Records r;
    _ViberPerson &ann = r.person(QStringLiteral("+49 151 11"), QStringLiteral("Ann"));
    ann.other = tinykv::serialize({{QStringLiteral("Z_OPT"), 7}});
    _ViberChat &chat = r.chat({&ann}, QString(), QStringLiteral("Chat name"));
    chat.other = tinykv::serialize(
        {{QStringLiteral("Z_OPT"), 4}, {QStringLiteral("ZCONTEXT"), 77}, {QStringLiteral("ZSMARTSTATE"), 2}});
    _ViberMsg &msg = r.message(chat, &ann, ViberMsgStatePending, QStringLiteral("(smiley) hi"), 7e8, 42);
    _ViberAtta &att = r.attachment(msg, ViberMsgTypeVideo, QStringLiteral("v.mp4"), QStringLiteral("vid"));
    att.duration = 3.5;
    att.other = tinykv::serialize({{QStringLiteral("ZURL"), QStringLiteral("assets-library://x")}});

    IOSViberDb::MergeState state;
    qint64 attKey = 0, locKey = 0;
    const qint64 msgKey = db->mergeMessage(state, &msg, attKey, locKey);
    QVERIFY(msgKey > 0 && attKey > 0);
    QCOMPARE(locKey, 0);

    Sqlite3Cursor m = db->queryThrow(QStringLiteral("select * from ZVIBERMESSAGE"));
    QVERIFY(m.moveNext());
    QCOMPARE(m.getInt64(QStringLiteral("ZCONVERSATION")), state.chatKey);
    QCOMPARE(m.getText(QStringLiteral("ZSTATE")), QStringLiteral("pendingNotSent"));
    QCOMPARE(m.getInt64(QStringLiteral("ZTOKEN")), 42);
    QCOMPARE(m.getInt64(QStringLiteral("ZATTACHMENT")), attKey);
    QVERIFY(m.isNull(QStringLiteral("ZLOCATION")));
    const qint64 sender = m.getInt64(QStringLiteral("ZPHONENUMINDEX"));
    QCOMPARE(
        scalar(*db,
               QStringLiteral("select ZCANONIZEDPHONENUM from ZPHONENUMBERINDEX where Z_PK=%1").arg(sender))
            .toString(),
        QStringLiteral("4915111"));
    QCOMPARE(scalar(*db, QStringLiteral("select ZPHONENUM from ZPHONENUMBERINDEX")).toString(),
             QStringLiteral("+49 151 11"));
    QCOMPARE(count(*db, QStringLiteral("ZPHONENUMBERINDEX")), 1);
    QCOMPARE(count(*db, db->joinTable()), 1);

    Sqlite3Cursor a = db->queryThrow(QStringLiteral("select * from ZATTACHMENT"));
    QVERIFY(a.moveNext());
    QCOMPARE(a.getText(QStringLiteral("ZTYPE")), QStringLiteral("video"));
    QCOMPARE(a.getDouble(QStringLiteral("ZDURATION")), 3.5);
    QCOMPARE(a.getText(QStringLiteral("ZNAME")), QStringLiteral("v.mp4"));
    QCOMPARE(a.getText(QStringLiteral("ZID")), QStringLiteral("vid"));
    QCOMPARE(a.getInt64(QStringLiteral("ZMESSAGE")), msgKey);

    if (phone) {
        QCOMPARE(m.getInt(QStringLiteral("Z_ENT")), 21);
        QCOMPARE(m.getInt(QStringLiteral("Z_OPT")), 2);
        QVERIFY(m.getInt64(QStringLiteral("ZUID")) > 0);
        QCOMPARE(m.getInt(QStringLiteral("Z5_CONVERSATION")), 5);
        // Emoticon ranges come from the text when the record carries none.
        QCOMPARE(m.getBlob(QStringLiteral("ZEMOTICONSRANGES")), Emoticons::ranges(msg.text));
        QCOMPARE(a.getInt(QStringLiteral("Z_ENT")), 3);
        QCOMPARE(a.getText(QStringLiteral("ZSTATE")), QStringLiteral("complite"));
        QCOMPARE(a.getText(QStringLiteral("ZURL")), QStringLiteral("assets-library://x"));
        QCOMPARE(a.getInt64(QStringLiteral("ZRANGE")), att.fileSize);
        Sqlite3Cursor c = db->queryThrow(QStringLiteral("select * from ZCONVERSATION"));
        QVERIFY(c.moveNext());
        QCOMPARE(c.getInt(QStringLiteral("Z_ENT")), 5);
        QCOMPARE(c.getInt(QStringLiteral("Z_OPT")), 4);
        QCOMPARE(c.getInt(QStringLiteral("ZCONTEXT")), 77);
        QCOMPARE(c.getInt(QStringLiteral("ZSMARTSTATE")), 2);
        QCOMPARE(c.getText(QStringLiteral("ZNAME")), QStringLiteral("Chat name"));
        QVERIFY(c.isNull(QStringLiteral("ZGROUPID")));
        Sqlite3Cursor p = db->queryThrow(QStringLiteral("select * from ZPHONENUMBERINDEX"));
        QVERIFY(p.moveNext());
        QCOMPARE(p.getInt(QStringLiteral("Z_ENT")), 10);
        QCOMPARE(p.getInt(QStringLiteral("Z_OPT")), 7);
        QCOMPARE(p.getInt(QStringLiteral("ZISVIBER")), 1);
        QCOMPARE(p.getText(QStringLiteral("ZPHONETYPE")), QStringLiteral("mobile"));
        // A phone takes names from its address book.
        QVERIFY(p.isNull(QStringLiteral("ZNAME")));
        QCOMPARE(
            scalar(*db, QStringLiteral("select count(distinct ZUID) from (select ZUID from ZCONVERSATION "
                                       "union all select ZUID from ZVIBERMESSAGE union all select ZUID from "
                                       "ZPHONENUMBERINDEX union all select ZUID from ZATTACHMENT)"))
                .toInt(),
            4);
    } else {
        QVERIFY(!m.containsCol(QStringLiteral("Z_ENT")));
        QCOMPARE(m.getBlob(QStringLiteral("_other")), msg.other);
        QCOMPARE(a.getBlob(QStringLiteral("_other")), att.other);
        QCOMPARE(scalar(*db, QStringLiteral("select _other from ZCONVERSATION")).toByteArray(), chat.other);
        QCOMPARE(scalar(*db, QStringLiteral("select ZNAME from ZPHONENUMBERINDEX")).toString(),
                 QStringLiteral("Ann"));
        QCOMPARE(scalar(*db, QStringLiteral("select _other from ZPHONENUMBERINDEX")).toByteArray(),
                 ann.other);
    }
}

void TestIOSViberDbWriter::duplicateWindow_data()
{
    QTest::addColumn<double>("offset");
    QTest::addColumn<qint64>("token");
    QTest::addColumn<bool>("duplicate");
    QTest::newRow("59 s later is the same message") << 59.0 << qint64(42) << true;
    QTest::newRow("59 s earlier is the same message") << -59.0 << qint64(42) << true;
    QTest::newRow("61 s later is another message") << 61.0 << qint64(42) << false;
    QTest::newRow("61 s earlier is another message") << -61.0 << qint64(42) << false;
    QTest::newRow("same time, other token") << 0.0 << qint64(43) << false;
}

void TestIOSViberDbWriter::duplicateWindow()
{
    QFETCH(double, offset);
    QFETCH(qint64, token);
    QFETCH(bool, duplicate);
    QTemporaryDir dir;
    auto db = emptyStore(dir.path(), StoreLayout::Template);
    Records r;
    _ViberPerson &ann = r.person(QStringLiteral("+491511"));
    _ViberChat &chat = r.chat({&ann});
    _ViberMsg &first = r.message(chat, &ann, ViberMsgStateReceived, QStringLiteral("a"), 710000000.25, 42);
    r.attachment(first, ViberMsgTypePicture, QStringLiteral("p.jpg"));
    _ViberMsg &second =
        r.message(chat, &ann, ViberMsgStateReceived, QStringLiteral("b"), 710000000.25 + offset, token);

    IOSViberDb::MergeState state;
    qint64 att = 0, loc = 0;
    const qint64 firstKey = db->mergeMessage(state, &first, att, loc);
    const qint64 firstAtt = att;
    QVERIFY(firstAtt > 0);

    qint64 found = 99;
    QCOMPARE(db->findDuplicateMessage(second.token, second.date, found) == firstKey, duplicate);
    // Only a found message sets the attachment key.
    QCOMPARE(found, duplicate ? firstAtt : 99);

    const qint64 secondKey = db->mergeMessage(state, &second, att, loc);
    QCOMPARE(secondKey == 0, duplicate);
    QCOMPARE(att, duplicate ? firstAtt : 0);
    QCOMPARE(count(*db, QStringLiteral("ZVIBERMESSAGE")), duplicate ? 1 : 2);
}

void TestIOSViberDbWriter::oneToOneChatNeverMatchesAGroup()
{
    QTemporaryDir dir;
    auto db = emptyStore(dir.path(), StoreLayout::Template);
    Records r;
    _ViberPerson &x = r.person(QStringLiteral("+111"));
    _ViberPerson &y = r.person(QStringLiteral("+222"));
    _ViberChat &group = r.chat({&x}, QStringLiteral("G1"));
    _ViberChat &emptyGroupId = r.chat({&y});
    _ViberChat &withX = r.chat({&x});
    _ViberChat &pair = r.chat({&x, &y});

    qint64 counter = -1;
    const qint64 groupKey = db->insertChat(counter, &group);
    db->linkParticipants(counter, groupKey, group.participants.values());
    const qint64 emptyKey = db->insertChat(counter, &emptyGroupId);
    db->linkParticipants(counter, emptyKey, emptyGroupId.participants.values());
    db->execThrow(QStringLiteral("update ZCONVERSATION set ZGROUPID='' where Z_PK=%1").arg(emptyKey));

    // x's only conversation is a group; the one with an empty group id is y's.
    QCOMPARE(db->findChatKey(&withX), 0);
    QCOMPARE(db->findChatKey(&group), groupKey);
    QCOMPARE(db->findChatKey(&emptyGroupId), emptyKey);
    // Neither a group id nor exactly one participant: never found.
    QCOMPARE(db->findChatKey(&pair), 0);

    const qint64 ownKey = db->insertChat(counter, &withX);
    db->linkParticipants(counter, ownKey, withX.participants.values());
    db->linkParticipants(counter, ownKey, withX.participants.values()); // twice links once
    QCOMPARE(db->findChatKey(&withX), ownKey);
    QCOMPARE(count(*db, QStringLiteral("ZPHONENUMBERINDEX")), 2);
    QCOMPARE(count(*db, db->joinTable()), 3);
}

void TestIOSViberDbWriter::backLinksOfAttachmentAndLocation()
{
    QTemporaryDir dir;
    auto db = emptyStore(dir.path(), StoreLayout::Template);
    Records r;
    _ViberPerson &ann = r.person(QStringLiteral("+491511"));
    _ViberChat &chat = r.chat({&ann});
    _ViberMsg &picture = r.message(chat, &ann, ViberMsgStateReceived, QString(), 7e8, 1);
    r.attachment(picture, ViberMsgTypePicture, QStringLiteral("p.jpg"));
    _ViberMsg &location = r.message(chat, &ann, ViberMsgStateReceived, QString(), 7e8 + 100, 2);
    location.type = ViberMsgTypeLocation;
    location.latitude = 48.1;
    location.longitude = 11.58;
    location.address = QStringLiteral("Marienplatz");

    IOSViberDb::MergeState state;
    qint64 att = 0, loc = 0;
    const qint64 pictureKey = db->mergeMessage(state, &picture, att, loc);
    QVERIFY(att > 0);
    QCOMPARE(loc, 0);
    QCOMPARE(
        scalar(*db, QStringLiteral("select ZATTACHMENT from ZVIBERMESSAGE where Z_PK=%1").arg(pictureKey))
            .toLongLong(),
        att);
    QVERIFY(scalar(*db, QStringLiteral("select ZLOCATION from ZVIBERMESSAGE where Z_PK=%1").arg(pictureKey))
                .isNull());
    const QString bucket = scalar(*db, QStringLiteral("select ZBUCKET from ZATTACHMENT")).toString();
    QCOMPARE(bucket, QStringLiteral("Share") +
                         storeTimeToDateTime(7e8).toLocalTime().toString(QStringLiteral("yyyy-MM-dd")));
    QCOMPARE(scalar(*db, QStringLiteral("select ZTYPE from ZATTACHMENT")).toString(),
             QStringLiteral("picture"));
    QVERIFY(scalar(*db, QStringLiteral("select ZSYSTEMTYPE from ZVIBERMESSAGE where Z_PK=%1").arg(pictureKey))
                .isNull());

    const qint64 locationKey = db->mergeMessage(state, &location, att, loc);
    QCOMPARE(att, 0);
    QVERIFY(loc > 0);
    QCOMPARE(scalar(*db, QStringLiteral("select ZLOCATION from ZVIBERMESSAGE where Z_PK=%1").arg(locationKey))
                 .toLongLong(),
             loc);
    QVERIFY(
        scalar(*db, QStringLiteral("select ZATTACHMENT from ZVIBERMESSAGE where Z_PK=%1").arg(locationKey))
            .isNull());
    QCOMPARE(
        scalar(*db, QStringLiteral("select ZSYSTEMTYPE from ZVIBERMESSAGE where Z_PK=%1").arg(locationKey))
            .toString(),
        QStringLiteral("customLocation"));
    Sqlite3Cursor l = db->queryThrow(QStringLiteral("select * from ZVIBERLOCATION"));
    QVERIFY(l.moveNext());
    QCOMPARE(l.getInt64(QStringLiteral("ZMESSAGE")), locationKey);
    QCOMPARE(l.getDouble(QStringLiteral("ZLATITUDE")), 48.1);
    QCOMPARE(l.getText(QStringLiteral("ZADDRESS")), QStringLiteral("Marienplatz"));
}

void TestIOSViberDbWriter::voiceAttachmentIsNamedByItsKey()
{
    QTemporaryDir dir;
    auto db = emptyStore(dir.path(), StoreLayout::Template);
    db->execThrow(QStringLiteral("insert into ZATTACHMENT(Z_PK, ZMESSAGE, ZNAME) values (56, 0, 'old')"));
    Records r;
    _ViberPerson &ann = r.person(QStringLiteral("+491511"));
    _ViberChat &chat = r.chat({&ann});
    _ViberMsg &voice = r.message(chat, &ann, ViberMsgStateReceived, QString(), 7e8, 1);
    _ViberAtta &a = r.attachment(voice, ViberMsgTypeAudio, QStringLiteral("a1.m4a"), QStringLiteral("zz"));
    a.duration = 12.5;

    IOSViberDb::MergeState state;
    qint64 att = 0, loc = 0;
    db->mergeMessage(state, &voice, att, loc);
    QCOMPARE(att, 57);
    Sqlite3Cursor c = db->queryThrow(QStringLiteral("select * from ZATTACHMENT where Z_PK=57"));
    QVERIFY(c.moveNext());
    QCOMPARE(c.getText(QStringLiteral("ZNAME")), QStringLiteral("57"));
    QCOMPARE(c.getText(QStringLiteral("ZID")), QStringLiteral("57"));
    QCOMPARE(c.getText(QStringLiteral("ZTYPE")), QStringLiteral("audio"));
    QCOMPARE(c.getDouble(QStringLiteral("ZDURATION")), 12.5);
}

void TestIOSViberDbWriter::callsAreKeptApartByType()
{
    QTemporaryDir dir;
    auto db = emptyStore(dir.path(), StoreLayout::Template);
    Records r;
    _ViberPerson &ann = r.person(QStringLiteral("+491511"));
    _ViberChat &chat = r.chat({&ann});
    _ViberMsg &in = r.call(chat, ann, ViberCallTypeIncoming, 500, 7e8, 10);
    _ViberMsg &missed = r.call(chat, ann, ViberCallTypeMissed, 500, 7e8 + 50, 0);
    _ViberMsg &out = r.call(chat, ann, ViberCallTypeOutgoing, 501, 7e8 + 20, 30);

    qint64 counter = -1;
    const qint64 inKey = db->insertCall(counter, in.call);
    const qint64 missedKey = db->insertCall(counter, missed.call);
    const qint64 outKey = db->insertCall(counter, out.call);
    QVERIFY(inKey > 0 && missedKey > 0 && outKey > 0);
    QVERIFY(inKey != missedKey);
    // The same token and type is the same call.
    QCOMPARE(db->insertCall(counter, in.call), inKey);
    QCOMPARE(count(*db, QStringLiteral("ZRECENT")), 3);
    // One line per person, reused.
    QCOMPARE(count(*db, QStringLiteral("ZRECENTSLINE")), 1);
    QCOMPARE(count(*db, QStringLiteral("ZPHONENUMBERINDEX")), 1);
    QCOMPARE(
        scalar(*db, QStringLiteral("select ZCALLTYPE from ZRECENT where Z_PK=%1").arg(outKey)).toString(),
        QStringLiteral("outgoing_viber"));
    QCOMPARE(scalar(*db, QStringLiteral("select Z_ENT from ZRECENT where Z_PK=%1").arg(outKey)).toInt(), 8);
    QCOMPARE(scalar(*db, QStringLiteral("select Z_ENT from ZRECENTSLINE")).toInt(), 9);

    db->refreshRecentsLines();
    Sqlite3Cursor l = db->queryThrow(QStringLiteral("select * from ZRECENTSLINE"));
    QVERIFY(l.moveNext());
    QCOMPARE(l.getInt(QStringLiteral("ZCOUNT")), 3);
    QCOMPARE(l.getDouble(QStringLiteral("ZDATE")), 7e8 + 50);
    QCOMPARE(l.getText(QStringLiteral("ZCALLTYPE")), QStringLiteral("missed"));

    // Without a person there is nobody to file the call under.
    _ViberCall nobody;
    QCOMPARE(db->insertCall(counter, &nobody), 0);
    QCOMPARE(db->insertCall(counter, nullptr), 0);
    QCOMPARE(count(*db, QStringLiteral("ZRECENT")), 3);
}

void TestIOSViberDbWriter::unwritableRecordsLeaveNothing()
{
    QTemporaryDir dir;
    auto db = emptyStore(dir.path(), StoreLayout::Template);
    Records r;
    _ViberPerson &ann = r.person(QStringLiteral("+491511"));
    _ViberChat &group = r.chat({&ann}, QStringLiteral("G1"));
    _ViberMsg &noSender = r.message(group, nullptr, ViberMsgStateReceived, QStringLiteral("who?"), 7e8, 1);
    _ViberMsg &noState = r.message(group, &ann, ViberMsgStateNone, QStringLiteral("lost"), 7e8 + 100, 2);
    _ViberMsg &mine = r.message(group, nullptr, ViberMsgStateDelivered, QStringLiteral("mine"), 7e8 + 200, 3);
    _ViberMsg &system =
        r.message(group, nullptr, ViberMsgStateReceived, QStringLiteral("Friends"), 7e8 + 300, 4);
    system.type = ViberMsgTypeSystem;
    system.systemKind = ViberSystemKindNameChanged;

    qint64 counter = -1, att = 7, loc = 7;
    QCOMPARE(db->insertMessage(counter, 1, &noSender, att, loc), 0);
    QCOMPARE(db->insertMessage(counter, 1, &noState, att, loc), 0);
    QCOMPARE(db->insertMessage(counter, 1, nullptr, att, loc), 0);
    QCOMPARE(count(*db, QStringLiteral("ZVIBERMESSAGE")), 0);
    QCOMPARE(count(*db, QStringLiteral("ZPHONENUMBERINDEX")), 0);
    QCOMPARE(count(*db, QStringLiteral("ZATTACHMENT")), 0);

    QVERIFY(db->insertMessage(counter, 1, &mine, att, loc) > 0);
    const qint64 systemKey = db->insertMessage(counter, 1, &system, att, loc);
    QVERIFY(systemKey > 0);
    QCOMPARE(scalar(*db, QStringLiteral("select ZSYSTEMTYPE from ZVIBERMESSAGE where Z_PK=%1").arg(systemKey))
                 .toString(),
             QStringLiteral("systemNameChanged"));
    QCOMPARE(db->insertChat(counter, nullptr), 0);
    QCOMPARE(db->insertPerson(counter, nullptr), 0);
}

void TestIOSViberDbWriter::summaryColumns()
{
    QTemporaryDir dir;
    auto db = emptyStore(dir.path(), StoreLayout::Phone);
    Records r;
    _ViberPerson &ann = r.person(QStringLiteral("+491511"));
    _ViberChat &chat = r.chat({&ann});
    _ViberChat &quiet = r.chat({}, QStringLiteral("G-quiet"));
    _ViberMsg &older = r.message(chat, &ann, ViberMsgStateReceived, QStringLiteral("older"), 7e8, 1);
    _ViberMsg &latest = r.message(chat, nullptr, ViberMsgStateSend, QString(), 7e8 + 100, 2);
    _ViberAtta &picture = r.attachment(latest, ViberMsgTypePicture, QStringLiteral("p.jpg"));
    picture.other = tinykv::serialize({{QStringLiteral("ZURL"), QStringLiteral("assets-library://p")}});
    latest.other = tinykv::serialize({{QStringLiteral("ZRANGES"), QByteArray("rr")}});

    db->execThrow(QStringLiteral("BEGIN"));
    IOSViberDb::MergeState state;
    qint64 att = 0, loc = 0;
    db->mergeMessage(state, &older, att, loc);
    db->mergeMessage(state, &latest, att, loc);
    const qint64 chatKey = state.chatKey;
    const qint64 quietKey = db->insertChat(state.zuid, &quiet);
    db->refreshLastMessages();
    db->refreshPrimaryKeyMax();
    db->clearAttachmentUrl(att);
    db->refreshConversationDates();
    db->execThrow(QStringLiteral("COMMIT"));

    Sqlite3Cursor c =
        db->queryThrow(QStringLiteral("select * from ZCONVERSATION where Z_PK=%1").arg(chatKey));
    QVERIFY(c.moveNext());
    QCOMPARE(c.getInt64(QStringLiteral("ZLASTMESSAGETOKEN")), 2);
    QVERIFY(c.isNull(QStringLiteral("ZLASTMESSAGESENDER")));
    QCOMPARE(c.getDouble(QStringLiteral("ZDATE")), 7e8 + 100);
    QCOMPARE(c.getText(QStringLiteral("ZLASTMESSAGETYPE")), QStringLiteral("picture"));
    QCOMPARE(c.getBlob(QStringLiteral("ZLASTMESSAGERANGES")), QByteArray("rr"));
    QVERIFY(c.isNull(QStringLiteral("ZLASTMESSAGEEMOTICONSRANGES")));
    QVERIFY(
        scalar(*db, QStringLiteral("select ZDATE from ZCONVERSATION where Z_PK=%1").arg(quietKey)).isNull());
    QCOMPARE(
        scalar(*db, QStringLiteral("select Z_MAX from Z_PRIMARYKEY where Z_NAME='ViberMessage'")).toInt(), 2);
    QCOMPARE(
        scalar(*db, QStringLiteral("select Z_MAX from Z_PRIMARYKEY where Z_NAME='Conversation'")).toInt(), 2);
    QCOMPARE(
        scalar(*db, QStringLiteral("select Z_MAX from Z_PRIMARYKEY where Z_NAME='PhoneNumberIndex'")).toInt(),
        1);
    QVERIFY(scalar(*db, QStringLiteral("select Z_MAX from Z_PRIMARYKEY where Z_NAME='Recent'")).isNull());
    QVERIFY(scalar(*db, QStringLiteral("select ZURL from ZATTACHMENT")).isNull());
}

void TestIOSViberDbWriter::storeWithoutAWriterTableIsRefusedUntouched()
{
    QTemporaryDir dir;
    {
        fixtures::StoreWriter w(dir.path(), StoreLayout::Phone);
        w.finish();
    }
    const QString path = dir.filePath(kFile);
    {
        Sqlite3DB raw;
        raw.openThrow(path, Sqlite3DB::ReadWrite);
        // Newer phones keep participants as members.
        raw.execThrow(
            QStringLiteral("drop table ZPHONENUMBERINDEX; create table ZMEMBER (Z_PK INTEGER PRIMARY "
                           "KEY, ZNAME VARCHAR)"));
    }
    IOSViberDb db(QDir(dir.path()), kFile);
    db.open();
    const QStringList before = fixtures::storeRows(db);
    QString error;
    try {
        db.requireWriterTables();
    } catch (const std::exception &e) {
        error = QString::fromUtf8(e.what());
    }
    QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("ZPHONENUMBERINDEX")), qPrintable(error));
    QCOMPARE(fixtures::storeRows(db), before);
}

void TestIOSViberDbWriter::roundTrip_data()
{
    QTest::addColumn<StoreLayout>("source");
    QTest::addColumn<StoreLayout>("target");
    QTest::newRow("phone store into template") << StoreLayout::Phone << StoreLayout::Template;
    QTest::newRow("template store into template") << StoreLayout::Template << StoreLayout::Template;
    QTest::newRow("template store into phone") << StoreLayout::Template << StoreLayout::Phone;
    QTest::newRow("phone store into phone") << StoreLayout::Phone << StoreLayout::Phone;
}

void TestIOSViberDbWriter::roundTrip()
{
    QFETCH(StoreLayout, source);
    QFETCH(StoreLayout, target);
    QTemporaryDir src, dst;
    fixtures::writeStore(fixtures::sampleStore(), src.path(), source);
    IOSViberDb from(QDir(src.path()), kFile);
    const ViberDataPtr original = from.load();

    auto db = emptyStore(dst.path(), target);
    mergeAll(*db, original->messages.values());
    const QStringList afterFirst = fixtures::storeRows(*db);
    db->close();

    IOSViberDb reread(QDir(dst.path()), kFile);
    const ViberDataPtr copy = reread.load();
    const QStringList expected = fixtures::messageContent(*original);
    QVERIFY(expected.size() >= 25);
    QCOMPARE(expected.filter(QStringLiteral(" call token=")).size(), 5);
    QCOMPARE(fixtures::messageContent(*copy), expected);
    for (const _ViberAtta *a : copy->attachments)
        if (a->message->type == ViberMsgTypeAudio) {
            QCOMPARE(a->fileName, QString::number(a->id));
            QCOMPARE(a->attId, QString::number(a->id));
        }
    // Chats without messages are not made by a copy.
    for (const _ViberChat *c : copy->chats)
        QVERIFY(!c->messages.isEmpty());

    // The second run finds everything present and writes nothing.
    mergeAll(reread, original->messages.values());
    QCOMPARE(fixtures::storeRows(reread), afterFirst);
}

QTEST_GUILESS_MAIN(TestIOSViberDbWriter)
#include "tst_iosviberdbwriter.moc"
