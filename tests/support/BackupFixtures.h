#pragma once

#include "itunes/BackupManifest.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>

namespace fixtures {

inline const QDateTime kBackupDate(QDate(2015, 1, 20), QTime(9, 30, 15), Qt::UTC);

// An iTunes backup folder: Manifest.plist, the index (Manifest.mbdb; newerLayout: Manifest.db,
// encrypted with its own key when the backup is, data files in sub-folders) and the data files.
class BackupFixture
{
public:
    explicit BackupFixture(const QString &folder);
    // Null bytes make a folder record.
    void addFile(const QString &domain, const QString &path, const QByteArray &bytes,
                 quint32 mtime = 1420000000);
    void addFolder(const QString &domain, const QString &path) { addFile(domain, path, QByteArray()); }
    // Every file below root, under domain at its path from root.
    void addFilesBelow(const QString &domain, const QString &root);
    // Manifest.plist: device "Test iPhone", an iPhone6,2 on 8.1.2, serial F2LN1234G5MN, kBackupDate.
    QByteArray manifestPlist() const;
    // Writes the folder; the error, "" when all was written.
    QString write();
    const QString &folder() const { return m_folder; }

    QString udid = QStringLiteral("0123456789abcdef0123456789abcdef01234567");
    QByteArray keyBag; // set: the backup is encrypted
    bool xml = false;
    bool newerLayout = false;

protected:
    static QByteArray manifestKey() { return QByteArrayLiteral("key of Manifest.db, 32 bytes ..."); }
    // Set: data files encrypted, each key wrapped by its class's; classes take turns, as real backups mix
    // them.
    QMap<quint32, QByteArray> m_classKeys;

private:
    QString writeManifestDb(const QString &path) const;

    QString m_folder;
    QList<MbdbRecord> m_records;
    QList<QByteArray> m_dataFiles; // null for a folder
};

// An encrypted backup, its key bag under password; a newer one derives as iOS 10.2 on does (few rounds).
class EncryptedBackupFixture : public BackupFixture
{
public:
    EncryptedBackupFixture(const QString &folder, const QByteArray &password, bool newer = false);
};

} // namespace fixtures
