#include "itunes/BackupManifest.h"
#include "itunes/BackupWriteJournal.h"
#include "support/BackupFixtures.h"
#include "support/StoreFixtures.h"
#include "support/TestSupport.h"
#include "viber/Sqlite3DB.h"
#include "workers/IOSMergeWAFiles2iTunesBKThread.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using Outcome = WorkerThread::Outcome;

namespace {

const QString kViber = u"AppDomain-com.viber"_s;

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

class TestBackupWriter : public QObject
{
    Q_OBJECT

private slots:
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
        QVERIFY(!QFileInfo::exists(b.dir.filePath(u"escape.jpg"_s)));
        QCOMPARE(fixtures::filesBelow(b.folder()).filter(u".chatwharf-"_s), QStringList());

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
};

QTEST_GUILESS_MAIN(TestBackupWriter)
#include "tst_backupwriter.moc"
