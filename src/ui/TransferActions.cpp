#include "TransferActions.h"

#include "DataSourceSelForm.h"
#include "DeviceActions.h"
#include "LoadItunesBackupDlg.h"
#include "MessageBoxes.h"
#include "RunWorker.h"
#include "ScopeChoice.h"
#include "WindowContext.h"
#include "app/Plurals.h"
#include "device/MobileDevice.h"
#include "itunes/BackupManifest.h"
#include "workers/BackupTransfer.h"
#include "workers/PhoneTransfer.h"

#include <QDir>

void TransferController::exportToITunesBackup(ActionScope scope)
{
    QWidget *parent = m_window.dialogParent();
    const std::optional<ScopeChoice::Chosen> taken =
        ScopeChoice::askMessages(m_window, scope, "IDS_MI_EXPORT_TO_ITUNES_ALL");
    if (!taken)
        return;
    const ScopeNote note(taken->option.text);
    const QList<_ViberMsg *> &messages = taken->messages;
    LoadItunesBackupDlg choice(parent, LoadItunesBackupDlg::Purpose::Write);
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
        QString done = tr("IDS_SUC_WRITE_BACKUP_%1_AND_%2")
                           .arg(Plurals::messages(result.messages), Plurals::calls(result.calls));
        if (!manifest.recoveredText().isEmpty())
            done = manifest.recoveredText() + QStringLiteral("<br/><br/>") + done;
        showInfo(ScopeNote::decorate(done), parent);
    }
}

void TransferController::transferToIPhone(ActionScope scope)
{
    QWidget *parent = m_window.dialogParent();
    // Any connected phone but the one whose messages these are.
    const _AbsDBItemNode *source = m_window.selectedSource();
    QList<_IOSDeviceItemNode *> phones;
    for (_IOSDeviceItemNode *node : m_window.treeModel()->deviceNodes())
        if (node->desc.handle && node != source)
            phones.append(node);
    // An action reached without a phone to take the messages says so rather than nothing.
    if (phones.isEmpty()) {
        showWarning(tr("IDS_NO_PHONE_TO_TRANSFER_INTO"), parent);
        return;
    }
    QList<DataSourceSelForm::Item> items;
    for (const _IOSDeviceItemNode *node : std::as_const(phones))
        items.append({QIcon(QStringLiteral(":/res/iphone.png")), node->desc.name});
    const int chosen =
        phones.size() == 1 ? 0 : DataSourceSelForm::choose(tr("IDS_SEL_ONE_IOS_DEVICE"), items, parent);
    if (chosen < 0)
        return;
    _IOSDeviceItemNode *phone = phones.at(chosen);
    const std::optional<ScopeChoice::Chosen> taken = ScopeChoice::askMessages(
        m_window, scope,
        source && source->kind == ItemNodeLocalDb ? "IDS_MI_DB2I_TOOLBAR" : "IDS_MI_I2I_TOOLBAR");
    if (!taken)
        return;
    const ScopeNote note(taken->option.text);
    const QList<_ViberMsg *> &messages = taken->messages;
    const IOSDeviceDesc device = phone->desc;
    showInfo(tr("IDS_BEFORE_RESTORE_VIBER_KILL_VIBER_FIRST") +
                 QStringLiteral("<br/><br/><img src=\":/res/kill_viber.png\">"),
             parent);
    const PhoneTransfer::Transferred result = PhoneTransfer::transfer(
        {device.handle, device.udid, device.productVersion}, messages, DeviceLoading::host(parent));
    if (!result.succeeded)
        return;
    const QString done = tr("IDS_SUC_TRANSFER_%1_AND_%2")
                             .arg(Plurals::messages(result.messages), Plurals::calls(result.calls));
    showInfo(ScopeNote::decorate(done), parent);
    m_window.reloadDevice(phone);
}
