#pragma once

#include "WorkerThread.h"

#include "BackupItems.h"
#include "device/MobileDevice.h"
#include "viber/ViberData.h"

#include <QList>
#include <QString>

// Merges messages into a phone's Viber store for delivery to the phone, straight
// into Viber's container or through the phone's backup. It works on a copy of the
// store in the phone's cache folder (PhoneStoreMerge); the files to deliver (the
// store, attachments, the voice counter) go up at once (ContainerUpload) or are
// listed as backup items (BackupItems). The cached store is replaced only by a
// working copy that is committed, passes the integrity check and reads back; a
// failure or cancel leaves the cache as it was.
class IOSRestoreViberMsgThread : public WorkerThread
{
    Q_OBJECT
public:
    // viberFolder: the cached copy of Viber's container, its store in
    // "Documents/Contacts.data". messages are only read and must outlive the run.
    IOSRestoreViberMsgThread(const QString &viberFolder, const QList<_ViberMsg *> &messages,
                             QObject *parent = nullptr);
    ~IOSRestoreViberMsgThread() override;

    // Delivers straight into Viber's container on the device instead of listing
    // files for a backup.
    void setDirect(MobileDeviceHandle device) { m_device = device; }

    qint64 messageCount() const { return m_messageCount; }
    qint64 callCount() const { return m_callCount; }
    // What to write into the phone's backup, valid after a successful run.
    const QList<BackupFileItem> &files() const { return m_backupItems.items(); }

    static constexpr const char *kViberDomain = BackupItems::kViberDomain;

protected:
    QString work() override;
    void cleanUp(Outcome outcome) override;

private:
    QString m_viberFolder;
    QList<_ViberMsg *> m_messages;
    qint64 m_messageCount = 0;
    qint64 m_callCount = 0;
    BackupItems m_backupItems;
    QString m_workingCopy;
    MobileDeviceHandle m_device = nullptr;
};
