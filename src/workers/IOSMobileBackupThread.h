#pragma once

#include "WorkerThread.h"

#include "device/Backup2Tool.h"

#include <QString>

// The device's data through a backup: a backup of the phone into
// "<backup root>/<udid>" (incremental while the folder holds a finished backup of
// the same iOS version, full otherwise), for the Viber files to be read out of it.
class IOSMobileBackupThread : public WorkerThread
{
    Q_OBJECT
public:
    IOSMobileBackupThread(MobileDeviceHandle device, const QString &udid, const QString &productVersion,
                          const QString &backupRoot, QObject *parent = nullptr);
    ~IOSMobileBackupThread() override;

    backup2tool &tool() { return m_tool; }
    QString backupFolder() const;
    // Whether the folder holds a finished backup of a phone on productVersion.
    static bool isReusable(const QString &folder, const QString &productVersion);
    // The sentence for what the tool said when a backup failed (rich text).
    static QString errorText(const QString &toolText);

protected:
    QString work() override;

private:
    QString m_udid;
    QString m_productVersion;
    QString m_backupRoot;
    backup2tool m_tool;
};
