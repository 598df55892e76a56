#pragma once

#include "device/MobileDevice.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <functional>

// Drives the device backup tool (libimobiledevice's idevicebackup2) as a child
// process: a backup of a device into the subfolder named by its identifier of a
// backup root, or the restore of that backup onto the device. Runs in the
// calling thread; every failure raises std::runtime_error with the tool's text.
class backup2tool
{
    Q_DECLARE_TR_FUNCTIONS(backup2tool)

public:
    enum Operation { Backup = 0, Restore = 1 };
    // The progress (0 to 99) and a line about it.
    using Progress = std::function<void(double percent, const QString &text)>;
    using CancelCheck = std::function<bool()>;

    backup2tool(MobileDeviceHandle device, const QString &udid, const QString &backupRoot);

    // The tool to run; the one on the search path unless set (tests set a stand-in).
    void setToolPath(const QString &path) { m_toolPath = path; }
    static QString defaultToolPath();

    // Runs the operation to its end. Progress follows the tool's own percentages
    // when it prints them, else the time passed against an estimate from the
    // device's used space. A cancel kills the tool and returns without error.
    // Raises "unknown backup2tool_op." for another code, and the tool's output
    // when it exits with a failure or its output says "error".
    void run(int operation, const Progress &progress = {}, const CancelCheck &cancelled = {});

    static QStringList arguments(int operation, const QString &udid, const QString &backupRoot);
    // The used megabytes from "com.apple.disk_usage"; 0 when the device does not say.
    static qint64 usedMegabytes(MobileDeviceHandle device);
    // Seconds a backup of that much takes, by experience: 60 when nothing is known.
    static qint64 estimateSeconds(qint64 usedMegabytes);

private:
    MobileDeviceHandle m_device;
    QString m_udid;
    QString m_backupRoot;
    QString m_toolPath;
};
