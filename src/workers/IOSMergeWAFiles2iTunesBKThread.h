#pragma once

#include "WorkerThread.h"

#include "itunes/BackupFileItem.h"
#include "itunes/BackupManifest.h"
#include "itunes/BackupWriteJournal.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QStringList>

#include <memory>

// Puts files into an unencrypted iTunes backup of either layout: each under its
// hashed name, with the folder and file records of the index (Manifest.mbdb or
// Manifest.db) brought up to date. The backup changes as a whole or not at all,
// even when the process is killed: the write goes through a BackupWriteJournal
// (new data files and the new index staged and synced, then renamed into place),
// and an unfinished write found in the folder is finished or undone first.
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
    // What became of an unfinished earlier write this run found (empty for none).
    const QString &recoveredText() const { return m_recovered; }

protected:
    QString work() override;
    void cleanUp(Outcome outcome) override;

private:
    // New and changed records for the item's path and its missing folders.
    void updateRecords(const QString &domain, const QString &path, const QString &file);
    void writeMbdb(const QString &path);
    void writeManifestDb(const QString &index, const QString &path);

    const BackupManifest *m_manifest;
    QList<BackupFileItem> m_items;
    QHash<QString, MbdbRecord> m_records;  // by data file name
    QHash<QString, QByteArray> m_archives; // Manifest.db's records as stored, by data file name
    QSet<QString> m_changed;               // data file names of new or changed records
    quint32 m_maxInode = 0;
    std::unique_ptr<BackupWriteJournal> m_journal; // the write under way, until it is placed
    bool m_placing = false;                        // past the commit point
    QString m_recovered;                           // what became of an earlier write found unfinished
    QStringList m_written;
};
