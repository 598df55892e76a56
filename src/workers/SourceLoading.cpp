#include "SourceLoading.h"

#include "IOSLoadViberFromiTunesThread.h"
#include "LoadViberMsgThread.h"
#include "itunes/BackupManifest.h"
#include "viber/PCViberDb.h"

using namespace Qt::StringLiterals;

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
    ViberDataPtr data = read.data();
    if (data) {
        // Decrypted files stay while their records are in use, and go with the last of them.
        data->filesLease = copy.cacheLease();
        // The account tells of the backup, whose store the copy is.
        const bool db = manifest.layout() == BackupManifest::Layout::ManifestDb;
        data->account.layout.prepend(
            tr("IDS_LAYOUT_BACKUP_%1_%2")
                .arg(db ? u"Manifest.db"_s : u"Manifest.mbdb"_s,
                     manifest.isEncrypted() ? tr("IDS_LAYOUT_ENCRYPTED") : tr("IDS_LAYOUT_NOT_ENCRYPTED")));
        data->account.source = QDir::toNativeSeparators(manifest.folder().absolutePath());
        if (!manifest.recoveredText().isEmpty())
            data->account.notes.append(manifest.recoveredText());
    }
    return data;
}

ViberDataPtr SourceLoading::loadViberDesktop(const QString &dbPath, const Runner &run)
{
    LoadViberMsgThread load(std::make_unique<PCViberDb>(dbPath), dbPath);
    return run(load, tr("IDS_LOADING_VIBER_DESKTOP")) ? load.data() : ViberDataPtr();
}
