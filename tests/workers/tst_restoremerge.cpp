#include "support/BackupFixtures.h"
#include "support/StoreFixtures.h"
#include "support/TempDataFolder.h"
#include "support/TestSupport.h"
#include "viber/IOSViberDb.h"
#include "workers/BackupTransfer.h"
#include "workers/IOSLoadViberFromiTunesThread.h"
#include "workers/IOSMergeWAFiles2iTunesBKThread.h"
#include "workers/IOSMobileBackupThread.h"
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
        QCOMPARE(worker.callCount(), newCall ? 7 : 0);
        QStringList paths;
        for (const BackupFileItem &item : worker.files()) {
            QVERIFY2(QFileInfo(item.sourcePath).isFile(), qPrintable(item.sourcePath));
            paths << item.backupPath;
        }
        QVERIFY(paths.contains(u"Documents/Contacts.data"_s));
        QVERIFY(paths.contains(u"Documents/VoiceMessages/_ptt_id_counter"_s));
        QVERIFY(paths.contains(u"Documents/Attachments/p1.jpg"_s));
    }

    // Messages written into a phone's backup come back from it, each once, beside the phone's own.
    void intoABackupAndBackAgain()
    {
        const TempDataFolder data;
        Phone p(true);
        fixtures::BackupFixture backup(p.dir.filePath(u"backup"_s));
        backup.newerLayout = true;
        backup.addFilesBelow(u"AppDomain-com.viber"_s, p.folder());
        QCOMPARE(backup.write(), QString());
        BackupManifest target(backup.folder());
        target.loadManifestPlist();
        const BackupTransfer::Result result = BackupTransfer::run(
            target, p.source->messages.values(),
            [](WorkerThread &worker, const QString &) { return testsupport::runToEnd(worker); });
        QVERIFY(result.succeeded);
        QCOMPARE(result.calls, 7);
        QVERIFY(!QFileInfo::exists(BackupTransfer::cacheFolder(target)));

        BackupManifest again(backup.folder());
        again.loadManifestPlist();
        IOSLoadViberFromiTunesThread load(&again, p.dir.filePath(u"again"_s));
        QVERIFY(testsupport::runToEnd(load));
        const ViberDataPtr back =
            IOSViberDb(QDir(load.viberCacheFolder()), IOSLoadViberFromiTunesThread::storeFileName()).load();
        QCOMPARE(fixtures::messageContent(*back), fixtures::messageContent(*p.source));
    }

    // The backup route with a stand-in for the backup tool that hands out a backup of the
    // phone in the newer layout: read, merged, written back and restored; the restored
    // backup holds every message once.
    void throughTheBackupRoute()
    {
        const TempDataFolder data;
        Phone p(true);
        fixtures::BackupFixture made(p.dir.filePath(u"made"_s));
        made.newerLayout = true;
        made.addFilesBelow(u"AppDomain-com.viber"_s, p.folder());
        QCOMPARE(made.write(), QString());
        const QString root = p.dir.filePath(u"root"_s);
        // It hands out the backup made above as the phone's.
        const QString tool = testsupport::backupToolStandIn(
            p.dir.path(), u"case \"$3\" in backup) cp -r \"%1/made\" \"$4/U1\";; esac"_s.arg(p.dir.path()));
        IOSMobileBackupThread backup(nullptr, u"U1"_s, u"17.1"_s, root);
        backup.tool().setToolPath(tool);
        QVERIFY(testsupport::runToEnd(backup));
        BackupManifest manifest(backup.backupFolder());
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

        BackupManifest restored(backup.backupFolder());
        restored.loadManifestPlist();
        IOSLoadViberFromiTunesThread again(&restored, p.dir.filePath(u"again"_s));
        QVERIFY(testsupport::runToEnd(again));
        const ViberDataPtr back =
            IOSViberDb(QDir(again.viberCacheFolder()), IOSLoadViberFromiTunesThread::storeFileName()).load();
        QCOMPARE(fixtures::messageContent(*back), fixtures::messageContent(*p.source));
    }

    // A cancelled merge leaves the cached store as it was, with nothing beside it.
    void cancelChangesNothing()
    {
        Phone p(true);
        const QStringList files = fixtures::filesBelow(p.folder());
        IOSRestoreViberMsgThread worker(p.folder(), p.source->messages.values());
        worker.requestStop();
        worker.start();
        worker.wait();
        QCOMPARE(worker.outcome(), Outcome::Cancelled);
        QCOMPARE(fixtures::filesBelow(p.folder()), files);
        QVERIFY(worker.files().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRestoreMerge)
#include "tst_restoremerge.moc"
