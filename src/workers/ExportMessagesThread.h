#pragma once

#include "FileJournal.h"
#include "WorkerThread.h"

#include "viber/ViberData.h"

#include <QList>

// Writes messages to files: one text or CSV file for all, or a folder with one
// PDF or HTML page for each chat (HTML with an index page and a "files" folder).
// JSON goes to a folder with a document for each chat, or, when the path ends
// in ".json", into one file listing them.
// A failed or cancelled export leaves nothing of its own behind; files that were
// in a chosen folder before stay untouched.
class ExportMessagesThread : public WorkerThread
{
    Q_OBJECT
public:
    enum Format { Text = 0, Csv = 1, Pdf = 2, Html = 3, Json = 4 };

    // messages are only read and must outlive the thread; outputPath is the file
    // (text, CSV) or the folder (PDF, HTML).
    ExportMessagesThread(const QList<_ViberMsg *> &messages, const QString &outputPath, int format,
                         QObject *parent = nullptr);
    ~ExportMessagesThread() override;

    qint64 exportedCount() const { return m_exported; }
    // The chat pages or files written, in order (PDF, HTML).
    const QStringList &chatFiles() const { return m_chatFiles; }

    // The name of a chat's file: its participants' labels made a safe name, cut
    // to a length every file system takes; "chat-<id>" when nothing is left.
    static QString chatFileBaseName(const _ViberChat *chat);

protected:
    QString work() override;
    void cleanUp(Outcome outcome) override;

private:
    QList<_ViberMsg *> m_messages;
    QString m_outputPath;
    int m_format;
    FileJournal m_journal;
    qint64 m_exported = 0;
    QStringList m_chatFiles;
};
