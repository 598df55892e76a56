#include "app/FileHelpers.h"
#include "itunes/BackupManifest.h"
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
    void unsafePaths_data();
    void unsafePaths();
    void manifestPlist_data();
    void manifestPlist();
    void manifestPlistRefusals_data();
    void manifestPlistRefusals();
    void copyPlainFile();
    void failedCopyLeavesNoFile();
    void encryptedCopyGoesThroughDecryptor();

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
    QVERIFY(!r.path.absent && r.linkTarget.absent && !r.dataHash.absent);
    QCOMPARE(r.dataHash.bytes, hex("abcd"));
    QCOMPARE(r.encryptionKey.bytes, hex("010203"));
    QCOMPARE(r.mode, quint16(0100644));
    QCOMPARE(r.inodeHigh, 1u);
    QCOMPARE(r.inodeLow, 2u);
    QCOMPARE(r.uid, 501u);
    QCOMPARE(r.gid, 502u);
    QCOMPARE(r.mtime, 0x54000001u);
    QCOMPARE(r.atime, 0x54000002u);
    QCOMPARE(r.ctime, 0x54000003u);
    QCOMPARE(r.size, Q_UINT64_C(0x100000005));
    QCOMPARE(r.protectionClass, quint8(4));
    QCOMPARE(r.properties.size(), 1);
    QCOMPARE(r.properties.first().name.text(), u"k"_s);
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
    QVERIFY(errorOf([&] {
                BackupManifest::writeMbdb(records, path(u"missing/m.mbdb"_s));
            }).contains(u"missing"_s));
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
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    sha1.addData(domain.toUtf8());
    sha1.addData("-");
    sha1.addData(path.toUtf8());
    QCOMPARE(BackupManifest::backupFileName(domain, path), QString::fromLatin1(sha1.result().toHex()));
}

void TestBackupManifest::treeRules_data()
{
    QTest::addColumn<QStringList>("records"); // domain|path
    QTest::addColumn<QStringList>("tree");
    QTest::newRow("app domain") << QStringList{u"AppDomain-com.viber|"_s, u"AppDomain-com.viber|Documents"_s,
                                               u"AppDomain-com.viber|Documents/Contacts.data"_s}
                                << QStringList{u"Applications"_s, u"Applications/com.viber"_s,
                                               u"Applications/com.viber/Documents"_s,
                                               u"Applications/com.viber/Documents/Contacts.data"_s};
    QTest::newRow("app domain kind") << QStringList{u"AppDomainGroup-group.com.viber|"_s}
                                     << QStringList{u"AppDomainGroup"_s, u"AppDomainGroup/group.com.viber"_s};
    QTest::newRow("system domain root")
        << QStringList{u"HomeDomain|"_s, u"HomeDomain|Library"_s} << QStringList{u"Library"_s};
    QTest::newRow("system domains share a tree")
        << QStringList{u"MediaDomain|Media/Recordings"_s, u"CameraRollDomain|Media"_s,
                       u"CameraRollDomain|Media/PhotoData"_s}
        << QStringList{u"Media"_s, u"Media/PhotoData"_s, u"Media/Recordings"_s};
    QTest::newRow("other domain") << QStringList{u"X|a/b"_s, u"X|"_s, u"X|a"_s}
                                  << QStringList{u"X"_s, u"X/a"_s, u"X/a/b"_s};
    QTest::newRow("app domain without bundle")
        << QStringList{u"AppDomain-|f"_s} << QStringList{u"AppDomain-"_s, u"AppDomain-/f"_s};
    QTest::newRow("missing folder records")
        << QStringList{u"AppDomain-com.viber|Documents/Attachments/a.jpg"_s}
        << QStringList{u"Applications"_s, u"Applications/com.viber"_s, u"Applications/com.viber/Documents"_s,
                       u"Applications/com.viber/Documents/Attachments"_s,
                       u"Applications/com.viber/Documents/Attachments/a.jpg"_s};
    QTest::newRow("unsafe records left out") << QStringList{u"AppDomain-com.viber|../../etc/passwd"_s,
                                                            u"HomeDomain|/etc/passwd"_s,
                                                            u"AppDomain-..|"_s,
                                                            u"..|x"_s,
                                                            u"HomeDomain|Library/.."_s,
                                                            u"HomeDomain|ok"_s}
                                             << QStringList{u"ok"_s};
}

void TestBackupManifest::treeRules()
{
    QFETCH(QStringList, records);
    QFETCH(QStringList, tree);
    QList<MbdbRecord> list;
    for (const QString &r : records)
        list.append(record(r.section(u'|', 0, 0), r.section(u'|', 1)));
    BackupManifest manifest(path(u"b"_s));
    manifest.buildFileTree(list);
    QCOMPARE(listTree(manifest.root()), tree);
    for (const QString &virtualPath : tree)
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

void TestBackupManifest::unsafePaths_data()
{
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("safe");
    QTest::newRow("plain") << u"HomeDomain"_s << u"Library/a..b/..."_s << true;
    QTest::newRow("domain root") << u"AppDomain-com.viber"_s << QString() << true;
    QTest::newRow("parent") << u"HomeDomain"_s << u"Library/../../x"_s << false;
    QTest::newRow("dot") << u"HomeDomain"_s << u"./x"_s << false;
    QTest::newRow("absolute") << u"HomeDomain"_s << u"/etc/passwd"_s << false;
    QTest::newRow("backslash") << u"HomeDomain"_s << u"a\\..\\b"_s << false;
    QTest::newRow("NUL") << u"HomeDomain"_s << QString(u"a\0b"_s) << false;
    QTest::newRow("empty component") << u"HomeDomain"_s << u"a//b"_s << false;
    QTest::newRow("domain with slash") << u"X/../.."_s << u"a"_s << false;
    QTest::newRow("empty domain") << QString() << u"a"_s << false;
    QTest::newRow("bundle id of dots") << u"AppDomain-.."_s << u"a"_s << false;
}

void TestBackupManifest::unsafePaths()
{
    QFETCH(QString, domain);
    QFETCH(QString, path);
    QFETCH(bool, safe);
    QCOMPARE(record(domain, path).isSafe(), safe);
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
    QCOMPARE(manifest.uniqueDeviceId(), udid);
    QCOMPARE(manifest.deviceName(), u"Test iPhone"_s);
    QCOMPARE(manifest.productType(), u"iPhone6,2"_s);
    QCOMPARE(manifest.productVersion(), u"8.1.2"_s);
    QCOMPARE(manifest.serialNumber(), u"F2LN1234G5MN"_s);
    QCOMPARE(manifest.date().toSecsSinceEpoch(), fixture.device.date.toSecsSinceEpoch());
    QVERIFY(manifest.isEncrypted());
    QCOMPARE(manifest.backupKeyBag(), hex("0011223344"));
    QCOMPARE(manifest.displayName(), displayName);
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
    fixture.addFolder(u"AppDomain-com.viber"_s, u"Documents"_s);
    fixture.addFileFrom(u"AppDomain-com.viber"_s, u"Documents/Contacts.data"_s, path(u"source.bin"_s),
                        1400000000);
    fixture.addFile(u"AppDomain-com.viber"_s, u"Documents/empty"_s, QByteArray());
    QVERIFY2(fixture.write(), qPrintable(fixture.errorString()));
    BackupManifest manifest(fixture.folder());
    manifest.loadManifestPlist();
    manifest.loadFileTree();
    const auto *node = manifest.findNode(u"Applications/com.viber/Documents/Contacts.data"_s);
    QVERIFY(node && node->parent()->isFolder() && !node->isFolder());
    QCOMPARE(node->record().dataHash.bytes, BackupManifest::fileSha1(path(u"source.bin"_s)));

    QList<qint64> seen;
    manifest.copyBackupFile(*node, path(u"out.bin"_s), [&](qint64 total, qint64 done) {
        QCOMPARE(total, qint64(20000));
        seen << done;
    });
    QCOMPARE(readFile(path(u"out.bin"_s)), contents);
    QCOMPARE(seen, QList<qint64>({8192, 16384, 20000}));
    QCOMPARE(QFileInfo(path(u"out.bin"_s)).lastModified().toSecsSinceEpoch(), qint64(1400000000));

    // An empty file is no folder, whatever its size says.
    const auto *empty = manifest.findNode(u"Applications/com.viber/Documents/empty"_s);
    QVERIFY(!empty->isFolder());
    manifest.copyBackupFile(*empty, path(u"e"_s));
    QVERIFY(QFileInfo(path(u"e"_s)).isFile());
}

void TestBackupManifest::failedCopyLeavesNoFile()
{
    fixtures::BackupFixture fixture(path(u"backup"_s));
    fixture.addFile(u"HomeDomain"_s, u"a"_s, QByteArray(30000, 'a'));
    fixture.addFile(u"HomeDomain"_s, u"gone"_s, "x");
    QVERIFY(fixture.write());
    const QString gone = BackupManifest::backupFileName(u"HomeDomain"_s, u"gone"_s);
    QVERIFY(QFile::remove(fixture.folder() + u'/' + gone));
    BackupManifest manifest(fixture.folder());
    manifest.loadFileTree();

    const QString error =
        errorOf([&] { manifest.copyBackupFile(*manifest.findNode(u"gone"_s), path(u"g"_s)); });
    QVERIFY2(error.contains(gone) && error.contains(u"HomeDomain-gone"_s), qPrintable(error));
    QVERIFY(!QFileInfo::exists(path(u"g"_s)));

    // A cancel during the copy keeps what was there before.
    QVERIFY(writeFile(path(u"old"_s), "old"));
    try {
        manifest.copyBackupFile(*manifest.findNode(u"a"_s), path(u"old"_s), [](qint64, qint64) { throw -1; });
        QFAIL("the cancel did not stop the copy");
    } catch (int) {
    }
    QCOMPARE(readFile(path(u"old"_s)), QByteArray("old"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{u"old"_s});
}

void TestBackupManifest::encryptedCopyGoesThroughDecryptor()
{
    fixtures::BackupFixture fixture(path(u"backup"_s));
    fixture.device.encrypted = true;
    fixture.addFile(u"HomeDomain"_s, u"f"_s, "abc", 1300000000);
    QVERIFY(fixture.write());
    BackupManifest manifest(fixture.folder());
    manifest.loadManifestPlist();
    manifest.loadFileTree();
    const BackupManifest::FileNode &node = *manifest.findNode(u"f"_s);

    const QString error = errorOf([&] { manifest.copyBackupFile(node, path(u"out"_s)); });
    QVERIFY2(error.contains(u"encrypted and locked"_s), qPrintable(error));
    QVERIFY(!QFileInfo::exists(path(u"out"_s)));

    manifest.setDecryptor([&](QIODevice &source, QIODevice &destination, const MbdbRecord &record,
                              const BackupManifest::ProgressCallback &) {
        QCOMPARE(&record, &node.record());
        QByteArray bytes = source.readAll();
        std::reverse(bytes.begin(), bytes.end());
        destination.write(bytes);
    });
    manifest.copyBackupFile(node, path(u"out"_s));
    QCOMPARE(readFile(path(u"out"_s)), QByteArray("cba"));
    QCOMPARE(QFileInfo(path(u"out"_s)).lastModified().toSecsSinceEpoch(), qint64(1300000000));
}

QTEST_GUILESS_MAIN(TestBackupManifest)
#include "tst_backupmanifest.moc"
