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
    // The cached copy is read like any store; previews are made there, in our cache,
    // except in an encrypted backup's, where the copy made every preview it could, privately.
    LoadViberMsgThread read(QDir(copy.viberCacheFolder()), copy.storeFileName());
    read.setMakePreviews(!manifest.isEncrypted());
    if (!run(read, title))
        return {};
    // Decrypted files stay while their records are in use, and go with the last of them.
    const ViberDataPtr data = read.data();
    if (data)
        data->filesLease = copy.cacheLease();
    return data;
}

ViberDataPtr SourceLoading::loadViberDesktop(const QString &dbPath, const Runner &run)
{
    LoadViberMsgThread load(std::make_unique<PCViberDb>(dbPath), dbPath);
    return run(load, tr("IDS_LOADING_VIBER_DESKTOP")) ? load.data() : ViberDataPtr();
}
