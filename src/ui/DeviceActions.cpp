#include "DeviceActions.h"

#include "ItemModelMain.h"
#include "MessageBoxes.h"
#include "PasscodeDlg.h"
#include "RunWorker.h"
#include "itunes/BackupManifest.h"

#include <QDir>

PhoneTransfer::Host DeviceLoading::host(QWidget *parent)
{
    PhoneTransfer::Host host;
    host.run = [parent](WorkerThread &worker, const QString &title) {
        return runWorker(parent, &worker, title);
    };
    host.unlock = [parent](BackupManifest &manifest) {
        PasscodeDlg password(&manifest, parent);
        return password.exec() == QDialog::Accepted;
    };
    host.inform = [parent](const QString &text) { showInfo(text, parent); };
    host.fail = [parent](const QString &text) { reportError(text, parent); };
    host.settingInTheWay = [parent](PhoneTransfer::Setting setting) {
        const bool iCloud = setting == PhoneTransfer::Setting::ICloudBackup;
        showWarning(QStringLiteral("%1<br/><br/><img src=\"%2\"/>")
                        .arg(iCloud ? tr("IDS_TURN_OFF_ICLOUD_BACKUP") : tr("IDS_TURN_OFF_BACKUP_ENCRYPTION"),
                             iCloud ? QStringLiteral(":/res/close_icloudbk.jpg")
                                    : QStringLiteral(":/res/close_itunesbkenc.jpg")),
                    parent);
    };
    return host;
}

DeviceLoading::Result DeviceLoading::load(QWidget *parent, const IOSDeviceDesc &device)
{
    return PhoneTransfer::load({device.handle, device.udid, device.productVersion}, host(parent));
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
