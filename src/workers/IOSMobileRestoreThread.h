#pragma once

#include "WorkerThread.h"

#include "device/Backup2Tool.h"

#include <QString>

// Puts a changed backup back onto the phone with the backup tool.
class IOSMobileRestoreThread : public WorkerThread
{
    Q_OBJECT
public:
    IOSMobileRestoreThread(MobileDeviceHandle device, const QString &udid, const QString &backupRoot,
                           QObject *parent = nullptr);
    ~IOSMobileRestoreThread() override;

    backup2tool &tool() { return m_tool; }
    // The sentence for what the tool said when a restore failed (rich text).
    static QString restoreErrorText(const QString &toolText);

protected:
    QString work() override;

private:
    backup2tool m_tool;
};
