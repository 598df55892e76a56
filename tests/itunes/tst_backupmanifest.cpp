#include "device/CFType.h"
#include "itunes/BackupManifest.h"
#include "itunes/ManifestDb.h"
#include "support/BackupCryptoFixtures.h"
#include "support/BackupFixtures.h"
#include "support/StoreFixtures.h"
#include "support/TestSupport.h"
#include "viber/Sqlite3DB.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;
using testsupport::errorOf;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

// Records as hex: all five strings absent; mode, seven words, size and class of a folder; no properties.
const QByteArray kFolderFields = "41ed" + QByteArray(72, '0') + "00";
const QByteArray kAllAbsent = "ffffffffffffffffffff" + kFolderFields + "00";

QByteArray mbdb(const QByteArray &hexRecords)
{
    return QByteArray::fromHex("6d6264620500" + hexRecords);
}

// "domain|path|mtime", the mtime optional.
MbdbRecord record(const QString &compact)
{
    MbdbRecord r;
    r.domain = MbdbString::fromText(compact.section(u'|', 0, 0));
    r.path = MbdbString::fromText(compact.section(u'|', 1, 1));
    r.mtime = compact.section(u'|', 2, 2).toUInt();
    return r;
}

// A record's fields after its names: mode in octal, strings in hex or "-" when absent.
QString describe(const MbdbRecord &r)
{
    QStringList out{QString::number(r.mode, 8)};
    for (quint64 n :
         {quint64(r.inodeHigh), quint64(r.inodeLow), quint64(r.uid), quint64(r.gid), quint64(r.mtime),
          quint64(r.atime), quint64(r.ctime), r.size, quint64(r.protectionClass)})
        out << QString::number(n);
    QList<MbdbString> strings{r.linkTarget, r.dataHash, r.encryptionKey};
    for (const MbdbProperty &p : r.properties)
        strings << p.name << p.value;
    for (const MbdbString &s : std::as_const(strings))
        out << (s.absent ? u"-"_s : QString::fromLatin1(s.bytes.toHex()));
    return out.join(u' ');
}

// Every node below the root, depth first, as its virtual path and "|mtime" when set.
QStringList listTree(const BackupManifest::FileNode &node)
{
    QStringList paths;
    for (const auto &child : node.children()) {
        const quint32 mtime = child->record().mtime;
        paths << child->virtualPath() + (mtime ? u"|%1"_s.arg(mtime) : QString()) << listTree(*child);
    }
    return paths;
}

void load(BackupManifest &manifest)
{
    manifest.loadManifestPlist();
    manifest.loadFileTree();
}

} // namespace

class TestBackupManifest : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_dir.emplace().isValid()); }
    // A whole Manifest.mbdb writes back byte for byte; a cut one is refused and leaves no tree.
    void mbdbFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("whole");
        QTest::newRow("all five strings absent") << mbdb(kAllAbsent) << true;
        // Domain and link empty (0), path and hash absent (FFFF), key empty.
        QTest::newRow("empty beside absent") << mbdb("0000ffff0000ffff0000" + kFolderFields + "00") << true;
        QTest::newRow("size 2^32") << mbdb("0001410001620000ffffffff81a4" + QByteArray(56, '1') +
                                           "00000001000000000300")
                                   << true;
        QTest::newRow("200 properties")
            << mbdb(kAllAbsent.chopped(2) + "c8" + QByteArray("00016e0000").repeated(200)) << true;
        QTest::newRow("two sorted records")
            << mbdb("000141" + kAllAbsent.mid(4) + "000142" + kAllAbsent.mid(4)) << true;
        QTest::newRow("empty file") << QByteArray() << false;
        QTest::newRow("string longer than the file") << mbdb("0010414243") << false;
        QTest::newRow("length cut") << mbdb("00") << false;
        QTest::newRow("cut inside the size") << mbdb(kAllAbsent.left(86)) << false;
        QTest::newRow("property pair missing") << mbdb(kAllAbsent.chopped(2) + "0200016e0000") << false;
        QTest::newRow("second record cut") << mbdb(kAllAbsent + kAllAbsent.chopped(2)) << false;
    }
    void mbdbFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, whole);
        const QString file = path(u"backup/Manifest.mbdb"_s);
        QVERIFY(writeFile(file, bytes));
        if (whole) {
            QList<MbdbRecord> records = BackupManifest::readMbdbRecords(file);
            BackupManifest::writeMbdb(records, path(u"out.mbdb"_s));
            QCOMPARE(readFile(path(u"out.mbdb"_s)).toHex(), bytes.toHex());
            return;
        }
        const QString error = errorOf([&] { BackupManifest::readMbdb(file); });
        QVERIFY2(error.contains(u"Manifest.mbdb"_s) && error.contains(u"truncated"_s), qPrintable(error));
        BackupManifest manifest(path(u"backup"_s));
        QVERIFY(!errorOf([&] { manifest.loadFileTree(); }).isEmpty());
        QVERIFY(manifest.root().children().empty());
    }
    void writeSortsAndKeepsTheOldFileOnFailure()
    {
        // U+1F600 sorts before U+FF21 by UTF-16 code units, after it by code points or UTF-8.
        QList<MbdbRecord> records{record(u"b|x"_s), record(u"a|\uFF21"_s), record(u"a|\U0001F600"_s),
                                  record(u"B|z"_s)};
        BackupManifest::writeMbdb(records, path(u"m.mbdb"_s));
        QStringList order;
        for (const MbdbRecord &r : BackupManifest::readMbdbRecords(path(u"m.mbdb"_s)))
            order << r.domain.text() + u'|' + r.path.text();
        QCOMPARE(order, QStringList({u"B|z"_s, u"a|\U0001F600"_s, u"a|\uFF21"_s, u"b|x"_s}));

        const QByteArray before = readFile(path(u"m.mbdb"_s));
        records.append(record(u"c|"_s + QString(0x10000, u'x')));
        QVERIFY(
            errorOf([&] { BackupManifest::writeMbdb(records, path(u"m.mbdb"_s)); }).contains(u"m.mbdb"_s));
        QCOMPARE(readFile(path(u"m.mbdb"_s)), before);
    }
    void treeRules_data()
    {
        // Records as domain|path|mtime, the tree as listTree gives it, both joined by ";".
        QTest::addColumn<QString>("records");
        QTest::addColumn<QString>("tree");
        QTest::newRow("app domain, folder records missing")
            << u"AppDomain-com.viber|;AppDomain-com.viber|Documents/a.jpg"_s
            << u"Applications;Applications/com.viber;Applications/com.viber/Documents;"
               "Applications/com.viber/Documents/a.jpg"_s;
        QTest::newRow("system domains share a tree")
            << u"HomeDomain|;MediaDomain|Media/Recordings;CameraRollDomain|Media;CameraRollDomain|Media/PhotoData"_s
            << u"Media;Media/PhotoData;Media/Recordings"_s;
        // Of system domains the first record stays; a made-up folder takes its later record.
        QTest::newRow("which record a node keeps") << u"HomeDomain|Media|1;CameraRollDomain|Media|2;"
                                                      u"MediaDomain|Library|3;HomeDomain|Library/Prefs|4;"
                                                      "HomeDomain|a|5;HomeDomain|a|6"_s
                                                   << u"Media|2;Library|3;Library/Prefs|4;a|6"_s;
        // Names that would lead out of the folder a file is copied to never reach the tree.
        QTest::newRow("unsafe records left out")
            << u"AppDomain-com.viber|../../etc/passwd;HomeDomain|/etc/"
               u"passwd;AppDomain-..|;AppDomain-..|a;..|x;"
               "HomeDomain|Library/..;HomeDomain|./x;HomeDomain|a\\..\\b;HomeDomain|a\0b;HomeDomain|a//b;"
               "X/../..|a;|a;HomeDomain|a..b/..."_s
            << u"a..b;a..b/..."_s;
    }
    void treeRules()
    {
        QFETCH(QString, records);
        QFETCH(QString, tree);
        QList<MbdbRecord> list;
        for (const QString &r : records.split(u';'))
            list.append(record(r));
        BackupManifest manifest(path(u"b"_s));
        manifest.buildFileTree(list);
        QCOMPARE(listTree(manifest.root()).join(u';'), tree);
    }
    void manifestPlist()
    {
        fixtures::BackupFixture fixture(path(u"backup"_s));
        fixture.keyBag = "bag";
        QCOMPARE(fixture.write(), QString());
        BackupManifest manifest(fixture.folder());
        manifest.loadManifestPlist();
        QCOMPARE(manifest.uniqueDeviceId() + u' ' + manifest.productVersion(), fixture.udid + u" 8.1.2"_s);
        QVERIFY(manifest.date() == fixtures::kBackupDate && manifest.isEncrypted() &&
                manifest.backupKeyBag() == "bag");
        // Missing, no property list, too large: refused naming the file.
        const QString file = path(u"Manifest.plist"_s);
        for (const auto &[bytes, size, error] : {std::tuple{QByteArray(), qint64(-1), u"Cannot find "_s},
                                                 {"garbage"_ba, qint64(-1), u"damaged"_s},
                                                 {"x"_ba, qint64(64 * 1024 * 1024 + 1), u"too large"_s}}) {
            QVERIFY(bytes.isNull() || writeFile(file, bytes));
            QVERIFY(size < 0 || QFile(file).resize(size));
            const QString text = errorOf([&] { BackupManifest(m_dir->path()).loadManifestPlist(); });
            QVERIFY2(text.contains(error) && text.contains(file), qPrintable(text));
        }
    }
    // Keyed archives of Manifest.db: hostile ones fail for their own file, never crash. The common
    // shape is read straight from the bytes, others through libplist: changed anywhere, alike.
    void manifestDbArchives_data()
    {
        QTest::addColumn<QByteArray>("archive");
        QTest::addColumn<QString>("read"); // the record's fields; null when refused, "" when not checked
        MbdbRecord r = record(u"CameraRollDomain|Media/DCIM/100APPLE/IMG_0001.JPG|1400000000"_s);
        r.mode = 0100644, r.size = 2000000, r.protectionClass = 3, r.inodeLow = 77;
        QTest::newRow("file") << ManifestDb::encodeFile(r) << u""_s;
        r.mode = 0120644, r.inodeHigh = 1, r.inodeLow = 2, r.uid = 501, r.gid = 502, r.atime = 3, r.ctime = 4;
        r.size = Q_UINT64_C(0x100000005);
        r.encryptionKey = MbdbString::fromBytes(QByteArray(44, 'k'));
        r.linkTarget = MbdbString::fromText(u"../b"_s);
        const QByteArray link = ManifestDb::encodeFile(r);
        QTest::newRow("link with key, as iPhones write it")
            << link << u"120644 1 2 501 502 1400000000 3 4 4294967301 3 2e2e2f62 - "_s + u"6b"_s.repeated(44);
        const auto edited = [&](const std::function<void(CFType &, CFType)> &change) {
            CFType archive = CFType::fromData(link);
            change(archive, archive.value(u"$objects"_s).at(1));
            return archive.toBinaryData();
        };
        // Digest inline, extended attributes behind a reference, a target that is "$null".
        QTest::newRow("digest and attributes") << edited([](CFType &a, CFType f) {
            f.setValue(u"Digest"_s, CFType::fromBytes(QByteArray(20, '\x5a')));
            f.setValue(u"Target"_s, CFType::fromUid(0));
            CFType attributes = CFType::dictionary();
            attributes.setValue(u"NS.keys"_s, CFType::array());
            a.value(u"$objects"_s).append(attributes);
            f.setValue(u"ExtendedAttributes"_s, CFType::fromUid(quint64(a.value(u"$objects"_s).size() - 1)));
        }) << u""_s;
        QTest::newRow("key names the file itself")
            << edited([](CFType &, CFType f) { f.setValue(u"EncryptionKey"_s, CFType::fromUid(1)); })
            << u""_s;
        QTest::newRow("no property list") << QByteArray("bplist00\xff\xff") << QString();
        QTest::newRow("root beyond the objects")
            << edited([](CFType &a, CFType) { a.value(u"$top"_s).setValue(u"root"_s, CFType::fromUid(99)); })
            << QString();
        QTest::newRow("size as text")
            << edited([](CFType &, CFType f) { f.setValue(u"Size"_s, CFType::fromString(u"big"_s)); })
            << QString();
        QTest::newRow("target a number")
            << edited([](CFType &, CFType f) { f.setValue(u"Target"_s, CFType::fromInt64(5)); }) << QString();
    }
    void manifestDbArchives()
    {
        QFETCH(QByteArray, archive);
        QFETCH(QString, read);
        const auto outcome = [](const QByteArray &bytes, bool direct) {
            MbdbRecord r = record(u"AppDomain-com.viber|Documents/a"_s);
            const QString error = errorOf([&] {
                direct ? ManifestDb::decodeFile(bytes, r) : ManifestDb::decodeFileThroughTree(bytes, r);
            });
            return error.isEmpty() ? describe(r) : error;
        };
        const QString result = outcome(archive, true);
        if (read.isNull()) {
            QVERIFY2(result.contains(u"AppDomain-com.viber-Documents/a"_s), qPrintable(result));
            return;
        }
        QVERIFY(read.isEmpty() || result == read);
        QCOMPARE(outcome(archive, false), result);
        int mismatches = 0;
        QString first;
        const auto compare = [&](const QByteArray &bytes) {
            const QString direct = outcome(bytes, true), tree = outcome(bytes, false);
            if (direct != tree && mismatches++ == 0)
                first = QString::fromLatin1(bytes.toHex()) + u": "_s + direct + u" <> "_s + tree;
        };
        for (qsizetype i = 0; i < archive.size(); ++i) {
            compare(archive.left(i));
            // Bits flipped, then markers of the widest reference, integer, real, date and text in place.
            for (const uchar flip : {0x01, 0x10, 0x80, 0xff})
                compare(QByteArray(archive).replace(i, 1, QByteArray(1, char(archive.at(i) ^ flip))));
            for (const char marker : {'\x87', '\x13', '\x23', '\x33', '\x6f'})
                compare(QByteArray(archive).replace(i, 1, QByteArray(1, marker)));
        }
        QVERIFY2(mismatches == 0, qPrintable(u"%1 differ, first "_s.arg(mismatches) + first));
    }
    // A damaged row costs only its own details; a path out of the backup never reaches the tree;
    // views are off on the index, so a "Files" that is a view is refused, not followed. All alike
    // when the rows are read in two halves side by side, or the table has no row numbers to split by.
    void manifestDbIsReadAsUntrusted_data()
    {
        QTest::addColumn<qint64>("splitRows");
        QTest::newRow("whole") << qint64(1000000);
        QTest::newRow("in halves") << qint64(1);
    }
    void manifestDbIsReadAsUntrusted()
    {
        QFETCH(qint64, splitRows);
        const qint64 wasSplit = ManifestDb::setSplitRows(splitRows);
        const auto restore = qScopeGuard([&] { ManifestDb::setSplitRows(wasSplit); });
        fixtures::BackupFixture backup(path(u"newer"_s));
        backup.newerLayout = true;
        backup.addFile(u"AppDomain-com.viber"_s, u"Documents/Contacts.data"_s, "store");
        backup.addFile(u"AppDomain-com.viber"_s, u"Documents/damaged"_s, "bytes");
        backup.addFile(u"AppDomain-com.viber"_s, u"Documents/../../escape"_s, "evil");
        backup.addFile(u"AppDomain-com.viber"_s, u"Documents/last"_s, "last row");
        QCOMPARE(backup.write(), QString());
        const QString index = path(u"newer/Manifest.db"_s);
        fixtures::exec(index, u"update Files set file=x'00' where relativePath='Documents/damaged'; "
                              u"PRAGMA journal_mode=WAL"_s);
        const QStringList files = QDir(path(u"newer"_s)).entryList(QDir::Files);
        BackupManifest manifest(path(u"newer"_s));
        load(manifest);
        QCOMPARE(manifest.layout(), BackupManifest::Layout::ManifestDb);
        // An index in write-ahead-log mode is read without leaving its log or shared memory behind.
        QCOMPARE(QDir(path(u"newer"_s)).entryList(QDir::Files), files);
        const QStringList tree{u"Applications"_s,
                               u"Applications/com.viber"_s,
                               u"Applications/com.viber/Documents"_s,
                               u"Applications/com.viber/Documents/Contacts.data|1420000000"_s,
                               u"Applications/com.viber/Documents/damaged"_s,
                               u"Applications/com.viber/Documents/last|1420000000"_s};
        QCOMPARE(listTree(manifest.root()), tree);
        manifest.copyBackupFile(*manifest.findNode(u"Applications/com.viber/Documents/damaged"_s),
                                path(u"out"_s));
        QCOMPARE(readFile(path(u"out"_s)), "bytes");

        fixtures::exec(index,
                       u"PRAGMA journal_mode=DELETE; CREATE TABLE Keyed (fileID TEXT PRIMARY KEY, "
                       u"domain TEXT, relativePath TEXT, flags INTEGER, file BLOB) WITHOUT ROWID; "
                       u"INSERT INTO Keyed SELECT fileID, domain, relativePath, flags, file FROM Files; "
                       u"DROP TABLE Files; ALTER TABLE Keyed RENAME TO Files"_s);
        BackupManifest keyed(path(u"newer"_s));
        load(keyed);
        QCOMPARE(listTree(keyed.root()), tree);

        fixtures::exec(index, u"ALTER TABLE Files RENAME TO RealFiles; "
                              u"CREATE VIEW Files AS SELECT * FROM RealFiles"_s);
        BackupManifest viewed(path(u"newer"_s));
        viewed.loadManifestPlist();
        const QString error = errorOf([&] { viewed.loadFileTree(); });
        QVERIFY2(error.contains(u"Manifest.db"_s), qPrintable(error));
    }
    void copyFiles()
    {
        // Data files are named by SHA-1 of the UTF-8 of domain-path.
        QCOMPARE(BackupManifest::backupFileName(u"HomeDomain"_s, u"Library/SMS/sms.db"_s),
                 u"3d0d7e5fb2ce288813306e4d4636395e047a3d28"_s);
        const QByteArray contents = testsupport::patternBytes(20000);
        fixtures::BackupFixture fixture(path(u"backup"_s));
        fixture.addFolder(u"HomeDomain"_s, u"Library"_s);
        fixture.addFile(u"HomeDomain"_s, u"Library/f"_s, contents, 1400000000);
        fixture.addFile(u"HomeDomain"_s, u"empty"_s, "");
        fixture.addFile(u"HomeDomain"_s, u"gone"_s, "x");
        QCOMPARE(fixture.write(), QString());
        const QString gone = BackupManifest::backupFileName(u"HomeDomain"_s, u"gone"_s);
        QVERIFY(QFile::remove(fixture.folder() + u'/' + gone));
        BackupManifest manifest(fixture.folder());
        load(manifest);
        const BackupManifest::FileNode *node = manifest.findNode(u"Library/f"_s);
        // An empty file is no folder, though its size is that of one.
        QVERIFY(node->parent()->isFolder() && !node->isFolder() &&
                !manifest.findNode(u"empty"_s)->isFolder());
        QCOMPARE(BackupManifest::fileSha1(manifest.dataFilePath(node->record())),
                 node->record().dataHash.bytes);

        manifest.copyBackupFile(*node, path(u"out"_s));
        QCOMPARE(readFile(path(u"out"_s)), contents);
        QCOMPARE(QFileInfo(path(u"out"_s)).lastModified().toSecsSinceEpoch(), qint64(1400000000));
        // Neither a missing data file nor a cancel leaves a file, or changes one that was there.
        const QString error =
            errorOf([&] { manifest.copyBackupFile(*manifest.findNode(u"gone"_s), path(u"g"_s)); });
        QVERIFY2(error.contains(gone) && error.contains(u"HomeDomain-gone"_s), qPrintable(error));
        QVERIFY_THROWS_EXCEPTION(
            int, manifest.copyBackupFile(*node, path(u"out"_s), [](qint64, qint64) { throw -1; }));
        QCOMPARE(readFile(path(u"out"_s)), contents);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList(u"out"_s));

        // An encrypted backup copies nothing until unlocked, then each file whole, cut to its size.
        fixtures::EncryptedBackupFixture encrypted(path(u"encrypted"_s), "secret");
        encrypted.addFile(u"HomeDomain"_s, u"small"_s, contents.left(20), 1300000000);
        QCOMPARE(encrypted.write(), QString());
        BackupManifest locked(encrypted.folder());
        load(locked);
        const BackupManifest::FileNode &small = *locked.findNode(u"small"_s);
        const QString notYet = errorOf([&] { locked.copyBackupFile(small, path(u"small"_s)); });
        QVERIFY2(notYet.contains(u"encrypted and locked"_s), qPrintable(notYet));
        QVERIFY(!QFileInfo::exists(path(u"small"_s)));
        QVERIFY(locked.unlockWithPassword(u"secret"_s));
        locked.copyBackupFile(small, path(u"small"_s));
        QCOMPARE(readFile(path(u"small"_s)), contents.left(20));
        QCOMPARE(QFileInfo(path(u"small"_s)).lastModified().toSecsSinceEpoch(), qint64(1300000000));
    }

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    std::optional<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestBackupManifest)
#include "tst_backupmanifest.moc"
