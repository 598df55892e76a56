#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QString>
#include <QStringList>

#include <functional>

// A write into an iTunes backup folder that ends whole or not at all, even when the
// writing process dies. The journal, a file in the backup folder, names every file the
// write will place. New contents go to temporary names beside their places ("staging");
// once they and the new index are complete and synced to disk, the journal says so
// ("placing") and the files are renamed into place, then the journal is removed.
// Whoever finds a journal later (the next write, or any read of the backup) finishes
// the write when it had reached "placing", and removes what it staged otherwise.
// Every failure raises std::runtime_error with a sentence naming the backup.
class BackupWriteJournal
{
    Q_DECLARE_TR_FUNCTIONS(BackupWriteJournal)

public:
    static const QString &journalName();  // the journal's name within the backup folder
    static const QString &stagedSuffix(); // appended to a file's place for its new contents

    explicit BackupWriteJournal(const QDir &backupFolder);

    // A file (relative to the backup folder) the write will place; returns the absolute
    // path its new contents are to be written to. Folders that do not exist yet are
    // created by stage() and removed again if the write is undone.
    QString plan(const QString &relativeTarget);
    // Writes the journal (state "staging") and creates the missing folders; the planned
    // files may be written from now on.
    void beginStaging();
    // The commit point: syncs what was staged, then marks the journal "placing".
    void commit();
    // Renames every staged file into place, syncs and removes the journal.
    void place();
    // Removes what was staged and the journal: the backup is as it was.
    void rollBack();

    // Finishes or undoes a write a journal in the folder describes. Returns a sentence
    // saying which (empty when there was none), for the log and the user.
    static QString recover(const QDir &backupFolder);

    // For tests that stop a write at each of its steps, as a kill would: called at every
    // step that changes the disk, with no argument. Null (the default) does nothing.
    static void setStepHook(std::function<void()> hook);
    static void step();

private:
    struct Entry
    {
        QString target; // relative to the folder
        QString staged;
    };
    enum class State { Staging, Placing };

    void writeJournal(State state);
    void removeJournal();
    void placeFiles();
    void undoFiles();
    static bool readJournal(const QDir &folder, State &state, QList<Entry> &entries, QStringList &folders);

    QDir m_folder;
    QList<Entry> m_entries;
    QStringList m_newFolders; // relative, outermost first
};
