#include "app/FileHelpers.h"
#include "itunes/BackupManifest.h"
#include "support/BackupCryptoFixtures.h"
#include "support/BackupFixtures.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <functional>
#include <memory>

using namespace Qt::StringLiterals;
using testsupport::readFile;
using testsupport::writeFile;

Q_DECLARE_METATYPE(fixtures::PlistFormat)

namespace {

const QByteArray kHeader = QByteArray::fromHex("6d62646205 00");
// mode, seven words, size and class of a folder record, as hex.
const QByteArray kFolderFields = "41ed" + QByteArray(72, '0') + "00";
const QByteArray kAllAbsent = "ffffffffffffffffffff" + kFolderFields + "00";

QByteArray hex(const QByteArray &digits)
{
    return QByteArray::fromHex(digits);
}

QString errorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}

// Every node below the root as its virtual path, depth first, checking parent links.
QStringList listTree(const BackupManifest::FileNode &node)
{
    QStringList paths;
    for (const auto &child : node.children()) {
        paths << (child->parent() == &node ? child->virtualPath() : u"bad parent"_s);
        paths += listTree(*child);
    }
    return paths;
}

MbdbRecord record(const QString &domain, const QString &path, quint32 mtime = 0)
{
    MbdbRecord r;
    r.domain = MbdbString::fromText(domain);
    r.path = MbdbString::fromText(path);
    r.mtime = mtime;
    return r;
}

} // namespace

class TestBackupManifest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void roundTripIsByteExact_data();
    void roundTripIsByteExact();
    void readDecodesEveryField();
    void writeSortsAndKeepsTheOldFileOnFailure();
    void truncatedInputIsRefused_data();
    void truncatedInputIsRefused();
    void backupFileName_data();
    void backupFileName();
    void treeRules_data();
    void treeRules();
    void treeKeepsFirstSystemDomainAndLastDuplicate();
    void manifestPlist_data();
    void manifestPlist();
    void manifestPlistRefusals_data();
    void manifestPlistRefusals();
    void copyPlainFile();
    void encryptedBackupUnlocksAndDecrypts();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestBackupManifest::roundTripIsByteExact_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("header only") << QByteArray();
    QTest::newRow("all five strings absent") << kAllAbsent;
    // Domain and link empty (0), path and hash absent (FFFF), key empty.
    QTest::newRow("empty beside absent") << "0000ffff0000ffff0000" + kFolderFields + "00";
    QByteArray sized = "0001410001620000ffffffff81a4" + QByteArray(56, '1') + "000000010000000003" + "00";
    QTest::newRow("size 2^32") << sized;
    QByteArray many = kAllAbsent.chopped(2) + "c8";
    for (int i = 0; i < 200; ++i)
        many += "00016e0000";
    QTest::newRow("200 properties") << many;
    QTest::newRow("two sorted records") << "000141" + kAllAbsent.mid(4) + "000142" + kAllAbsent.mid(4);
}

void TestBackupManifest::roundTripIsByteExact()
{
    QFETCH(QByteArray, body);
    const QByteArray bytes = kHeader + hex(body);
    QVERIFY(writeFile(path(u"in.mbdb"_s), bytes));
    QList<MbdbRecord> records = BackupManifest::readMbdbRecords(path(u"in.mbdb"_s));
    BackupManifest::writeMbdb(records, path(u"out.mbdb"_s));
    QCOMPARE(readFile(path(u"out.mbdb"_s)).toHex(), bytes.toHex());
}

void TestBackupManifest::readDecodesEveryField()
{
    const QByteArray body = "0013" + QByteArray("AppDomain-com.viber").toHex() + "0000ffff" + "0002abcd" +
                            "0003010203" + "81a4" + "00000001" + "00000002" + "000001f5" + "000001f6" +
                            "54000001" + "54000002" + "54000003" + "0000000100000005" + "04" + "01" +
                            "00016b" + "ffff";
    QVERIFY(writeFile(path(u"in.mbdb"_s), kHeader + hex(body)));
    const QHash<QString, MbdbRecord> byName = BackupManifest::readMbdb(path(u"in.mbdb"_s));
    const MbdbRecord r = byName.value(BackupManifest::backupFileName(u"AppDomain-com.viber"_s, QString()));
    QCOMPARE(r.domain.text(), u"AppDomain-com.viber"_s);
    QVERIFY(!r.path.absent && r.linkTarget.absent && !r.dataHash.absent && !r.properties.first().name.absent);
    QCOMPARE(r.dataHash.bytes + r.encryptionKey.bytes + r.properties.first().name.bytes,
             hex("abcd010203") + 'k');
    QList<quint64> numbers;
    numbers << r.mode << r.inodeHigh << r.inodeLow << r.uid << r.gid << r.mtime << r.atime << r.ctime
            << r.size << r.protectionClass << r.properties.size();
    QCOMPARE(numbers, QList<quint64>({0100644, 1, 2, 501, 502, 0x54000001, 0x54000002, 0x54000003,
                                      Q_UINT64_C(0x100000005), 4, 1}));
    QVERIFY(r.properties.first().value.absent);
    QVERIFY(!r.isFolder());
}

void TestBackupManifest::writeSortsAndKeepsTheOldFileOnFailure()
{
    // U+1F600 sorts before U+FF21 by UTF-16 code units, after it by code points or UTF-8.
    QList<MbdbRecord> records = {record(u"b"_s, u"x"_s), record(u"a"_s, u"\uFF21"_s),
                                 record(u"a"_s, u"\U0001F600"_s), record(u"B"_s, u"z"_s)};
    BackupManifest::writeMbdb(records, path(u"m.mbdb"_s));
    QStringList order;
    for (const MbdbRecord &r : BackupManifest::readMbdbRecords(path(u"m.mbdb"_s)))
        order << r.domain.text() + u'/' + r.path.text();
    QCOMPARE(order, QStringList({u"B/z"_s, u"a/\U0001F600"_s, u"a/\uFF21"_s, u"b/x"_s}));

    const QByteArray before = readFile(path(u"m.mbdb"_s));
    records.append(record(u"c"_s, QString(0x10000, u'x')));
    QVERIFY(errorOf([&] { BackupManifest::writeMbdb(records, path(u"m.mbdb"_s)); }).contains(u"m.mbdb"_s));
    QCOMPARE(readFile(path(u"m.mbdb"_s)), before);
}

void TestBackupManifest::truncatedInputIsRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("header cut") << hex("6d6264");
    QTest::newRow("string longer than the file") << kHeader + hex("0010414243");
    QTest::newRow("length cut") << kHeader + hex("00");
    QTest::newRow("cut inside the size") << kHeader + hex(kAllAbsent.left(20 + 4 + 56 + 6));
    QTest::newRow("property pair missing") << kHeader + hex(kAllAbsent.chopped(2) + "0200016e0000");
    QTest::newRow("second record cut") << kHeader + hex(kAllAbsent + kAllAbsent.chopped(2));
}

void TestBackupManifest::truncatedInputIsRefused()
{
    QFETCH(QByteArray, bytes);
    const QString folder = path(u"backup"_s);
    QVERIFY(writeFile(folder + u"/Manifest.mbdb"_s, bytes));
    const QString error = errorOf([&] { BackupManifest::readMbdb(folder + u"/Manifest.mbdb"_s); });
    QVERIFY2(error.contains(u"Manifest.mbdb"_s) && error.contains(u"truncated"_s), qPrintable(error));
    BackupManifest manifest(folder);
    QVERIFY(!errorOf([&] { manifest.loadFileTree(); }).isEmpty());
    QVERIFY(manifest.root().children().empty());
}

void TestBackupManifest::backupFileName_data()
{
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("path");
    QTest::newRow("Viber store") << u"AppDomain-com.viber"_s << u"Documents/Contacts.data"_s;
    QTest::newRow("domain root") << u"HomeDomain"_s << QString();
    QTest::newRow("non-ASCII") << u"MediaDomain"_s << u"Media/Recordings/Zoë \U0001F600.m4a"_s;
}

void TestBackupManifest::backupFileName()
{
    QFETCH(QString, domain);
    QFETCH(QString, path);
    const QByteArray sha1 =
        QCryptographicHash::hash((domain + u'-' + path).toUtf8(), QCryptographicHash::Sha1);
    QCOMPARE(BackupManifest::backupFileName(domain, path), QString::fromLatin1(sha1.toHex()));
}

void TestBackupManifest::treeRules_data()
{
    // Records as domain|path, the tree as its virtual paths depth first, both joined by ";".
    QTest::addColumn<QString>("records");
    QTest::addColumn<QString>("tree");
    QTest::newRow("app domain")
        << u"AppDomain-com.viber|;AppDomain-com.viber|Documents;AppDomain-com.viber|Documents/Contacts.data"_s
        << u"Applications;Applications/com.viber;Applications/com.viber/Documents;"
           "Applications/com.viber/Documents/Contacts.data"_s;
    QTest::newRow("app domain kind") << u"AppDomainGroup-group.com.viber|"_s
                                     << u"AppDomainGroup;AppDomainGroup/group.com.viber"_s;
    QTest::newRow("system domain root") << u"HomeDomain|;HomeDomain|Library"_s << u"Library"_s;
    QTest::newRow("system domains share a tree")
        << u"MediaDomain|Media/Recordings;CameraRollDomain|Media;CameraRollDomain|Media/PhotoData"_s
        << u"Media;Media/PhotoData;Media/Recordings"_s;
    QTest::newRow("other domain") << u"X|a/b;X|;X|a"_s << u"X;X/a;X/a/b"_s;
    QTest::newRow("app domain without bundle") << u"AppDomain-|f"_s << u"AppDomain-;AppDomain-/f"_s;
    QTest::newRow("missing folder records")
        << u"AppDomain-com.viber|Documents/Attachments/a.jpg"_s
        << u"Applications;Applications/com.viber;Applications/com.viber/Documents;"
           "Applications/com.viber/Documents/Attachments;Applications/com.viber/Documents/Attachments/a.jpg"_s;
    // Names that would lead out of the folder a file is copied to never reach the tree.
    QTest::newRow("unsafe records left out")
        << u"AppDomain-com.viber|../../etc/passwd;HomeDomain|/etc/passwd;AppDomain-..|;AppDomain-..|a;..|x;"
           "HomeDomain|Library/..;HomeDomain|./x;HomeDomain|a\\..\\b;HomeDomain|a\0b;HomeDomain|a//b;"
           "X/../..|a;|a;HomeDomain|a..b/..."_s
        << u"a..b;a..b/..."_s;
}

void TestBackupManifest::treeRules()
{
    QFETCH(QString, records);
    QFETCH(QString, tree);
    QList<MbdbRecord> list;
    for (const QString &r : records.split(u';'))
        list.append(record(r.section(u'|', 0, 0), r.section(u'|', 1)));
    BackupManifest manifest(path(u"b"_s));
    manifest.buildFileTree(list);
    QCOMPARE(listTree(manifest.root()).join(u';'), tree);
    for (const QString &virtualPath : tree.split(u';'))
        QCOMPARE(manifest.findNode(virtualPath)->virtualPath(), virtualPath);
    QCOMPARE(manifest.findNode(u"nowhere/x"_s), nullptr);
}

void TestBackupManifest::treeKeepsFirstSystemDomainAndLastDuplicate()
{
    BackupManifest manifest(path(u"b"_s));
    manifest.buildFileTree(
        {record(u"HomeDomain"_s, u"Media"_s, 1), record(u"CameraRollDomain"_s, u"Media"_s, 2),
         record(u"MediaDomain"_s, u"Library"_s, 3), record(u"HomeDomain"_s, u"Library/Prefs"_s, 4),
         record(u"HomeDomain"_s, u"a"_s, 5), record(u"HomeDomain"_s, u"a"_s, 6)});
    QCOMPARE(manifest.findNode(u"Media"_s)->record().mtime, 2u);
    // "Library" was made up for HomeDomain's file, then filled by MediaDomain's record.
    QCOMPARE(manifest.findNode(u"Library"_s)->record().mtime, 3u);
    QCOMPARE(manifest.findNode(u"a"_s)->record().mtime, 6u);
    QCOMPARE(manifest.root().children().size(), size_t(3));
}

void TestBackupManifest::manifestPlist_data()
{
    QTest::addColumn<fixtures::PlistFormat>("format");
    QTest::addColumn<QString>("folderName");
    QTest::addColumn<QString>("udid");
    QTest::addColumn<QString>("displayName");
    const QString udid = fixtures::BackupDevice().uniqueDeviceId;
    QTest::newRow("binary, folder named by device")
        << fixtures::PlistFormat::Binary << udid + u"-20150120"_s << udid << u"Test iPhone-20150120"_s;
    QTest::newRow("XML, other folder")
        << fixtures::PlistFormat::Xml << u"old"_s << udid << u"Test iPhone-old"_s;
    QTest::newRow("no device id") << fixtures::PlistFormat::Xml << u"old"_s << QString()
                                  << u"Test iPhone-old"_s;
}

void TestBackupManifest::manifestPlist()
{
    QFETCH(fixtures::PlistFormat, format);
    QFETCH(QString, folderName);
    QFETCH(QString, udid);
    QFETCH(QString, displayName);
    fixtures::BackupFixture fixture(path(folderName));
    fixture.plistFormat = format;
    fixture.device.uniqueDeviceId = udid;
    fixture.device.encrypted = true;
    fixture.device.keyBag = hex("0011223344");
    QVERIFY2(fixture.write(), qPrintable(fixture.errorString()));
    BackupManifest manifest(fixture.folder());
    manifest.loadManifestPlist();
    QCOMPARE(
        QStringList({manifest.uniqueDeviceId(), manifest.deviceName(), manifest.productType(),
                     manifest.productVersion(), manifest.serialNumber(), manifest.displayName()}),
        QStringList({udid, u"Test iPhone"_s, u"iPhone6,2"_s, u"8.1.2"_s, u"F2LN1234G5MN"_s, displayName}));
    QCOMPARE(manifest.date().toSecsSinceEpoch(), fixture.device.date.toSecsSinceEpoch());
    QVERIFY(manifest.isEncrypted());
    QCOMPARE(manifest.backupKeyBag(), hex("0011223344"));
    QCOMPARE(manifest.cacheKey(),
             QString::fromLatin1(
                 QCryptographicHash::hash(fixture.folder().toUtf8(), QCryptographicHash::Md5).toHex()));
}

void TestBackupManifest::manifestPlistRefusals_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("error");
    const QByteArray binary = fixtures::manifestPlist({}, fixtures::PlistFormat::Binary);
    QTest::newRow("missing") << QByteArray() << qint64(-1) << u"Cannot find "_s;
    QTest::newRow("not a list") << QByteArray("garbage") << qint64(-1) << u"damaged"_s;
    QTest::newRow("binary cut") << binary.left(binary.size() / 2) << qint64(-1) << u"damaged"_s;
    QTest::newRow("oversized") << QByteArray() << qint64(64 * 1024 * 1024 + 1) << u"too large"_s;
}

void TestBackupManifest::manifestPlistRefusals()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, size);
    QFETCH(QString, error);
    const QString file = path(u"Manifest.plist"_s);
    if (!bytes.isEmpty())
        QVERIFY(writeFile(file, bytes));
    QFile sparse(file);
    if (size >= 0)
        QVERIFY(sparse.open(QIODevice::WriteOnly) && sparse.resize(size));
    BackupManifest manifest(m_dir->path());
    const QString text = errorOf([&] { manifest.loadManifestPlist(); });
    QVERIFY2(text.contains(error) && text.contains(file), qPrintable(text));
}

void TestBackupManifest::copyPlainFile()
{
    QByteArray contents(20000, '\0');
    for (int i = 0; i < contents.size(); ++i)
        contents[i] = char(i * 7);
    QVERIFY(writeFile(path(u"source.bin"_s), contents));
    fixtures::BackupFixture fixture(path(u"backup"_s));
    fixture.addFolder(u"HomeDomain"_s, u"Library"_s);
    fixture.addFileFrom(u"HomeDomain"_s, u"Library/f"_s, path(u"source.bin"_s), 1400000000);
    fixture.addFile(u"HomeDomain"_s, u"empty"_s, QByteArray());
    fixture.addFile(u"HomeDomain"_s, u"gone"_s, "x");
    QVERIFY2(fixture.write(), qPrintable(fixture.errorString()));
    const QString gone = BackupManifest::backupFileName(u"HomeDomain"_s, u"gone"_s);
    QVERIFY(QFile::remove(fixture.folder() + u'/' + gone));
    BackupManifest manifest(fixture.folder());
    manifest.loadManifestPlist();
    manifest.loadFileTree();
    const BackupManifest::FileNode *node = manifest.findNode(u"Library/f"_s);
    QVERIFY(node && node->parent()->isFolder() && !node->isFolder());
    QCOMPARE(node->record().dataHash.bytes, BackupManifest::fileSha1(path(u"source.bin"_s)));

    QList<qint64> seen;
    manifest.copyBackupFile(*node, path(u"out"_s), [&](qint64 total, qint64 done) { seen << total << done; });
    QCOMPARE(readFile(path(u"out"_s)), contents);
    QCOMPARE(seen, QList<qint64>({20000, 8192, 20000, 16384, 20000, 20000}));
    QCOMPARE(QFileInfo(path(u"out"_s)).lastModified().toSecsSinceEpoch(), qint64(1400000000));

    // An empty file is no folder, whatever its size says.
    QVERIFY(!manifest.findNode(u"empty"_s)->isFolder());
    manifest.copyBackupFile(*manifest.findNode(u"empty"_s), path(u"empty"_s));
    QVERIFY(QFileInfo(path(u"empty"_s)).isFile());

    // Neither a missing data file nor a cancel leaves a file, or changes one that was there.
    const QString error =
        errorOf([&] { manifest.copyBackupFile(*manifest.findNode(u"gone"_s), path(u"g"_s)); });
    QVERIFY2(error.contains(gone) && error.contains(u"HomeDomain-gone"_s), qPrintable(error));
    try {
        manifest.copyBackupFile(*node, path(u"out"_s), [](qint64, qint64) { throw -1; });
        QFAIL("the cancel did not stop the copy");
    } catch (int) {
    }
    QCOMPARE(readFile(path(u"out"_s)), contents);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files),
             QStringList({u"empty"_s, u"out"_s, u"source.bin"_s}));
}

// An encrypted backup copies nothing until unlocked, refuses a wrong password,
// and then gives each file back whole, cut to its size.
void TestBackupManifest::encryptedBackupUnlocksAndDecrypts()
{
    fixtures::EncryptedBackupFixture fixture(path(u"backup"_s), "secret");
    const QByteArray small = testsupport::patternBytes(20), large = testsupport::patternBytes(8200, 7);
    fixture.addFile(u"HomeDomain"_s, u"small"_s, small, 1300000000);
    fixture.addFile(u"HomeDomain"_s, u"large"_s, large);
    QVERIFY2(fixture.write(), qPrintable(fixture.errorString()));
    BackupManifest manifest(fixture.folder());
    manifest.loadManifestPlist();
    manifest.loadFileTree();
    QVERIFY(manifest.isEncrypted());
    const BackupManifest::FileNode &node = *manifest.findNode(u"small"_s);

    const QString locked = errorOf([&] { manifest.copyBackupFile(node, path(u"out"_s)); });
    QVERIFY2(locked.contains(u"encrypted and locked"_s), qPrintable(locked));
    QVERIFY(!manifest.unlockWithPassword(u"wrong"_s));
    QVERIFY(!manifest.isUnlocked());
    QVERIFY(!QFileInfo::exists(path(u"out"_s)));

    QVERIFY(manifest.unlockWithPassword(u"secret"_s));
    manifest.copyBackupFile(node, path(u"out"_s));
    QCOMPARE(readFile(path(u"out"_s)), small);
    QCOMPARE(QFileInfo(path(u"out"_s)).lastModified().toSecsSinceEpoch(), qint64(1300000000));
    manifest.copyBackupFile(*manifest.findNode(u"large"_s), path(u"out2"_s));
    QCOMPARE(readFile(path(u"out2"_s)), large);
}

QTEST_GUILESS_MAIN(TestBackupManifest)
#include "tst_backupmanifest.moc"
