#pragma once

#include "FileJournal.h"
#include "WorkerThread.h"

#include "viber/ViberData.h"

#include <QDir>
#include <QList>

// Copies the attachment files of messages into a folder, each named after its
// message's time ("atta_20140131-093000.jpg") and dated with it. Nothing is ever
// overwritten: a taken name gets a "(n)" variant. A cancel keeps what was copied;
// a failure removes it and names the file that could not be written. The run says
// how many files it extracted and how many were not in the source; when every
// attachment's file is missing it fails, leaving nothing behind.
class ExtractMediaFilesThread : public WorkerThread
{
    Q_OBJECT
public:
    // messages are only read and must outlive the thread.
    ExtractMediaFilesThread(const QList<_ViberMsg *> &messages, const QDir &folder,
                            QObject *parent = nullptr);
    ~ExtractMediaFilesThread() override;

    // The files written, in order.
    const QStringList &extractedFiles() const { return m_extracted; }
    // Attachments whose files were not in the source (not downloaded, or deleted).
    qint64 missingFiles() const { return m_missing; }

    // The file a message's attachment is extracted from and the name it gets
    // (before the unique-name rule); empty when it has nothing to extract.
    struct Source
    {
        QString path;
        QString name;
    };
    static Source sourceOf(const _ViberMsg *msg);
    // Whether the message has an attachment of a kind that has a file to extract.
    static bool hasExtractableAttachment(const _ViberMsg *msg);

protected:
    QString work() override;
    void cleanUp(Outcome outcome) override;

private:
    QList<_ViberMsg *> m_messages;
    QDir m_folder;
    FileJournal m_journal;
    QStringList m_extracted;
    qint64 m_missing = 0;
};
