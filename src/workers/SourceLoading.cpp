#include "SourceLoading.h"

#include "IOSLoadViberFromiTunesThread.h"
#include "LoadViberMsgThread.h"
#include "viber/PCViberDb.h"

ViberDataPtr SourceLoading::loadITunesBackup(BackupManifest &manifest, const Runner &run)
{
    const QString title = tr("IDS_LOADING_ITUNES_BACKUP_TITLE");
    IOSLoadViberFromiTunesThread copy(&manifest, QString());
    if (!run(copy, title))
        return {};
    // The cached copy is read like any store; previews are made there, in our cache.
    LoadViberMsgThread read(QDir(copy.viberCacheFolder()), copy.storeFileName());
    return run(read, title) ? read.data() : ViberDataPtr();
}

ViberDataPtr SourceLoading::loadViberDesktop(const QString &dbPath, const Runner &run)
{
    LoadViberMsgThread load(std::make_unique<PCViberDb>(dbPath), dbPath);
    return run(load, tr("IDS_LOADING_VIBER_DESKTOP")) ? load.data() : ViberDataPtr();
}
