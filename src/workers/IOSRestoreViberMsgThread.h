#pragma once

#include "WorkerThread.h"

#include "device/Afc.h"
#include "itunes/BackupFileItem.h"
#include "viber/ViberData.h"

#include <QList>
#include <QSet>
#include <QString>

// Merges messages into a phone's Viber store for delivery to the phone, straight
// into Viber's container or through the phone's backup. It works on a copy of the store in the phone's cache
// folder: the message table, and the call tables when calls come, are rebuilt in date order so that keys
// ascend with time, each message once. The files to deliver (the store, attachments, the voice counter) are
// listed as backup items for the phone's backup. The cached store is replaced only by a working copy that is
// committed, passes the integrity check and reads back; a failure or cancel leaves the cache as it was.
class IOSViberDb;

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
    // files for a backup. The store goes up under a temporary name and takes its
    // place only when whole.
    void setDirect(MobileDeviceHandle device) { m_device = device; }

    qint64 messageCount() const { return m_messageCount; }
    qint64 callCount() const { return m_callCount; }
    // What to write into the phone's backup, valid after a successful run.
    const QList<BackupFileItem> &files() const { return m_files; }

    static constexpr const char *kViberDomain = "AppDomain-com.viber";

protected:
    QString work() override;
    void cleanUp(Outcome outcome) override;

private:
    struct Merge
    {
        QList<std::pair<qint64, const _ViberAtta *>> attachments; // new keys and their records
        qint64 phoneDuplicates = 0; // copies of one message among the phone's own rows
        bool anyCalls = false;
        // Conversations the merge wrote into; all of them when it rebuilt the store.
        QSet<qint64> chats;
        bool allChats = false;
    };
    // Both run the merge's transaction up to the files; the caller commits.
    Merge rebuildInto(IOSViberDb &work);
    Merge appendInto(IOSViberDb &work);

    void putFile(const QString &localPath, const QString &devicePath, bool overwrite);
    void deliverAttachment(qint64 key, const _ViberAtta &attachment);
    void writeVoiceCounter(qint64 highestNewKey);
    void upload(const QString &localPath, const QString &devicePath, bool overwrite);
    void deliverStore(const QString &store);

    QString m_viberFolder;
    QList<_ViberMsg *> m_messages;
    qint64 m_messageCount = 0;
    qint64 m_callCount = 0;
    QList<BackupFileItem> m_files;
    QString m_workingCopy;
    MobileDeviceHandle m_device = nullptr;
    AfcConnection m_container;
};
