#include "app/DataFolder.h"
#include "itunes/BackupWriteJournal.h"
#include "support/BackupFixtures.h"
#include "support/CurrentStoreFixtures.h"
#include "support/DesktopFixtures.h"
#include "support/SimulatedAfc.h"
#include "support/StoreFixtures.h"
#include "support/TempDataFolder.h"
#include "support/TestSupport.h"
#include "viber/IOSViberDb.h"
#include "viber/LocalDatabases.h"
#include "viber/PCViberDb.h"
#include "workers/BackupTransfer.h"
#include "workers/BackupViberMsgThread.h"
#include "workers/IOSLoadViberFromiTunesThread.h"
#include "workers/IOSLoadViberThread.h"
#include "workers/IOSMergeWAFiles2iTunesBKThread.h"
#include "workers/IOSMobileBackupThread.h"
#include "workers/IOSMobileRestoreThread.h"
#include "workers/IOSRestoreViberMsgThread.h"
#include "workers/LoadViberMsgThread.h"
#include "workers/SourceLoading.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QImage>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using testsupport::readFile;
using Outcome = WorkerThread::Outcome;
using Fault = SimulatedAfc::Fault;

namespace {

const QString kViber = u"AppDomain-com.viber"_s;
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
    // commit only in the write-ahead log, an older store left in the app, files among the file
    // messages, and the owner in the group's settings.
    void addStore(fixtures::StorePlan plan, bool inGroup = false)
    {
        // A record whose name climbs out of every folder; the backup carries it too.
        const qint64 m = plan.addMessage(u"evil"_s, plan.chat(u"ann"_s).pk, 0, u"received"_s, QString()).pk;
        plan.addAttachment(u"evil"_s, m, u"picture"_s, u"../../../../evil.jpg"_s);
        fixtures::writeStore(plan, source(), fixtures::StoreLayout::Phone);
        const QString store = source() + u"/Documents/Contacts.data"_s;
        QString in = kViber, storeName = u"Documents/Contacts.data"_s;
        if (inGroup) {
            backup->addFile(kViber, storeName, readFile(store), 1000);
            in = kGroupDomain, storeName = u"com.viber/database/Contacts.data"_s;
            Sqlite3DB db; // open while the backup is taken
            db.openThrow(store, Sqlite3DB::ReadWrite);
            db.execThrow(u"PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                         "update ZVIBERMESSAGE set ZTEXT='Only in the log' where ZTEXT='Sent'"_s);
            // Taken while the log is open, as a backup of a running phone finds it.
            for (const QString &suffix : {u"-wal"_s, u"-shm"_s})
                backup->addFile(in, storeName + suffix, readFile(store + suffix));
            backup->addFile(in, storeName, readFile(store));
            const QString settings = tmp.filePath(u"Settings.data"_s);
            QVERIFY(testsupport::writeFile(settings, QByteArray())); // an empty database
            fixtures::exec(settings, u"create table Data(key text, value text); insert into Data values"
                                     "('_myUserName', 'Me Myself'), ('_myPhoneNumber', '+4915000000000')"_s);
            backup->addFile(in, u"com.viber/settings/Settings.data"_s, readFile(settings));
        }
        for (QDirIterator it(source(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
            QString name = QDir(source()).relativeFilePath(it.next());
            const QByteArray bytes = readFile(it.filePath());
            if (inGroup && name == u"Documents/Attachments/doc.pdf"_s)
                backup->addFile(kViber, u"Documents/FileMessages/doc.pdf"_s, bytes);
            else if (!name.startsWith(u"Documents/Contacts.data"_s) || !inGroup)
                backup->addFile(kViber, name, bytes);
        }
        backup->addFile(kViber, u"Documents/Attachments/../../../../evil.jpg"_s, "evil");
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

// How many files and previews of source's attachments (but camera-roll pictures') copy's
// attachments hold alike.
int filesAlike(const ViberData &source, const ViberData &copy)
{
    int alike = 0;
    for (const _ViberAtta *att : std::as_const(source.attachments)) {
        const _ViberAtta *c = copy.attachments.value(att->id);
        for (const auto &[from, to] : {std::pair(att->filePath, c ? c->filePath : QString()),
                                       {att->previewPath, c ? c->previewPath : QString()}})
            alike +=
                QFileInfo(from).isFile() && photoAssetId(att).isEmpty() && readFile(to) == readFile(from);
    }
    return alike;
}

// The entries below root that are not the user's alone (folders other than 0700, files other
// than 0600) as "mode path", after how many entries there are.
QStringList notPrivate(const QString &root)
{
    QStringList out{QString()};
    int entries = 0;
    for (QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                         QDirIterator::Subdirectories);
         it.hasNext();) {
        struct stat st
        {
        };
        const QString path = it.next();
        const int mode = ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : -1;
        ++entries;
        if (mode != (it.fileInfo().isDir() && !it.fileInfo().isSymLink() ? 0700 : 0600))
            out << u"%1 %2"_s.arg(mode, 4, 8, QChar(u'0')).arg(path);
    }
    out[0] = QString::number(entries);
    return out;
}

const QString kFile = QString::fromLatin1(fixtures::kStoreFileName);

// A phone's store, and a source holding all of it and more: new messages, a new call, and a
// video whose name has two dots, its preview named as the store's reader names it ("clip.jpg").
struct Phone
{
    Phone()
    {
        fixtures::writeStore(fixtures::sampleStore(), folder(), fixtures::StoreLayout::Phone);
        fixtures::StorePlan more = fixtures::sampleStoreAndMore(true);
        fixtures::MessagePlan &clip = more.addMessage(u"clip"_s, more.chat(u"ann"_s).pk,
                                                      more.person(u"ann"_s).pk, u"received"_s, QString());
        clip.token = 424242; // none of the phone's
        more.addAttachment(u"clip"_s, clip.pk, u"video"_s, u"clip.v1.mov"_s);
        more.addFile(u"Documents/Attachments/clip.v1.mov"_s, fixtures::FileKind::Bytes);
        more.addFile(u"Documents/BigAttachmentsPreview/clip.jpg"_s, fixtures::FileKind::Jpeg);
        fixtures::writeStore(more, sourceFolder(), fixtures::StoreLayout::Phone);
        source = IOSViberDb(QDir(sourceFolder()), kFile).load();
        before = readFile(store());
    }
    QString folder() const { return dir.filePath(u"phone"_s); }
    QString sourceFolder() const { return dir.filePath(u"source"_s); }
    QString store() const { return folder() + u"/Documents/Contacts.data"_s; }

    QTemporaryDir dir;
    ViberDataPtr source;
    QByteArray before;
};

// A Viber backup of either layout: the Documents folder and the store, no attachments folder.
struct Backup
{
    explicit Backup(bool newer)
    {
        fixtures::BackupFixture b(dir.filePath(u"backup"_s));
        b.newerLayout = newer;
        b.addFolder(kViber, u"Documents"_s);
        b.addFile(kViber, u"Documents/Contacts.data"_s, "old store");
        b.addFile(kViber, u"Documents/kept.jpg"_s, "kept");
        QCOMPARE(b.write(), QString());
        QVERIFY(testsupport::writeFile(dir.filePath(u"store"_s), "the new, longer store"));
        QVERIFY(testsupport::writeFile(dir.filePath(u"new.jpg"_s), "picture"));
    }
    QString folder() const { return dir.filePath(u"backup"_s); }
    // The store replaced, two new files in a new folder, a kept file left alone, a climbing name
    // refused.
    Outcome write(bool cancel = false)
    {
        const QString store = dir.filePath(u"store"_s), picture = dir.filePath(u"new.jpg"_s);
        const QList<BackupFileItem> items{{kViber, store, u"Documents/Contacts.data"_s, true},
                                          {kViber, picture, u"Documents/Attachments/a.jpg"_s, false},
                                          {kViber, picture, u"Documents/Attachments/b.jpg"_s, false},
                                          {kViber, picture, u"Documents/kept.jpg"_s, false},
                                          {kViber, picture, u"Documents/../../escape.jpg"_s, true}};
        BackupManifest manifest(folder());
        manifest.loadManifestPlist();
        IOSMergeWAFiles2iTunesBKThread worker(&manifest, items);
        if (cancel)
            worker.requestStop();
        worker.start();
        worker.wait();
        return worker.outcome();
    }
    QTemporaryDir dir;
};

// The backup as the program reads it (after finishing or undoing a write it finds there):
// each folder record, each file record with its content, "mismatch" where a data file
// differs from its record's size or digest, and "unlisted" for a data file no record names.
QStringList contents(const QString &folder)
{
    BackupManifest m(folder);
    m.loadManifestPlist();
    m.loadFileTree();
    QStringList out;
    QSet<QString> listed;
    const std::function<void(const BackupManifest::FileNode &)> walk =
        [&](const BackupManifest::FileNode &n) {
            for (const auto &child : n.children()) {
                const MbdbRecord &r = child->record();
                const QString path = m.dataFilePath(r);
                const QByteArray bytes = r.isFolder() ? QByteArray() : testsupport::readFile(path);
                out << child->virtualPath() + (r.isFolder() ? u"/"_s : u" "_s + QString::fromUtf8(bytes));
                if (!r.isFolder() &&
                    (quint64(bytes.size()) != r.size ||
                     (!r.dataHash.bytes.isEmpty() &&
                      QCryptographicHash::hash(bytes, QCryptographicHash::Sha1) != r.dataHash.bytes)))
                    out << u"mismatch "_s + child->virtualPath();
                listed.insert(QFileInfo(path).absoluteFilePath());
                walk(*child);
            }
        };
    walk(m.root());
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        const QFileInfo f(it.next());
        if (!f.fileName().startsWith(u"Manifest."_s) && !listed.contains(f.absoluteFilePath()))
            out << u"unlisted "_s + f.fileName();
    }
    out.sort();
    return out;
}

} // namespace

class TestImportSources : public QObject
{
    Q_OBJECT

    // A photo library holding the original of the sample store's camera-roll picture; the
    // camera roll's copy is the one a load takes.
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
        QTest::addColumn<QString>("kind");
        for (const char *kind : {"merged", "cancelled", "pending changes"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }
    // Each message once, keys ascending with time, the old store kept beside, the files listed.
    // A cancelled merge, or one into a current store its app has changes pending in (refused
    // before any write), leaves the cached store as it was, with nothing beside it.
    void merge()
    {
        QFETCH(QString, kind);
        const bool cancel = kind == u"cancelled"_s;
        Phone p;
        if (kind == u"pending changes"_s) {
            fixtures::toCurrentStore(p.store(), fixtures::CurrentLinks::MessageColumn);
            fixtures::exec(p.store(),
                           u"INSERT INTO ATRANSACTION (Z_PK, Z_ENT, Z_OPT) VALUES (1, 16002, 1)"_s);
        }
        const QStringList files = fixtures::filesBelow(p.folder());
        IOSRestoreViberMsgThread worker(p.folder(), p.source->messages.values());
        if (cancel)
            worker.requestStop();
        if (cancel || kind == u"pending changes"_s) {
            QVERIFY(!testsupport::runToEnd(worker));
            QCOMPARE(worker.outcome(), cancel ? Outcome::Cancelled : Outcome::Failed);
            QVERIFY2(cancel || worker.errorText().contains(QDir::toNativeSeparators(p.store()) + u' '),
                     qPrintable(worker.errorText()));
            QCOMPARE(fixtures::filesBelow(p.folder()), files);
            QVERIFY(worker.files().isEmpty());
            return;
        }
        QVERIFY(testsupport::runToEnd(worker));
        const ViberDataPtr merged = IOSViberDb(QDir(p.folder()), kFile).load();
        QCOMPARE(fixtures::messageContent(*merged), fixtures::messageContent(*p.source));
        QCOMPARE(fixtures::rows(p.store(), u"select count(*) from ZVIBERMESSAGE as a join ZVIBERMESSAGE as b "
                                           "on a.Z_PK < b.Z_PK and a.ZDATE > b.ZDATE"_s)
                     .trimmed(),
                 u"0"_s);
        QCOMPARE(readFile(p.store() + u".bak"_s), p.before);
        QCOMPARE(worker.callCount(), 8);
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

    // Messages read from one phone, with every file, and sent straight into another's container
    // come back from it, each once, the dotted video with its preview. A phone that hangs up
    // halfway keeps its store as it was, and so does the cache; one that keeps Viber's container
    // to itself sends the caller to the backup route; an empty store is no success.
    void transferDirectlyAndLoadAgain_data()
    {
        QTest::addColumn<QString>("end");
        for (const char *end : {"delivered", "phone hangs up", "container refused", "empty store"})
            QTest::newRow(end) << QString::fromLatin1(end);
    }
    void transferDirectlyAndLoadAgain()
    {
        QFETCH(QString, end);
        const bool hangsUp = end == u"phone hangs up"_s, refused = end == u"container refused"_s;
        const TempDataFolder data;
        Phone p;
        ViberDataPtr wanted;
        const QString preview = u"/Documents/BigAttachmentsPreview/clip.jpg"_s;
        {
            SimulatedAfc from(p.sourceFolder(), m_media.path());
            QTRY_VERIFY(from.device());
            IOSLoadViberThread load(from.device(), u"from"_s);
            QVERIFY(testsupport::runToEnd(load));
            wanted = load.data();
            // Everything the store names arrives; the camera-roll picture comes from the photo
            // library.
            QCOMPARE(fixtures::messageContent(*wanted), fixtures::messageContent(*p.source));
            QCOMPARE(filesAlike(*p.source, *wanted), 13);
            QCOMPARE(QImage(load.rootFolder() + u"/Documents/Attachments/p1.jpg"_s).size(), QSize(100, 50));
        }
        if (end == u"empty store"_s)
            QVERIFY(testsupport::writeFile(p.store(), QByteArray()));
        SimulatedAfc phone(p.folder(), m_media.path());
        phone.fault = refused ? Fault::RefuseContainer : Fault::None;
        QTRY_VERIFY(phone.device());
        IOSLoadViberThread load(phone.device(), u"to"_s);
        const bool loaded = testsupport::runToEnd(load);
        if (refused || end == u"empty store"_s) {
            QCOMPARE(loaded, refused);
            QVERIFY(refused ? load.needsBackup() && !load.data() : load.errorText().contains(u"reinstall"_s));
            return;
        }
        QVERIFY(loaded);
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
        QCOMPARE(readFile(p.folder() + preview), readFile(p.sourceFolder() + preview));

        IOSLoadViberThread again(phone.device(), u"to"_s);
        QVERIFY(testsupport::runToEnd(again));
        QCOMPARE(fixtures::messageContent(*again.data()), fixtures::messageContent(*p.source));
        QCOMPARE(readFile(p.folder() + u"/Documents/VoiceMessages/_ptt_id_counter"_s).size(), 4);
    }

    // Messages written into a backup of the phone by the whole backup route come back from it,
    // each once, beside the phone's own; a stand-in for the backup tool hands out that backup as
    // the phone's, and restores it afterwards.
    void intoABackupAndBackAgain()
    {
        const TempDataFolder data;
        Phone p;
        fixtures::BackupFixture made(p.dir.filePath(u"made"_s));
        made.newerLayout = true;
        made.addFilesBelow(kViber, p.folder());
        QCOMPARE(made.write(), QString());
        const QString root = p.dir.filePath(u"root"_s);
        const QString tool = testsupport::backupToolStandIn(
            p.dir.path(), u"case \"$3\" in backup) cp -r \"%1\" \"$4/U1\";; esac"_s.arg(made.folder()));
        IOSMobileBackupThread backup(nullptr, u"U1"_s, u"17.1"_s, root);
        backup.tool().setToolPath(tool);
        QVERIFY(testsupport::runToEnd(backup));
        const QString folder = backup.backupFolder();
        BackupManifest target(folder);
        target.loadManifestPlist();
        const BackupTransfer::Result result = BackupTransfer::run(
            target, p.source->messages.values(),
            [](WorkerThread &worker, const QString &) { return testsupport::runToEnd(worker); });
        QVERIFY(result.succeeded);
        QCOMPARE(result.calls, 8);
        IOSMobileRestoreThread restore(nullptr, u"U1"_s, root);
        restore.tool().setToolPath(tool);
        QVERIFY(testsupport::runToEnd(restore));
        QCOMPARE(QString::fromUtf8(readFile(p.dir.filePath(u"calls"_s))),
                 u"-u U1 backup %1\n-u U1 -s U1 restore %1\n"_s.arg(root));
        BackupManifest again(folder);
        again.loadManifestPlist();
        IOSLoadViberFromiTunesThread load(&again, p.dir.filePath(u"again"_s));
        QVERIFY(testsupport::runToEnd(load));
        const ViberDataPtr back =
            IOSViberDb(QDir(load.viberCacheFolder()), IOSLoadViberFromiTunesThread::storeFileName()).load();
        QCOMPARE(fixtures::messageContent(*back), fixtures::messageContent(*p.source));
    }
    // Written: the store replaced with its record, a new file in a new folder, a kept file left
    // alone, a climbing name refused. Refused, cancelled or failing midway: the backup stays as
    // it was, byte for byte.
    void write_data()
    {
        QTest::addColumn<bool>("newer");
        QTest::addColumn<QString>("fault");
        QTest::newRow("Manifest.mbdb") << false << QString();
        QTest::newRow("Manifest.db") << true << QString();
        for (const char *fault : {"encrypted", "cancelled", "index write fails"})
            QTest::newRow(fault) << true << QString::fromLatin1(fault);
    }
    void write()
    {
        QFETCH(bool, newer);
        QFETCH(QString, fault);
        Backup b(newer);
        if (fault == u"encrypted"_s) {
            fixtures::EncryptedBackupFixture e(b.folder(), "pw", true);
            QCOMPARE(e.write(), QString());
        } else if (fault == u"index write fails"_s) {
            Sqlite3DB db;
            db.openThrow(b.folder() + u"/Manifest.db"_s, Sqlite3DB::ReadWrite);
            db.execThrow(
                u"CREATE TRIGGER full BEFORE INSERT ON Files BEGIN SELECT RAISE(ABORT, 'disk full'); END"_s);
        }
        // The encrypted backup is locked to the reader.
        const QStringList files = fixtures::filesBelow(b.folder()),
                          before = fault.isEmpty() ? contents(b.folder()) : QStringList();
        const bool cancel = fault == u"cancelled"_s;
        QCOMPARE(b.write(cancel), fault.isEmpty() ? Outcome::Succeeded
                                  : cancel        ? Outcome::Cancelled
                                                  : Outcome::Failed);
        if (!fault.isEmpty()) {
            QCOMPARE(fixtures::filesBelow(b.folder()), files);
            return;
        }
        const QString viber = u"Applications/com.viber/Documents/"_s;
        const QStringList after = contents(b.folder());
        QCOMPARE(
            after,
            (QStringList{u"Applications/"_s, u"Applications/com.viber/"_s, viber, viber + u"Attachments/"_s,
                         viber + u"Attachments/a.jpg picture"_s, viber + u"Attachments/b.jpg picture"_s,
                         viber + u"Contacts.data the new, longer store"_s, viber + u"kept.jpg kept"_s}));

#ifdef Q_OS_UNIX
        // Killed at each step of a write (a child process ends on the spot, as under a kill), the
        // backup as the program then reads it is as it was or as the whole write leaves it; a
        // retry ends as an uninterrupted run; nothing staged and no journal remain.
        int step = 1;
        for (;; ++step) {
            Backup killed(newer);
            const int code =
                testsupport::killedAtStep(step, [&] { return killed.write() == Outcome::Succeeded ? 0 : 1; });
            if (code == 0)
                break; // the write passed every step
            QCOMPARE(code, testsupport::kKilledAtStep);
            const QStringList found = contents(killed.folder());
            QVERIFY2(found == before || found == after,
                     qPrintable(u"step %1: "_s.arg(step) + found.join(u'\n')));
            QCOMPARE(killed.write(), Outcome::Succeeded);
            QCOMPARE(contents(killed.folder()), after);
            const QStringList left = fixtures::filesBelow(killed.folder());
            QCOMPARE(left.filter(u".chatwharf-"_s) + left.filter(BackupWriteJournal::journalName()),
                     QStringList());
        }
        // Planning, each file staged, the index, the commit, each rename, the end.
        QVERIFY2(step > 10, qPrintable(QString::number(step)));
#endif
    }
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
        for (const QString &file : {u"PhotoData/Photos.sqlite"_s, u"DCIM/100APPLE/IMG_0001.JPG"_s})
            bench.backup->addFile(u"MediaDomain"_s, u"Media/"_s + file, readFile(m_media.filePath(file)));
        QCOMPARE(bench.run(), Outcome::Succeeded);
        QVERIFY(bench.worker->successText().isEmpty() && bench.worker->storeLoaded());
        const ViberDataPtr source = bench.load(bench.source()),
                           cache = bench.load(bench.worker->viberCacheFolder());
        QCOMPARE(fixtures::messageContent(*cache), fixtures::messageContent(*source));
        QCOMPARE(fixtures::messageContent(*cache).join(u'\n').contains(u"Only in the log"_s), inGroup);
        QCOMPARE(bench.worker->ownerName(), inGroup ? u"Me Myself"_s : QString());
        QCOMPARE(bench.worker->ownerPhone(), inGroup ? u"+4915000000000"_s : QString());

        QCOMPARE(filesAlike(*source, *cache), 11);
        QCOMPARE(readFile(bench.cached(u"Documents/Attachments/p1.jpg"_s)),
                 readFile(m_media.filePath(u"DCIM/100APPLE/IMG_0001.JPG"_s)));
        QVERIFY(!QFileInfo::exists(bench.tmp.filePath(u"evil.jpg"_s)));

        // A second run keeps what the cache holds and copies the store again.
        QVERIFY(testsupport::writeFile(bench.cached(u"Documents/Attachments/p2.jpg"_s), "kept"));
        QVERIFY(testsupport::writeFile(bench.worker->storePath(), "stale"));
        QCOMPARE(bench.run(), Outcome::Succeeded);
        QCOMPARE(readFile(bench.cached(u"Documents/Attachments/p2.jpg"_s)), "kept");
        QCOMPARE(fixtures::messageContent(*bench.load(bench.worker->viberCacheFolder())),
                 fixtures::messageContent(*source));
    }

    // What an encrypted backup's load decrypts is the user's alone from its creation on
    // (checked with a umask that would open it to all), lives only while its records
    // are used, and is gone after a failed load too.
    void decryptedFilesArePrivateAndGoWhenUnused_data()
    {
        QTest::addColumn<QString>("end");
        QTest::newRow("records dropped") << u"dropped"_s;
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
        // The attachments' loop is not fatal; a store that cannot be read is.
        const auto *store = bench.manifest.findNode(u"AppDomainGroup/group.viber.share.container/"
                                                    "com.viber/database/Contacts.data"_s);
        if (end == u"failed"_s)
            QVERIFY(QFile::resize(bench.manifest.dataFilePath(store->record()), 4096));
        const QString caches = dataFolder().filePath(u"itunes_cache"_s);
        QStringList seen;
        const SourceLoading::Runner run = [&](WorkerThread &worker, const QString &) {
            const bool ok = testsupport::runToEnd(worker);
            seen = notPrivate(caches);
            return ok;
        };
        ViberDataPtr data = SourceLoading::loadITunesBackup(bench.manifest, run);
        QCOMPARE(bool(data), end == u"dropped"_s);
        if (data) {
            QVERIFY2(seen.value(0).toInt() > 20 && seen.size() == 1, qPrintable(seen.join(u'\n')));
            data.reset();
        }
        QCOMPARE(notPrivate(caches), QStringList(u"0"_s));
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
        QTest::newRow("empty store") << kViber << QByteArray("");
        QTest::newRow("damaged encrypted store") << kViber << QByteArray("SQLite format 3");
    }
    void refused()
    {
        QFETCH(QString, domain);
        QFETCH(QByteArray, store);
        Bench bench(true);
        bench.backup->addFile(domain, u"Documents/Contacts.data"_s, store);
        bench.prepare();
        const QString name = BackupManifest::backupFileName(domain, u"Documents/Contacts.data"_s);
        const bool damaged = domain == kViber && !store.isEmpty();
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
