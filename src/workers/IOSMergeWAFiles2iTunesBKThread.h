#pragma once

#include "WorkerThread.h"

#include "itunes/BackupFileItem.h"
#include "itunes/BackupManifest.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QStringList>

// Puts files into an unencrypted iTunes backup of either layout: each under its
// hashed name, with the folder and file records of the index (Manifest.mbdb or
// Manifest.db) brought up to date. The backup is changed only as a whole: new
// data files are staged beside their place and the index written before anything
// replaces what the backup held, and a failure or cancel before that point, or a
// failure while putting the files in place, leaves the backup as it was.
class IOSMergeWAFiles2iTunesBKThread : public WorkerThread
{
    Q_OBJECT
public:
    // manifest: only its folder and layout are used; it must outlive the run.
    IOSMergeWAFiles2iTunesBKThread(const BackupManifest *manifest, const QList<BackupFileItem> &items,
                                   QObject *parent = nullptr);
    ~IOSMergeWAFiles2iTunesBKThread() override;

    // The items written (skipped ones left out), as backup paths.
    const QStringList &writtenPaths() const { return m_written; }

protected:
    QString work() override;
    void cleanUp(Outcome outcome) override;

private:
    struct Staged
    {
        QString destination; // the data file's place
        QString staged;      // the copy waiting beside it
        QString previous;    // where the replaced data file waits, until the end
        QString madeFolder;  // the data file's folder when this run made it
        bool placed = false; // the staged copy took the data file's place
    };

    // New and changed records for the item's path and its missing folders.
    void updateRecords(const QString &domain, const QString &path, const QString &file);
    void writeMbdb(const QString &path);
    void writeManifestDb(const QString &path);
    void putFilesInPlace();
    void restoreFiles();

    const BackupManifest *m_manifest;
    QList<BackupFileItem> m_items;
    QHash<QString, MbdbRecord> m_records;  // by data file name
    QHash<QString, QByteArray> m_archives; // Manifest.db's records as stored, by data file name
    QSet<QString> m_changed;               // data file names of new or changed records
    quint32 m_maxInode = 0;
    QList<Staged> m_staged;
    QStringList m_written;
};
