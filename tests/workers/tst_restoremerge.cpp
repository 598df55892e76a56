#include "support/BackupFixtures.h"
#include "support/CurrentStoreFixtures.h"
#include "support/SimulatedAfc.h"
#include "support/StoreFixtures.h"
#include "support/TempDataFolder.h"
#include "support/TestSupport.h"
#include "viber/IOSViberDb.h"
#include "workers/BackupTransfer.h"
#include "workers/IOSLoadViberFromiTunesThread.h"
#include "workers/IOSLoadViberThread.h"
#include "workers/IOSMergeWAFiles2iTunesBKThread.h"
#include "workers/IOSMobileBackupThread.h"
#include "workers/IOSMobileRestoreThread.h"
#include "workers/IOSRestoreViberMsgThread.h"

#include <QImage>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using testsupport::readFile;
using Outcome = WorkerThread::Outcome;
using Fault = SimulatedAfc::Fault;

namespace {

const QString kFile = QString::fromLatin1(fixtures::kStoreFileName);

// A phone's store, and a source holding all of it and more: new messages, a new call, and a
// video whose name has two dots, its preview named as the store's reader names it ("clip.jpg").
struct Phone
{
    explicit Phone(bool newCall)
    {
        fixtures::writeStore(fixtures::sampleStore(), folder(), fixtures::StoreLayout::Phone);
        fixtures::StorePlan more = fixtures::sampleStoreAndMore(newCall);
        fixtures::MessagePlan &clip = more.addMessage(u"clip"_s, more.chat(u"ann"_s).pk,
                                                      more.person(u"ann"_s).pk, u"received"_s, QString());
        clip.token = 424242; // none of the phone's
        more.addAttachment(u"clip"_s, clip.pk, u"video"_s, u"clip.v1.mov"_s);
        more.addFile(u"Documents/Attachments/clip.v1.mov"_s, fixtures::FileKind::Bytes);
        more.addFile(u"Documents/BigAttachmentsPreview/clip.jpg"_s, fixtures::FileKind::Jpeg);
        fixtures::writeStore(more, sourceFolder(), fixtures::StoreLayout::Phone);
        source = IOSViberDb(QDir(sourceFolder()), kFile).load();
        before = readFile(store());
        recents = fixtures::rows(store(), u"select * from ZRECENT order by Z_PK"_s);
    }
    QString folder() const { return dir.filePath(u"phone"_s); }
    QString sourceFolder() const { return dir.filePath(u"source"_s); }
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

    // A photo library holding the original of the sample store's camera-roll picture.
    QTemporaryDir m_media;

private slots:
    void initTestCase()
    {
        Sqlite3DB photos;
        QVERIFY(QDir().mkpath(m_media.filePath(u"PhotoData"_s)));
        photos.openThrow(m_media.filePath(u"PhotoData/Photos.sqlite"_s),
                         Sqlite3DB::ReadWrite | Sqlite3DB::Create);
        photos.execThrow(u"create table ZGENERICASSET(ZUUID text, ZKIND integer, ZMODIFICATIONDATE integer,"
                         " ZDIRECTORY text, ZFILENAME text); insert into ZGENERICASSET values"
                         "('AB12-CD34', 0, 0, 'DCIM/100APPLE', 'IMG_0001.JPG')"_s);
        QVERIFY(QDir().mkpath(m_media.filePath(u"DCIM/100APPLE"_s)));
        QVERIFY(
            QImage(100, 50, QImage::Format_RGB32).save(m_media.filePath(u"DCIM/100APPLE/IMG_0001.JPG"_s)));
    }

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
        const ViberDataPtr merged = IOSViberDb(QDir(p.folder()), kFile).load();
        QCOMPARE(fixtures::messageContent(*merged), fixtures::messageContent(*p.source));
        QCOMPARE(fixtures::rows(p.store(), u"select count(*) from ZVIBERMESSAGE as a join ZVIBERMESSAGE as b "
                                           "on a.Z_PK < b.Z_PK and a.ZDATE > b.ZDATE"_s)
                     .trimmed(),
                 u"0"_s);
        QCOMPARE(readFile(p.store() + u".bak"_s), p.before);
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

    // Everything the store names arrives; a phone that keeps Viber's container to itself
    // sends the caller to the backup route; an empty store is no success.
    void loadFromDevice_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<bool>("emptyStore");
        QTest::newRow("container reachable") << Fault::None << false;
        QTest::newRow("container refused") << Fault::RefuseContainer << false;
        QTest::newRow("empty store") << Fault::None << true;
    }
    void loadFromDevice()
    {
        QFETCH(Fault, fault);
        QFETCH(bool, emptyStore);
        const TempDataFolder data;
        Phone p(false);
        if (emptyStore)
            QVERIFY(testsupport::writeFile(p.store(), QByteArray()));
        SimulatedAfc phone(p.folder(), m_media.path());
        phone.fault = fault;
        QTRY_VERIFY(phone.device());
        IOSLoadViberThread worker(phone.device(), u"U1"_s);
        worker.start();
        worker.wait();
        if (emptyStore) {
            QCOMPARE(worker.outcome(), Outcome::Failed);
            QVERIFY(worker.errorText().contains(u"reinstall"_s));
            return;
        }
        QCOMPARE(worker.outcome(), Outcome::Succeeded);
        QCOMPARE(worker.needsBackup(), fault == Fault::RefuseContainer);
        if (worker.needsBackup()) {
            QVERIFY(!worker.data());
            return;
        }
        const ViberDataPtr source = IOSViberDb(QDir(p.folder()), kFile).load();
        QCOMPARE(fixtures::messageContent(*worker.data()), fixtures::messageContent(*source));
        QCOMPARE(worker.skippedAttachments(), 0);
        int files = 0;
        for (const _ViberAtta *att : std::as_const(source->attachments)) {
            const _ViberAtta *copy = worker.data()->attachments.value(att->id);
            QVERIFY(copy);
            for (const auto &[from, to] :
                 {std::pair(att->filePath, copy->filePath), {att->previewPath, copy->previewPath}})
                if (QFileInfo(from).isFile() && photoAssetId(att).isEmpty()) {
                    QVERIFY2(readFile(to) == readFile(from), qPrintable(to));
                    ++files;
                }
        }
        QCOMPARE(files, 11); // every file and preview the container holds, but the camera-roll picture's
        // The camera-roll picture comes from the photo library, and gets its preview.
        const QString root = worker.rootFolder();
        QCOMPARE(QImage(root + u"/Documents/Attachments/p1.jpg"_s).size(), QSize(100, 50));
        QVERIFY(QFileInfo(root + u"/Documents/BigAttachmentsPreview/p4.png"_s).isFile());
    }

    // Messages read from one phone and sent straight into another's container come back from
    // it, each once, the dotted video with its preview; a phone that hangs up halfway keeps
    // its store as it was, and so does the cache.
    void transferDirectlyAndLoadAgain_data()
    {
        QTest::addColumn<bool>("hangsUp");
        QTest::newRow("delivered") << false;
        QTest::newRow("phone hangs up") << true;
    }
    void transferDirectlyAndLoadAgain()
    {
        QFETCH(bool, hangsUp);
        const TempDataFolder data;
        Phone p(true);
        ViberDataPtr wanted;
        const QString preview = u"/Documents/BigAttachmentsPreview/clip.jpg"_s;
        {
            SimulatedAfc from(p.sourceFolder(), m_media.path());
            QTRY_VERIFY(from.device());
            IOSLoadViberThread load(from.device(), u"from"_s);
            QVERIFY(testsupport::runToEnd(load));
            wanted = load.data();
        }
        SimulatedAfc phone(p.folder(), m_media.path());
        QTRY_VERIFY(phone.device());
        IOSLoadViberThread load(phone.device(), u"to"_s);
        QVERIFY(testsupport::runToEnd(load));
        const QByteArray cached = readFile(load.rootFolder() + u"/Documents/Contacts.data"_s);
        if (hangsUp)
            phone.fault = Fault::DropMidWrite;
        IOSRestoreViberMsgThread transfer(load.rootFolder(), wanted->messages.values());
        transfer.setDirect(phone.device());
        if (hangsUp) {
            QVERIFY(!testsupport::runToEnd(transfer));
            QCOMPARE(readFile(p.store()), p.before);
            QCOMPARE(readFile(load.rootFolder() + u"/Documents/Contacts.data"_s), cached);
            QVERIFY(!QFileInfo::exists(load.rootFolder() + u"/Documents/Contacts.data.bak"_s));
            return;
        }
        QVERIFY2(testsupport::runToEnd(transfer), qPrintable(transfer.errorText()));
        QVERIFY(transfer.files().isEmpty());
        QVERIFY(!QFileInfo::exists(p.store() + u".chatwharf-new"_s));
        QCOMPARE(readFile(p.folder() + preview), readFile(p.sourceFolder() + preview));

        IOSLoadViberThread again(phone.device(), u"to"_s);
        QVERIFY(testsupport::runToEnd(again));
        QCOMPARE(fixtures::messageContent(*again.data()), fixtures::messageContent(*p.source));
        QCOMPARE(readFile(p.folder() + u"/Documents/VoiceMessages/_ptt_id_counter"_s).size(), 4);
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
            QCOMPARE(QString::fromUtf8(readFile(p.dir.filePath(u"calls"_s))),
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
