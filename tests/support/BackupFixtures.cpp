#include "BackupFixtures.h"

#include "BackupCryptoFixtures.h"
#include "TestSupport.h"
#include "device/CFType.h"
#include "itunes/ManifestDb.h"
#include "viber/Sqlite3DB.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace fixtures {

BackupFixture::BackupFixture(const QString &folder) : m_folder(QFileInfo(folder).absoluteFilePath()) {}

QByteArray BackupFixture::manifestPlist() const
{
    CFType lockdown = CFType::dictionary();
    lockdown.setValue(u"UniqueDeviceID"_s, CFType::fromString(udid));
    lockdown.setValue(u"DeviceName"_s, CFType::fromString(u"Test iPhone"_s));
    lockdown.setValue(u"ProductType"_s, CFType::fromString(u"iPhone6,2"_s));
    lockdown.setValue(u"ProductVersion"_s, CFType::fromString(u"8.1.2"_s));
    lockdown.setValue(u"SerialNumber"_s, CFType::fromString(u"F2LN1234G5MN"_s));
    CFType top = CFType::dictionary();
    top.setValue(u"Lockdown"_s, lockdown);
    top.setValue(u"Date"_s, CFType::fromDateTime(kBackupDate));
    top.setValue(u"IsEncrypted"_s, CFType::fromBool(!keyBag.isEmpty()));
    if (!keyBag.isEmpty())
        top.setValue(u"BackupKeyBag"_s, CFType::fromBytes(keyBag));
    if (newerLayout && !m_classKeys.isEmpty())
        top.setValue(u"ManifestKey"_s,
                     CFType::fromBytes(testsupport::wrapFileKey(m_classKeys.value(3), manifestKey(), 3)));
    return xml ? top.toData() : top.toBinaryData();
}

void BackupFixture::addFile(const QString &domain, const QString &path, const QByteArray &bytes,
                            quint32 mtime)
{
    MbdbRecord r;
    r.domain = MbdbString::fromText(domain);
    r.path = MbdbString::fromText(path);
    r.mode = bytes.isNull() ? 040755 : 0100644;
    r.inodeLow = quint32(1000 + m_records.size());
    r.uid = r.gid = 501;
    r.mtime = r.atime = r.ctime = mtime;
    QByteArray data = bytes;
    if (!bytes.isNull()) {
        r.size = quint64(bytes.size());
        r.dataHash = MbdbString::fromBytes(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1));
    }
    if (!bytes.isNull() && !m_classKeys.isEmpty()) {
        const QByteArray fileKey = testsupport::patternBytes(32, r.inodeLow);
        const QList<quint32> classes = m_classKeys.keys();
        r.protectionClass = classes.at(m_records.size() % classes.size());
        r.encryptionKey = MbdbString::fromBytes(
            testsupport::wrapFileKey(m_classKeys.value(r.protectionClass), fileKey, r.protectionClass));
        data = testsupport::encryptBackupData(fileKey, bytes);
    }
    m_records.append(r);
    m_dataFiles.append(data);
}

void BackupFixture::addFilesBelow(const QString &domain, const QString &root)
{
    for (QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString file = it.next();
        addFile(domain, QDir(root).relativeFilePath(file), testsupport::readFile(file));
    }
}

QString BackupFixture::writeManifestDb(const QString &path) const
{
    const QString plain = m_classKeys.isEmpty() ? path : path + u".plain"_s;
    const QString error = testsupport::errorOf([&] {
        Sqlite3DB db;
        db.openThrow(plain, Sqlite3DB::ReadWrite | Sqlite3DB::Create);
        ManifestDb::createTables(db);
        // One transaction: a sync for every record made large backups take minutes.
        db.execThrow(u"BEGIN"_s);
        for (const MbdbRecord &r : m_records)
            ManifestDb::writeRecord(db, r);
        db.execThrow(u"COMMIT"_s);
    });
    if (!error.isEmpty() || plain == path)
        return error;
    const bool written = testsupport::writeFile(
        path, testsupport::encryptBackupData(manifestKey(), testsupport::readFile(plain)));
    QFile::remove(plain);
    return written ? QString() : u"cannot write Manifest.db"_s;
}

QString BackupFixture::write()
{
    const QDir dir(m_folder);
    for (qsizetype i = 0; i < m_records.size(); ++i) {
        QString name =
            BackupManifest::backupFileName(m_records.at(i).domain.text(), m_records.at(i).path.text());
        if (newerLayout)
            name = ManifestDb::dataFileName(name);
        if (!m_dataFiles.at(i).isNull() && !testsupport::writeFile(dir.filePath(name), m_dataFiles.at(i)))
            return u"cannot write "_s + name;
    }
    if (!testsupport::writeFile(dir.filePath(u"Manifest.plist"_s), manifestPlist()))
        return u"cannot write Manifest.plist"_s;
    if (newerLayout)
        return writeManifestDb(dir.filePath(u"Manifest.db"_s));
    QList<MbdbRecord> records = m_records;
    return testsupport::errorOf(
        [&] { BackupManifest::writeMbdb(records, dir.filePath(u"Manifest.mbdb"_s)); });
}

EncryptedBackupFixture::EncryptedBackupFixture(const QString &folder, const QByteArray &password, bool newer)
    : BackupFixture(folder)
{
    newerLayout = newer;
    for (quint32 protectionClass : {1u, 2u, 3u})
        m_classKeys.insert(protectionClass, testsupport::patternBytes(32, 90 + protectionClass));
    testsupport::KeyBagDerivation derivation;
    if (newer) {
        derivation.dpsl = QByteArrayLiteral("double protection salt");
        derivation.dpic = 20;
    }
    QList<testsupport::KeyBagClass> classes;
    for (auto it = m_classKeys.cbegin(); it != m_classKeys.cend(); ++it)
        classes.append({it.key(), it.value()});
    keyBag = testsupport::buildKeyBag(password, classes, derivation);
}

} // namespace fixtures
