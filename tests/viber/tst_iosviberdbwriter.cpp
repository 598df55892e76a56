#include "support/StoreFixtures.h"

#include "viber/Emoticons.h"
#include "viber/IOSViberDb.h"
#include "viber/TinyKv.h"
#include "viber/ViberMsgMerger.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using fixtures::StoreLayout;

Q_DECLARE_METATYPE(fixtures::StoreLayout)

namespace {

const QString kFile = QString::fromLatin1(fixtures::kStoreFileName);

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

// An empty store of a layout, open for writing, and records to merge into it.
struct Target
{
    explicit Target(StoreLayout layout = StoreLayout::Template)
    {
        if (layout == StoreLayout::Phone)
            fixtures::StoreWriter(dir.path(), layout).finish();
        else
            QDir(dir.path()).mkpath("Documents");
        db.open();
    }

    // The values of the rows sql selects (columns by distinct names), "|" between columns
    // and ", " between rows, blobs in hex: a compact check of what was written.
    QString rows(const QString &sql)
    {
        Sqlite3Cursor c = db.queryThrow(sql);
        QStringList out;
        while (c.moveNext()) {
            QStringList values;
            for (const QString &col : c.columnNames()) {
                const QVariant v = c.value(col);
                values << (v.isNull()                            ? QStringLiteral("NULL")
                           : v.typeId() == QMetaType::QByteArray ? hex(v.toByteArray())
                                                                 : v.toString());
            }
            out << values.join('|');
        }
        return out.join(", ");
    }

    qint64 merge(const _ViberMsg &msg) { return state.mergeMessage(&msg, attKey, locKey); }

    QTemporaryDir dir;
    IOSViberDb db{QDir(dir.path()), kFile};
    ViberMsgMerger state{db};
    qint64 attKey = 0;
    qint64 locKey = 0;
    fixtures::Records r;
    _ViberPerson &ann = r.person(QStringLiteral("+491511"));
    _ViberChat &chat = r.chat({&ann});
};

// A merge run as the copy and the transfer make it: chat by chat, in one transaction.
void mergeAll(IOSViberDb &db, QList<_ViberMsg *> messages)
{
    std::stable_sort(messages.begin(), messages.end(), [](const _ViberMsg *a, const _ViberMsg *b) {
        return a->chat->id != b->chat->id ? a->chat->id < b->chat->id : a->date < b->date;
    });
    db.requireWriterTables();
    db.execThrow("BEGIN IMMEDIATE");
    ViberMsgMerger state(db);
    for (const _ViberMsg *m : messages) {
        qint64 att = 0, loc = 0;
        state.mergeMessage(m, att, loc);
    }
    state.dropEmptyInsertedChats();
    db.refreshRecentsLines();
    db.refreshConversationDates();
    db.execThrow("COMMIT");
}

} // namespace

class TestIOSViberDbWriter : public QObject
{
    Q_OBJECT

private slots:
    void rowsFollowTheTargetLayout_data();
    void rowsFollowTheTargetLayout();
    void duplicateWindow_data();
    void duplicateWindow();
    void oneToOneChatNeverMatchesAGroup();
    void attachmentsAndLocations();
    void callsAreKeptApartByType();
    void unwritableRecordsLeaveNothing();
    void summaryColumns();
    void storeWithoutAWriterTableIsRefusedUntouched();
    void roundTrip_data();
    void roundTrip();
};

void TestIOSViberDbWriter::rowsFollowTheTargetLayout_data()
{
    QTest::addColumn<StoreLayout>("layout");
    QTest::newRow("template layout") << StoreLayout::Template;
    QTest::newRow("phone layout") << StoreLayout::Phone;
}

void TestIOSViberDbWriter::rowsFollowTheTargetLayout()
{
    QFETCH(StoreLayout, layout);
    Target t(layout);
    if (layout == StoreLayout::Phone)
        t.db.execThrow("insert into ZRECENTSLINE(Z_PK, ZUID) values (1, 17)");
    t.ann.phone = QStringLiteral("+49 151 11");
    t.ann.name = QStringLiteral("Ann");
    t.ann.other = tinykv::serialize({{"Z_OPT", 7}});
    t.chat.name = QStringLiteral("Chat name");
    t.chat.other = tinykv::serialize({{"Z_OPT", 4}, {"ZCONTEXT", 77}, {"ZSMARTSTATE", 2}});
    _ViberMsg &msg = t.r.message(t.chat, &t.ann, ViberMsgStatePending, "(smiley) hi", 7e8, 42);
    _ViberAtta &att = t.r.attachment(msg, ViberMsgTypeVideo, "v.mp4", "vid");
    att.duration = 3.5;
    att.other = tinykv::serialize({{"ZURL", "assets-library://x"}});

    const qint64 key = t.merge(msg);
    QVERIFY(key > 0 && t.attKey > 0);
    QCOMPARE(t.locKey, 0);
    QCOMPARE(t.rows("select ZCONVERSATION, ZSTATE, ZTOKEN, ZATTACHMENT, ZLOCATION, ZPHONENUMINDEX from "
                    "ZVIBERMESSAGE"),
             QStringLiteral("%1|pendingNotSent|42|%2|NULL|1").arg(t.state.chatKey()).arg(t.attKey));
    QCOMPARE(t.rows("select ZCANONIZEDPHONENUM, ZPHONENUM from ZPHONENUMBERINDEX"), "4915111|+49 151 11");
    QCOMPARE(t.rows("select count(*) from " + t.db.joinTable()), "1");
    QCOMPARE(t.rows("select ZTYPE, ZDURATION, ZNAME, ZID, ZMESSAGE from ZATTACHMENT"),
             QStringLiteral("video|3.5|v.mp4|vid|%1").arg(key));
    if (layout == StoreLayout::Phone) {
        // Emoticon ranges come from the text when the record carries none.
        const QByteArray ranges = Emoticons::ranges(msg.text);
        QVERIFY(!ranges.isEmpty());
        QCOMPARE(t.rows("select Z_ENT, Z_OPT, Z5_CONVERSATION, ZEMOTICONSRANGES from ZVIBERMESSAGE"),
                 "21|2|5|" + hex(ranges));
        QCOMPARE(t.rows("select Z_ENT, ZSTATE, ZURL, ZRANGE from ZATTACHMENT"),
                 QStringLiteral("3|complite|assets-library://x|%1").arg(att.fileSize));
        QCOMPARE(t.rows("select Z_ENT, Z_OPT, ZCONTEXT, ZSMARTSTATE, ZNAME, ZGROUPID from ZCONVERSATION"),
                 "5|4|77|2|Chat name|NULL");
        // A phone takes names from its address book.
        QCOMPARE(t.rows("select Z_ENT, Z_OPT, ZISVIBER, ZPHONETYPE, ZNAME from ZPHONENUMBERINDEX"),
                 "10|7|1|mobile|NULL");
        // ZUIDs are unique across the store and continue from its largest.
        QCOMPARE(
            t.rows("select count(distinct ZUID), min(ZUID) from (select ZUID from ZCONVERSATION union all "
                   "select ZUID from ZVIBERMESSAGE union all select ZUID from ZPHONENUMBERINDEX union all "
                   "select ZUID from ZATTACHMENT)"),
            "4|18");
    } else {
        // This program's layout keeps the name and the carried columns as they came.
        QCOMPARE(t.rows("select p.ZNAME, p._other, c._other as c, a._other as a, m._other as m "
                        "from ZPHONENUMBERINDEX p, ZCONVERSATION c, ZATTACHMENT a, ZVIBERMESSAGE m"),
                 "Ann|" + hex(t.ann.other) + '|' + hex(t.chat.other) + '|' + hex(att.other) + "|NULL");
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
    Target t;
    _ViberMsg &first = t.r.message(t.chat, &t.ann, ViberMsgStateReceived, "a", 710000000.25, 42);
    t.r.attachment(first, ViberMsgTypePicture, "p.jpg");
    _ViberMsg &second = t.r.message(t.chat, &t.ann, ViberMsgStateReceived, "b", 710000000.25 + offset, token);
    const qint64 firstKey = t.merge(first);
    const qint64 firstAtt = t.attKey;
    QVERIFY(firstAtt > 0);

    qint64 found = 99;
    QCOMPARE(t.db.findDuplicateMessage(second.token, second.date, found) == firstKey, duplicate);
    QCOMPARE(found, duplicate ? firstAtt : 99); // only a found message sets the attachment key
    // A duplicate hands back the attachment already there, so that its files can still be copied.
    QCOMPARE(t.merge(second) == 0, duplicate);
    QCOMPARE(t.attKey, duplicate ? firstAtt : 0);
    QCOMPARE(t.rows("select count(*) from ZVIBERMESSAGE"), duplicate ? "1" : "2");
}

void TestIOSViberDbWriter::oneToOneChatNeverMatchesAGroup()
{
    Target t;
    _ViberPerson &y = t.r.person("+222");
    _ViberChat &group = t.r.chat({&t.ann}, "G1");
    _ViberChat &emptyGroupId = t.r.chat({&y});
    _ViberChat &pair = t.r.chat({&t.ann, &y});
    qint64 counter = -1;
    auto insert = [&](const _ViberChat &c) {
        const qint64 key = t.db.insertChat(counter, &c);
        t.db.linkParticipants(counter, key, c.participants.values());
        return key;
    };
    const qint64 groupKey = insert(group);
    const qint64 emptyKey = insert(emptyGroupId);
    t.db.execThrow(QStringLiteral("update ZCONVERSATION set ZGROUPID='' where Z_PK=%1").arg(emptyKey));

    // Ann's only conversation is a group; the one with an empty group id is y's.
    QCOMPARE(t.db.findChatKey(&t.chat), 0);
    QCOMPARE(t.db.findChatKey(&group), groupKey);
    QCOMPARE(t.db.findChatKey(&emptyGroupId), emptyKey);
    // Neither a group id nor exactly one participant: never found.
    QCOMPARE(t.db.findChatKey(&pair), 0);

    const qint64 ownKey = insert(t.chat);
    t.db.linkParticipants(counter, ownKey, t.chat.participants.values()); // twice links once
    QCOMPARE(t.db.findChatKey(&t.chat), ownKey);
    QCOMPARE(t.rows("select count(*) from ZPHONENUMBERINDEX"), "2");
    QCOMPARE(t.rows("select count(*) from " + t.db.joinTable()), "3");
}

void TestIOSViberDbWriter::attachmentsAndLocations()
{
    Target t;
    t.db.execThrow("insert into ZATTACHMENT(Z_PK, ZMESSAGE, ZNAME) values (56, 0, 'old')");
    _ViberMsg &picture = t.r.message(t.chat, &t.ann, ViberMsgStateReceived, QString(), 7e8, 1);
    t.r.attachment(picture, ViberMsgTypePicture, "p.jpg");
    _ViberMsg &location = t.r.message(t.chat, &t.ann, ViberMsgStateReceived, QString(), 7e8 + 100, 2);
    location.type = ViberMsgTypeLocation;
    location.latitude = 48.1;
    location.longitude = 11.58;
    location.address = QStringLiteral("Marienplatz");
    _ViberMsg &voice = t.r.message(t.chat, &t.ann, ViberMsgStateReceived, QString(), 7e8 + 200, 3);
    t.r.attachment(voice, ViberMsgTypeAudio, "a1.m4a", "zz").duration = 12.5;

    const qint64 pictureKey = t.merge(picture);
    QVERIFY(t.attKey == 57 && t.locKey == 0);
    const qint64 locationKey = t.merge(location);
    QVERIFY(t.attKey == 0 && t.locKey > 0);
    // Both sides link each other.
    QCOMPARE(t.rows("select Z_PK, ZATTACHMENT, ZLOCATION, ZSYSTEMTYPE from ZVIBERMESSAGE order by Z_PK"),
             QStringLiteral("%1|57|NULL|NULL, %2|NULL|%3|customLocation")
                 .arg(pictureKey)
                 .arg(locationKey)
                 .arg(t.locKey));
    QCOMPARE(t.rows("select ZMESSAGE, ZLATITUDE, ZADDRESS from ZVIBERLOCATION"),
             QStringLiteral("%1|48.1|Marienplatz").arg(locationKey));
    // The voice file in a store is named by its attachment's key.
    const qint64 voiceKey = t.merge(voice);
    QCOMPARE(
        t.rows("select ZMESSAGE, ZTYPE, ZNAME, ZID, ZDURATION, ZBUCKET from ZATTACHMENT where Z_PK > 56"),
        QStringLiteral("%1|picture|p.jpg|NULL|NULL|Share%2, %3|audio|58|58|12.5|NULL")
            .arg(pictureKey)
            .arg(storeTimeToDateTime(7e8).toLocalTime().toString("yyyy-MM-dd"))
            .arg(voiceKey));
}

void TestIOSViberDbWriter::callsAreKeptApartByType()
{
    Target t;
    _ViberMsg &in = t.r.call(t.chat, t.ann, ViberCallTypeIncoming, 500, 7e8, 10);
    _ViberMsg &missed = t.r.call(t.chat, t.ann, ViberCallTypeMissed, 500, 7e8 + 50, 0);
    _ViberMsg &out = t.r.call(t.chat, t.ann, ViberCallTypeOutgoing, 501, 7e8 + 20, 30);
    qint64 counter = -1;
    const qint64 inKey = t.db.insertCall(counter, in.call);
    const qint64 missedKey = t.db.insertCall(counter, missed.call);
    QVERIFY(inKey > 0 && missedKey > 0 && inKey != missedKey);
    QVERIFY(t.db.insertCall(counter, out.call) > 0);
    // The same token and type is the same call.
    bool present = false;
    QCOMPARE(t.db.insertCall(counter, in.call, &present), inKey);
    QVERIFY(present);
    // One line per person, reused, with the count and the latest call.
    t.db.refreshRecentsLines();
    QCOMPARE(t.rows("select ZCALLTYPE, Z_ENT from ZRECENT order by Z_PK"),
             "incoming|8, missed|8, outgoing_viber|8");
    QCOMPARE(t.rows("select Z_ENT, ZCOUNT, ZDATE, ZCALLTYPE from ZRECENTSLINE"), "9|3|700000050|missed");
    QCOMPARE(t.rows("select count(*) from ZPHONENUMBERINDEX"), "1");

    // Without a person there is nobody to file the call under.
    _ViberCall nobody;
    QCOMPARE(t.db.insertCall(counter, &nobody), 0);
    QCOMPARE(t.db.insertCall(counter, nullptr), 0);
    QCOMPARE(t.rows("select count(*) from ZRECENT"), "3");
}

void TestIOSViberDbWriter::unwritableRecordsLeaveNothing()
{
    Target t;
    _ViberChat &group = t.r.chat({&t.ann}, "G1");
    _ViberMsg &noSender = t.r.message(group, nullptr, ViberMsgStateReceived, "who?", 7e8, 1);
    _ViberMsg &noState = t.r.message(group, &t.ann, ViberMsgStateNone, "lost", 7e8 + 100, 2);
    // Merged, they are skipped, and the conversation made for them goes again.
    QCOMPARE(t.merge(noSender) + t.merge(noState), 0);
    QCOMPARE(t.state.skipped(), 2);
    t.state.dropEmptyInsertedChats();
    QCOMPARE(t.rows("select count(*) from ZCONVERSATION"), "0");
    QCOMPARE(t.rows("select count(*) from " + t.db.joinTable()), "0");

    // Inserted, they leave nothing either: not even the sender a row would have needed.
    t.db.execThrow("delete from ZPHONENUMBERINDEX");
    qint64 counter = -1, att = 7, loc = 7;
    for (const _ViberMsg *m : {&noSender, &noState, static_cast<_ViberMsg *>(nullptr)})
        QCOMPARE(t.db.insertMessage(counter, 1, m, att, loc), 0);
    QCOMPARE(
        t.rows("select (select count(*) from ZVIBERMESSAGE) + (select count(*) from ZPHONENUMBERINDEX) + "
               "(select count(*) from ZATTACHMENT)"),
        "0");
    // Mine and system messages of a group need no sender.
    _ViberMsg &mine = t.r.message(group, nullptr, ViberMsgStateDelivered, "mine", 7e8 + 200, 3);
    _ViberMsg &system = t.r.message(group, nullptr, ViberMsgStateReceived, "Friends", 7e8 + 300, 4);
    system.type = ViberMsgTypeSystem;
    system.systemKind = ViberSystemKindNameChanged;
    QVERIFY(t.db.insertMessage(counter, 1, &mine, att, loc) > 0);
    QVERIFY(t.db.insertMessage(counter, 1, &system, att, loc) > 0);
    QCOMPARE(t.rows("select ZSYSTEMTYPE from ZVIBERMESSAGE order by Z_PK"), "NULL, systemNameChanged");
    QCOMPARE(t.db.insertChat(counter, nullptr), 0);
    QCOMPARE(t.db.insertPerson(counter, nullptr), 0);
}

void TestIOSViberDbWriter::summaryColumns()
{
    Target t(StoreLayout::Phone);
    _ViberChat &quiet = t.r.chat({}, "G-quiet");
    _ViberMsg &older = t.r.message(t.chat, &t.ann, ViberMsgStateReceived, "older", 7e8, 1);
    _ViberMsg &latest = t.r.message(t.chat, nullptr, ViberMsgStateSend, QString(), 7e8 + 100, 2);
    t.r.attachment(latest, ViberMsgTypePicture, "p.jpg").other =
        tinykv::serialize({{"ZURL", "assets-library://p"}});
    latest.other = tinykv::serialize({{"ZRANGES", QByteArray("rr")}});

    t.db.execThrow("BEGIN");
    t.merge(older);
    t.merge(latest);
    qint64 zuid = -1;
    const qint64 quietKey = t.db.insertChat(zuid, &quiet);
    t.db.refreshLastMessages();
    t.db.refreshPrimaryKeyMax();
    t.db.clearAttachmentUrl(t.attKey);
    t.db.refreshConversationDates();
    t.db.execThrow("COMMIT");

    QCOMPARE(t.rows(QStringLiteral("select ZLASTMESSAGETOKEN, ZLASTMESSAGESENDER, ZDATE, ZLASTMESSAGETYPE, "
                                   "ZLASTMESSAGERANGES, ZLASTMESSAGEEMOTICONSRANGES from ZCONVERSATION "
                                   "where Z_PK in (%1, %2) order by Z_PK")
                        .arg(t.state.chatKey())
                        .arg(quietKey)),
             "2|NULL|700000100|picture|7272|NULL, NULL|NULL|NULL|NULL|NULL|NULL");
    QCOMPARE(t.rows("select Z_NAME, Z_MAX from Z_PRIMARYKEY where Z_NAME in ('ViberMessage', 'Conversation', "
                    "'PhoneNumberIndex', 'Recent') order by Z_NAME"),
             "Conversation|2, PhoneNumberIndex|1, Recent|NULL, ViberMessage|2");
    QCOMPARE(t.rows("select ZURL from ZATTACHMENT"), "NULL");
}

void TestIOSViberDbWriter::storeWithoutAWriterTableIsRefusedUntouched()
{
    Target t(StoreLayout::Phone);
    // Newer phones keep participants as members.
    t.db.execThrow(
        "drop table ZPHONENUMBERINDEX; create table ZMEMBER (Z_PK INTEGER PRIMARY KEY, ZNAME VARCHAR)");
    t.db.close();
    const QString path = t.db.fullPath();
    const QStringList before = fixtures::storeRows(path);
    QString error;
    try {
        t.db.requireWriterTables();
    } catch (const std::exception &e) {
        error = QString::fromUtf8(e.what());
    }
    QVERIFY2(error.contains(QDir::toNativeSeparators(path)) && error.contains("ZPHONENUMBERINDEX"),
             qPrintable(error));
    QCOMPARE(fixtures::storeRows(path), before);
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
    QTemporaryDir src;
    fixtures::writeStore(fixtures::sampleStore(), src.path(), source);
    const ViberDataPtr original = IOSViberDb(QDir(src.path()), kFile).load();
    Target t(target);
    mergeAll(t.db, original->messages.values());
    t.db.close();
    const QStringList afterFirst = fixtures::storeRows(t.db.fullPath());

    const ViberDataPtr copy = t.db.load();
    const QStringList expected = fixtures::messageContent(*original);
    QVERIFY(expected.size() >= 25);
    QCOMPARE(expected.filter(" call token=").size(), 5);
    QCOMPARE(fixtures::messageContent(*copy), expected);
    // Chats without messages are not made by a copy.
    for (const _ViberChat *c : copy->chats)
        QVERIFY(!c->messages.isEmpty());

    // The second run finds everything present and writes nothing.
    mergeAll(t.db, original->messages.values());
    t.db.close();
    QCOMPARE(fixtures::storeRows(t.db.fullPath()), afterFirst);
}

QTEST_GUILESS_MAIN(TestIOSViberDbWriter)
#include "tst_iosviberdbwriter.moc"
