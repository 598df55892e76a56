#pragma once

#include "FileJournal.h"
#include "WorkerThread.h"

#include "viber/ViberData.h"
#include "viber/ViberMsgMerger.h"

#include <QDir>
#include <QList>
#include <QStringList>

// Copies messages (with their chats, participants, calls and attachment files)
// into a local database: the folder's store is created from the template when
// missing, messages already present are not written again, and everything the
// store gets is written in one transaction, so that a failure or a cancel leaves
// it as it was. Files it created before such an end are removed again.
class BackupViberMsgThread : public WorkerThread
{
    Q_OBJECT
public:
    // The messages are only read and must outlive the thread. They are copied
    // chat by chat, each chat's in date order.
    BackupViberMsgThread(const QList<_ViberMsg *> &messages, const QDir &databaseFolder,
                         QObject *parent = nullptr);
    ~BackupViberMsgThread() override;

    // What the last run that committed did with the records (calls count as messages too).
    struct Counts
    {
        qint64 inserted = 0, present = 0, skipped = 0, callsInserted = 0, callsPresent = 0;
    };
    const Counts &counts() const { return m_counts; }

    // The copy order (exposed for tests).
    const QList<_ViberMsg *> &messages() const { return m_messages; }

    // The success text of a run: what was written, what was there already, what
    // could not be written.
    static QString summary(const ViberMsgMerger &merger);

protected:
    QString work() override;
    void cleanUp(Outcome outcome) override;

private:
    Counts m_counts;
    void copyContactIcons(const _ViberChat *chat);
    // Copies the files of msg's attachment; returns the name they are kept under,
    // which for a new attachment differs from its own where that is another's.
    QString copyAttachmentFiles(const _ViberMsg *msg, qint64 attachmentKey, bool newAttachment);
    // The attachment's name, or "name (2)", "name (3)"... : the first under which this
    // store keeps the same file or none.
    QString ownFileName(const _ViberMsg *msg) const;
    // Where a picture's or video's preview is kept for a file of that name ("" for none).
    QString previewTarget(ViberMsgType type, const QString &fileName) const;

    QList<_ViberMsg *> m_messages;
    QDir m_folder;
    QString m_root;      // absolute path of m_folder
    FileJournal m_files; // what this run created, removed again when it ends early
};
