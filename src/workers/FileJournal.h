#pragma once

#include <QCoreApplication>
#include <QDateTime>
#include <QSet>
#include <QString>
#include <QStringList>

// The files and folders one run of a worker creates, so that a run which ends
// early (failed, cancelled) removes exactly those and leaves everything that was
// there before. Copies are written under a temporary name and named when complete.
// Every failure raises std::runtime_error with a sentence naming the files.
class FileJournal
{
    Q_DECLARE_TR_FUNCTIONS(FileJournal)

public:
    enum class Replace {
        Never,   // an existing target stays
        IfOlder, // an existing target older than the source is replaced
        Always,  // an existing target is stale and replaced
    };

    // root names the folder the run writes into, in errors about a refused path.
    explicit FileJournal(const QString &root = QString()) : m_root(root) {}

    // Creates folder with its parents, remembering the new ones.
    void makeFolder(const QString &folder);
    // Folders made from now on are the user's alone (kPrivateFolderMode): they are
    // to hold decrypted data.
    void setPrivate(bool isPrivate) { m_private = isPrivate; }
    // Copies source to target when the source is a file, keeping its time and
    // permissions. target "" (a name the path rule refused) copies nothing.
    void copyFile(const QString &source, const QString &target, Replace replace);
    // A file the run wrote itself at a path where nothing was.
    void addCreatedFile(const QString &path) { m_createdFiles.append(path); }
    // Removes a file that belongs to nothing any more (it is not restored on roll-back).
    void removeStaleFile(const QString &target);

    // Writes everything this run copied onto the disk, before a store names it.
    void syncToDisk(const QString &path) const;
    // Removes what this run created, newest first, then forgets it.
    void rollBack();
    // Forgets what was created: it stays (the run committed).
    void clear();

    const QStringList &createdFiles() const { return m_createdFiles; }

private:
    void copyNewFile(const QString &source, const QString &target, const QDateTime &time);

    QString m_root;
    QStringList m_createdFiles;
    QStringList m_createdFolders;
    QSet<QString> m_knownFolders; // folders seen to exist in this run: asked of the disk once
    bool m_private = false;
};
