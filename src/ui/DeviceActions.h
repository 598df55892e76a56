#pragma once

#include "workers/PhoneTransfer.h"

#include <QCoreApplication>
#include <QObject>
#include <QString>

#include <functional>

class QWidget;
class WindowContext;
struct IOSDeviceDesc;
struct _IOSDeviceItemNode;

// Reading a connected iPhone's Viber data into its cache folder, behind progress
// dialogs: straight from Viber's container, or, when the phone keeps that to
// itself (current iOS does for App Store apps), through a backup of the phone.
class DeviceLoading
{
    Q_DECLARE_TR_FUNCTIONS(DeviceLoading)

public:
    using Result = PhoneTransfer::Loaded;
    static Result load(QWidget *parent, const IOSDeviceDesc &device);
    // The window's device loader: fills the description's path.
    static bool loadInto(QWidget *parent, IOSDeviceDesc &device);
    // The steps of loading and transferring behind the window's dialogs.
    static PhoneTransfer::Host host(QWidget *parent);
};

// The window's phones: attached ones come and go as the device library reports
// them, each read into its cache folder and shown as a source; stored copies are
// listed at start.
class DeviceController : public QObject
{
    Q_OBJECT
public:
    // Reads a connected device into a store copy: fills desc.path with the folder
    // holding "Documents/Contacts.data" and returns true, or tells the user why
    // not and returns false.
    using Loader = std::function<bool(QWidget *parent, IOSDeviceDesc &desc)>;
    // Hands a folder to the desktop; false when that failed.
    using FolderOpener = std::function<bool(const QString &path)>;

    DeviceController(WindowContext &window, FolderOpener opener, QObject *parent = nullptr);

    void setLoader(Loader loader) { m_loader = std::move(loader); }
    // Follows the device library's attach and detach events until stopWatching().
    void watch();
    void stopWatching();
    // Shows the stored copies of phones kept in the data folder, as devices without a connection.
    void addStoredPhones();
    // Reads a connected phone afresh after its store changed on the phone.
    void reload(_IOSDeviceItemNode *node);
    // Removes the selected phone or opened source from the tree.
    void closeSelected();
    // Hands the selected phone's cache folder to the desktop.
    void viewCacheFiles();

public slots:
    void iosDeviceConnected(void *handle);
    void iosDeviceDisconnected(void *handle);

private:
    WindowContext &m_window;
    FolderOpener m_opener;
    Loader m_loader;
    bool m_watching = false;
};
