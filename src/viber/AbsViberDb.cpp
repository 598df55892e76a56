#include "AbsViberDb.h"

#include <QCoreApplication>

#include <sqlite3.h>

AbsViberDb::AbsViberDb(const QDir &root, const QString &fileName, bool flag)
    : m_root(root), m_fileName(fileName), m_flag(flag)
{
}

AbsViberDb::~AbsViberDb() = default;

QString AbsViberDb::fullPath() const
{
    return m_root.filePath(m_fileName);
}

bool AbsViberDb::hasTable(const QString &table) const
{
    return m_schema.contains(table.toLower());
}

ViberDbTable AbsViberDb::table(const QString &table) const
{
    return m_schema.value(table.toLower());
}

bool AbsViberDb::hasColumn(const QString &table, const QString &column) const
{
    const auto it = m_schema.constFind(table.toLower());
    return it != m_schema.constEnd() && it->columns.contains(column.toLower());
}

void AbsViberDb::readSchema()
{
    m_schema.clear();
    try {
        Sqlite3Cursor c = queryThrow("select * from sqlite_master where type='table'");
        while (c.moveNext()) {
            ViberDbTable entry;
            entry.name = c.getText(QStringLiteral("tbl_name"));
            entry.sql = c.getText(QStringLiteral("sql"));
            m_schema.insert(entry.name.toLower(), entry);
        }
        for (auto it = m_schema.begin(); it != m_schema.end(); ++it)
            for (const Sqlite3Column &col : tbCols(it->name))
                it->columns.insert(col.name.toLower(), ViberDbColumn{col.name, col.type});
    } catch (const Sqlite3Exception &e) {
        const int primary = e.code() & 0xff;
        const QString file = QDir::toNativeSeparators(path());
        close();
        m_schema.clear();
        // SQLite's own words ("file is not a database") do not tell the user what the file was meant to be.
        if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT)
            throw Sqlite3Exception(
                QCoreApplication::translate("AbsViberDb", "IDS_STORE_NOT_A_DATABASE").arg(file), e.path(),
                e.code());
        throw;
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
