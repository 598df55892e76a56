#include "TestConfig.h"
#include "support/BackupFixtures.h"
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
            QJsonDocument::fromJson(testsupport::readFile(file(u"bob/Bob(+4915222222222).json"_s))).object();
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
