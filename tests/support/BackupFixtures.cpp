#include "BackupFixtures.h"

#include "BackupCryptoFixtures.h"

#include "TestSupport.h"
#include "device/CFType.h"

#include <plist/plist.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace fixtures {

QByteArray manifestPlist(const BackupDevice &device, PlistFormat format)
{
    CFType lockdown = CFType::dictionary();
    lockdown.setValue(u"UniqueDeviceID"_s, CFType::fromString(device.uniqueDeviceId));
    lockdown.setValue(u"DeviceName"_s, CFType::fromString(device.deviceName));
    lockdown.setValue(u"ProductType"_s, CFType::fromString(device.productType));
    lockdown.setValue(u"ProductVersion"_s, CFType::fromString(device.productVersion));
    lockdown.setValue(u"SerialNumber"_s, CFType::fromString(device.serialNumber));
    CFType top = CFType::dictionary();
    top.setValue(u"Lockdown"_s, lockdown);
    top.setValue(u"Date"_s, CFType::fromDateTime(device.date));
    top.setValue(u"IsEncrypted"_s, CFType::fromBool(device.encrypted));
    if (device.encrypted)
        top.setValue(u"BackupKeyBag"_s, CFType::fromBytes(device.keyBag));
    if (format == PlistFormat::Xml)
        return top.toData();
    char *bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(top.node(), &bin, &length);
    const QByteArray result(bin, bin != nullptr ? qsizetype(length) : 0);
    plist_to_bin_free(bin);
    return result;
}

BackupFixture::BackupFixture(const QString &folder) : m_folder(QFileInfo(folder).absoluteFilePath()) {}

BackupEntry &BackupFixture::addFile(const QString &domain, const QString &path, const QByteArray &bytes,
                                    quint32 mtime, quint16 mode)
{
    BackupEntry entry;
    entry.domain = domain;
    entry.path = path;
    entry.bytes = bytes;
    entry.mtime = mtime;
    entry.mode = mode;
    m_entries.append(entry);
    return m_entries.last();
}

BackupEntry &BackupFixture::addFileFrom(const QString &domain, const QString &path, const QString &sourceFile,
                                        quint32 mtime, quint16 mode)
{
    BackupEntry &entry = addFile(domain, path, QByteArray(), mtime, mode);
    entry.sourceFile = sourceFile;
    return entry;
}

BackupEntry &BackupFixture::addFolder(const QString &domain, const QString &path, quint32 mtime)
{
    BackupEntry &entry = addFile(domain, path, QByteArray(), mtime, 040755);
    entry.folder = true;
    return entry;
}

QList<MbdbRecord> BackupFixture::records() const
{
    QList<MbdbRecord> result;
    result.reserve(m_entries.size());
    for (qsizetype i = 0; i < m_entries.size(); ++i)
        result.append(makeRecord(m_entries.at(i), i));
    return result;
}

MbdbRecord BackupFixture::makeRecord(const BackupEntry &entry, qsizetype index) const
{
    MbdbRecord r;
    r.domain = MbdbString::fromText(entry.domain);
    r.path = MbdbString::fromText(entry.path);
    if (!entry.linkTarget.isEmpty())
        r.linkTarget = MbdbString::fromText(entry.linkTarget);
    r.mode = entry.mode;
    r.inodeLow = quint32(1000 + index);
    r.uid = r.gid = 501;
    r.mtime = r.atime = r.ctime = entry.mtime;
    if (!entry.folder && entry.linkTarget.isEmpty()) {
        if (entry.sourceFile.isEmpty()) {
            r.size = quint64(entry.bytes.size());
            r.dataHash =
                MbdbString::fromBytes(QCryptographicHash::hash(entry.bytes, QCryptographicHash::Sha1));
        } else {
            r.size = quint64(QFileInfo(entry.sourceFile).size());
            r.dataHash = MbdbString::fromBytes(BackupManifest::fileSha1(entry.sourceFile));
        }
    }
    return r;
}

QByteArray BackupFixture::contentsOf(const BackupEntry &entry) const
{
    return entry.sourceFile.isEmpty() ? entry.bytes : testsupport::readFile(entry.sourceFile);
}

bool BackupFixture::writeDataFile(const BackupEntry &entry, const MbdbRecord &, const QString &dataPath)
{
    QFile::remove(dataPath);
    if (!entry.sourceFile.isEmpty()) {
        if (QFile::copy(entry.sourceFile, dataPath))
            return true;
        return failed(u"cannot copy %1 to %2"_s.arg(entry.sourceFile, dataPath));
    }
    return testsupport::writeFile(dataPath, entry.bytes) || failed(u"cannot write %1"_s.arg(dataPath));
}

bool BackupFixture::failed(const QString &error)
{
    m_error = error;
    return false;
}

bool BackupFixture::write()
{
    if (!QDir().mkpath(m_folder))
        return failed(u"cannot make %1"_s.arg(m_folder));
    const QDir dir(m_folder);
    QList<MbdbRecord> list = records();
    for (qsizetype i = 0; i < list.size(); ++i) {
        const BackupEntry &entry = m_entries.at(i);
        if (entry.folder || !entry.linkTarget.isEmpty())
            continue;
        const MbdbRecord &record = list.at(i);
        const QString dataPath = dir.filePath(BackupManifest::backupFileName(entry.domain, entry.path));
        if (!writeDataFile(entry, record, dataPath))
            return false;
    }
    if (!testsupport::writeFile(dir.filePath(u"Manifest.plist"_s), manifestPlist(device, plistFormat)))
        return failed(u"cannot write Manifest.plist"_s);
    try {
        BackupManifest::writeMbdb(list, dir.filePath(u"Manifest.mbdb"_s));
    } catch (const std::exception &e) {
        return failed(QString::fromUtf8(e.what()));
    }
    return true;
}

EncryptedBackupFixture::EncryptedBackupFixture(const QString &folder, const QByteArray &password)
    : BackupFixture(folder), m_classKey(testsupport::patternBytes(32, 99))
{
    device.encrypted = true;
    device.keyBag = testsupport::buildKeyBag(password, {{3, m_classKey}});
}

// A file's key follows from its name, so that its data file can be written later.
static QByteArray fileKeyOf(const BackupEntry &entry)
{
    return testsupport::patternBytes(32, quint32(qHash(entry.domain + u'-' + entry.path)));
}

MbdbRecord EncryptedBackupFixture::makeRecord(const BackupEntry &entry, qsizetype index) const
{
    MbdbRecord record = BackupFixture::makeRecord(entry, index);
    if (!entry.folder && entry.linkTarget.isEmpty()) {
        record.protectionClass = 3;
        record.encryptionKey =
            MbdbString::fromBytes(testsupport::wrapFileKey(m_classKey, fileKeyOf(entry), 3));
    }
    return record;
}

bool EncryptedBackupFixture::writeDataFile(const BackupEntry &entry, const MbdbRecord &,
                                           const QString &dataPath)
{
    QFile file(dataPath);
    const QByteArray data = testsupport::encryptBackupData(fileKeyOf(entry), contentsOf(entry));
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return failed(file.errorString());
    return true;
}

} // namespace fixtures
