#include "DeviceActions.h"

#include "ItemModelMain.h"
#include "MessageBoxes.h"
#include "PasscodeDlg.h"
#include "RunWorker.h"
#include "itunes/BackupLocations.h"
#include "itunes/BackupManifest.h"
#include "workers/IOSLoadViberFromiTunesThread.h"
#include "workers/IOSLoadViberThread.h"
#include "workers/IOSMobileBackupThread.h"

#include <QDir>

DeviceLoading::Result DeviceLoading::load(QWidget *parent, const IOSDeviceDesc &device)
{
    Result result;
    const QString title = tr("IDS_LOADING_FROM_DEVICE_TITLE");
    IOSLoadViberThread direct(device.handle, device.udid);
    if (!runWorker(parent, &direct, title))
        return result;
    if (!direct.needsBackup()) {
        if (direct.skippedAttachments() > 0)
            showInfo(tr("IDS_LOADED_SKIPPED_%1").arg(direct.skippedAttachments()), parent);
        result.loaded = true;
        result.viberFolder = direct.rootFolder();
        return result;
    }
    // The backup route: the phone's backup, then its Viber files read out of it.
    result.throughBackup = true;
    result.backupRoot = BackupLocations::backupWorkFolder();
    IOSMobileBackupThread backup(device.handle, device.udid, device.productVersion, result.backupRoot);
    if (!runWorker(parent, &backup, title))
        return result;
    BackupManifest manifest(backup.backupFolder());
    try {
        manifest.loadManifestPlist();
    } catch (const std::exception &e) {
        reportError(QString::fromUtf8(e.what()), parent);
        return result;
    }
    if (manifest.isEncrypted() && !manifest.isUnlocked()) {
        PasscodeDlg password(&manifest, parent);
        if (password.exec() != QDialog::Accepted)
            return result;
    }
    IOSLoadViberFromiTunesThread copy(&manifest, IOSLoadViberThread::deviceCacheFolder(device.udid));
    if (!runWorker(parent, &copy, title))
        return result;
    result.loaded = true;
    result.viberFolder = copy.viberCacheFolder();
    if (manifest.isEncrypted())
        result.privateFolder = copy.cacheFolder();
    return result;
}

bool DeviceLoading::loadInto(QWidget *parent, IOSDeviceDesc &device)
{
    const Result result = load(parent, device);
    if (result.loaded) {
        device.path = result.viberFolder;
        device.privateFolder = result.privateFolder;
    }
    return result.loaded;
}
