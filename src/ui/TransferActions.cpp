#include "TransferActions.h"

#include "LoadItunesBackupDlg.h"
#include "MessageBoxes.h"
#include "RunWorker.h"
#include "WindowContext.h"
#include "itunes/BackupManifest.h"
#include "workers/BackupTransfer.h"

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
    if (result.succeeded)
        showInfo(tr("IDS_SUC_TRANSFER_%1_MESSAGES_%2_CALLS").arg(result.messages).arg(result.calls), parent);
}
