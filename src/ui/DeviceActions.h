#pragma once

#include "workers/PhoneTransfer.h"

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
    using Result = PhoneTransfer::Loaded;
    static Result load(QWidget *parent, const IOSDeviceDesc &device);
    // The window's device loader: fills the description's path.
    static bool loadInto(QWidget *parent, IOSDeviceDesc &device);
    // The steps of loading and transferring behind the window's dialogs.
    static PhoneTransfer::Host host(QWidget *parent);
};
