#pragma once

#include "itunes/BackupManifest.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QHash>
#include <QList>
#include <QString>

// The index of backups in the layout iPhones write since iOS 10: Manifest.db, an
// SQLite file whose table Files holds fileID, domain, relativePath, flags and, in
// `file`, the file's record as a keyed archive (binary property list) of an MBFile.
// Records read from it are the same MbdbRecord the older layout gives, so that one
// tree and one loader serve both.
class Sqlite3DB;

class ManifestDb
{
    Q_DECLARE_TR_FUNCTIONS(ManifestDb)

public:
    // Values of the Files.flags column.
    enum Flags { File = 1, Folder = 2, Link = 4 };

    // Every row of Files as a record: domain and path from their columns, the rest
    // from the archive. A row whose archive is damaged keeps what its columns say
    // (a file or folder without size, times or key), so that one bad row costs only
    // its own file; an encrypted file without its key then fails when copied, by
    // name. Raises a sentence naming the file when it is no manifest at all.
    // With archives, also each row's archive as stored, by data file name.
    static QList<MbdbRecord> readRecords(const QString &dbPath,
                                         QHash<QString, QByteArray> *archives = nullptr);
    // From how many rows on readRecords decodes a table in two halves side by side
    // (without archives); returns the value it replaces. For tests.
    static qint64 setSplitRows(qint64 rows);

    // Fills record from a keyed archive of an MBFile; raises a sentence naming
    // the file for an archive that is malformed, lacks its root object or holds
    // a value of the wrong type, leaving the record as it was. Domain and path are
    // not taken from it.
    static void decodeFile(const QByteArray &archive, MbdbRecord &record);
    // The same through libplist's whole tree of the archive. decodeFile reads the
    // common shape straight from the bytes and falls back to this for any other;
    // the suite and the fuzz target hold the two to one result.
    static void decodeFileThroughTree(const QByteArray &archive, MbdbRecord &record);
    // The keyed archive of a record, as iPhones write it.
    static QByteArray encodeFile(const MbdbRecord &record);
    // An existing archive with the record's size, times and mode in place of its own,
    // keeping what else it holds (extended attributes, flags); a new archive when the
    // old one is damaged.
    static QByteArray updatedFile(const QByteArray &archive, const MbdbRecord &record);
    // The tables of an empty Manifest.db, as iTunes makes them.
    static void createTables(Sqlite3DB &db);
    // Writes the record's row of Files, replacing the row of the same domain and path;
    // archive is the record's own unless given. Raises on an SQL failure.
    static void writeRecord(Sqlite3DB &db, const MbdbRecord &record,
                            const QByteArray &archive = QByteArray());
    // The flags column for a record.
    static int flagsOf(const MbdbRecord &record);
    // A data file's place below the backup folder: its name's first two hex digits
    // name the sub-folder.
    static QString dataFileName(const QString &fileName) { return fileName.left(2) + u'/' + fileName; }

private:
    static qint64 s_splitRows;
};
