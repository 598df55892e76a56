#pragma once

#include <functional>
#include <memory>

#include "Sqlite3DB.h"
#include "ViberData.h"

#include <QDir>
#include <QHash>
#include <QString>
#include <QStringList>

#include <utility>

// One column of a store table, as the database declares it.
struct ViberDbColumn
{
    QString name;
    QString type;
};

// One table of a store: its name as declared, its creation text and its columns
// keyed by lower-case name.
struct ViberDbTable
{
    QString name;
    QString sql;
    QHash<QString, ViberDbColumn> columns;
};

// A store's catalogue: its tables keyed by lower-case name, asked by name in any case.
class StoreSchema
{
public:
    StoreSchema() = default;
    explicit StoreSchema(QHash<QString, ViberDbTable> tables) : m_tables(std::move(tables)) {}

    bool has(const QString &table) const { return m_tables.contains(table.toLower()); }
    bool has(const QString &table, const QString &column) const;
    // The table's entry; an empty entry when there is no such table.
    ViberDbTable table(const QString &name) const { return m_tables.value(name.toLower()); }
    const QHash<QString, ViberDbTable> &tables() const { return m_tables; }

private:
    QHash<QString, ViberDbTable> m_tables;
    // Writers ask has() for every column of every row: the answers are kept by the
    // names as asked, sparing two lower-case copies per question.
    mutable QHash<std::pair<QString, QString>, bool> m_answers;
};

// Base of the Viber stores: a connection to one store file inside a root folder
// against which every attachment path is resolved, and the catalogue of its tables.
class AbsViberDb : public Sqlite3DB
{
public:
    // fileName is relative to root, e.g. "Documents/Contacts.data". The connection
    // stays closed until open().
    AbsViberDb(const QDir &root, const QString &fileName, bool flag);
    ~AbsViberDb() override;

    // Opens the store file (an iOS store is created when missing). Does nothing when
    // already open. Raises an exception with a sentence naming the file on failure.
    virtual void open() = 0;
    // Reads the whole store into new records.
    virtual ViberDataPtr load() = 0;
    // Called during load() with the part done (0 to 100), from the loading thread.
    // It may raise to stop the load (a worker's cancel); nothing is kept then.
    void setLoadProgress(std::function<void(int percent)> progress) { m_loadProgress = std::move(progress); }

    const QDir &root() const { return m_root; }
    const QString &fileName() const { return m_fileName; }
    bool flag() const { return m_flag; }
    // root joined with fileName.
    QString fullPath() const;

    // Catalogue queries; names are compared in lower case.
    bool hasTable(const QString &table) const { return m_schema.has(table); }
    // The table's entry; an empty entry when there is no such table.
    ViberDbTable table(const QString &table) const { return m_schema.table(table); }
    bool hasColumn(const QString &table, const QString &column) const { return m_schema.has(table, column); }
    const QHash<QString, ViberDbTable> &schema() const { return m_schema.tables(); }

    // Closes the connection and removes the journal files that a read-only open
    // created beside the store, so that a store that was only read looks untouched.
    void close();
    // True while the connection was opened by openForReading and must not write.
    bool openedForReading() const { return m_openedForReading; }

protected:
    // Closes the store when it goes, unless it was open before a load began: a
    // load leaves the store as it found it, whichever way it ends.
    class CloseAfterLoading
    {
    public:
        explicit CloseAfterLoading(AbsViberDb *db) : m_db(db), m_keep(db->isOpen()) {}
        ~CloseAfterLoading()
        {
            if (!m_keep)
                m_db->close();
        }
        CloseAfterLoading(const CloseAfterLoading &) = delete;
        CloseAfterLoading &operator=(const CloseAfterLoading &) = delete;

    private:
        AbsViberDb *m_db;
        bool m_keep;
    };

    // The translated sentence key of context about the file at path, with detail as
    // its second argument when given; one arg() call, so a "%2" in a path stays text.
    static QString fileError(const char *context, const char *key, const QString &path,
                             const QString &detail = QString());

    // Opens the existing store file for reading only: nothing of the store is run
    // (Sqlite3DB::treatAsUntrusted), nothing is written, and a store in a read-only
    // folder or held by another program's write lock is still read.
    void openForReading();
    // Another connection reading the store as openForReading does, for work shared
    // with another thread (which then alone uses it).
    std::unique_ptr<Sqlite3DB> openAnotherReader() const;

    // Fills the catalogue from sqlite_master. A file that is not a database raises
    // an exception saying so (the connection is then closed).
    void readSchema();
    // Raises an exception naming the file and the first of tables that is missing.
    void requireTables(const QStringList &tables) const;

    std::function<void(int percent)> m_loadProgress; // for load(); may be empty

private:
    QDir m_root;
    QString m_fileName;
    bool m_flag;
    StoreSchema m_schema;
    bool m_openedForReading = false;
    // Journal files absent before a read-only open; removed again on close.
    Sqlite3Sidecars m_sidecars; // of a connection that only reads
};
