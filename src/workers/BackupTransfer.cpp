#include "BackupTransfer.h"

#include "IOSLoadViberFromiTunesThread.h"
#include "IOSMergeWAFiles2iTunesBKThread.h"
#include "IOSRestoreViberMsgThread.h"
#include "app/DataFolder.h"

#include <QDir>

QString BackupTransfer::cacheFolder(const BackupManifest &manifest)
{
    return dataFolder().filePath(QStringLiteral("ios_cache/virtual_") + manifest.cacheKey());
}

BackupTransfer::Result BackupTransfer::run(BackupManifest &manifest, const QList<_ViberMsg *> &messages,
                                           const SourceLoading::Runner &run)
{
    Result result;
    const QString cache = cacheFolder(manifest);
    // Nothing of an earlier run may mix into this one's store.
    QDir(cache).removeRecursively();
    const QString title = tr("IDS_EXPORT_TO_ITUNES_BACKUP_TITLE");
    IOSLoadViberFromiTunesThread load(&manifest, cache);
    // The messages join the phone's own store: a backup without one has nothing to join.
    if (run(load, title)) {
        IOSRestoreViberMsgThread merge(load.viberCacheFolder(), messages);
        if (run(merge, title)) {
            IOSMergeWAFiles2iTunesBKThread write(&manifest, merge.files());
            if (run(write, title))
                result = {true, merge.messageCount(), merge.callCount()};
        }
    }
    QDir(cache).removeRecursively();
    return result;
}
