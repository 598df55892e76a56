#include "DeviceActions.h"

#include "ItemModelMain.h"
#include "MessageBoxes.h"
#include "PasscodeDlg.h"
#include "RunWorker.h"
#include "WindowContext.h"
#include "app/DataFolder.h"
#include "device/MobileDevice.h"
#include "itunes/BackupManifest.h"
#include "viber/LocalDatabases.h"

#include <QDir>
#include <QFileInfo>

#include <exception>

namespace {

constexpr const char *kVirtualDevicesFolder = "virtual_ios";
constexpr const char *kDeviceStoreFile = "Documents/Contacts.data";

} // namespace

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

DeviceController::DeviceController(WindowContext &window, FolderOpener opener, QObject *parent)
    : QObject(parent), m_window(window), m_opener(std::move(opener)), m_loader(&DeviceLoading::loadInto)
{
}

void DeviceController::watch()
{
    try {
        mobiledevice_subscribe(this, "iosDeviceConnected", "iosDeviceDisconnected");
        m_watching = true;
    } catch (const std::exception &e) {
        // Backups and local databases still work; the log says why devices do not.
        qWarning("Cannot watch for devices: %s", e.what());
    }
}

void DeviceController::stopWatching()
{
    if (m_watching)
        mobiledevice_unsubscribe();
    m_watching = false;
}

void DeviceController::addStoredPhones()
{
    ItemModelMain *model = m_window.treeModel();
    const QDir virtualRoot(dataFolder().filePath(QLatin1String(kVirtualDevicesFolder)));
    const QStringList folders = virtualRoot.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &folder : folders) {
        IOSDeviceDesc desc;
        desc.name = folder;
        desc.udid = virtualRoot.filePath(folder);
        desc.path = desc.udid;
        _IOSDeviceItemNode *node = model->addDeviceNode(desc);
        const QDir root(desc.path);
        const QString fileName = root.exists(QLatin1String(LocalDatabases::kStoreFileName))
                                     ? QLatin1String(LocalDatabases::kStoreFileName)
                                     : QLatin1String(kDeviceStoreFile);
        m_window.loadSource(node, root, fileName, true);
    }
    m_window.expand(model->rootDevice());
}

void DeviceController::iosDeviceConnected(void *handle)
{
    ItemModelMain *model = m_window.treeModel();
    QWidget *parent = m_window.dialogParent();
    if (model->findDevice(handle))
        return;
    IOSDeviceDesc desc;
    desc.handle = handle;
    try {
        const QList<CFType> values = mobiledevice_copy_values(
            handle, {QStringLiteral("ProductType"), QStringLiteral("ProductVersion"),
                     QStringLiteral("MobileSubscriberCountryCode"), QStringLiteral("DeviceName"),
                     QStringLiteral("UniqueDeviceID")});
        auto text = [&](int i) { return i < values.size() ? values.at(i).toString() : QString(); };
        desc.productType = text(0);
        desc.productVersion = text(1);
        desc.countryCode = text(2);
        desc.name = text(3);
        desc.udid = text(4);
    } catch (const std::exception &e) {
        reportError(QString::fromUtf8(e.what()), parent);
        return;
    }
    if (desc.udid.isEmpty())
        desc.udid = mobiledevice_udid(handle);
    if (desc.name.isEmpty())
        desc.name = desc.productType.isEmpty() ? QStringLiteral("iPhone") : desc.productType;
    qDebug("Device attached: %s (%s, iOS %s)", qUtf8Printable(desc.name), qUtf8Printable(desc.productType),
           qUtf8Printable(desc.productVersion));

    if (!m_loader) {
        showWarning(tr("IDS_DEVICE_LOADING_UNAVAILABLE_%1").arg(desc.name.toHtmlEscaped()), parent);
        return;
    }
    showInfo(tr("IDS_DEVICE_CONNECTED_NOTES"), parent);
    if (!m_loader(parent, desc))
        return;
    // The device may have gone while it was read.
    if (!mobiledevice_is_attached(handle) || model->findDevice(handle))
        return;
    _IOSDeviceItemNode *node = model->addDeviceNode(desc);
    m_window.expand(model->rootDevice());
    if (m_window.loadSource(node, QDir(desc.path), QLatin1String(kDeviceStoreFile), true))
        m_window.showSource(node);
    m_window.updateActions();
}

void DeviceController::iosDeviceDisconnected(void *handle)
{
    m_window.removeSourceNode(m_window.treeModel()->findDevice(handle));
}

void DeviceController::reload(_IOSDeviceItemNode *node)
{
    void *handle = node->desc.handle;
    m_window.removeSourceNode(node);
    if (handle && mobiledevice_is_attached(handle))
        iosDeviceConnected(handle);
}

void DeviceController::closeSelected()
{
    AbsTreeItemModel::_ItemNode *node = m_window.selectedNode();
    if (node && (node->kind == ItemNodeIOSDevice || node->kind == ItemNodeOpened))
        m_window.removeSourceNode(static_cast<_AbsDBItemNode *>(node));
}

void DeviceController::viewCacheFiles()
{
    AbsTreeItemModel::_ItemNode *node = m_window.selectedNode();
    if (!node || node->kind != ItemNodeIOSDevice)
        return;
    const QString folder = static_cast<_IOSDeviceItemNode *>(node)->desc.path;
    if (folder.isEmpty() || !QFileInfo(folder).isDir() || !m_opener(folder))
        showWarning(tr("IDS_CAN_NOT_OPEN_FOLDER_%1").arg(QDir::toNativeSeparators(folder).toHtmlEscaped()),
                    m_window.dialogParent());
}
