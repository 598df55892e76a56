#include "CacheManifest.h"

#include <QFile>
#include <QFileInfo>

CacheManifest::CacheManifest(const QString &path) : m_path(path) {}

CacheManifest::~CacheManifest()
{
    commit();
}

void CacheManifest::open()
{
    if (m_db.isOpen()) {
        if (!m_db.inTransaction())
            m_db.beginTran();
        return;
    }
    const bool exists = QFileInfo::exists(m_path);
    m_db.openThrow(m_path, exists ? Sqlite3DB::ReadWrite : Sqlite3DB::ReadWrite | Sqlite3DB::Create);
    // Run on every open, not only on creation: the script only adds what is
    // missing, so a file left without its table by an interrupted creation heals.
    QFile script(QStringLiteral(":/res/cache_db.sql"));
    if (!script.open(QIODevice::ReadOnly))
        throw Sqlite3Exception(script.errorString(), m_path, 0);
    m_db.execThrow(QString::fromUtf8(script.readAll()));
    m_db.beginTran();
}

qint64 CacheManifest::lastDate(const QString &devicePath)
{
    open();
    Sqlite3Cursor cursor = m_db.queryThrow(
        Sqlite3Sql("select last_date from manifest where file_name = ?").addTextParam(devicePath));
    return cursor.moveNext() ? cursor.getInt64(QStringLiteral("last_date")) : 0;
}

void CacheManifest::setLastDate(const QString &devicePath, qint64 date)
{
    open();
    Sqlite3Cursor cursor = m_db.queryThrow(
        Sqlite3Sql("select last_date from manifest where file_name = ?").addTextParam(devicePath));
    if (!cursor.moveNext())
        m_db.executeThrow(Sqlite3Sql("insert into manifest(file_name,last_date) values(?,?)")
                              .addTextParam(devicePath)
                              .addInt64Param(date));
    else if (cursor.getInt64(QStringLiteral("last_date")) != date)
        m_db.executeThrow(Sqlite3Sql("update manifest set last_date=? where file_name = ?")
                              .addInt64Param(date)
                              .addTextParam(devicePath));
}

void CacheManifest::commit()
{
    // A failed commit only costs downloads the next run makes again.
    if (m_db.isOpen() && m_db.inTransaction())
        m_db.commitTran();
}
