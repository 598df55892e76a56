#pragma once

#include "itunes/BackupManifest.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// iTunes backup folders built in code. A BackupFixture collects entries in the
// terms a test thinks in, turns them into Manifest.mbdb records (records()) and
// then writes the folder (write()): Manifest.plist, Manifest.mbdb and a data file
// per file entry. The two steps are virtual so that a variant can wrap keys into
// the records and encrypt the data files.
namespace fixtures {

// One backed-up file, folder or link.
struct BackupEntry
{
    QString domain;
    QString path;
    QByteArray bytes;   // the contents, unless sourceFile is set
    QString sourceFile; // a file whose contents are backed up
    quint16 mode = 0100644;
    quint32 mtime = 0;
    bool folder = false;
    QString linkTarget;
};

// The values of Manifest.plist.
struct BackupDevice
{
    QString uniqueDeviceId = QStringLiteral("0123456789abcdef0123456789abcdef01234567");
    QString deviceName = QStringLiteral("Test iPhone");
    QString productType = QStringLiteral("iPhone6,2");
    QString productVersion = QStringLiteral("8.1.2");
    QString serialNumber = QStringLiteral("F2LN1234G5MN");
    QDateTime date = QDateTime(QDate(2015, 1, 20), QTime(9, 30, 15), Qt::UTC);
    bool encrypted = false;
    QByteArray keyBag;
};

enum class PlistFormat { Binary, Xml };

// Manifest.plist of the device values in the given form.
QByteArray manifestPlist(const BackupDevice &device, PlistFormat format);

class BackupFixture
{
public:
    // The backup is written into folder (made when missing).
    explicit BackupFixture(const QString &folder);
    virtual ~BackupFixture() = default;

    static constexpr quint32 kDefaultMtime = 1420000000; // 2014-12-31

    // The entry added, to adjust (a link target, say) before the next add.
    BackupEntry &addFile(const QString &domain, const QString &path, const QByteArray &bytes,
                         quint32 mtime = kDefaultMtime, quint16 mode = 0100644);
    BackupEntry &addFileFrom(const QString &domain, const QString &path, const QString &sourceFile,
                             quint32 mtime = kDefaultMtime, quint16 mode = 0100644);
    BackupEntry &addFolder(const QString &domain, const QString &path, quint32 mtime = kDefaultMtime);

    const QString &folder() const { return m_folder; }
    const QList<BackupEntry> &entries() const { return m_entries; }

    // The entries' records, in entry order.
    QList<MbdbRecord> records() const;
    // Writes the whole folder; false (with errorString()) when a file could not be written.
    bool write();
    const QString &errorString() const { return m_error; }

    BackupDevice device;
    PlistFormat plistFormat = PlistFormat::Binary;

protected:
    // Size, hash, times and inode of one entry; the key fields stay absent.
    virtual MbdbRecord makeRecord(const BackupEntry &entry, qsizetype index) const;
    // Writes one file entry's contents as the record's data file.
    virtual bool writeDataFile(const BackupEntry &entry, const MbdbRecord &record, const QString &dataPath);
    // The entry's contents (read from its source file when it has one).
    QByteArray contentsOf(const BackupEntry &entry) const;
    bool failed(const QString &error);

private:
    QString m_folder;
    QList<BackupEntry> m_entries;
    QString m_error;
};

// An encrypted backup: the key bag under password in Manifest.plist, each file
// under a key of its own, wrapped by the key of protection class 3.
class EncryptedBackupFixture : public BackupFixture
{
public:
    EncryptedBackupFixture(const QString &folder, const QByteArray &password);

protected:
    MbdbRecord makeRecord(const BackupEntry &entry, qsizetype index) const override;
    bool writeDataFile(const BackupEntry &entry, const MbdbRecord &record, const QString &dataPath) override;

private:
    QByteArray m_classKey;
};

} // namespace fixtures
