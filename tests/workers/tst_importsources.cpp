#include "app/DataFolder.h"
#include "itunes/IOSAssetDb.h"
#include "support/BackupFixtures.h"
#include "support/DesktopFixtures.h"
#include "support/RecordingReporter.h"
#include "support/StoreFixtures.h"
#include "support/TempDataFolder.h"
#include "support/TestSupport.h"
#include "viber/IOSViberDb.h"
#include "viber/LocalDatabases.h"
#include "viber/PCViberDb.h"
#include "workers/BackupViberMsgThread.h"
#include "workers/IOSLoadViberFromiTunesThread.h"
#include "workers/LoadViberMsgThread.h"
#include "workers/SourceLoading.h"

#include <QDirIterator>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using testsupport::readFile;
using Outcome = WorkerThread::Outcome;

namespace {

const QString kViberDomain = u"AppDomain-com.viber"_s;
const QString kGroupDomain = u"AppDomainGroup-group.viber.share.container"_s;

// A backup holding a phone's Viber store with its files, and the cache it loads into.
struct Bench
{
    explicit Bench(bool encrypted = false, bool newer = false)
    {
        using namespace fixtures;
        const QString folder = tmp.filePath(u"backup"_s);
        backup = encrypted ? std::make_unique<EncryptedBackupFixture>(folder, "secret", newer)
                           : std::make_unique<BackupFixture>(folder);
        backup->newerLayout = newer;
    }
    // inGroup: laid out as current versions keep it: the store in the app group, its last
    // commit only in the write-ahead log, an older store left in the app, contact pictures
    // in the group, files among the file messages, and the owner in the group's settings.
    void addStore(fixtures::StorePlan plan, bool inGroup = false)
    {
        // A record whose name climbs out of every folder; the backup carries it too.
        const qint64 m = plan.addMessage(u"evil"_s, plan.chat(u"ann"_s).pk, 0, u"received"_s, QString()).pk;
        plan.addAttachment(u"evil"_s, m, u"picture"_s, u"../../../../evil.jpg"_s);
        fixtures::writeStore(plan, source(), fixtures::StoreLayout::Phone);
        QVERIFY(testsupport::writeFile(source() + u"/Documents/ViberIcons/ann-icon.jpg"_s, "avatar"));
        const QString store = source() + u"/Documents/Contacts.data"_s;
        QString in = kViberDomain, storeName = u"Documents/Contacts.data"_s,
                icons = u"Documents/ViberIcons/"_s;
        if (inGroup) {
            backup->addFile(kViberDomain, storeName, readFile(store), 1000);
            in = kGroupDomain, storeName = u"com.viber/database/Contacts.data"_s,
            icons = u"com.viber/ViberIcons/"_s;
            Sqlite3DB db;
            db.openThrow(store, Sqlite3DB::ReadWrite);
            db.execThrow(u"PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                         "update ZVIBERMESSAGE set ZTEXT='Only in the log' where ZTEXT='Sent'"_s);
            QVERIFY(!readFile(store).contains("Only in the log"));
            // Taken while the log is open, as a backup of a running phone finds it.
            for (const QString &suffix : {u"-wal"_s, u"-shm"_s})
                backup->addFile(in, storeName + suffix, readFile(store + suffix));
            backup->addFile(in, storeName, readFile(store));
            const QString settings = tmp.filePath(u"Settings.data"_s);
            Sqlite3DB s;
            s.openThrow(settings, Sqlite3DB::ReadWrite | Sqlite3DB::Create);
            s.execThrow(u"create table Data(key text, value text); insert into Data values"
                        "('_myUserName', 'Me Myself'), ('_myPhoneNumber', '+4915000000000')"_s);
            backup->addFile(in, u"com.viber/settings/Settings.data"_s, readFile(settings));
        }
        for (QDirIterator it(source(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
            QString name = QDir(source()).relativeFilePath(it.next());
            const QByteArray bytes = readFile(it.filePath());
            if (name.startsWith(u"Documents/ViberIcons/"_s))
                backup->addFile(in, icons + it.fileName(), bytes);
            else if (inGroup && name == u"Documents/Attachments/doc.pdf"_s)
                backup->addFile(kViberDomain, u"Documents/FileMessages/doc.pdf"_s, bytes);
            else if (!name.startsWith(u"Documents/Contacts.data"_s) || !inGroup)
                backup->addFile(kViberDomain, name, bytes);
        }
        backup->addFile(kViberDomain, u"Documents/Attachments/../../../../evil.jpg"_s, "evil");
    }
    void prepare()
    {
        QCOMPARE(backup->write(), QString());
        manifest.loadManifestPlist();
        if (manifest.isEncrypted())
            QVERIFY(manifest.unlockWithPassword(u"secret"_s));
        manifest.loadFileTree();
    }
    Outcome run()
    {
        if (manifest.root().children().empty())
            prepare();
        worker = std::make_unique<IOSLoadViberFromiTunesThread>(&manifest, tmp.filePath(u"cache"_s));
        worker->start();
        worker->wait();
        return worker->outcome();
    }
    QString source() const { return tmp.filePath(u"src"_s); }
    ViberDataPtr load(const QString &root) const
    {
        return IOSViberDb(QDir(root), IOSLoadViberFromiTunesThread::storeFileName()).load();
    }
    QString cached(const QString &relative) const { return worker->viberCacheFolder() + u'/' + relative; }

    QTemporaryDir tmp;
    std::unique_ptr<fixtures::BackupFixture> backup;
    BackupManifest manifest{tmp.filePath(u"backup"_s)};
    std::unique_ptr<IOSLoadViberFromiTunesThread> worker;
};

// Reads a source with the loading worker and copies every record into a new local database,
// as the import actions do; the local database's records, or null on a failure.
ViberDataPtr importIntoLocalDb(LoadViberMsgThread &load, const QString &folder)
{
    if (!testsupport::runToEnd(load))
        return {};
    BackupViberMsgThread copy(load.data()->messages.values(), QDir(folder));
    return testsupport::runToEnd(copy) ? LocalDatabases::load(folder) : ViberDataPtr();
}

// A phone-layout store spells a few things its own way: digit-only numbers with "+", each
// attachment's kind by name, and a call's message with no token or state date of its own.
void toPhoneSpelling(ViberData &data)
{
    for (_ViberPerson *p : std::as_const(data.persons))
        if (!p->phone.isEmpty() && !p->phone.startsWith(u'+'))
            p->phone.prepend(u'+');
    static const QHash<int, QString> kinds{{ViberMsgTypePicture, u"picture"_s},
                                           {ViberMsgTypeLocation, u"customLocation"_s},
                                           {ViberMsgTypeAudio, u"audio"_s},
                                           {ViberMsgTypeSticker, u"sticker"_s},
                                           {ViberMsgTypeVideo, u"video"_s}};
    for (_ViberMsg *m : std::as_const(data.messages)) {
        if (m->attachment && m->attachment->type.isEmpty())
            m->attachment->type = kinds.value(m->type);
        if (m->call)
            m->token = m->seq = 0, m->stateDate = 0;
    }
}

// Every entry below root (root too) with its permission bits as stat gives them, "0700 path".
QStringList modesBelow(const QString &root)
{
    QStringList out;
    const auto add = [&](const QString &path) {
        struct stat st
        {
        };
        if (::lstat(QFile::encodeName(path).constData(), &st) == 0)
            out << u"%1 %2"_s.arg(st.st_mode & 07777, 4, 8, QChar(u'0'))
                       .arg(QDir(root).relativeFilePath(path));
    };
    add(root);
    for (QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                         QDirIterator::Subdirectories);
         it.hasNext();)
        add(it.next());
    return out;
}

} // namespace

class TestImportSources : public QObject
{
    Q_OBJECT

private slots:
    void load_data()
    {
        QTest::addColumn<bool>("encrypted");
        QTest::addColumn<bool>("newer");
        QTest::newRow("plain") << false << false;
        QTest::newRow("encrypted") << true << false;
        QTest::newRow("newer layout") << false << true;
        QTest::newRow("newer layout, encrypted") << true << true;
        QTest::newRow("current Viber, app group") << false << true;
    }

    // Every record and every file the records name arrive in the cache, nothing outside it.
    void load()
    {
        QFETCH(bool, encrypted);
        QFETCH(bool, newer);
        Bench bench(encrypted, newer);
        const bool inGroup = QTest::currentDataTag() == "current Viber, app group"_ba;
        bench.addStore(fixtures::sampleStore(), inGroup);
        // The camera roll holds the original of a picture; the photo library answers the lookups.
        const QString photos = bench.tmp.filePath(u"Photos.sqlite"_s);
        QVERIFY(testsupport::writeFile(photos, QByteArray())); // an empty database
        fixtures::exec(
            photos,
            u"create table ZGENERICASSET(ZUUID text, ZKIND integer, ZMODIFICATIONDATE integer,"
            " ZDIRECTORY text, ZFILENAME text);"
            "insert into ZGENERICASSET values('AB12-CD34', 0, 0, 'DCIM/100APPLE', 'IMG_0001.JPG'),"
            "('VIDEO', 1, 5, 'DCIM/101apple', 'IMG_0002.MOV'), ('SHARED', 0, 5, 'DCIM/Shared', 'a.JPG')"_s);
        bench.backup->addFile(u"MediaDomain"_s, u"Media/PhotoData/Photos.sqlite"_s, readFile(photos));
        QVERIFY(QImage(100, 50, QImage::Format_RGB32).save(bench.tmp.filePath(u"IMG_0001.JPG"_s)));
        const QByteArray original = readFile(bench.tmp.filePath(u"IMG_0001.JPG"_s));
        bench.backup->addFile(u"MediaDomain"_s, u"Media/DCIM/100APPLE/IMG_0001.JPG"_s, original);
        QCOMPARE(bench.run(), Outcome::Succeeded);
        QVERIFY(bench.worker->successText().isEmpty() && bench.worker->storeLoaded());
        const ViberDataPtr source = bench.load(bench.source()),
                           cache = bench.load(bench.worker->viberCacheFolder());
        QCOMPARE(fixtures::messageContent(*cache), fixtures::messageContent(*source));
        QCOMPARE(fixtures::messageContent(*cache).join(u'\n').contains(u"Only in the log"_s), inGroup);
        QVERIFY(!QFileInfo::exists(bench.worker->storePath() + u"-wal"_s));
        QCOMPARE(bench.worker->ownerName(), inGroup ? u"Me Myself"_s : QString());
        QCOMPARE(bench.worker->ownerPhone(), inGroup ? u"+4915000000000"_s : QString());

        int files = 0;
        for (const _ViberAtta *att : std::as_const(source->attachments)) {
            const _ViberAtta *copy = cache->attachments.value(att->id);
            QVERIFY(copy);
            for (const auto &[from, to] :
                 {std::pair(att->filePath, copy->filePath), {att->previewPath, copy->previewPath}})
                if (QFileInfo(from).isFile() && photoAssetId(att).isEmpty()) {
                    QVERIFY2(readFile(to) == readFile(from), qPrintable(to));
                    ++files;
                }
        }
        QCOMPARE(files, 11);
        QCOMPARE(readFile(bench.cached(u"Documents/Attachments/p1.jpg"_s)), original);
        QCOMPARE(QImage(bench.cached(u"Documents/BigAttachmentsPreview/p1.jpg"_s)).size(), QSize(400, 200));
        IOSAssetDb assets(photos);
        QVERIFY(assets.exists(u"AB12-CD34"_s) && !assets.exists(u"NONE"_s) && assets.isReadOnly());
        QCOMPARE(assets.thumbnailPath(u"AB12-CD34"_s), u"/DCIM/.THMB/00/100APPLE___IMG_0001.JPG.978307200"_s);
        QCOMPARE(assets.thumbnailPath(u"VIDEO"_s), u"/PhotoData/Metadata/DCIM/101apple/IMG_0002.THM"_s);
        QCOMPARE(assets.thumbnailPath(u"SHARED"_s), QString());
        QVERIFY(!QFileInfo::exists(bench.tmp.filePath(u"evil.jpg"_s)));
        QCOMPARE(readFile(bench.cached(u"Documents/ContactIcons/4915111111111.jpg"_s)), "avatar");
        // A picture without a preview gets one of 400 px on its longer side.
        QCOMPARE(QImage(bench.cached(u"Documents/BigAttachmentsPreview/p4.png"_s)).size(), QSize(200, 400));

        // A second run keeps what the cache holds and copies the store again.
        QVERIFY(testsupport::writeFile(bench.cached(u"Documents/Attachments/p2.jpg"_s), "kept"));
        QVERIFY(testsupport::writeFile(bench.worker->storePath(), "stale"));
        QCOMPARE(bench.run(), Outcome::Succeeded);
        QCOMPARE(readFile(bench.cached(u"Documents/Attachments/p2.jpg"_s)), "kept");
        QCOMPARE(fixtures::messageContent(*bench.load(bench.worker->viberCacheFolder())),
                 fixtures::messageContent(*source));
        // The decrypted index went with the run that needed it.
        QCOMPARE(QDir(bench.worker->cacheFolder()).entryList({u"Manifest*"_s}), QStringList());
    }

    // What an encrypted backup's load decrypts is the user's alone from its creation on
    // (checked with a umask that would open it to all), lives only while its records
    // are used, and is gone after a failed or cancelled load too.
    void decryptedFilesArePrivateAndGoWhenUnused_data()
    {
        QTest::addColumn<QString>("end");
        QTest::newRow("records dropped") << u"dropped"_s;
        QTest::newRow("cancelled") << u"cancelled"_s;
        QTest::newRow("failed") << u"failed"_s;
    }
    void decryptedFilesArePrivateAndGoWhenUnused()
    {
        QFETCH(QString, end);
        TempDataFolder profile;
        const mode_t oldMask = ::umask(0);
        const auto restoreMask = qScopeGuard([&] { ::umask(oldMask); });
        Bench bench(true, true);
        bench.addStore(fixtures::sampleStore(), true);
        bench.prepare();
        if (end == u"failed"_s) // the attachments' loop is not fatal; a store that cannot be read is
            QVERIFY(QFile::resize(
                bench.manifest.dataFilePath(bench.manifest
                                                .findNode(u"AppDomainGroup/group.viber.share.container/"
                                                          "com.viber/database/Contacts.data"_s)
                                                ->record()),
                4096));
        const QString caches = dataFolder().filePath(u"itunes_cache"_s);
        QStringList seen;
        RecordingReporter reporter;
        const SourceLoading::Runner run = [&](WorkerThread &worker, const QString &) {
            worker.setReporter(&reporter);
            if (end == u"cancelled"_s) // once the store is read and attachments are being copied
                reporter.cancelWhen = [&](const RecordingReporter &r) {
                    return !r.percents.isEmpty() && r.percents.last() > 0;
                };
            const bool ok = testsupport::runToEnd(worker);
            seen = modesBelow(caches);
            return ok;
        };
        ViberDataPtr data = SourceLoading::loadITunesBackup(bench.manifest, run);
        QCOMPARE(bool(data), end == u"dropped"_s);
        if (data) {
            QVERIFY(seen.size() > 20);
            for (const QString &entry : std::as_const(seen)) {
                const QString path = QDir(caches).filePath(entry.mid(5));
                const bool folder = QFileInfo(path).isDir() && !QFileInfo(path).isSymLink();
                QVERIFY2(entry.startsWith(folder ? u"0700 "_s : u"0600 "_s), qPrintable(entry));
            }
            // The records' files are there while the records are.
            const _ViberAtta *picture = nullptr;
            for (const _ViberAtta *a : std::as_const(data->attachments))
                if (a->message && a->message->type == ViberMsgTypePicture && QFileInfo(a->filePath).isFile())
                    picture = a;
            QVERIFY(picture && picture->filePath.startsWith(caches + u'/'));
            data.reset();
        }
        QCOMPARE(modesBelow(caches), QStringList(u"0700 ."_s));
    }

    // A desktop history of either layout arrives whole in a local database through the
    // workers, and a second import of it adds nothing.
    void desktopIntoLocalDatabase_data()
    {
        QTest::addColumn<fixtures::DesktopLayout>("layout");
        QTest::newRow("classic") << fixtures::DesktopLayout::Classic;
        QTest::newRow("2017") << fixtures::DesktopLayout::Contacts;
    }
    void desktopIntoLocalDatabase()
    {
        QFETCH(fixtures::DesktopLayout, layout);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"viber.db"_s), db = dir.filePath(u"local"_s);
        fixtures::writeDesktopStore(fixtures::sampleDesktopStore(layout), path, layout);
        const ViberDataPtr source = PCViberDb(path).load();
        toPhoneSpelling(*source);
        LoadViberMsgThread load(std::make_unique<PCViberDb>(path), path);
        const ViberDataPtr copy = importIntoLocalDb(load, db);
        QVERIFY(copy && !source->messages.isEmpty());
        QCOMPARE(fixtures::messageContent(*copy), fixtures::messageContent(*source));
        QCOMPARE(importIntoLocalDb(load, db)->messages.size(), copy->messages.size());
    }

    // A backup without a usable store fails with the reason and leaves no store behind.
    void refused_data()
    {
        QTest::addColumn<QString>("domain");
        QTest::addColumn<QByteArray>("store");
        QTest::newRow("other app") << u"AppDomain-com.other"_s << QByteArray("x");
        QTest::newRow("empty store") << kViberDomain << QByteArray("");
        QTest::newRow("damaged encrypted store") << kViberDomain << QByteArray("SQLite format 3");
    }
    void refused()
    {
        QFETCH(QString, domain);
        QFETCH(QByteArray, store);
        Bench bench(true);
        bench.backup->addFile(domain, u"Documents/Contacts.data"_s, store);
        bench.prepare();
        const QString name = BackupManifest::backupFileName(domain, u"Documents/Contacts.data"_s);
        const bool damaged = domain == kViberDomain && !store.isEmpty();
        if (damaged) // no whole cipher block
            QVERIFY(QFile::resize(bench.tmp.filePath(u"backup/"_s) + name, 8));
        QCOMPARE(bench.run(), Outcome::Failed);
        const QString error = bench.worker->errorText();
        QVERIFY2(error.contains(damaged ? name : u"Found no Viber data"_s), qPrintable(error));
        QVERIFY(!bench.worker->storeLoaded() && !QFileInfo::exists(bench.worker->storePath()));
    }
};

QTEST_GUILESS_MAIN(TestImportSources)
#include "tst_importsources.moc"
