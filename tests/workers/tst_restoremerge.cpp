#include "support/BackupFixtures.h"
#include "support/CurrentStoreFixtures.h"
#include "support/StoreFixtures.h"
#include "support/TempDataFolder.h"
#include "support/TestSupport.h"
#include "viber/IOSViberDb.h"
#include "workers/BackupTransfer.h"
#include "workers/IOSLoadViberFromiTunesThread.h"
#include "workers/IOSMergeWAFiles2iTunesBKThread.h"
#include "workers/IOSMobileBackupThread.h"
#include "workers/IOSMobileRestoreThread.h"
#include "workers/IOSRestoreViberMsgThread.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using Outcome = WorkerThread::Outcome;

namespace {

// A phone's cached store, and a source holding all of it and more: new messages, a new call.
struct Phone
{
    explicit Phone(bool newCall)
    {
        fixtures::writeStore(fixtures::sampleStore(), folder(), fixtures::StoreLayout::Phone);
        fixtures::writeStore(fixtures::sampleStoreAndMore(newCall), dir.filePath(u"source"_s),
                             fixtures::StoreLayout::Phone);
        source =
            IOSViberDb(QDir(dir.filePath(u"source"_s)), QString::fromLatin1(fixtures::kStoreFileName)).load();
        before = testsupport::readFile(store());
        recents = fixtures::rows(store(), u"select * from ZRECENT order by Z_PK"_s);
    }
    QString folder() const { return dir.filePath(u"phone"_s); }
    QString store() const { return folder() + u"/Documents/Contacts.data"_s; }

    QTemporaryDir dir;
    ViberDataPtr source;
    QByteArray before;
    QString recents;
};

} // namespace

class TestRestoreMerge : public QObject
{
    Q_OBJECT

private slots:
    void merge_data()
    {
        QTest::addColumn<bool>("newCall");
        QTest::newRow("messages and a call") << true;
        QTest::newRow("messages only") << false;
    }

    // Each message once, keys ascending with time, the old store kept beside, the files listed.
    void merge()
    {
        QFETCH(bool, newCall);
        Phone p(newCall);
        QList<_ViberMsg *> selection;
        for (_ViberMsg *m : std::as_const(p.source->messages))
            if (newCall || m->type != ViberMsgTypeCall)
                selection << m;
        IOSRestoreViberMsgThread worker(p.folder(), selection);
        QVERIFY(testsupport::runToEnd(worker));
        const ViberDataPtr merged =
            IOSViberDb(QDir(p.folder()), QString::fromLatin1(fixtures::kStoreFileName)).load();
        QCOMPARE(fixtures::messageContent(*merged), fixtures::messageContent(*p.source));
        QCOMPARE(fixtures::rows(p.store(), u"select count(*) from ZVIBERMESSAGE as a join ZVIBERMESSAGE as b "
                                           "on a.Z_PK < b.Z_PK and a.ZDATE > b.ZDATE"_s)
                     .trimmed(),
                 u"0"_s);
        QCOMPARE(testsupport::readFile(p.store() + u".bak"_s), p.before);
        // Without new calls the phone's recents stay as they were.
        if (!newCall)
            QCOMPARE(fixtures::rows(p.store(), u"select * from ZRECENT order by Z_PK"_s), p.recents);
        QCOMPARE(worker.callCount(), newCall ? 8 : 0);
        QStringList paths;
        for (const BackupFileItem &item : worker.files()) {
            QVERIFY2(QFileInfo(item.sourcePath).isFile(), qPrintable(item.sourcePath));
            paths << item.backupPath;
        }
        for (const QString &path :
             {u"Documents/Contacts.data"_s, u"Documents/VoiceMessages/_ptt_id_counter"_s,
              u"Documents/Attachments/p1.jpg"_s})
            QVERIFY2(paths.contains(path), qPrintable(path));
    }

    // Messages written into a backup of the phone come back from it, each once, beside the
    // phone's own: by the backup writer alone, or by the whole backup route with a stand-in
    // for the backup tool that hands out that backup as the phone's, restored afterwards.
    void intoABackupAndBackAgain_data()
    {
        QTest::addColumn<bool>("throughTheTool");
        QTest::newRow("into a backup") << false;
        QTest::newRow("backup route") << true;
    }
    void intoABackupAndBackAgain()
    {
        QFETCH(bool, throughTheTool);
        const TempDataFolder data;
        Phone p(true);
        fixtures::BackupFixture made(p.dir.filePath(u"made"_s));
        made.newerLayout = true;
        made.addFilesBelow(u"AppDomain-com.viber"_s, p.folder());
        QCOMPARE(made.write(), QString());
        QString folder = made.folder();
        if (!throughTheTool) {
            BackupManifest target(folder);
            target.loadManifestPlist();
            const BackupTransfer::Result result = BackupTransfer::run(
                target, p.source->messages.values(),
                [](WorkerThread &worker, const QString &) { return testsupport::runToEnd(worker); });
            QVERIFY(result.succeeded);
            QCOMPARE(result.calls, 8);
            QVERIFY(!QFileInfo::exists(BackupTransfer::cacheFolder(target)));
        } else {
            const QString root = p.dir.filePath(u"root"_s);
            const QString tool = testsupport::backupToolStandIn(
                p.dir.path(), u"case \"$3\" in backup) cp -r \"%1\" \"$4/U1\";; esac"_s.arg(folder));
            IOSMobileBackupThread backup(nullptr, u"U1"_s, u"17.1"_s, root);
            backup.tool().setToolPath(tool);
            QVERIFY(testsupport::runToEnd(backup));
            folder = backup.backupFolder();
            BackupManifest manifest(folder);
            manifest.loadManifestPlist();
            IOSLoadViberFromiTunesThread load(&manifest, p.dir.filePath(u"cache"_s));
            QVERIFY(testsupport::runToEnd(load));
            IOSRestoreViberMsgThread merge(load.viberCacheFolder(), p.source->messages.values());
            QVERIFY(testsupport::runToEnd(merge));
            IOSMergeWAFiles2iTunesBKThread write(&manifest, merge.files());
            QVERIFY(testsupport::runToEnd(write));
            IOSMobileRestoreThread restore(nullptr, u"U1"_s, root);
            restore.tool().setToolPath(tool);
            QVERIFY(testsupport::runToEnd(restore));
            QCOMPARE(QString::fromUtf8(testsupport::readFile(p.dir.filePath(u"calls"_s))),
                     u"-u U1 backup %1\n-u U1 -s U1 restore %1\n"_s.arg(root));
        }
        BackupManifest again(folder);
        again.loadManifestPlist();
        IOSLoadViberFromiTunesThread load(&again, p.dir.filePath(u"again"_s));
        QVERIFY(testsupport::runToEnd(load));
        const ViberDataPtr back =
            IOSViberDb(QDir(load.viberCacheFolder()), IOSLoadViberFromiTunesThread::storeFileName()).load();
        QCOMPARE(fixtures::messageContent(*back), fixtures::messageContent(*p.source));
    }

    // A cancelled merge, or one into a current store its app has changes pending in
    // (refused before any write), leaves the cached store as it was, with nothing beside it.
    void endsEarlyChangingNothing_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("cancelled") << true;
        QTest::newRow("current store with pending changes") << false;
    }
    void endsEarlyChangingNothing()
    {
        QFETCH(bool, cancel);
        Phone p(true);
        if (!cancel) {
            fixtures::toCurrentStore(p.store(), fixtures::CurrentLinks::MessageColumn);
            fixtures::exec(p.store(),
                           u"INSERT INTO ATRANSACTION (Z_PK, Z_ENT, Z_OPT) VALUES (1, 16002, 1)"_s);
        }
        const QStringList files = fixtures::filesBelow(p.folder());
        IOSRestoreViberMsgThread worker(p.folder(), p.source->messages.values());
        if (cancel)
            worker.requestStop();
        QVERIFY(!testsupport::runToEnd(worker));
        QCOMPARE(worker.outcome(), cancel ? Outcome::Cancelled : Outcome::Failed);
        QVERIFY2(cancel || worker.errorText().contains(QDir::toNativeSeparators(p.store()) + u' '),
                 qPrintable(worker.errorText()));
        QCOMPARE(fixtures::filesBelow(p.folder()), files);
        QVERIFY(worker.files().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRestoreMerge)
#include "tst_restoremerge.moc"
