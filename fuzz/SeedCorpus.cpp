// Writes the seed corpus of every fuzz target into <folder>/<target>/, made by the
// test suites' own fixture builders: real-looking inputs from which the fuzzer
// mutates its way into the corners.
#include "device/Afc.h"
#include "device/CFType.h"
#include "itunes/ManifestDb.h"
#include "support/BackupCryptoFixtures.h"
#include "support/BackupFixtures.h"
#include "support/DesktopFixtures.h"
#include "support/StoreFixtures.h"
#include "support/TestSupport.h"
#include "viber/TinyKv.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <QtEndian>

#include <sqlite3.h>

#include <cstdio>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

QString g_out;

// Named by content, as libFuzzer names what it adds.
void seed(const QString &target, const QByteArray &bytes)
{
    const QString folder = g_out + u'/' + target;
    const QString name =
        QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex());
    if (!QDir().mkpath(folder) || !testsupport::writeFile(folder + u'/' + name, bytes))
        throw std::runtime_error("cannot write a seed below " + folder.toStdString());
}

// A store file with the smallest pages SQLite allows: the fuzzer's mutations then
// land in table pages rather than in kilobytes of free space.
QByteArray compactStore(const QString &path)
{
    sqlite3 *db = nullptr;
    const bool done = sqlite3_open(path.toUtf8().constData(), &db) == SQLITE_OK &&
                      sqlite3_exec(db, "PRAGMA journal_mode=DELETE; PRAGMA page_size=512; VACUUM;", nullptr,
                                   nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    if (!done)
        throw std::runtime_error("cannot compact " + path.toStdString());
    return testsupport::readFile(path);
}

QByteArray afcPacket(quint64 operation, const QByteArray &data)
{
    return AfcHeader{quint64(kAfcHeaderSize + data.size()), quint64(kAfcHeaderSize), 0, operation}.bytes() +
           data;
}

QByteArray le64(quint64 value)
{
    QByteArray bytes(8, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray frame(const CFType &message)
{
    const QByteArray body = message.toData();
    QByteArray length(4, '\0');
    qToBigEndian(quint32(body.size()), length.data());
    return length + body;
}

MbdbRecord fileRecord(const QString &path, quint64 size)
{
    MbdbRecord r;
    r.domain = MbdbString::fromText(u"AppDomain-com.viber"_s);
    r.path = MbdbString::fromText(path);
    r.mode = 0100644, r.size = size, r.mtime = r.atime = r.ctime = 1420000000;
    r.inodeLow = 77, r.uid = r.gid = 501, r.protectionClass = 3;
    r.dataHash = MbdbString::fromBytes(QByteArray(20, '\x11'));
    return r;
}

void tinykvSeeds()
{
    seed(u"tinykv"_s, tinykv::serialize({}));
    seed(u"tinykv"_s, tinykv::serialize({{u"i"_s, 7},
                                         {u"l"_s, -(Q_INT64_C(1) << 40)},
                                         {u"d"_s, 2.5},
                                         {u"s"_s, u"Grüße"_s},
                                         {u"v"_s, QByteArray("\0\1\2", 3)},
                                         {u"n"_s, QVariant()}}));
}

CFType sampleDictionary()
{
    CFType dict = CFType::dictionary();
    dict.setValue(u"Text"_s, CFType::fromString(u"Grüße"_s));
    dict.setValue(u"Number"_s, CFType::fromInt64(-42));
    dict.setValue(u"Big"_s, CFType::fromInt64(Q_INT64_C(1) << 40));
    dict.setValue(u"Real"_s, CFType::fromDouble(0.25));
    dict.setValue(u"Yes"_s, CFType::fromBool(true));
    dict.setValue(u"Data"_s, CFType::fromBytes(QByteArray("\0\xff", 2)));
    dict.setValue(u"Date"_s, CFType::fromDateTime(fixtures::kBackupDate));
    dict.setValue(u"Ref"_s, CFType::fromUid(3));
    CFType list = CFType::array();
    list.append(CFType::fromString(u"first"_s));
    list.append(CFType::dictionary());
    dict.setValue(u"List"_s, list);
    return dict;
}

void plistSeeds(const QString &scratch)
{
    const CFType dict = sampleDictionary();
    seed(u"plist"_s, dict.toData());
    seed(u"plist"_s, dict.toBinaryData());
    fixtures::BackupFixture backup(scratch + u"/plist"_s);
    seed(u"plist"_s, backup.manifestPlist());
    backup.xml = true;
    seed(u"plist"_s, backup.manifestPlist());
}

// Fields as AFC lists them: each ended by a NUL.
QByteArray nulEnded(std::initializer_list<const char *> fields)
{
    QByteArray bytes;
    for (const char *field : fields)
        bytes += QByteArray(field) + '\0';
    return bytes;
}

void afcSeeds()
{
    const QByteArray listing = afcPacket(AfcOpData, nulEnded({".", "..", "Contacts.data", "Attachments"}));
    const QByteArray fileInfo = afcPacket(
        AfcOpData, nulEnded({"st_size", "5", "st_blocks", "8", "st_nlink", "1", "st_ifmt", "S_IFREG",
                             "st_mtime", "1420000000123456789", "st_birthtime", "1420000000000000000"}));
    const QByteArray dirInfo =
        afcPacket(AfcOpData, nulEnded({"st_size", "96", "st_ifmt", "S_IFDIR", "st_mtime", "0"}));
    const QByteArray missing = afcPacket(AfcOpStatus, le64(8));
    const QByteArray session = listing + fileInfo + dirInfo + fileInfo +
                               afcPacket(AfcOpFileOpenResult, le64(3)) + afcPacket(AfcOpData, "hello") +
                               afcPacket(AfcOpData, QByteArray()) + afcPacket(AfcOpStatus, le64(0));
    seed(u"afc"_s, '\0' + session);
    seed(u"afc"_s, '\0' + missing + missing + missing);
    CFType agreed = CFType::dictionary();
    agreed.setValue(u"Status"_s, CFType::fromString(u"Complete"_s));
    CFType refused = CFType::dictionary();
    refused.setValue(u"Error"_s, CFType::fromString(u"InstallationLookupFailed"_s));
    seed(u"afc"_s, '\1' + frame(agreed) + session);
    seed(u"afc"_s, '\1' + frame(refused));
    seed(u"afc"_s, '\2' + frame(agreed) + frame(sampleDictionary()) + QByteArray(4, '\0'));
}

void backupSeeds(const QString &scratch)
{
    for (const bool newer : {false, true}) {
        const QString folder = scratch + (newer ? u"/newer"_s : u"/older"_s);
        fixtures::EncryptedBackupFixture backup(folder, "password", newer);
        backup.addFolder(u"AppDomain-com.viber"_s, u"Documents"_s);
        backup.addFile(u"AppDomain-com.viber"_s, u"Documents/Contacts.data"_s, "store");
        backup.addFile(u"HomeDomain"_s, u"Library/Preferences/x.plist"_s, "plist");
        const QString error = backup.write();
        if (!error.isEmpty())
            throw std::runtime_error(error.toStdString());
        seed(u"keybag"_s, backup.keyBag);
        if (!newer)
            seed(u"mbdb"_s, testsupport::readFile(folder + u"/Manifest.mbdb"_s));
        fixtures::BackupFixture plain(folder + u"-plain"_s);
        plain.newerLayout = newer;
        plain.addFolder(u"AppDomain-com.viber"_s, u"Documents"_s);
        plain.addFile(u"AppDomain-com.viber"_s, u"Documents/Contacts.data"_s, "store", 1500000000);
        if (!plain.write().isEmpty())
            throw std::runtime_error("cannot write a plain backup");
        if (!newer) {
            seed(u"mbdb"_s, testsupport::readFile(plain.folder() + u"/Manifest.mbdb"_s));
            continue;
        }
        const QByteArray index = compactStore(plain.folder() + u"/Manifest.db"_s);
        seed(u"manifestdb"_s, index);
        // Found by fuzzing: an index in write-ahead-log mode (header bytes 18 and 19)
        // left its log and shared memory beside it after reading.
        QByteArray walIndex = index;
        walIndex[18] = walIndex[19] = 2;
        seed(u"manifestdb"_s, walIndex);
    }
    testsupport::KeyBagDerivation derivation;
    derivation.iterations = 2;
    seed(u"keybag"_s, testsupport::buildKeyBag("password",
                                               {{1, testsupport::patternBytes(32, 1)},
                                                {3, testsupport::patternBytes(32, 3)},
                                                {4, testsupport::patternBytes(32, 4), 1}},
                                               derivation));

    MbdbRecord file = fileRecord(u"Documents/Contacts.data"_s, 5);
    seed(u"keyedarchive"_s, ManifestDb::encodeFile(file));
    file.encryptionKey = MbdbString::fromBytes(
        testsupport::wrapFileKey(testsupport::patternBytes(32, 3), testsupport::patternBytes(32, 5), 3));
    file.properties.append({MbdbString::fromText(u"com.apple.x"_s), MbdbString::fromBytes("value")});
    seed(u"keyedarchive"_s, ManifestDb::encodeFile(file));
    MbdbRecord folder = fileRecord(u"Documents"_s, 0);
    folder.mode = 040755;
    const QByteArray folderArchive = ManifestDb::encodeFile(folder);
    seed(u"keyedarchive"_s, folderArchive);
    // Found by fuzzing: ASCII text with bytes above 127 was read, and written back as a broken list.
    seed(u"keyedarchive"_s, QByteArray(folderArchive)
                                .replace("VMBFile", "V\xae\xbd"
                                                    "File"));
}

void storeSeeds(const QString &scratch)
{
    using fixtures::StoreLayout;
    for (const StoreLayout layout : {StoreLayout::Template, StoreLayout::Phone}) {
        const QString root = scratch + (layout == StoreLayout::Phone ? u"/phone"_s : u"/template"_s);
        QDir().mkpath(root);
        fixtures::writeStore(fixtures::sampleStore(), root, layout);
        seed(u"iosstore"_s, compactStore(root + u'/' + QLatin1String(fixtures::kStoreFileName)));
    }
    using fixtures::DesktopLayout;
    for (const DesktopLayout layout : {DesktopLayout::Classic, DesktopLayout::Contacts}) {
        const QString path =
            scratch + (layout == DesktopLayout::Classic ? u"/classic.db"_s : u"/contacts.db"_s);
        fixtures::writeDesktopStore(fixtures::sampleDesktopStore(layout), path, layout);
        seed(u"pcstore"_s, compactStore(path));
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    g_out = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir scratch;
    try {
        tinykvSeeds();
        plistSeeds(scratch.path());
        afcSeeds();
        backupSeeds(scratch.path());
        storeSeeds(scratch.path());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
