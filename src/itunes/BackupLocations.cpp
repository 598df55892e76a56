#include "BackupLocations.h"

#include "BackupManifest.h"

#include "app/DataFolder.h"
#include "app/FileHelpers.h"
#include "app/Platform.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QStorageInfo>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace BackupLocations {

namespace {

const QString kWorkFolderName = u"__corvanta_iosbk_temp"_s;
const QString kRememberedRootFile = u"__corvanta_iosbk_temp.path"_s;
const QString kAddedFoldersFile = u"added_backup_folders.txt"_s;

QString readTextFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

bool writeTextFile(const QString &path, const QString &text)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0 && file.commit();
}

// Whether a folder can be made (and removed again) in the root.
bool canWriteIn(const QString &root)
{
    QDir dir(root);
    const QString name = u"__test%1"_s.arg(QDateTime::currentMSecsSinceEpoch());
    if (!dir.mkdir(name))
        return false;
    dir.rmdir(name);
    return true;
}

QString rememberedRoot()
{
    const QString text = readTextFile(dataFolder().filePath(kRememberedRootFile)).trimmed();
    const QFileInfo info(text);
    return !text.isEmpty() && info.isAbsolute() && info.isDir() ? QDir::cleanPath(text) : QString();
}

} // namespace

QList<StorageVolume> mountedVolumes()
{
    QList<StorageVolume> volumes;
    for (const QStorageInfo &info : QStorageInfo::mountedVolumes())
        volumes.append({info.rootPath(), QString::fromLocal8Bit(info.device()), info.fileSystemType(),
                        info.isValid(), info.isReady(), info.isReadOnly(), info.bytesAvailable()});
    return volumes;
}

QString itunesBackupFolder()
{
    return QDir(roamingProfileFolder()).filePath(u"Apple Computer/MobileSync/Backup"_s);
}

QStringList backupRootFolders()
{
    QStringList folders{itunesBackupFolder()};
#ifndef Q_OS_WIN
    // Where idevicebackup2 users keep theirs.
    const QString local = QDir::home().filePath(u".local/share/MobileSync/Backup"_s);
    if (QDir::cleanPath(local) != QDir::cleanPath(folders.first()))
        folders.append(local);
#endif
    return folders;
}

QStringList addedBackupFolders()
{
    QStringList folders;
    const QStringList lines = readTextFile(dataFolder().filePath(kAddedFoldersFile)).split(u'\n');
    for (const QString &line : lines)
        if (!line.trimmed().isEmpty())
            folders.append(line.trimmed());
    return folders;
}

void rememberAddedBackupFolder(const QString &folder)
{
    QStringList folders = addedBackupFolders();
    const QString clean = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    // One path per line: a name with a line break cannot be kept.
    if (folders.contains(clean) || clean.contains(u'\n') || clean.contains(u'\r'))
        return;
    folders.append(clean);
    writeTextFile(dataFolder().filePath(kAddedFoldersFile), folders.join(u'\n') + u'\n');
}

QStringList candidateBackupFolders(const QStringList &rootFolders, const QStringList &addedFolders)
{
    QList<QFileInfo> found;
    QSet<QString> seen;
    const auto take = [&](const QFileInfo &info) {
        const QString path = QDir::cleanPath(info.absoluteFilePath());
        if (!seen.contains(path) && BackupManifest::holdsBackup(QDir(path))) {
            seen.insert(path);
            found.append(info);
        }
    };
    const auto takeSubfolders = [&](const QString &folder) {
        const QFileInfoList subfolders =
            QDir(folder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
        for (const QFileInfo &info : subfolders)
            take(info);
    };
    for (const QString &root : rootFolders)
        takeSubfolders(root);
    for (const QString &added : addedFolders) {
        if (BackupManifest::holdsBackup(QDir(added)))
            take(QFileInfo(added));
        else
            takeSubfolders(added);
    }
    std::stable_sort(found.begin(), found.end(), [](const QFileInfo &a, const QFileInfo &b) {
        return a.lastModified() < b.lastModified();
    });
    QStringList paths;
    for (const QFileInfo &info : std::as_const(found))
        paths.append(QDir::cleanPath(info.absoluteFilePath()));
    return paths;
}

QStringList candidateBackupFolders()
{
    return candidateBackupFolders(backupRootFolders(), addedBackupFolders());
}

bool isLocalWritableVolume(const StorageVolume &volume)
{
    static const QList<QByteArray> pseudo{"tmpfs",    "devtmpfs", "ramfs", "overlay",
                                          "squashfs", "iso9660",  "udf",   "proc"};
    return volume.valid && volume.ready && !volume.readOnly && volume.device.startsWith(u"/dev/"_s) &&
           !pseudo.contains(volume.fileSystemType);
}

QString chooseWorkDriveRoot(const VolumeLister &volumes)
{
    const QString remembered = rememberedRoot();
    if (!remembered.isEmpty())
        return remembered;
    QString chosen = QDir::rootPath();
    // Unknown free space ranks below any known amount: a volume that cannot say
    // how much room it has should not win over one that has room.
    qint64 best = 0;
    bool found = false;
    for (const StorageVolume &volume : volumes()) {
        if (!isLocalWritableVolume(volume) || volume.bytesAvailable == 0 || !canWriteIn(volume.rootPath))
            continue;
        const qint64 space = volume.bytesAvailable < 0 ? -1 : volume.bytesAvailable;
        if (!found || space > best) {
            chosen = volume.rootPath;
            best = space;
            found = true;
        }
    }
    writeTextFile(dataFolder().filePath(kRememberedRootFile), chosen);
    return chosen;
}

QString backupWorkFolder(const VolumeLister &volumes)
{
    return QDir(chooseWorkDriveRoot(volumes)).filePath(kWorkFolderName);
}

void clearBackupWorkFolder()
{
    const QString root = rememberedRoot();
    if (!root.isEmpty())
        removeFolderTree(QDir(root).filePath(kWorkFolderName));
    QFile::remove(dataFolder().filePath(kRememberedRootFile));
}

} // namespace BackupLocations
