#include "support/StoreFixtures.h"

#include "viber/Emoticons.h"
#include "viber/IOSViberDb.h"
#include "viber/TinyKv.h"
#include "viber/ViberMsgMerger.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(fixtures::StoreLayout)

namespace {

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

// An empty store of a layout, open for writing, and records to write into it.
struct Target
{
    explicit Target(fixtures::StoreLayout layout = fixtures::StoreLayout::Template)
    {
        if (layout == fixtures::StoreLayout::Phone)
            fixtures::StoreWriter(dir.path(), layout).finish();
        else
            QDir(dir.path()).mkpath(u"Documents"_s);
        db.open();
    }
    QString rows(const QString &sql) const { return fixtures::rows(db.fullPath(), sql); }
    qint64 merge(const _ViberMsg &msg) { return merger.mergeMessage(&msg, attKey, locKey); }

    QTemporaryDir dir;
    IOSViberDb db{QDir(dir.path()), QString::fromLatin1(fixtures::kStoreFileName)};
    ViberMsgMerger merger{db};
    qint64 attKey = 0;
    qint64 locKey = 0;
    fixtures::Records r;
    _ViberPerson &ann = r.person(u"+491511"_s);
    _ViberChat &chat = r.chat({&ann});
};

} // namespace

class TestIOSViberDbWriter : public QObject
{
    Q_OBJECT

private slots:
    void rowsFollowTheTargetLayout_data()
    {
        QTest::addColumn<fixtures::StoreLayout>("layout");
        QTest::newRow("template") << fixtures::StoreLayout::Template;
        QTest::newRow("phone") << fixtures::StoreLayout::Phone;
    }
    void rowsFollowTheTargetLayout()
    {
        QFETCH(fixtures::StoreLayout, layout);
        Target t(layout);
        if (layout == fixtures::StoreLayout::Phone)
            t.db.execThrow(u"insert into ZRECENTSLINE(Z_PK, ZUID) values (1, 17)"_s);
        t.ann.phone = u"+49 151 11"_s;
        t.ann.name = u"Ann"_s;
        t.ann.other = tinykv::serialize({{u"Z_OPT"_s, 7}});
        t.chat.name = u"Chat name"_s;
        t.chat.other = tinykv::serialize({{u"Z_OPT"_s, 4}, {u"ZCONTEXT"_s, 77}, {u"ZSMARTSTATE"_s, 2}});
        _ViberMsg &msg = t.r.message(t.chat, &t.ann, ViberMsgStatePending, u"(smiley) hi"_s, 7e8, 42);
        _ViberAtta &att = t.r.attachment(msg, ViberMsgTypeVideo, u"v.mp4"_s, u"vid"_s);
        att.duration = 3.5;
        att.other = tinykv::serialize({{u"ZURL"_s, u"assets-library://x"_s}});

        const qint64 key = t.merge(msg);
        QVERIFY(key > 0 && t.attKey > 0 && t.locKey == 0 &&
                !Emoticons::ranges(msg.text.toString()).isEmpty());
        QCOMPARE(
            t.rows(u"select m.ZCONVERSATION, m.ZSTATE, ZTOKEN, ZATTACHMENT, ZLOCATION, m.ZPHONENUMINDEX, "
                   u"ZCANONIZEDPHONENUM, ZPHONENUM, (select count(*) from %1), a.ZTYPE, ZDURATION, a.ZNAME, "
                   u"ZID, "
                   u"a.ZMESSAGE from ZVIBERMESSAGE m, ZPHONENUMBERINDEX, ZATTACHMENT a"_s.arg(
                       t.db.layout().participants().table)),
            u"%1|pendingNotSent|42|%2|NULL|1|4915111|+49 151 11|1|video|3.5|v.mp4|vid|%3"_s
                .arg(t.merger.chatKey())
                .arg(t.attKey)
                .arg(key));
        // A phone's layout gets Core Data's columns (ZUIDs unique in the store, after its
        // largest), emoticon ranges from the text when the record carries none, and no person
        // name (a phone takes it from its address book).
        if (layout == fixtures::StoreLayout::Phone)
            QCOMPARE(
                t.rows(
                    u"select m.Z_ENT, m.Z_OPT, Z5_CONVERSATION, ZEMOTICONSRANGES, a.Z_ENT ae, a.ZSTATE ast, "
                    u"ZURL, "
                    u"ZRANGE, c.Z_ENT ce, c.Z_OPT co, ZCONTEXT, ZSMARTSTATE, c.ZNAME, c.ZGROUPID, p.Z_ENT "
                    u"pe, "
                    u"p.Z_OPT po, ZISVIBER, ZPHONETYPE, p.ZNAME pn, (select count(distinct ZUID) || '/' || "
                    u"min(ZUID) from (select ZUID from ZCONVERSATION union all select ZUID from "
                    u"ZVIBERMESSAGE "
                    u"union all select ZUID from ZPHONENUMBERINDEX union all select ZUID from ZATTACHMENT)) "
                    u"from ZVIBERMESSAGE m, ZATTACHMENT a, ZCONVERSATION c, ZPHONENUMBERINDEX p"_s),
                u"21|2|5|%1|3|complite|assets-library://x|%2|5|4|77|2|Chat name|NULL|10|7|1|mobile|NULL|4/18"_s
                    .arg(hex(Emoticons::ranges(msg.text.toString())))
                    .arg(att.fileSize));
        else // this program's keeps the name and the carried values as they came
            QCOMPARE(
                t.rows(
                    u"select p.ZNAME, p._other, c._other c, a._other a, m._other m from ZPHONENUMBERINDEX p, "
                    u"ZCONVERSATION c, ZATTACHMENT a, ZVIBERMESSAGE m"_s),
                QStringList({u"Ann"_s, hex(t.ann.other), hex(t.chat.other), hex(att.other), u"NULL"_s})
                    .join(u'|'));
    }
    void duplicates_data()
    {
        QTest::addColumn<qint64>("token");    // of both messages; 0 is no token
        QTest::addColumn<double>("offset");   // of the second message's date
        QTest::addColumn<QString>("differs"); // what else the second message changes of the first
        QTest::addColumn<bool>("duplicate");
        QTest::newRow("59 s later is the same message") << qint64(42) << 59.0 << QString() << true;
        QTest::newRow("59 s earlier is the same message") << qint64(42) << -59.0 << QString() << true;
        QTest::newRow("61 s later is another message") << qint64(42) << 61.0 << QString() << false;
        QTest::newRow("61 s earlier is another message") << qint64(42) << -61.0 << QString() << false;
        QTest::newRow("same time, other token") << qint64(42) << 0.0 << u"token"_s << false;
        // Token 0 is no token: a message without one is only told apart by the rest.
        QTest::newRow("no token, same second") << qint64(0) << 0.8 << QString() << true;
        QTest::newRow("no token, next second") << qint64(0) << 1.8 << QString() << false;
        for (const QString &differs : {u"text"_s, u"sender"_s, u"kind"_s, u"chat"_s})
            QTest::addRow("no token, other %s", qPrintable(differs)) << qint64(0) << 0.0 << differs << false;
    }
    void duplicates()
    {
        QFETCH(qint64, token);
        QFETCH(double, offset);
        QFETCH(QString, differs);
        QFETCH(bool, duplicate);
        Target t;
        _ViberPerson &bob = t.r.person(u"+222"_s);
        qint64 counter = -1;
        QVERIFY(t.db.insertPerson(counter, &bob) > 0); // a sender the store knows
        _ViberMsg &first = t.r.message(t.chat, &t.ann, ViberMsgStateReceived, u"hi"_s, 7e8 + 0.1, token);
        t.r.attachment(first, ViberMsgTypePicture, u"p.jpg"_s);
        _ViberMsg &second =
            t.r.message(differs == u"chat" ? t.r.chat({&bob}) : t.chat, differs == u"sender" ? &bob : &t.ann,
                        ViberMsgStateReceived, differs == u"text" ? u"ho"_s : u"hi"_s, 7e8 + 0.1 + offset,
                        differs == u"token" ? token + 1 : token);
        if (differs != u"kind")
            t.r.attachment(second, ViberMsgTypePicture, u"p.jpg"_s);
        const qint64 firstKey = t.merge(first);
        const qint64 firstAtt = t.attKey;
        QVERIFY(firstKey > 0 && firstAtt > 0);
        // A duplicate hands back the attachment already there, so that its files can still be copied.
        QCOMPARE(t.merge(second) == 0, duplicate);
        QCOMPARE(t.attKey == firstAtt, duplicate);
        QCOMPARE(t.rows(u"select count(*) from ZVIBERMESSAGE"_s), duplicate ? u"1"_s : u"2"_s);
    }
    void oneToOneChatNeverMatchesAGroup_data()
    {
        // Within a transaction a run looks persons and conversations up in what it read
        // once; alone, each lookup asks the store. Both must find the same.
        QTest::addColumn<bool>("inTransaction");
        QTest::newRow("alone") << false;
        QTest::newRow("within a transaction") << true;
    }
    void oneToOneChatNeverMatchesAGroup()
    {
        QFETCH(bool, inTransaction);
        Target t;
        if (inTransaction)
            t.db.execThrow(u"BEGIN"_s);
        _ViberPerson &y = t.r.person(u"+222"_s);
        _ViberChat &group = t.r.chat({&t.ann}, u"G1"_s);
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
        t.db.execThrow(u"update ZCONVERSATION set ZGROUPID='' where Z_PK=%1"_s.arg(emptyKey));

        // Ann's only conversation is a group; the one with an empty group id is y's.
        QCOMPARE(t.db.findChatKey(&t.chat), 0);
        QCOMPARE(t.db.findChatKey(&group), groupKey);
        QCOMPARE(t.db.findChatKey(&emptyGroupId), emptyKey);
        // Neither a group id nor exactly one participant: never found.
        QCOMPARE(t.db.findChatKey(&pair), 0);

        const qint64 ownKey = insert(t.chat);
        t.db.linkParticipants(counter, ownKey, t.chat.participants.values()); // twice links once
        QCOMPARE(t.db.findChatKey(&t.chat), ownKey);
        // A second conversation of the same number or group is not the one found.
        const qint64 laterKey = insert(t.chat);
        const qint64 laterGroupKey = insert(group);
        QVERIFY(laterKey > ownKey && laterGroupKey > groupKey);
        QCOMPARE(t.db.findChatKey(&t.chat), ownKey);
        QCOMPARE(t.db.findChatKey(&group), groupKey);
        if (inTransaction)
            t.db.execThrow(u"COMMIT"_s);
        QCOMPARE(t.rows(u"select count(*) from ZPHONENUMBERINDEX"_s), u"2"_s);
        QCOMPARE(t.rows(u"select count(*) from "_s + t.db.layout().participants().table), u"5"_s);
    }
    void lookupsForgetWhatARollbackTookAway()
    {
        // The next run after a rollback gets the same keys for its new rows: keys the
        // rolled-back run remembered would file its messages under rows that are gone.
        Target t;
        _ViberChat &group = t.r.chat({&t.ann}, u"G1"_s);
        const QList<const _ViberMsg *> messages{
            &t.r.message(t.chat, &t.ann, ViberMsgStateReceived, u"hi"_s, 7e8, 1),
            &t.r.message(group, &t.ann, ViberMsgStateReceived, u"all"_s, 7e8 + 5, 2)};
        for (const char *end : {"ROLLBACK", "COMMIT"}) {
            ViberMsgMerger merger(t.db);
            t.db.execThrow(u"BEGIN"_s);
            for (const _ViberMsg *m : messages)
                QVERIFY(merger.mergeMessage(m, t.attKey, t.locKey) > 0);
            t.db.execThrow(QString::fromLatin1(end));
        }
        QCOMPARE(
            t.rows(u"select count(*) from ZVIBERMESSAGE as m where exists (select 1 from ZCONVERSATION as c "
                   u"where c.Z_PK=m.ZCONVERSATION) and exists (select 1 from ZPHONENUMBERINDEX as p where "
                   u"p.Z_PK=m.ZPHONENUMINDEX)"_s),
            u"2"_s);
        QCOMPARE(t.rows(u"select count(*) from ZCONVERSATION"_s), u"2"_s);
    }
    void attachmentsAndLocations()
    {
        Target t;
        t.db.execThrow(u"insert into ZATTACHMENT(Z_PK, ZMESSAGE, ZNAME) values (56, 0, 'old')"_s);
        _ViberMsg &picture = t.r.message(t.chat, &t.ann, ViberMsgStateReceived, QString(), 7e8, 1);
        t.r.attachment(picture, ViberMsgTypePicture, u"p.jpg"_s);
        _ViberMsg &location = t.r.message(t.chat, &t.ann, ViberMsgStateReceived, QString(), 7e8 + 100, 2);
        location.type = ViberMsgTypeLocation;
        location.setPlace(48.1, 11.58, u"Marienplatz"_s);
        _ViberMsg &voice = t.r.message(t.chat, &t.ann, ViberMsgStateReceived, QString(), 7e8 + 200, 3);
        t.r.attachment(voice, ViberMsgTypeAudio, u"a1.m4a"_s, u"zz"_s).duration = 12.5;

        QList<qint64> keys; // of the message, then the attachment and the location it got
        for (const _ViberMsg *m : {&picture, &location, &voice})
            keys << t.merge(*m) << t.attKey << t.locKey;
        // Both sides link each other; the voice file in a store is named by its attachment's key.
        QCOMPARE(keys, (QList<qint64>{keys[0], 57, 0, keys[3], 0, 1, keys[6], 58, 0}));
        QCOMPARE(
            t.rows(
                u"select Z_PK, ZATTACHMENT, ZLOCATION, ZSYSTEMTYPE from ZVIBERMESSAGE where Z_PK < %1 order "
                u"by Z_PK"_s.arg(keys[6])),
            u"%1|57|NULL|NULL, %2|NULL|1|customLocation"_s.arg(keys[0]).arg(keys[3]));
        QCOMPARE(t.rows(u"select ZMESSAGE, ZLATITUDE, ZADDRESS from ZVIBERLOCATION"_s),
                 u"%1|48.1|Marienplatz"_s.arg(keys[3]));
        QCOMPARE(
            t.rows(
                u"select ZMESSAGE, ZTYPE, ZNAME, ZID, ZDURATION, ZBUCKET from ZATTACHMENT where Z_PK > 56"_s),
            u"%1|picture|p.jpg|NULL|NULL|Share%2, %3|audio|58|58|12.5|NULL"_s.arg(keys[0])
                .arg(storeTimeToDateTime(7e8).toLocalTime().toString(u"yyyy-MM-dd"_s))
                .arg(keys[6]));
    }
    void callsAreKeptApartByType()
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
        QCOMPARE(t.rows(u"select ZCALLTYPE, Z_ENT from ZRECENT order by Z_PK"_s),
                 u"incoming|8, missed|8, outgoing_viber|8"_s);
        QCOMPARE(t.rows(u"select count(*) from ZPHONENUMBERINDEX"_s), u"1"_s);

        // Without a person there is nobody to file the call under.
        _ViberCall nobody;
        QCOMPARE(t.db.insertCall(counter, &nobody), 0);
        QCOMPARE(t.db.insertCall(counter, nullptr), 0);
        QCOMPARE(t.rows(u"select count(*) from ZRECENT"_s), u"3"_s);
    }
    // Every run has a merger of its own, as each import does: a second run adds nothing.
    void oddRecordsAreMergedOnce()
    {
        Target t;
        fixtures::Records &r = t.r;
        // People without a number match nobody in the store: each keeps their own chat.
        for (const QString &name : {u"Nobody One"_s, u"Nobody Two"_s}) {
            _ViberPerson &nobody = r.person(QString(), name);
            r.message(r.chat({&nobody}), &nobody, ViberMsgStateReceived, name, 7e8, r.messages().size() + 1);
        }
        // In a group a sender without a number is known by name.
        _ViberPerson &zoe = r.person(QString(), u"Zoe"_s);
        _ViberPerson &bob = r.person(u"+222"_s, u"Bob"_s);
        _ViberChat &zoeGroup = r.chat({&zoe, &bob}, u"G2"_s, u"Zoe's"_s);
        r.message(zoeGroup, &zoe, ViberMsgStateReceived, u"hi"_s, 7e8, 0);
        r.message(zoeGroup, &zoe, ViberMsgStateReceived, u"again"_s, 7e8 + 5, 0);
        // Mine and system messages of a group need no sender.
        r.message(zoeGroup, nullptr, ViberMsgStateDelivered, u"mine"_s, 7e8 + 6, 0);
        _ViberMsg &system = r.message(zoeGroup, nullptr, ViberMsgStateReceived, u"Friends"_s, 7e8 + 7, 0);
        system.type = ViberMsgTypeSystem;
        system.systemKind = ViberSystemKindNameChanged;
        // Dates far off, or none.
        _ViberPerson &cy = r.person(u"+333"_s);
        _ViberChat &cyChat = r.chat({&cy});
        const double inf = std::numeric_limits<double>::infinity();
        qint64 token = 100;
        for (double date :
             {inf, -inf, 9.3e18, -9.3e18, 1e300, std::numeric_limits<double>::quiet_NaN(), -0.5}) {
            r.message(cyChat, &cy, ViberMsgStateReceived, u"m"_s, date, ++token);
            r.call(cyChat, cy, ViberCallTypeOutgoing, ++token, date);
        }
        // Not writable, a group message without a sender and one of no state: skipped, and
        // written alone they leave no row, not even the sender a row would have needed.
        _ViberMsg &who = r.message(r.chat({&t.ann}, u"G1"_s, u"Group"_s), nullptr, ViberMsgStateReceived,
                                   u"who?"_s, 7e8, 99);
        _ViberMsg &lost = r.message(r.chat({&cy}), &cy, ViberMsgStateNone, u"lost"_s, 7e8, 98);
        qint64 counter = -1, att = 7, loc = 7;
        for (const _ViberMsg *m : {&who, &lost})
            QCOMPARE(t.db.insertMessage(counter, 1, m, att, loc), 0);
        QCOMPARE(t.rows(u"select count(*) from ZPHONENUMBERINDEX"_s), u"0"_s);
        const qint64 writable = r.messages().size() - 2;
        const auto counts = [](const ViberMsgMerger &m) {
            return u"%1 new, %2 present, %3 skipped"_s.arg(m.inserted()).arg(m.present()).arg(m.skipped());
        };

        QCOMPARE(counts(fixtures::mergeAll(t.db, r.messages())),
                 u"%1 new, 0 present, 2 skipped"_s.arg(writable));
        const ViberDataPtr copy = t.db.load();
        QCOMPARE(copy->messages.size(), writable);
        QCOMPARE(copy->chats.size(), 4);
        int nobodies = 0;
        for (const _ViberMsg *m : std::as_const(copy->messages))
            if (m->person && m->person->phone.isEmpty() && m->chat->groupId.isEmpty() && ++nobodies)
                QVERIFY(m->person->name == m->text && m->chat->messages.size() == 1 &&
                        m->chat->participants.size() == 1);
        QCOMPARE(nobodies, 2);

        const QStringList rows = fixtures::storeRows(t.db.fullPath());
        QCOMPARE(counts(fixtures::mergeAll(t.db, r.messages())),
                 u"0 new, %1 present, 2 skipped"_s.arg(writable));
        QCOMPARE(fixtures::storeRows(t.db.fullPath()), rows);
    }
    void keyCountersAndUrls()
    {
        Target t(fixtures::StoreLayout::Phone);
        t.merge(t.r.message(t.chat, &t.ann, ViberMsgStateReceived, u"older"_s, 7e8, 1));
        _ViberMsg &picture = t.r.message(t.chat, nullptr, ViberMsgStateSend, QString(), 7e8 + 100, 2);
        t.r.attachment(picture, ViberMsgTypePicture, u"p.jpg"_s).other =
            tinykv::serialize({{u"ZURL"_s, u"assets-library://p"_s}});
        t.merge(picture);
        qint64 zuid = -1;
        t.db.insertChat(zuid, &t.r.chat({}, u"G-quiet"_s));
        t.db.refreshPrimaryKeyMax();
        t.db.clearAttachmentUrl(t.attKey);
        QCOMPARE(
            t.rows(
                u"select group_concat(Z_NAME || '=' || ifnull(Z_MAX, '-')) from (select * from Z_PRIMARYKEY "
                u"where Z_NAME in ('ViberMessage', 'Conversation', 'PhoneNumberIndex', 'Recent') order by "
                u"Z_NAME) union all select ZURL from ZATTACHMENT"_s),
            u"Conversation=2,PhoneNumberIndex=1,Recent=0,ViberMessage=2, NULL"_s); // never lowered
    }
};

QTEST_GUILESS_MAIN(TestIOSViberDbWriter)
#include "tst_iosviberdbwriter.moc"
