#include "CliApp.h"
#include "TestConfig.h"
#include "support/BackupFixtures.h"
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

const QString kProgramDir = QStringLiteral(CHATWHARF_BINARY_DIR "/src/");

// A program of the build run as a user runs it, in the test's home.
Result run(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.start(kProgramDir + program, arguments);
    p.closeWriteChannel();
    if (!p.waitForFinished(120000))
        return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

Result cli(const QStringList &arguments)
{
    return run(u"chatwharf-cli"_s, arguments);
}

// chatwharf-cli run in this process, where the simulated device layer is; both streams go to said.
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

// The chats a source holds as "title messages", in the order listed.
QStringList chats(const QStringList &source)
{
    QStringList out;
    const QString listed = cli(QStringList{u"chats"_s} + source).out;
    for (const QString &line : listed.split(u'\n', Qt::SkipEmptyParts).mid(1))
        out << line.section(u'\t', 1, 1) + u' ' + line.section(u'\t', 3, 3);
    return out;
}

qint64 messageCount(const QStringList &source)
{
    qint64 n = 0;
    for (const QString &chat : chats(source))
        n += chat.section(u' ', -1).toLongLong();
    return n;
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
        QVERIFY(QDir().mkpath(m_store) && QDir().mkpath(file(u"more"_s)));
        fixtures::writeStore(fixtures::sampleStore(), m_store, fixtures::StoreLayout::Phone);
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
        QVERIFY(testsupport::writeFile(file(u"good"_s), "s3cret\n"));
        QVERIFY(testsupport::writeFile(file(u"bad"_s), "secret\n"));
        QVERIFY(testsupport::writeFile(file(u"empty"_s), "\n"));
        QCOMPARE(cli(arguments("import --backup @plain --to Archive --quiet")).code, 0);
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
        row("transfer, no phone", "transfer --store ~/more --yes", 1, u"No iPhone is connected"_s);
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
        QCOMPARE(cli(exportTo + QStringList{u"--store"_s, m_store, u"--force"_s}).code, 0);
        QVERIFY(testsupport::readFile(out + own).contains("Friends"));
    }

    // A second import of the same backup adds nothing; a database is named in any letter case, a
    // store by its folder or its file alike; list shows the database and both backups.
    void importTwiceAddsNothing()
    {
        const Result second = cli(arguments("import --backup @plain --to Archive"));
        QCOMPARE(second.out.section(u'\n', 0, 0),
                 u"Added 0 messages and 0 calls to Archive; 25 messages and 7 calls were already there."_s);
        QVERIFY2(second.out.contains(u"\ncalls: 7 in the store, 7 read\n"_s), qPrintable(second.out));
        const QStringList inStore = chats(arguments("--store @store"));
        QVERIFY(inStore.contains(u"Friends 5"_s));
        QCOMPARE(chats(arguments("--store @store/Documents/Contacts.data")), inStore);
        QVERIFY(chats(arguments("--db archive")).contains(u"Friends 5"_s));
        const QString list = cli({u"list"_s}).out;
        for (const QString &line : {u"database\tArchive\t"_s, u"\tyes\tManifest.db\t"_s + m_encrypted,
                                    u"\tno\tManifest.mbdb\t"_s + m_plain})
            QVERIFY2(list.contains(line), qPrintable(list));
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
            p->start(kProgramDir + u"chatwharf-cli"_s, import);
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

    // delete takes one chat, then everything, read back from the database (its refusals are
    // among the failures).
    void deleteMessages()
    {
        QCOMPARE(cli(arguments("import --backup @plain --to Prune --quiet")).out, QString());
        QStringList left = chats(arguments("--db Prune"));
        const Result one = cli(arguments("delete --db Prune --yes --chat Friends"));
        QVERIFY2(one.out.contains(u"Deleted 5 messages and 0 calls from “Prune”."_s), qPrintable(one.out));
        QVERIFY(left.removeAll(u"Friends 5"_s) == 1);
        QCOMPARE(chats(arguments("--db Prune")), left);
        const Result all = cli(arguments("delete --db Prune --yes --all"));
        QVERIFY2(all.out.contains(u"Deleted 20 messages and 7 calls from “Prune”."_s), qPrintable(all.out));
        QCOMPARE(chats(arguments("--db Prune")), QStringList());
    }

    // to-backup and transfer write the new messages of the source (three messages and a call)
    // into the backup's or the phone's store, once however often run.
    void toBackupAndTransfer()
    {
        const QString target = file(u"target"_s);
        fixtures::BackupFixture b(target);
        b.addFilesBelow(u"AppDomain-com.viber"_s, m_store);
        QCOMPARE(b.write(), QString());
        const qint64 inBackup = messageCount({u"--backup"_s, target});
        for (int run = 0; run < 2; ++run) {
            const Result r = cli(arguments("to-backup --store ~/more --backup ~/target"));
            QCOMPARE(r.code, 0);
            QVERIFY2(run == 1 || r.out.contains(u"Wrote 28 messages and 8 calls into the backup"_s),
                     qPrintable(r.out));
            QCOMPARE(messageCount({u"--backup"_s, target}), inBackup + 4);
        }

        const QString phoneFolder = file(u"phone"_s), media = file(u"media"_s);
        QVERIFY(QDir().mkpath(phoneFolder) && QDir().mkpath(media));
        fixtures::writeStore(fixtures::sampleStore(), phoneFolder, fixtures::StoreLayout::Phone);
        const QString store = phoneFolder + u"/Documents/Contacts.data"_s;
        const auto onPhone = [&] {
            return fixtures::rows(store, u"select count(*) from ZVIBERMESSAGE"_s).toLongLong();
        };
        const qint64 before = onPhone();
        SimulatedAfc phone(phoneFolder, media);
        QVERIFY(phone.device());
        const QStringList command = arguments("transfer --store ~/more --yes");
        QString said;
        QCOMPARE(runHere(command + arguments("--device OTHER"), &said), 1);
        QVERIFY2(said.contains(u"No iPhone with the UDID OTHER is connected (connected: SIMULATED-AFC)"_s),
                 qPrintable(said));
        for (int run = 0; run < 2; ++run) {
            QCOMPARE(runHere(command, &said), 0);
            QVERIFY2(said.contains(u"Transferred 28 messages and 8 calls into the iPhone SIMULATED-AFC"_s),
                     qPrintable(said));
            QCOMPARE(onPhone(), before + 3);
        }
    }

    // JSON of an encrypted newer backup holds every message and call of the store, in local time;
    // --chat and --until narrow it.
    void jsonExport()
    {
        const QStringList to =
            arguments("export --backup @encrypted --password-file ~/good --format json --out");
        QCOMPARE(cli(to + arguments("~/all.json")).code, 0);
        const QByteArray all = testsupport::readFile(file(u"all.json"_s));
        QStringList texts;
        for (const QJsonValue &chat : QJsonDocument::fromJson(all).array())
            for (const QJsonValue &m : chat[u"messages"_s].toArray())
                texts << m[u"text"_s].toString();
        QCOMPARE(texts.size(), 25 + 7); // the messages and calls an import of it counts
        QVERIFY(texts.contains(u"Hello 😀"_s));
        QVERIFY(all.contains("\"date\": \"2023-07-02T16:14:20+02:00\""));
        QVERIFY(all.contains("\"groupId\": \"G-FRIENDS\""));

        QCOMPARE(cli(to + arguments("~/bob --chat Bob --until 2023-07-02")).code, 0);
        const QJsonArray bob =
            QJsonDocument::fromJson(testsupport::readFile(file(u"bob/Bob.json"_s)))[u"messages"_s].toArray();
        QCOMPARE(bob.size(), 1);
        QCOMPARE(bob[0][u"sender"_s][u"phone"_s].toString(), u"+4915222222222"_s);
    }

    // Ctrl+C stops a long export the way Cancel does: nothing of it stays.
    void interruptedRunLeavesNothing()
    {
        fixtures::StorePlan plan = fixtures::sampleStore();
        for (int i = 0; i < 4000; ++i)
            plan.addMessage(u"m%1"_s.arg(i), plan.chat(u"ann"_s).pk, plan.person(u"ann"_s).pk, u"received"_s,
                            u"Message %1"_s.arg(i));
        const QString big = LocalDatabases::folderOf(u"Big"_s);
        QVERIFY(QDir().mkpath(big));
        fixtures::writeStore(plan, big, fixtures::StoreLayout::Template,
                             QLatin1String(LocalDatabases::kStoreFileName));
        QProcess p;
        p.start(kProgramDir + u"chatwharf-cli"_s, arguments("export --db Big --format pdf --out ~/pdf"));
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
