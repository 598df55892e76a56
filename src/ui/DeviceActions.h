#pragma once

#include <QCoreApplication>
#include <QString>

class QWidget;
struct IOSDeviceDesc;

// Reading a connected iPhone's Viber data into its cache folder, behind progress
// dialogs: straight from Viber's container, or, when the phone keeps that to
// itself (current iOS does for App Store apps), through a backup of the phone.
class DeviceLoading
{
    Q_DECLARE_TR_FUNCTIONS(DeviceLoading)

public:
    struct Result
    {
        bool loaded = false;
        bool throughBackup = false;
        QString viberFolder; // the cached copy of Viber's container
        QString backupRoot;  // where the phone's backup lies, for the backup route
        // The cache folder, when it holds what was decrypted from an encrypted backup.
        QString privateFolder;
    };
    static Result load(QWidget *parent, const IOSDeviceDesc &device);
    // The window's device loader: fills the description's path.
    static bool loadInto(QWidget *parent, IOSDeviceDesc &device);
};
