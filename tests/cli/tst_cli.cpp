#include "CliApp.h"
#include "TestConfig.h"
#include "support/BackupFixtures.h"
#include "support/DesktopFixtures.h"
#include "support/SimulatedAfc.h"
#include "support/StoreFixtures.h"
#include "support/TempHome.h"
#include "support/TestSupport.h"
#include "viber/IOSViberDb.h"
#include "viber/LocalDatabases.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <QTextStream>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

struct Result
{
    int code = -1;
    QString out, err;
};

// A program of the build run as a user runs it, in the test's home.
Result run(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    p.start(QStringLiteral(CHATWHARF_BINARY_DIR "/src/") + program, arguments);
    p.closeWriteChannel();
    if (!p.waitForFinished(120000))
        return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

constexpr int kKilled = testsupport::kKilledAtStep;

// chatwharf-cli run in this process (where a simulated device layer is); what it said on
// both streams goes to said.
int runHere(const QStringList &arguments, QString *said)
{
    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    const int code = CliApp(outStream, errStream).run(QStringList{u"chatwharf-cli"_s} + arguments);
    outStream.flush();
    errStream.flush();
    *said = out + err;
    return code;
}

Result cli(const QStringList &arguments)
{
    return run(QStringLiteral("chatwharf-cli"), arguments);
}

} // namespace

// One home for the suite: a phone's store in a plain backup of the older layout and in an
// encrypted one of the newer, where backups are looked for.
class TestCli : public QObject
{
    Q_OBJECT

    TempHome m_home;
    QString m_plain, m_encrypted, m_store;
    QString file(const QString &name) const { return m_home.path() + u'/' + name; }

private slots:
    void initTestCase()
    {
        // Local time that is not UTC, so that dates show their offset.
        qputenv("TZ", "Europe/Berlin");
        m_store = file(u"src"_s);
        QVERIFY(QDir().mkpath(m_store));
        fixtures::writeStore(fixtures::sampleStore(), m_store, fixtures::StoreLayout::Phone);
        // What a transfer brings: three new messages and a new call.
        QVERIFY(QDir().mkpath(file(u"more"_s)));
        fixtures::writeStore(fixtures::sampleStoreAndMore(), file(u"more"_s), fixtures::StoreLayout::Phone);
        const QString backups = file(u".local/share/MobileSync/Backup/"_s);
        fixtures::BackupFixture plain(backups + u"plain"_s);
        fixtures::EncryptedBackupFixture encrypted(backups + u"encrypted"_s, "s3cret", true);
        for (fixtures::BackupFixture *b : {&plain, static_cast<fixtures::BackupFixture *>(&encrypted)}) {
            b->addFilesBelow(u"AppDomain-com.viber"_s, m_store);
            QCOMPARE(b->write(), QString());
        }
        m_plain = plain.folder();
        m_encrypted = encrypted.folder();
        fixtures::writeDesktopStore(fixtures::sampleDesktopStore(fixtures::DesktopLayout::Classic),
                                    file(u"classic/viber.db"_s), fixtures::DesktopLayout::Classic);
        fixtures::writeDesktopStore(fixtures::sampleDesktopStore(fixtures::DesktopLayout::Contacts),
                                    file(u"2017/viber.db"_s), fixtures::DesktopLayout::Contacts);
        QVERIFY(testsupport::writeFile(file(u"good"_s), "s3cret\n"));
        QVERIFY(testsupport::writeFile(file(u"bad"_s), "secret\n"));
        QVERIFY(testsupport::writeFile(file(u"empty"_s), "\n"));
    }

    // Both programs answer --version with the version the build was configured with,
    // the window program without a display.
    void version_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("command line") << u"chatwharf-cli"_s;
        QTest::newRow("window") << u"chatwharf"_s;
    }
    void version()
    {
        QFETCH(QString, program);
        const Result r = run(program, {u"--version"_s});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, program + u" "_s + QLatin1String(CHATWHARF_PROJECT_VERSION) + u'\n');
    }

    // Every failure is one sentence on standard error and an exit code, and writes nothing.
    void failures_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("error");
        // An export of the store to out.txt, with these options.
        const auto exportWith = [&](const QStringList &options) {
            return QStringList{u"export"_s, u"--store"_s, m_store, u"--format"_s, u"txt"_s} + options +
                   QStringList{u"--out"_s, file(u"out.txt"_s)};
        };
        QTest::newRow("unknown command") << QStringList{u"frobnicate"_s} << 2 << u"Unknown command"_s;
        QTest::newRow("no source") << QStringList{u"chats"_s} << 2 << u"exactly one source"_s;
        QTest::newRow("missing backup")
            << QStringList{u"chats"_s, u"--backup"_s, file(u"none"_s)} << 1 << u"holds no iTunes backup"_s;
        QTest::newRow("wrong password")
            << QStringList{u"chats"_s, u"--backup"_s, m_encrypted, u"--password-file"_s, file(u"bad"_s)} << 1
            << u"does not unlock"_s;
        QTest::newRow("no password") << QStringList{u"chats"_s, u"--backup"_s, m_encrypted} << 2
                                     << u"--password-file"_s;
        QTest::newRow("empty password file")
            << QStringList{u"chats"_s, u"--backup"_s, m_encrypted, u"--password-file"_s, file(u"empty"_s)}
            << 1 << u"is empty"_s;
        QTest::newRow("unknown chat")
            << exportWith({u"--chat"_s, u"Nobody"_s}) << 1 << u"no chat \"Nobody\""_s;
        QTest::newRow("empty date range")
            << exportWith({u"--since"_s, u"2030-01-01"_s}) << 1 << u"No messages"_s;
        QTest::newRow("bad date") << exportWith({u"--until"_s, u"2023-13-01"_s}) << 2 << u"yyyy-mm-dd"_s;
        // Arguments are checked before the source is read.
        QTest::newRow("bad date, no source read")
            << QStringList{u"calls"_s,    u"--backup"_s, file(u"none"_s),   u"--since"_s,
                           u"2023-2-1"_s, u"--out"_s,    file(u"out.txt"_s)}
            << 2 << u"yyyy-mm-dd"_s;
        QTest::newRow("bad format") << exportWith({u"--format"_s, u"xls"_s}) << 2 << u"Unknown format"_s;
    }
    void failures()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        QFETCH(QString, error);
        const Result r = cli(arguments);
        QCOMPARE(r.code, code);
        QVERIFY2(r.err.trimmed().split(u'\n').last().contains(error), qPrintable(r.err));
        QVERIFY(!QFileInfo::exists(file(u"out.txt"_s)));
    }

    // An output that is there is refused, before the source is read, unless --force says to write over it.
    void existingOutputNeedsForce_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("own"); // the user's file, relative to --out
        QTest::newRow("file") << u"csv"_s << QString();
        QTest::newRow("folder") << u"html"_s << u"/index.html"_s;
    }
    void existingOutputNeedsForce()
    {
        QFETCH(QString, format);
        QFETCH(QString, own);
        const QString out = file(u"taken-"_s + format);
        QVERIFY(testsupport::writeFile(out + own, "the user's own"));
        const QStringList exportTo{u"export"_s, u"--format"_s, format, u"--out"_s, out};
        const Result refused = cli(exportTo + QStringList{u"--backup"_s, file(u"none"_s)});
        QCOMPARE(refused.code, 1);
        QVERIFY2(refused.err.contains(out + u" already"_s), qPrintable(refused.err));
        QCOMPARE(testsupport::readFile(out + own), QByteArray("the user's own"));
        const Result forced = cli(exportTo + QStringList{u"--store"_s, m_store, u"--force"_s});
        QCOMPARE(forced.code, 0);
        QVERIFY(testsupport::readFile(out + own).contains("Friends"));
    }

    // The incremental archive: a second import of the same backup adds nothing.
    void importTwiceAddsNothing()
    {
        const QStringList import{u"import"_s, u"--backup"_s, m_plain, u"--to"_s, u"Archive"_s};
        const Result first = cli(import);
        QCOMPARE(first.code, 0);
        QVERIFY2(first.out.startsWith(u"Added 25 messages and 7 calls to Archive; 0 messages"_s),
                 qPrintable(first.out));
        const Result second = cli(import);
        QCOMPARE(second.out.section(u'\n', 0, 0),
                 u"Added 0 messages and 0 calls to Archive; 25 messages and 7 calls were already there."_s);
        // It ends with what the source held.
        QVERIFY2(second.out.contains(u"\ncalls: 7 in the store, 7 read\n"_s), qPrintable(second.out));
        const Result chats = cli({u"chats"_s, u"--db"_s, u"archive"_s});
        QCOMPARE(chats.code, 0);
        QVERIFY2(chats.out.contains(u"\tFriends\t"_s), qPrintable(chats.out));
        const Result list = cli({u"list"_s});
        QVERIFY(list.out.contains(u"database\tArchive\t"_s));
        QVERIFY(list.out.contains(u"\tyes\tManifest.db\t"_s + m_encrypted));
        QVERIFY(list.out.contains(u"\tno\tManifest.mbdb\t"_s + m_plain));
        // A store is named by its folder or by its file alike.
        const Result byFolder = cli({u"chats"_s, u"--store"_s, m_store});
        const Result byFile = cli({u"chats"_s, u"--store"_s, m_store + u"/Documents/Contacts.data"_s});
        QCOMPARE(byFile.code, 0);
        QCOMPARE(byFile.out, byFolder.out);
        QVERIFY(byFile.out.contains(u"\tFriends\t"_s));
    }

    // One writer per database: while another run holds it, --no-wait refuses and creates
    // nothing; two imports into a new database wait their turn, and both end well, the
    // second finding the first's messages.
    void oneWriterPerDatabase()
    {
        const QStringList import{u"import"_s, u"--backup"_s, m_plain, u"--to"_s, u"Shared"_s};
        const QString folder = LocalDatabases::folderOf(u"Shared"_s);
        auto held = std::make_unique<LocalDatabaseLock>(folder);
        QVERIFY(held->tryLock());
        const Result refused = cli(import + QStringList{u"--no-wait"_s});
        QCOMPARE(refused.code, 1);
        QVERIFY2(refused.err.contains(u"Another run is writing into the database “Shared”"_s),
                 qPrintable(refused.err));
        QVERIFY(!QFileInfo::exists(folder));

        QProcess first, second;
        QString waiting[2];
        for (QProcess *p : {&first, &second})
            p->start(QStringLiteral(CHATWHARF_BINARY_DIR "/src/chatwharf-cli"), import);
        QTRY_VERIFY_WITH_TIMEOUT(
            (waiting[0] += QString::fromUtf8(first.readAllStandardError())).contains(u"Waiting"_s) &&
                (waiting[1] += QString::fromUtf8(second.readAllStandardError())).contains(u"Waiting"_s),
            60000);
        held.reset();
        QStringList added;
        for (QProcess *p : {&first, &second}) {
            QVERIFY(p->waitForFinished(120000));
            QCOMPARE(p->exitCode(), 0);
            added << QString::fromUtf8(p->readAllStandardOutput()).section(u';', 0, 0);
        }
        added.sort();
        QCOMPARE(added, (QStringList{u"Added 0 messages and 0 calls to Shared"_s,
                                     u"Added 25 messages and 7 calls to Shared"_s}));
    }

    // delete: refused before anything is read unless chosen and confirmed; what it deletes,
    // read back from the database.
    void deleteMessages_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        QTest::addColumn<QString>("chatGone"); // a chat no longer listed afterwards
        QTest::newRow("nothing chosen") << QStringList() << 2 << u"--all"_s << QString();
        QTest::newRow("not confirmed")
            << QStringList{u"--chat"_s, u"Friends"_s} << 2 << u"--yes"_s << QString();
        QTest::newRow("bad date") << QStringList{u"--since"_s, u"2023-13-01"_s, u"--yes"_s} << 2
                                  << u"yyyy-mm-dd"_s << QString();
        QTest::newRow("no message in range")
            << QStringList{u"--since"_s, u"2030-01-01"_s, u"--yes"_s} << 1 << u"No messages"_s << QString();
        QTest::newRow("one chat") << QStringList{u"--chat"_s, u"Friends"_s, u"--yes"_s} << 0
                                  << u"Deleted 5 messages and 0 calls from “Prune”."_s << u"\tFriends\t"_s;
        QTest::newRow("all") << QStringList{u"--all"_s, u"--yes"_s} << 0
                             << u"Deleted 25 messages and 7 calls from “Prune”."_s << u"\tFriends\t"_s;
    }
    void deleteMessages()
    {
        QFETCH(QStringList, options);
        QFETCH(int, code);
        QFETCH(QString, says);
        QFETCH(QString, chatGone);
        QCOMPARE(cli({u"import"_s, u"--backup"_s, m_plain, u"--to"_s, u"Prune"_s, u"--quiet"_s}).out,
                 QString());
        const QString before = cli({u"chats"_s, u"--db"_s, u"Prune"_s}).out;
        const Result r = cli(QStringList{u"delete"_s, u"--db"_s, u"Prune"_s} + options);
        const Result after = cli({u"chats"_s, u"--db"_s, u"Prune"_s});
        QVERIFY(QDir(LocalDatabases::folderOf(u"Prune"_s)).removeRecursively());
        QCOMPARE(r.code, code);
        QVERIFY2((code == 0 ? r.out : r.err).contains(says), qPrintable(r.out + r.err));
        if (chatGone.isEmpty()) {
            QCOMPARE(after.out, before);
        } else {
            QVERIFY(before.contains(chatGone));
            QVERIFY2(!after.out.contains(chatGone), qPrintable(after.out));
        }
    }

    // to-backup: refused before anything is read or written, or the new messages of a source
    // written into the backup's store, read back from the backup.
    void toBackup_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        QTest::newRow("no backup named") << QStringList{u"--store"_s, file(u"more"_s)} << 2 << u"--backup"_s;
        QTest::newRow("encrypted") << QStringList{u"--store"_s, file(u"more"_s), u"--backup"_s, m_encrypted}
                                   << 1 << u"is encrypted"_s;
        QTest::newRow("bad date") << QStringList{u"--store"_s,      file(u"more"_s), u"--backup"_s,
                                                 file(u"target"_s), u"--until"_s,    u"2023-02-30"_s}
                                  << 2 << u"yyyy-mm-dd"_s;
        QTest::newRow("written") << QStringList{u"--store"_s, file(u"more"_s), u"--backup"_s,
                                                file(u"target"_s)}
                                 << 0 << u"Wrote 28 messages and 8 calls into the backup"_s;
#ifdef Q_OS_UNIX
        // Killed at the third step of the write, the backup reads as it was, and the read says why.
        QTest::newRow("killed while writing")
            << QStringList{u"--store"_s, file(u"more"_s), u"--backup"_s, file(u"target"_s)} << kKilled
            << u"was interrupted before it changed anything"_s;
#endif
    }
    void toBackup()
    {
        QFETCH(QStringList, options);
        QFETCH(int, code);
        QFETCH(QString, says);
        const QString target = file(u"target"_s);
        QVERIFY(QDir(target).removeRecursively());
        fixtures::BackupFixture b(target);
        b.addFilesBelow(u"AppDomain-com.viber"_s, m_store);
        QCOMPARE(b.write(), QString());
        const QStringList files = fixtures::filesBelow(target), encrypted = fixtures::filesBelow(m_encrypted);
        const auto messages = [&] {
            qint64 n = 0;
            for (const QString &line : cli({u"chats"_s, u"--backup"_s, target}).out.split(u'\n').mid(1))
                n += line.section(u'\t', 3, 3).toLongLong();
            return n;
        };
        const qint64 before = messages();
        Result r;
#ifdef Q_OS_UNIX
        if (code == kKilled) {
            QString said;
            const int killed = testsupport::killedAtStep(
                3, [&] { return runHere(QStringList{u"to-backup"_s} + options, &said); });
            r = cli({u"chats"_s, u"--backup"_s, target});
            QCOMPARE(r.code, 0);
            r.code = killed;
        } else
#endif
            r = cli(QStringList{u"to-backup"_s} + options);
        QCOMPARE(r.code, code);
        QVERIFY2((code == 0 ? r.out : r.err).contains(says), qPrintable(r.out + r.err));
        QCOMPARE(fixtures::filesBelow(m_encrypted), encrypted);
        if (code != 0) {
            QCOMPARE(fixtures::filesBelow(target), files);
            QCOMPARE(messages(), before);
            return;
        }
        // The three new messages and the new call (which the list counts), once, however often written.
        QCOMPARE(messages(), before + 4);
        QCOMPARE(cli(QStringList{u"to-backup"_s} + options).code, 0);
        QCOMPARE(messages(), before + 4);
    }

    // transfer: without a phone, or without the one named, it says so; into the phone, the
    // new messages arrive once, however often transferred.
    void transfer()
    {
        const QStringList command{u"transfer"_s, u"--store"_s, file(u"more"_s), u"--yes"_s};
        const Result none = cli(command);
        QCOMPARE(none.code, 1);
        QVERIFY2(none.err.contains(u"No iPhone is connected"_s), qPrintable(none.err));

        const QString phoneFolder = file(u"phone"_s), media = file(u"media"_s);
        QVERIFY(QDir().mkpath(phoneFolder) && QDir().mkpath(media));
        fixtures::writeStore(fixtures::sampleStore(), phoneFolder, fixtures::StoreLayout::Phone);
        const QString store = phoneFolder + u"/Documents/Contacts.data"_s;
        const QString before = fixtures::rows(store, u"select count(*) from ZVIBERMESSAGE"_s);
        SimulatedAfc phone(phoneFolder, media);
        QVERIFY(phone.device());
        QString said;
        QCOMPARE(runHere(command + QStringList{u"--device"_s, u"OTHER"_s}, &said), 1);
        QVERIFY2(said.contains(u"No iPhone with the UDID OTHER is connected (connected: SIMULATED-AFC)"_s),
                 qPrintable(said));
        for (int run = 0; run < 2; ++run) {
            QCOMPARE(runHere(command, &said), 0);
            QVERIFY2(said.contains(u"Transferred 28 messages and 8 calls into the iPhone SIMULATED-AFC"_s),
                     qPrintable(said));
            QCOMPARE(fixtures::rows(store, u"select count(*) from ZVIBERMESSAGE"_s).toLongLong(),
                     before.toLongLong() + 3);
        }
    }

    // What each kind of source holds: its layout, then every kind of row, read or left out.
    void inspect_data()
    {
        QTest::addColumn<QStringList>("source");
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("messages");
        const QString left =
            u", 2 left out: 1 belong to no chat the store holds; 1 have the state \"failed\", "
            "which is no state of a sent or received message"_s;
        QTest::newRow("store")
            << QStringList{u"--store"_s, m_store}
            << u"Layout: a Viber for iOS message store, participants in a phone number index"_s
            << u"messages: 23 in the store, 21 read"_s + left;
        QTest::newRow("backup")
            << QStringList{u"--backup"_s, m_plain}
            << u"Layout: an iTunes backup indexed by Manifest.mbdb, not encrypted, a Viber"_s
            << u"messages: 23 in the store, 21 read"_s + left;
        const QString unknownKind = u", 1 left out: 1 are of a kind this version cannot read (%1)"_s;
        QTest::newRow("desktop, classic")
            << QStringList{u"--viber-desktop"_s, file(u"classic/viber.db"_s)}
            << u"Layout: a Viber Desktop database, participants in OriginNumberInfo (classic clients)"_s
            << u"messages: 12 in the store, 11 read"_s + unknownKind.arg(2);
        QTest::newRow("desktop, 2017")
            << QStringList{u"--viber-desktop"_s, file(u"2017/viber.db"_s)}
            << u"Layout: a Viber Desktop database, participants in Contact (2017 and later clients)"_s
            << u"messages: 16 in the store, 15 read"_s + unknownKind.arg(64);
        QTest::newRow("database") << QStringList{u"--db"_s, u"Archive"_s}
                                  << u"Layout: a local database of this program"_s
                                  << u"messages: 21 in the store, 21 read"_s;
    }
    void inspect()
    {
        QFETCH(QStringList, source);
        QFETCH(QString, layout);
        QFETCH(QString, messages);
        const Result r = cli(QStringList{u"inspect"_s} + source);
        QCOMPARE(r.code, 0);
        const QStringList lines = r.out.trimmed().split(u'\n');
        QVERIFY2(lines.size() == 8 && lines.at(1).startsWith(layout), qPrintable(r.out));
        QCOMPARE(lines.at(4), messages);
    }

    // JSON of an encrypted newer backup holds every chat and message of the store, narrowed by chat and day.
    void jsonExport()
    {
        const ViberDataPtr source =
            IOSViberDb(QDir(m_store), QString::fromLatin1(fixtures::kStoreFileName)).load();
        const QStringList to{u"export"_s,     u"--backup"_s, m_encrypted, u"--password-file"_s,
                             file(u"good"_s), u"--format"_s, u"json"_s,   u"--out"_s};
        QCOMPARE(cli(to + QStringList{file(u"all.json"_s)}).code, 0);
        const QByteArray all = testsupport::readFile(file(u"all.json"_s));
        const QJsonArray chats = QJsonDocument::fromJson(all).array();
        QStringList texts;
        for (const QJsonValue &chat : chats)
            for (const QJsonValue &m : chat[u"messages"_s].toArray())
                texts << m[u"text"_s].toString();
        QCOMPARE(texts.size(), source->messages.size());
        QVERIFY(texts.contains(u"Hello 😀"_s));
        QVERIFY(all.contains("\"date\": \"2023-07-02T16:14:20+02:00\""));
        const auto friends = std::find_if(chats.begin(), chats.end(), [](const QJsonValue &c) {
            return c[u"chat"_s][u"title"_s] == u"Friends"_s;
        });
        QVERIFY(friends != chats.end());
        QCOMPARE((*friends)[u"chat"_s][u"groupId"_s].toString(), u"G-FRIENDS"_s);
        QCOMPARE((*friends)[u"chat"_s][u"participants"_s].toArray().size(), 3);

        QCOMPARE(
            cli(to + QStringList{file(u"bob"_s), u"--chat"_s, u"Bob"_s, u"--until"_s, u"2023-07-02"_s}).code,
            0);
        const QJsonObject bob =
            QJsonDocument::fromJson(testsupport::readFile(file(u"bob/Bob.json"_s))).object();
        QCOMPARE(bob[u"messages"_s].toArray().size(), 1);
        QCOMPARE(bob[u"messages"_s][0][u"sender"_s][u"phone"_s].toString(), u"+4915222222222"_s);
    }

    // Ctrl+C stops a long export the way Cancel does: nothing of it stays.
    void interruptedRunLeavesNothing()
    {
        fixtures::StorePlan plan = fixtures::sampleStore();
        const qint64 chat = plan.chat(u"ann"_s).pk;
        for (int i = 0; i < 4000; ++i)
            plan.addMessage(u"m%1"_s.arg(i), chat, plan.person(u"ann"_s).pk, u"received"_s,
                            u"Message %1"_s.arg(i));
        const QString big = LocalDatabases::folderOf(u"Big"_s);
        QVERIFY(QDir().mkpath(big));
        fixtures::writeStore(plan, big, fixtures::StoreLayout::Template,
                             QLatin1String(LocalDatabases::kStoreFileName));
        QProcess p;
        p.start(QStringLiteral(CHATWHARF_BINARY_DIR "/src/chatwharf-cli"),
                {u"export"_s, u"--db"_s, u"Big"_s, u"--format"_s, u"pdf"_s, u"--out"_s, file(u"pdf"_s)});
        QString err;
        QTRY_VERIFY_WITH_TIMEOUT(
            (err += QString::fromUtf8(p.readAllStandardError())).contains(u"Exporting"_s), 60000);
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 130);
        QVERIFY(!QFileInfo::exists(file(u"pdf"_s)));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
