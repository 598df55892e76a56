#include "TransferActions.h"

#include "DataSourceSelForm.h"
#include "DeviceActions.h"
#include "LoadItunesBackupDlg.h"
#include "MessageBoxes.h"
#include "RunWorker.h"
#include "WindowContext.h"
#include "device/MobileDevice.h"
#include "itunes/BackupManifest.h"
#include "workers/BackupTransfer.h"
#include "workers/IOSMergeWAFiles2iTunesBKThread.h"
#include "workers/IOSMobileBackupThread.h"
#include "workers/IOSRestoreViberMsgThread.h"

#include <QDir>

void TransferController::exportToITunesBackup(ActionScope scope)
{
    QWidget *parent = m_window.dialogParent();
    const QList<_ViberMsg *> messages = m_window.scopeMessages(scope);
    if (messages.isEmpty())
        return;
    LoadItunesBackupDlg choice(parent);
    if (choice.exec() != QDialog::Accepted || !choice.selectedManifest())
        return;
    BackupManifest &manifest = *choice.selectedManifest();
    // Its files would need keys only the phone holds.
    if (manifest.isEncrypted()) {
        showWarning(tr("IDS_EXPORT_TO_ENCRYPTED_BACKUP"), parent);
        return;
    }
    const BackupTransfer::Result result =
        BackupTransfer::run(manifest, messages, [parent](WorkerThread &worker, const QString &title) {
            return runWorker(parent, &worker, title);
        });
    if (result.succeeded) {
        QString done = tr("IDS_SUC_TRANSFER_%1_MESSAGES_%2_CALLS").arg(result.messages).arg(result.calls);
        if (!manifest.recoveredText().isEmpty())
            done = manifest.recoveredText() + QStringLiteral("<br/><br/>") + done;
        showInfo(done, parent);
    }
}

bool TransferController::preCheckBackupSettings(void *device, bool checkICloud, bool checkEncryption,
                                                QWidget *parent)
{
    CFType values;
    try {
        values =
            mobiledevice_copy_values(device, {QString()}, QStringLiteral("com.apple.mobile.backup")).value(0);
    } catch (const std::exception &e) {
        qWarning("preCheckBackupSettings: %s", e.what());
    }
    const auto warn = [&](const char *text, const char *picture) {
        showWarning(QStringLiteral("%1<br/><br/><img src=\"%2\"/>").arg(tr(text), QLatin1String(picture)),
                    parent);
        return false;
    };
    if (checkICloud && values.value(QStringLiteral("CloudBackupEnabled")).toBool())
        return warn("IDS_TURN_OFF_ICLOUD_BACKUP", ":/res/close_icloudbk.jpg");
    if (checkEncryption && values.value(QStringLiteral("WillEncrypt")).toBool())
        return warn("IDS_TURN_OFF_BACKUP_ENCRYPTION", ":/res/close_itunesbkenc.jpg");
    return true;
}

void TransferController::transferToIPhone(ActionScope scope)
{
    QWidget *parent = m_window.dialogParent();
    const QList<_ViberMsg *> messages = m_window.scopeMessages(scope);
    if (messages.isEmpty())
        return;
    // Any connected phone but the one whose messages these are.
    const _AbsDBItemNode *source = m_window.selectedSource();
    QList<_IOSDeviceItemNode *> phones;
    for (_IOSDeviceItemNode *node : m_window.treeModel()->deviceNodes())
        if (node->desc.handle && node != source)
            phones.append(node);
    if (phones.isEmpty())
        return;
    QList<DataSourceSelForm::Item> items;
    for (const _IOSDeviceItemNode *node : std::as_const(phones))
        items.append({QIcon(QStringLiteral(":/res/iphone.png")), node->desc.name});
    const int chosen =
        phones.size() == 1 ? 0 : DataSourceSelForm::choose(tr("IDS_SEL_ONE_IOS_DEVICE"), items, parent);
    if (chosen < 0)
        return;
    _IOSDeviceItemNode *phone = phones.at(chosen);
    const IOSDeviceDesc device = phone->desc;
    showInfo(tr("IDS_BEFORE_RESTORE_VIBER_KILL_VIBER_FIRST") +
                 QStringLiteral("<br/><br/><img src=\":/res/kill_viber.png\">"),
             parent);
    const DeviceLoading::Result loaded = DeviceLoading::load(parent, device);
    if (!loaded.loaded)
        return;
    const QString title = tr("IDS_TRANSFER_TITLE");
    IOSRestoreViberMsgThread merge(loaded.viberFolder, messages);
    if (!loaded.throughBackup)
        merge.setDirect(device.handle);
    if (!runWorker(parent, &merge, title))
        return;
    const QString done =
        tr("IDS_SUC_TRANSFER_%1_MESSAGES_%2_CALLS").arg(merge.messageCount()).arg(merge.callCount());
    if (loaded.throughBackup) {
        showInfo(tr("IDS_RESTORE_NOTES"), parent);
        if (!preCheckBackupSettings(device.handle, true, true, parent))
            return;
        BackupManifest manifest(QDir(loaded.backupRoot).filePath(device.udid));
        try {
            manifest.loadManifestPlist();
        } catch (const std::exception &e) {
            reportError(QString::fromUtf8(e.what()), parent);
            return;
        }
        IOSMergeWAFiles2iTunesBKThread write(&manifest, merge.files());
        if (!runWorker(parent, &write, title))
            return;
        IOSMobileRestoreThread restore(device.handle, device.udid, loaded.backupRoot);
        if (!runWorker(parent, &restore, title))
            return;
    }
    showInfo(done, parent);
    m_window.reloadDevice(phone);
}
