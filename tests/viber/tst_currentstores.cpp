#include "support/BackupFixtures.h"
#include "support/CurrentStoreFixtures.h"
#include "support/StoreFixtures.h"
#include "support/TempDataFolder.h"
#include "support/TestSupport.h"

#include "export/BubblePage.h"
#include "export/ExportMessagesJson.h"
#include "export/MessagePagePainter.h"
#include "export/MessageText.h"
#include "itunes/BackupManifest.h"
#include "viber/IOSViberDb.h"
#include "workers/BackupTransfer.h"
#include "workers/IOSLoadViberFromiTunesThread.h"

#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using fixtures::CurrentLinks;

namespace {

const QString kFile = QString::fromLatin1(fixtures::kStoreFileName);

// A store of plan in a folder of its own, by kind: "local" (this program's, empty, to copy
// into), "empty phone", "template", "phone", the current stores "join" and "column", or
// "older" (members of 2016-2017).
struct Store
{
    explicit Store(const QString &kind, const fixtures::StorePlan &p = fixtures::sampleStore()) : plan(p)
    {
        if (kind == u"local")
            QDir(dir.path()).mkpath(u"Documents"_s);
        else if (kind == u"empty phone")
            fixtures::StoreWriter(dir.path(), fixtures::StoreLayout::Phone).finish();
        else
            fixtures::writeStore(plan, dir.path(),
                                 kind == u"template" ? fixtures::StoreLayout::Template
                                                     : fixtures::StoreLayout::Phone);
        if (kind == u"join")
            fixtures::toCurrentStore(path(), CurrentLinks::JoinTable);
        if (kind == u"column" || kind == u"older")
            fixtures::toCurrentStore(path(), CurrentLinks::MessageColumn);
        if (kind == u"older")
            fixtures::toOlderMemberStore(path());
    }
    QString path() const { return QDir(dir.path()).filePath(kFile); }
    void exec(const QString &sql) const { fixtures::exec(path(), sql); }
    QString rows(const QString &sql) const { return fixtures::rows(path(), sql); }
    ViberDataPtr load() const { return IOSViberDb(QDir(dir.path()), kFile).load(); }

    // Messages of every current kind in chat "ann" (from Ann) or "group": keys from 900
    // on, each with the text and metadata given (NULL when empty).
    void addCurrentKinds() const
    {
        const qint64 ann = plan.person(u"ann"_s).pk, chat = plan.chat(u"ann"_s).pk,
                     group = plan.chat(u"group"_s).pk;
        const auto add = [&](qint64 key, qint64 in, const QString &type, const QString &text,
                             const QString &meta, const QString &callType = QString()) {
            exec(
                u"INSERT INTO ZVIBERMESSAGE (Z_PK, Z_ENT, Z_OPT, ZCONVERSATION, ZPHONENUMINDEX, ZSTATE, "
                u"ZDATE, "
                "ZTOKEN, ZSYSTEMTYPE, ZTEXT, ZMETADATA, ZCALLTYPE, ZCALLDURATION) VALUES (%1, 21, 1, %2, %3, "
                "'received', %4, 0, nullif('%5', ''), nullif('%6', ''), nullif('%7', ''), nullif('%8', ''), 65)"_s
                    .arg(key)
                    .arg(in)
                    .arg(ann)
                    .arg(760000000 + key)
                    .arg(type, text, meta, callType));
        };
        add(900, chat, u"formatted"_s,
            uR"([{"Type":"text","Text":"Big sale"},{"Type":"button","Text":"Open"}])"_s, QString());
        add(901, chat, u"url"_s, u"see https://example.org"_s, QString());
        add(902, chat, QString(), u"Yes!"_s, uR"({"quote":{"name":"Bob","text":"Coming <b>?"}})"_s);
        add(903, chat, QString(), u"fwd"_s, uR"({"generalFwdInfo":{"name":"Cleo"}})"_s);
        add(904, group, QString(), u"Lunch?"_s,
            uR"({"poll":{"question":"Lunch?","options":[{"name":"Pizza"},{"name":"Soup"}]}})"_s);
        add(905, chat, u"systemCallLog"_s, QString(), QString(), u"missed_with_video"_s);
        add(906, group, u"systemSelfAdded"_s, QString(), QString());
        add(907, group, u"systemIconChanged"_s, QString(), QString());
        add(908, group, u"systemGeneralMessageRemoved"_s, QString(), QString());
        add(909, group, u"systemPinnedMessageCreated"_s, QString(), uR"({"pin":{"text":"Meet at 8"}})"_s);
        add(910, chat, u"systemFutureThing"_s, u"?"_s, QString());
        add(911, chat, QString(), QString(),
            uR"({"fileInfo":{"ContentType":"application/pdf","FileName":"report.pdf","FileSize":2048}})"_s);
        add(912, chat, QString(), QString(), QString());
        exec(u"INSERT INTO ZATTACHMENT (Z_PK, Z_ENT, Z_OPT, ZTYPE, ZNAME, ZFILESIZE, ZSTATE) VALUES "
             "(911, 3, 1, 'file', 'report.pdf', 2048, NULL), (912, 3, 1, 'picture', 'gone.jpg', 10, "
             "'expired'); "
             "INSERT INTO Z_3MESSAGES VALUES (911, 911, 1), (912, 912, 1);"_s);
        if (!rows(u"select name from pragma_table_info('ZVIBERMESSAGE') where name='ZATTACHMENT'"_s)
                 .isEmpty())
            exec(u"UPDATE ZVIBERMESSAGE SET ZATTACHMENT=Z_PK WHERE Z_PK in (911, 912)"_s);
    }

    QTemporaryDir dir;
    fixtures::StorePlan plan;
};

} // namespace

class TestCurrentStores : public QObject
{
    Q_OBJECT

private slots:
    // Current stores of both links, and the older ones of members (2016-2017: names only in
    // the members' display columns, calls on lines that hold a number only, or on none),
    // read as the same records as a phone's layout.
    void readsEveryMemberStore_data()
    {
        QTest::addColumn<QString>("kind");
        for (const QString &kind : {u"join"_s, u"column"_s, u"older"_s})
            QTest::newRow(qPrintable(kind)) << kind;
    }
    void readsEveryMemberStore()
    {
        QFETCH(QString, kind);
        const QTemporaryDir phone;
        fixtures::writeStore(fixtures::sampleStore(), phone.path(), fixtures::StoreLayout::Phone);
        const Store s(kind, fixtures::sampleStore());
        // A one-to-one chat's other party is known from the conversation alone.
        s.exec(u"DELETE FROM Z_5PHONENUMINDEXES WHERE Z_5CONVERSATIONS=%1"_s.arg(s.plan.chat(u"bob"_s).pk));
        s.exec(u"UPDATE ZCONVERSATION SET ZSUBTYPE=3, ZNAME='News' WHERE Z_PK=%1;"
               "UPDATE ZCONVERSATION SET ZSUBTYPE=5 WHERE Z_PK=%2"_s.arg(s.plan.chat(u"group"_s).pk)
                   .arg(s.plan.chat(u"empty"_s).pk));
        const QStringList files = fixtures::filesBelow(s.dir.path());
        const ViberDataPtr data = s.load();
        QCOMPARE(fixtures::filesBelow(s.dir.path()), files);
        QStringList content = fixtures::messageContent(*data);
        if (kind == u"older") {
            const auto party = [&](qint64 call) {
                const _ViberCall *c = data->calls.value(call);
                const _ViberChat *chat = data->messages.value(-call)->chat;
                return u"%1 %2 %3 %4"_s.arg(personLabel(c->person), MessageText::chatTitle(chat))
                    .arg(chat->participants.size())
                    .arg(c->duration);
            };
            QCOMPARE(party(900) + u", "_s + party(901),
                     u"+4917000000009 +4917000000009 1 34, Unknown Unknown 1 131"_s);
            // (The two calls only these stores hold are dated from 500000000 on.)
            content.removeIf([](const QString &line) { return line.contains(u" 500000"_s); });
        }
        QStringList expected = fixtures::messageContent(*IOSViberDb(QDir(phone.path()), kFile).load());
        expected.replaceInStrings(u"G-FRIENDS 'Friends'"_s, u"G-FRIENDS 'News'"_s);
        QCOMPARE(content, expected);
        QVERIFY2(data->account.balances(), qPrintable(data->account.imbalances().join(u"; "_s)));
        QCOMPARE(data->account.leftOutTotal(), 3); // the sample's broken rows, as in a phone's layout
    }
    void shown_data()
    {
        QTest::addColumn<qint64>("key");
        QTest::addColumn<QString>("text");   // MessageText::plainText, as lists and text exports show it
        QTest::addColumn<QString>("inHtml"); // a piece of its bubble
        QTest::newRow("formatted") << 900LL << u"Big sale\nOpen"_s << u">Big sale<br/>Open<"_s;
        QTest::newRow("link")
            << 901LL << u"see https://example.org"_s
            << u"see <a href=\"https://example.org\" rel=\"noopener noreferrer\">https://example.org</a>"_s;
        QTest::newRow("quote")
            << 902LL << u"» Bob: Coming <b>?\nYes!"_s
            << u"class=\"quote\"[^>]*><b><bdi>Bob</bdi></b><br/>Coming &lt;b&gt;\\?</div>"_s;
        QTest::newRow("forward") << 903LL << u"[Forwarded from Cleo]\nfwd"_s << u"Forwarded from Cleo"_s;
        QTest::newRow("poll") << 904LL << u"[POLL] Lunch?\n• Pizza\n• Soup"_s << u"• Soup"_s;
        QTest::newRow("call log") << 905LL << u"Missed Video Call"_s << u"Missed Video Call"_s;
        QTest::newRow("self added") << 906LL << u"You were added to the group"_s << QString();
        QTest::newRow("icon") << 907LL << u"Ann Contact changed the group icon"_s << QString();
        QTest::newRow("removed") << 908LL << u"Ann Contact deleted a message"_s << QString();
        QTest::newRow("pinned") << 909LL << u"Ann Contact pinned \"Meet at 8\""_s << QString();
        QTest::newRow("unknown kind")
            << 910LL << u"[A MESSAGE OF A KIND THIS VERSION CANNOT SHOW]"_s << QString();
        QTest::newRow("expired picture") << 912LL << u"[IMAGE] (expired)"_s << QString();
        QTest::newRow("file") << 911LL << u"[FILE report.pdf (application/pdf, 2.00 KiB)]"_s
                              << u">report.pdf</a> \\(application/pdf, 2.00 KiB\\)"_s;
    }
    void shown()
    {
        QFETCH(qint64, key);
        QFETCH(QString, text);
        QFETCH(QString, inHtml);
        static const Store &s = *[] {
            static Store store(u"column"_s);
            store.addCurrentKinds();
            return &store;
        }();
        static const ViberDataPtr data = s.load();
        const _ViberMsg *msg = data->messages.value(key);
        QVERIFY(msg);
        QCOMPARE(MessageText::plainText(msg), text);
        if (!inHtml.isEmpty())
            QVERIFY2(BubblePage::messageHtml(msg).contains(QRegularExpression(inHtml)),
                     qPrintable(BubblePage::messageHtml(msg)));
        // The printed page shows what the list shows, where it shows no picture.
        const MessagePagePainter::Content page = MessagePagePainter::content(msg);
        // (A call's notice adds its time.)
        if (!page.picture)
            QCOMPARE((page.notice.isEmpty() ? page.text : page.notice.section(u"   "_s, 0, 0)),
                     text.startsWith(u"[FILE "_s) ? text.mid(6).chopped(1) : text);
        // JSON keeps the store's own values beside what is shown.
        const QJsonObject json = ExportMessagesJson(QString(), false).messageObject(*msg);
        if (key == 902)
            QCOMPARE(json.value(u"metadata"_s).toObject().value(u"quote"_s).toObject().value(u"name"_s),
                     u"Bob"_s);
        if (key == 910)
            QCOMPARE(json.value(u"storeSystemType"_s).toString(), u"systemFutureThing"_s);
    }
    void callKinds_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("kind");
        QTest::newRow("incoming") << u"incoming"_s << int(ViberCallTypeIncoming);
        QTest::newRow("video") << u"Incoming_With_Video"_s << int(ViberCallTypeIncomingVideo);
        QTest::newRow("out video") << u"outgoing_viber_with_video"_s << int(ViberCallTypeOutgoingVideo);
        QTest::newRow("viber out") << u"outgoing_viber_out"_s << int(ViberCallTypeOutgoingViberOut);
        QTest::newRow("missed video") << u"missed_with_video"_s << int(ViberCallTypeMissedVideo);
        QTest::newRow("outgoing") << u"OUTGOING_VIBER"_s << int(ViberCallTypeOutgoing);
        QTest::newRow("unknown") << u"conference"_s << int(ViberCallTypeUnknown);
    }
    void callKinds()
    {
        QFETCH(QString, stored);
        QFETCH(int, kind);
        QCOMPARE(int(callTypeFromStoreText(stored)), kind);
        // The writer's duplicate test reads kinds in SQL: it must agree with the reader.
        Sqlite3DB db;
        db.openThrow(u":memory:"_s, Sqlite3DB::ReadWrite);
        Sqlite3Cursor c = db.queryThrow(
            Sqlite3Sql(u"select %1 from (select ? as t)"_s.arg(StoreLayout::callKindSql(u"t"_s)))
                .addTextParam(stored));
        QVERIFY(c.moveNext());
        QCOMPARE(c.getIntAt(0), kind);
        QVERIFY(kind == int(ViberCallTypeUnknown) ||
                callTypeFromStoreText(callTypeToStoreText(ViberCallType(kind))) == ViberCallType(kind));
    }
    // Records of one layout merged into another: everything arrives, and a second run
    // finds it all present and writes nothing.
    void writes_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("target");
        for (const QString &source : {u"phone"_s, u"template"_s})
            for (const QString &target : {u"local"_s, u"empty phone"_s})
                QTest::addRow("%s into %s", qPrintable(source), qPrintable(target)) << source << target;
        for (const QString &target : {u"join"_s, u"column"_s, u"local"_s})
            QTest::addRow("current into %s", qPrintable(target)) << u"column"_s << target;
    }
    void writes()
    {
        QFETCH(QString, source);
        QFETCH(QString, target);
        const bool current = source == u"column";
        Store from(source, current ? fixtures::sampleStoreAndMore() : fixtures::sampleStore());
        if (current)
            from.addCurrentKinds();
        const ViberDataPtr records = from.load();
        const QList<_ViberMsg *> all = records->messages.values();
        const bool toCurrent = target == u"join" || target == u"column";
        const Store t(target);
        const QString maxBefore =
            toCurrent ? t.rows(u"select Z_MAX from Z_PRIMARYKEY where Z_NAME='ViberMessage'"_s) : QString();
        IOSViberDb db(QDir(t.dir.path()), kFile);
        const ViberMsgMerger first = fixtures::mergeAll(db, all);
        QVERIFY(first.inserted() > 0 && db.isWhole());
        QVERIFY(toCurrent || first.inserted() == all.size());
        db.close();
        const QStringList rows = fixtures::storeRows(t.path());

        const ViberDataPtr back = t.load();
        const auto detail = target != u"local" ? fixtures::Detail::WithoutNames : fixtures::Detail::Content;
        QCOMPARE(fixtures::messageContent(*back, detail), fixtures::messageContent(*records, detail));
        // Chats without messages are not made by a merge.
        for (const _ViberChat *c : std::as_const(back->chats))
            QVERIFY(toCurrent || !c->messages.isEmpty());
        if (current) {
            // Nothing of the new kinds is lost: the copy shows them as the source does.
            const auto shown = [](const QList<_ViberMsg *> &messages) {
                QStringList texts;
                for (const _ViberMsg *m : messages)
                    texts << MessageText::plainText(m);
                texts.sort();
                return texts;
            };
            QCOMPARE(shown(back->messages.values()), shown(all));
        }
        if (toCurrent) {
            // New rows take keys after the app's, the index finds them, the key counters
            // cover every row, each attachment has its link, and unknown kinds keep their name.
            QCOMPARE(
                t.rows(
                    u"select (select min(Z_PK) > %1 from ZVIBERMESSAGE where ZTEXT like 'New %'), "
                    "(select count(*) from MESSAGEINDEX where MESSAGEINDEX match 'New'), "
                    "(select count(*) from Z_PRIMARYKEY as k where k.Z_MAX < (select max(Z_PK) from "
                    "(select Z_PK from ZVIBERMESSAGE where k.Z_NAME='ViberMessage' union all select Z_PK "
                    "from "
                    "ZMEMBER where k.Z_NAME='Member' union all select Z_PK from ZPHONENUMBER where "
                    "k.Z_NAME='PhoneNumber' union all select Z_PK from ZATTACHMENT where "
                    "k.Z_NAME='Attachment'))), "
                    "(select count(*) from ZATTACHMENT where Z_PK not in (select Z_3ATTACHMENTS from "
                    "Z_3MESSAGES)), "
                    "(select ZSYSTEMTYPE from ZVIBERMESSAGE where ZTEXT='?' and ZSYSTEMTYPE like 'systemF%')"_s
                        .arg(maxBefore)),
                u"1|3|0|0|systemFutureThing"_s);
        }
        IOSViberDb again(QDir(t.dir.path()), kFile);
        const ViberMsgMerger second = fixtures::mergeAll(again, all);
        QCOMPARE(second.inserted(), 0);
        QCOMPARE(second.present() + second.skipped(), first.present() + first.inserted() + first.skipped());
        again.close();
        QCOMPARE(fixtures::storeRows(t.path()), rows);
    }
    void refused_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("named");
        QTest::newRow("history not taken in")
            << u"INSERT INTO ATRANSACTION (Z_PK, Z_ENT, Z_OPT, ZTIMESTAMP) VALUES (1, 16002, 1, 7e8)"_s
            << u"ATRANSACTION"_s;
        QTest::newRow("members without their numbers") << u"DROP TABLE ZPHONENUMBER"_s << u"ZPHONENUMBER"_s;
        QTest::newRow("a trigger of its own")
            << u"CREATE TRIGGER sweep AFTER INSERT ON ZVIBERMESSAGE BEGIN DELETE FROM ZCONVERSATION; END"_s
            << u"sweep"_s;
    }
    void refused()
    {
        QFETCH(QString, setup);
        QFETCH(QString, named);
        Store t(u"column"_s);
        t.exec(setup);
        const QStringList before = fixtures::storeRows(t.path());
        IOSViberDb db(QDir(t.dir.path()), kFile);
        const QString error = testsupport::errorOf([&] { db.requireWriterTables(); });
        db.close();
        QVERIFY2(error.contains(QDir::toNativeSeparators(t.path())) && error.contains(named),
                 qPrintable(error));
        QCOMPARE(fixtures::storeRows(t.path()), before);
    }
    // A current phone's backup gets the store back in the app group, with its log emptied,
    // and the phone's rows keep their keys.
    void backupOfACurrentPhone()
    {
        const TempDataFolder data;
        const QTemporaryDir dir;
        const QString group = dir.filePath(u"group"_s), store = u"com.viber/database/Contacts.data"_s;
        const fixtures::StorePlan plan = fixtures::sampleStore();
        fixtures::writeStore(plan, group, fixtures::StoreLayout::Phone, store);
        fixtures::toCurrentStore(QDir(group).filePath(store), CurrentLinks::MessageColumn);
        QVERIFY(testsupport::writeFile(QDir(group).filePath(store + u"-wal"_s), "a log of long ago"));
        fixtures::BackupFixture backup(dir.filePath(u"backup"_s));
        backup.newerLayout = true;
        backup.addFilesBelow(QString::fromLatin1(IOSLoadViberFromiTunesThread::kGroupDomain), group);
        QCOMPARE(backup.write(), QString());
        BackupManifest target(backup.folder());
        target.loadManifestPlist();
        const ViberDataPtr records = Store(u"join"_s, fixtures::sampleStoreAndMore()).load();
        const auto run = [](WorkerThread &worker, const QString &) { return testsupport::runToEnd(worker); };
        QVERIFY(BackupTransfer::run(target, records->messages.values(), run).succeeded);

        const auto file = [&](const QString &path) {
            const QString name = BackupManifest::backupFileName(
                QString::fromLatin1(IOSLoadViberFromiTunesThread::kGroupDomain), path);
            return QDir(backup.folder()).filePath(name.left(2) + u'/' + name);
        };
        QCOMPARE(QFileInfo(file(store + u"-wal"_s)).size(), 0);
        QCOMPARE(fixtures::rows(file(store), u"select count(*) from ZVIBERMESSAGE where Z_PK <= %1"_s.arg(
                                                 plan.messages.size())),
                 QString::number(plan.messages.size()));
        BackupManifest again(backup.folder());
        again.loadManifestPlist();
        IOSLoadViberFromiTunesThread load(&again, dir.filePath(u"again"_s));
        QVERIFY(testsupport::runToEnd(load));
        const ViberDataPtr back =
            IOSViberDb(QDir(load.viberCacheFolder()), IOSLoadViberFromiTunesThread::storeFileName()).load();
        QCOMPARE(fixtures::messageContent(*back), fixtures::messageContent(*records));
    }
    // The real store, read where it lies (a folder meant to stay as it is), then merged into.
    void realStore()
    {
        const QString real = testsupport::realDataDir() + u"/viber-ios-2023/Contacts.data"_s;
        if (testsupport::realDataDir().isEmpty() || !QFile::exists(real))
            QSKIP("the real store is not available here");
        const QString folder = QFileInfo(real).absolutePath();
        const QStringList files = fixtures::filesBelow(folder);
        const ViberDataPtr before = IOSViberDb(QDir(folder), QFileInfo(real).fileName()).load();
        QCOMPARE(fixtures::filesBelow(folder), files);
        QStringList got;
        for (const _ViberMsg *m : std::as_const(before->messages)) {
            got << u"%1 %2 %3 %4 %5 %6"_s.arg(m->chat->id)
                       .arg(m->chat->participants.keys() == QList<qint64>{m->person->id})
                       .arg(m->state)
                       .arg(m->type)
                       .arg(personLabel(m->person), m->text.toString().left(22));
            // The token holds the send time, to within a second of the store's date.
            QVERIFY(qAbs(storeTimeOfToken(m->token) - m->date) < 1);
        }
        got.sort();
        QCOMPARE(got, (QStringList{u"2 1 %1 %2 Donncha(+4915785097580) Hi there"_s,
                                   u"2 1 %1 %2 Donncha(+4915785097580) I’d like to invite you"_s}
                           .replaceInStrings(u"%1"_s, QString::number(ViberMsgStateReceived))
                           .replaceInStrings(u"%2"_s, QString::number(ViberMsgTypeText))));

        Store t(u"local"_s);
        QVERIFY(QFile::copy(real, t.path()));
        QFile(t.path()).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        const ViberDataPtr records = Store(u"join"_s, fixtures::sampleStoreAndMore()).load();
        IOSViberDb db(QDir(t.dir.path()), kFile);
        QVERIFY(fixtures::mergeAll(db, records->messages.values()).inserted() > 0 && db.isWhole());
        db.close();
        QCOMPARE(t.load()->messages.size(), before->messages.size() + records->messages.size());
        QCOMPARE(t.rows(u"select count(*) from MESSAGEINDEX where MESSAGEINDEX match 'invite OR Bob'"_s),
                 u"2"_s);
    }
};

QTEST_GUILESS_MAIN(TestCurrentStores)
#include "tst_currentstores.moc"
