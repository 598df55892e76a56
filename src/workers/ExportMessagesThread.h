#pragma once

#include "FileJournal.h"
#include "WorkerThread.h"

#include "viber/ViberData.h"

#include <QList>
#include <QSet>

// Writes messages to files: one text or CSV file for all, or a folder with one
// PDF or HTML page for each chat (HTML with an index page and a "files" folder).
// JSON goes to a folder with a document for each chat, or, when the path ends
// in ".json", into one file listing them; PDF to a path ending in ".pdf" makes
// one file, each chat starting on a new page.
// An export never writes over what is there unless told to: a file at the path,
// or a folder that holds anything, is refused. A folder is made under a
// temporary name beside it (".name.chatwharf-part") and takes its name only when
// complete, so that a run killed midway leaves nothing that looks whole. A failed
// or cancelled export leaves nothing of its own behind.
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

    // Set before start(): the file at the path is replaced, or the export's files
    // go into the folder among those there, replacing those of the same names.
    void setReplaceExisting(bool replace) { m_replace = replace; }

    // Whether the format writes a folder (HTML; PDF and JSON to a path not ending in
    // ".pdf" or ".json").
    static bool writesFolder(int format, const QString &outputPath);
    // Whether an output may go to path without touching anything: nothing is
    // there, or an empty folder.
    static bool isFreeOutput(const QString &path);
    // The temporary name a folder export is made under, beside it; number counts
    // the names already taken.
    static QString stagingFolderName(const QString &outputPath, int number = 0);

    qint64 exportedCount() const { return m_exported; }
    // The chat pages or files written, in order (PDF, HTML).
    const QStringList &chatFiles() const { return m_chatFiles; }

    // The name of a chat's file: its title (a group's name, a person's name or
    // number) made a safe name, cut to a length every file system takes;
    // "chat-<id>" when nothing is left.
    static QString chatFileBaseName(const _ViberChat *chat);

protected:
    QString work() override;
    void cleanUp(Outcome outcome) override;

private:
    QString exportAll();
    // A file of a folder export and the messages it holds: [first, end) of a list.
    struct Piece
    {
        QString path;
        qsizetype first = 0;
        qsizetype end = 0;
    };
    // Writes each piece's PDF, several side by side: the files of a folder share nothing.
    void writeSideBySide(const QList<_ViberMsg *> &messages, const QList<Piece> &pieces, qint64 total);
    // Makes the folder the export is written into, beside the output folder.
    QString makeStagingFolder();
    // Gives the complete folder its name: a rename, or with m_replace into an
    // existing folder, file by file.
    void moveIntoPlace(const QString &from, const QString &to);
    // baseName + suffix, or "baseName (2)" + suffix and on when taken in this export.
    QString uniqueChatFile(const QString &baseName, const QString &suffix);

    QList<_ViberMsg *> m_messages;
    QString m_outputPath;
    int m_format;
    bool m_replace = false;
    QString m_staging; // the folder being written, until it is moved into place
    FileJournal m_journal;
    qint64 m_exported = 0;
    QStringList m_chatFiles;
    QSet<QString> m_takenNames; // file names given in the folder, case-folded
};
