#include "CliApp.h"
#include "TestConfig.h"
#include "support/BackupFixtures.h"
#include "support/DesktopFixtures.h"
#include "support/SimulatedAfc.h"
#include "support/StoreFixtures.h"
#include "support/TempHome.h"
#include "support/TestSupport.h"
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
    // Arguments written as one line: "~/" is the home, @plain, @encrypted and @store the sources.
    QStringList arguments(const char *line) const
    {
        return QString::fromUtf8(line)
            .replace(u"~/"_s, file({}))
            .replace(u"@plain"_s, m_plain)
            .replace(u"@encrypted"_s, m_encrypted)
            .replace(u"@store"_s, m_store)
            .split(u' ');
    }

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
        QCOMPARE(cli(arguments("import --backup @plain --to Archive --quiet")).code, 0);
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

    // Every failure is one sentence on standard error and an exit code, and writes nothing:
    // no output, no change to the database or the backups.
    void failures_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("error");
        const auto row = [this](const char *tag, const char *line, int code, const QString &error) {
            QTest::newRow(tag) << arguments(line) << code << error;
        };
        row("unknown command", "frobnicate", 2, u"Unknown command"_s);
        row("no source", "chats", 2, u"exactly one source"_s);
        row("missing backup", "chats --backup ~/none", 1, u"holds no iTunes backup"_s);
        row("wrong password", "chats --backup @encrypted --password-file ~/bad", 1, u"does not unlock"_s);
        row("no password", "chats --backup @encrypted", 2, u"--password-file"_s);
        row("empty password file", "chats --backup @encrypted --password-file ~/empty", 1, u"is empty"_s);
        row("unknown chat", "export --store @store --format txt --chat Nobody --out ~/out.txt", 1,
            u"no chat \"Nobody\""_s);
        row("empty date range", "export --store @store --format txt --since 2030-01-01 --out ~/out.txt", 1,
            u"No messages"_s);
        row("bad date", "export --store @store --format txt --until 2023-13-01 --out ~/out.txt", 2,
            u"yyyy-mm-dd"_s);
        row("bad format", "export --store @store --format xls --out ~/out.txt", 2, u"Unknown format"_s);
        // Arguments are checked before the source is read.
        row("bad date, no source read", "calls --backup ~/none --since 2023-2-1 --out ~/out.txt", 2,
            u"yyyy-mm-dd"_s);
        row("delete, nothing chosen", "delete --db Archive", 2, u"--all"_s);
        row("delete, not confirmed", "delete --db Archive --chat Friends", 2, u"--yes"_s);
        row("delete, bad date", "delete --db Archive --since 2023-13-01 --yes", 2, u"yyyy-mm-dd"_s);
        row("delete, none in range", "delete --db Archive --since 2030-01-01 --yes", 1, u"No messages"_s);
        row("to-backup, no backup", "to-backup --store ~/more", 2, u"--backup"_s);
        row("to-backup, encrypted", "to-backup --store ~/more --backup @encrypted", 1, u"is encrypted"_s);
        row("to-backup, bad date", "to-backup --store ~/more --backup @plain --until 2023-02-30", 2,
            u"yyyy-mm-dd"_s);
    }
    void failures()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        QFETCH(QString, error);
        const auto written = [&] {
            return fixtures::filesBelow(LocalDatabases::folderOf(u"Archive"_s)) +
                   fixtures::filesBelow(m_plain) + fixtures::filesBelow(m_encrypted);
        };
        const QStringList before = written();
        const Result r = cli(arguments);
        QCOMPARE(r.code, code);
        QVERIFY2(r.err.trimmed().split(u'\n').last().contains(error), qPrintable(r.err));
        QVERIFY(!QFileInfo::exists(file(u"out.txt"_s)));
        QCOMPARE(written(), before);
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

    // The incremental archive: a second import of the same backup adds nothing, and ends
    // with what the source held.
    void importTwiceAddsNothing()
    {
        const Result second = cli(arguments("import --backup @plain --to Archive"));
        QCOMPARE(second.out.section(u'\n', 0, 0),
                 u"Added 0 messages and 0 calls to Archive; 25 messages and 7 calls were already there."_s);
        QVERIFY2(second.out.contains(u"\ncalls: 7 in the store, 7 read\n"_s), qPrintable(second.out));
        const Result chats = cli(arguments("chats --db archive"));
        QCOMPARE(chats.code, 0);
        QVERIFY2(chats.out.contains(u"\tFriends\t"_s), qPrintable(chats.out));
        const Result list = cli({u"list"_s});
        QVERIFY(list.out.contains(u"database\tArchive\t"_s));
        QVERIFY(list.out.contains(u"\tyes\tManifest.db\t"_s + m_encrypted));
        QVERIFY(list.out.contains(u"\tno\tManifest.mbdb\t"_s + m_plain));
        // A store is named by its folder or by its file alike.
        const Result byFolder = cli(arguments("chats --store @store"));
        const Result byFile = cli(arguments("chats --store @store/Documents/Contacts.data"));
        QCOMPARE(byFile.code, 0);
        QCOMPARE(byFile.out, byFolder.out);
        QVERIFY(byFile.out.contains(u"\tFriends\t"_s));
    }

    // One writer per database: while another run holds it, --no-wait refuses and creates
    // nothing; two imports into a new database wait their turn, and both end well, the
    // second finding the first's messages.
    void oneWriterPerDatabase()
    {
        const QStringList import = arguments("import --backup @plain --to Shared");
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

    // delete: what it deletes, read back from the database (its refusals are among the failures).
    void deleteMessages_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("says");
        QTest::newRow("one chat") << arguments("--chat Friends") << u"Deleted 5 messages and 0 calls"_s;
        QTest::newRow("all") << arguments("--all") << u"Deleted 25 messages and 7 calls"_s;
    }
    void deleteMessages()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, says);
        QCOMPARE(cli(arguments("import --backup @plain --to Prune --quiet")).out, QString());
        const Result r = cli(arguments("delete --db Prune --yes") + options);
        const Result after = cli(arguments("chats --db Prune"));
        QVERIFY(QDir(LocalDatabases::folderOf(u"Prune"_s)).removeRecursively());
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains(says + u" from “Prune”."_s), qPrintable(r.out + r.err));
        QVERIFY2(!after.out.contains(u"\tFriends\t"_s), qPrintable(after.out));
    }

    // to-backup: killed at the third step of the write, the backup reads as it was and the read
    // says why; then the new messages of the source are written into the backup's store, once
    // however often written (its refusals are among the failures).
    void toBackup()
    {
        const QString target = file(u"target"_s);
        fixtures::BackupFixture b(target);
        b.addFilesBelow(u"AppDomain-com.viber"_s, m_store);
        QCOMPARE(b.write(), QString());
        const QStringList command = arguments("to-backup --store ~/more --backup ~/target");
        const auto messages = [&] {
            qint64 n = 0;
            for (const QString &line : cli({u"chats"_s, u"--backup"_s, target}).out.split(u'\n').mid(1))
                n += line.section(u'\t', 3, 3).toLongLong();
            return n;
        };
        const qint64 before = messages();
#ifdef Q_OS_UNIX
        const QStringList files = fixtures::filesBelow(target);
        QString said;
        QCOMPARE(testsupport::killedAtStep(3, [&] { return runHere(command, &said); }), kKilled);
        const Result read = cli({u"chats"_s, u"--backup"_s, target});
        QCOMPARE(read.code, 0);
        QVERIFY2(read.err.contains(u"was interrupted before it changed anything"_s), qPrintable(read.err));
        QCOMPARE(fixtures::filesBelow(target), files);
#endif
        for (int run = 0; run < 2; ++run) {
            const Result r = cli(command);
            QCOMPARE(r.code, 0);
            QVERIFY2(run == 1 || r.out.contains(u"Wrote 28 messages and 8 calls into the backup"_s),
                     qPrintable(r.out));
            // The three new messages and the new call, which the list counts.
            QCOMPARE(messages(), before + 4);
        }
    }

    // transfer: without a phone, or without the one named, it says so; into the phone, the
    // new messages arrive once, however often transferred.
    void transfer()
    {
        const QStringList command = arguments("transfer --store ~/more --yes");
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
        QCOMPARE(runHere(command + arguments("--device OTHER"), &said), 1);
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
        const QString unknownKind = u", 1 left out: 1 are of a kind this version cannot read (%1)"_s;
        const auto row = [this](const char *tag, const char *source, const QString &layout,
                                const QString &messages) {
            QTest::newRow(tag) << arguments(source) << u"Layout: "_s + layout << u"messages: "_s + messages;
        };
        row("store", "--store @store",
            u"a Viber for iOS message store, participants in a phone number index"_s,
            u"23 in the store, 21 read"_s + left);
        row("backup", "--backup @plain",
            u"an iTunes backup indexed by Manifest.mbdb, not encrypted, a Viber"_s,
            u"23 in the store, 21 read"_s + left);
        row("desktop, classic", "--viber-desktop ~/classic/viber.db",
            u"a Viber Desktop database, participants in OriginNumberInfo (classic clients)"_s,
            u"12 in the store, 11 read"_s + unknownKind.arg(2));
        row("desktop, 2017", "--viber-desktop ~/2017/viber.db",
            u"a Viber Desktop database, participants in Contact (2017 and later clients)"_s,
            u"16 in the store, 15 read"_s + unknownKind.arg(64));
        row("database", "--db Archive", u"a local database of this program"_s, u"21 in the store, 21 read"_s);
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
        const QStringList to =
            arguments("export --backup @encrypted --password-file ~/good --format json --out");
        QCOMPARE(cli(to + QStringList{file(u"all.json"_s)}).code, 0);
        const QByteArray all = testsupport::readFile(file(u"all.json"_s));
        const QJsonArray chats = QJsonDocument::fromJson(all).array();
        QStringList texts;
        for (const QJsonValue &chat : chats)
            for (const QJsonValue &m : chat[u"messages"_s].toArray())
                texts << m[u"text"_s].toString();
        QCOMPARE(texts.size(), 25 + 7); // the messages and calls an import of it counts
        QVERIFY(texts.contains(u"Hello 😀"_s));
        QVERIFY(all.contains("\"date\": \"2023-07-02T16:14:20+02:00\""));
        const auto friends = std::find_if(chats.begin(), chats.end(), [](const QJsonValue &c) {
            return c[u"chat"_s][u"title"_s] == u"Friends"_s;
        });
        QVERIFY(friends != chats.end());
        QCOMPARE((*friends)[u"chat"_s][u"groupId"_s].toString(), u"G-FRIENDS"_s);
        QCOMPARE((*friends)[u"chat"_s][u"participants"_s].toArray().size(), 3);

        QCOMPARE(cli(to + arguments("~/bob --chat Bob --until 2023-07-02")).code, 0);
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
                arguments("export --db Big --format pdf --out ~/pdf"));
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
