#include "PhoneTransfer.h"

#include "IOSLoadViberFromiTunesThread.h"
#include "IOSLoadViberThread.h"
#include "IOSMergeWAFiles2iTunesBKThread.h"
#include "IOSMobileBackupThread.h"
#include "IOSMobileRestoreThread.h"
#include "IOSRestoreViberMsgThread.h"
#include "itunes/BackupLocations.h"
#include "itunes/BackupManifest.h"

#include <QDir>

PhoneTransfer::Loaded PhoneTransfer::load(const Phone &phone, const Host &host)
{
    Loaded result;
    const QString title = tr("IDS_LOADING_FROM_DEVICE_TITLE");
    IOSLoadViberThread direct(phone.handle, phone.udid);
    if (!host.run(direct, title))
        return result;
    if (!direct.needsBackup()) {
        if (direct.skippedAttachments() > 0)
            host.inform(tr("IDS_LOADED_SKIPPED_%n", nullptr, int(direct.skippedAttachments())));
        result.loaded = true;
        result.viberFolder = direct.rootFolder();
        return result;
    }
    // The backup route: the phone's backup, then its Viber files read out of it.
    result.throughBackup = true;
    result.backupRoot = BackupLocations::backupWorkFolder();
    IOSMobileBackupThread backup(phone.handle, phone.udid, phone.productVersion, result.backupRoot);
    if (!host.run(backup, title))
        return result;
    BackupManifest manifest(backup.backupFolder());
    try {
        manifest.loadManifestPlist();
    } catch (const std::exception &e) {
        host.fail(QString::fromUtf8(e.what()));
        return result;
    }
    if (manifest.isEncrypted() && !manifest.isUnlocked() && !host.unlock(manifest))
        return result;
    IOSLoadViberFromiTunesThread copy(&manifest, IOSLoadViberThread::deviceCacheFolder(phone.udid));
    if (!host.run(copy, title))
        return result;
    result.loaded = true;
    result.viberFolder = copy.viberCacheFolder();
    if (manifest.isEncrypted())
        result.privateFolder = copy.cacheFolder();
    return result;
}

PhoneTransfer::Setting PhoneTransfer::settingInTheWay(MobileDeviceHandle phone)
{
    CFType values;
    try {
        values =
            mobiledevice_copy_values(phone, {QString()}, QStringLiteral("com.apple.mobile.backup")).value(0);
    } catch (const std::exception &e) {
        qWarning("Could not read the backup settings of the phone: %s", e.what());
    }
    if (values.value(QStringLiteral("CloudBackupEnabled")).toBool())
        return Setting::ICloudBackup;
    if (values.value(QStringLiteral("WillEncrypt")).toBool())
        return Setting::BackupEncryption;
    return Setting::None;
}

PhoneTransfer::Transferred PhoneTransfer::transfer(const Phone &phone, const QList<_ViberMsg *> &messages,
                                                   const Host &host)
{
    Transferred result;
    const Loaded loaded = load(phone, host);
    if (!loaded.loaded)
        return result;
    const QString title = tr("IDS_TRANSFER_TITLE");
    IOSRestoreViberMsgThread merge(loaded.viberFolder, messages);
    if (!loaded.throughBackup)
        merge.setDirect(phone.handle);
    if (!host.run(merge, title))
        return result;
    if (loaded.throughBackup) {
        host.inform(tr("IDS_RESTORE_NOTES"));
        if (const Setting setting = settingInTheWay(phone.handle); setting != Setting::None) {
            host.settingInTheWay(setting);
            return result;
        }
        BackupManifest manifest(QDir(loaded.backupRoot).filePath(phone.udid));
        try {
            manifest.loadManifestPlist();
        } catch (const std::exception &e) {
            host.fail(QString::fromUtf8(e.what()));
            return result;
        }
        IOSMergeWAFiles2iTunesBKThread write(&manifest, merge.files());
        if (!host.run(write, title))
            return result;
        IOSMobileRestoreThread restore(phone.handle, phone.udid, loaded.backupRoot);
        if (!host.run(restore, title))
            return result;
    }
    result = {true, merge.messageCount(), merge.callCount()};
    return result;
}
