#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Where iTunes backups are looked for, and where the program's own device
// backups are written (a work folder on the local volume with the most room).

// One mounted file system, as far as the choice of the work folder needs it.
struct StorageVolume
{
    QString rootPath;
    QString device;
    QByteArray fileSystemType;
    bool valid = true;
    bool ready = true;
    bool readOnly = false;
    qint64 bytesAvailable = -1; // negative: unknown
};
using VolumeLister = std::function<QList<StorageVolume>()>;

namespace BackupLocations {

// The mounted volumes of the system (QStorageInfo).
QList<StorageVolume> mountedVolumes();

// iTunes' own backup folder: the roaming profile's "Apple Computer/MobileSync/Backup".
QString itunesBackupFolder();
// The folders whose subfolders are candidate backups: iTunes' folder and, off
// Windows, "~/.local/share/MobileSync/Backup"; existing or not.
QStringList backupRootFolders();

// Backup folders the user added by hand, as remembered in the data folder.
QStringList addedBackupFolders();
// Remembers a backup folder added by hand (once).
void rememberAddedBackupFolder(const QString &folder);

// Absolute paths of the folders holding both Manifest.mbdb and Manifest.plist:
// the subfolders of the root folders and the added folders (or their
// subfolders), each once, oldest first by modification time.
QStringList candidateBackupFolders(const QStringList &rootFolders, const QStringList &addedFolders);
QStringList candidateBackupFolders();

// Whether the volume is a writable local disk: valid, ready, not read-only, on a
// block device and no memory or image file system.
bool isLocalWritableVolume(const StorageVolume &volume);
// The root for the work folder: the remembered one when it is still an existing
// absolute folder; else the writable local volume (tested by making a folder in
// its root) with the most free space, which is then remembered; else the system
// root. The volumes are only listed when no remembered root holds.
QString chooseWorkDriveRoot(const VolumeLister &volumes = mountedVolumes);
// "__corvanta_iosbk_temp" in chooseWorkDriveRoot(); not created here.
QString backupWorkFolder(const VolumeLister &volumes = mountedVolumes);
// Deletes the work folder with its contents and forgets the chosen root.
void clearBackupWorkFolder();

} // namespace BackupLocations
