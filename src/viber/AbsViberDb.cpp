#include "AbsViberDb.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <sqlite3.h>

AbsViberDb::AbsViberDb(const QDir &root, const QString &fileName, bool flag)
    : m_root(root), m_fileName(fileName), m_flag(flag)
{
}

AbsViberDb::~AbsViberDb()
{
    close();
}

namespace {

QString readOnlyUri(const QString &path)
{
    QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    url.setQuery(QStringLiteral("mode=ro"));
    return url.toString(QUrl::FullyEncoded);
}

// SQLite's own words ("file is not a database") do not tell the user what the file was meant to be.
[[noreturn]] void rethrowForUser(const Sqlite3Exception &e, const QString &file)
{
    const int primary = e.code() & 0xff;
    if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT)
        throw Sqlite3Exception(QCoreApplication::translate("AbsViberDb", "IDS_STORE_NOT_A_DATABASE")
                                   .arg(QDir::toNativeSeparators(file)),
                               e.path(), e.code());
    throw e;
}

} // namespace

void AbsViberDb::close()
{
    Sqlite3DB::close();
    m_openedForReading = false;
    m_sidecars.removeNew();
}

void AbsViberDb::openForReading()
{
    close();
    const QString path = fullPath();
    m_sidecars.watch(path);
    try {
        // SQLite reads a WAL store read-only even where it cannot make the
        // shared-memory file (a read-only folder): it keeps that in memory then.
        openThrow(path, Sqlite3DB::ReadOnly | Sqlite3DB::Uri, readOnlyUri(path));
        treatAsUntrusted();
        m_openedForReading = true;
    } catch (const Sqlite3Exception &e) {
        close();
        rethrowForUser(e, path);
    }
}

std::unique_ptr<Sqlite3DB> AbsViberDb::openAnotherReader() const
{
    auto db = std::make_unique<Sqlite3DB>();
    const QString path = fullPath();
    try {
        db->openThrow(path, Sqlite3DB::ReadOnly | Sqlite3DB::Uri, readOnlyUri(path));
        db->treatAsUntrusted();
    } catch (const Sqlite3Exception &e) {
        rethrowForUser(e, path);
    }
    return db;
}

QString AbsViberDb::fullPath() const
{
    return m_root.filePath(m_fileName);
}

bool StoreSchema::has(const QString &table, const QString &column) const
{
    const auto asked = std::pair(table, column);
    const auto known = m_answers.constFind(asked);
    if (known != m_answers.constEnd())
        return *known;
    const auto it = m_tables.constFind(table.toLower());
    const bool answer = it != m_tables.constEnd() && it->columns.contains(column.toLower());
    m_answers.insert(asked, answer);
    return answer;
}

void AbsViberDb::readSchema()
{
    m_schema = StoreSchema();
    try {
        QHash<QString, ViberDbTable> tables;
        Sqlite3Cursor c = queryThrow("select * from sqlite_master where type='table'");
        while (c.moveNext()) {
            ViberDbTable entry;
            entry.name = c.getText(QStringLiteral("tbl_name"));
            entry.sql = c.getText(QStringLiteral("sql"));
            tables.insert(entry.name.toLower(), entry);
        }
        for (auto it = tables.begin(); it != tables.end(); ++it) {
            try {
                for (const Sqlite3Column &col : tbCols(it->name))
                    it->columns.insert(col.name.toLower(), ViberDbColumn{col.name, col.type});
            } catch (const Sqlite3Exception &e) {
                // A virtual table of a module this SQLite lacks, say: a table the
                // program does not use is no reason to refuse the store, and one it
                // needs is refused by name when it is queried.
                const int primary = e.code() & 0xff;
                if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT)
                    throw;
                qWarning("Columns of table %s in %s cannot be read: %s", qPrintable(it->name),
                         qPrintable(path()), e.what());
            }
        }
        m_schema = StoreSchema(std::move(tables));
    } catch (const Sqlite3Exception &e) {
        const QString file = path();
        close();
        m_schema = StoreSchema();
        rethrowForUser(e, file);
    }
}

void AbsViberDb::requireTables(const QStringList &tables) const
{
    for (const QString &name : tables) {
        if (!hasTable(name))
            throw Sqlite3Exception(QCoreApplication::translate("AbsViberDb", "IDS_STORE_TABLE_MISSING")
                                       .arg(QDir::toNativeSeparators(path()), name),
                                   path(), SQLITE_ERROR);
    }
}

QString AbsViberDb::fileError(const char *context, const char *key, const QString &path,
                              const QString &detail)
{
    const QString text = QCoreApplication::translate(context, key);
    return detail.isNull() ? text.arg(QDir::toNativeSeparators(path))
                           : text.arg(QDir::toNativeSeparators(path), detail);
}
