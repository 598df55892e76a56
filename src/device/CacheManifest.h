#pragma once

#include "viber/Sqlite3DB.h"

#include <QString>

// Which device files were fetched into a cache folder, and the modification
// time each had then (seconds since 1970-01-01 UTC). The database opens on
// first use and keeps one transaction open until it is destroyed, so that the
// dates of a worker's run become durable together when it ends.
class CacheManifest
{
public:
    explicit CacheManifest(const QString &path);
    ~CacheManifest();
    CacheManifest(const CacheManifest &) = delete;
    CacheManifest &operator=(const CacheManifest &) = delete;

    QString path() const { return m_path; }
    // The date recorded for the device path; 0 when there is none. Paths
    // match exactly, as the device's file names do. Raises Sqlite3Exception.
    qint64 lastDate(const QString &devicePath);
    void setLastDate(const QString &devicePath, qint64 date);
    // Makes what was recorded durable now; the next record starts a new transaction.
    void commit();

private:
    void open();

    QString m_path;
    Sqlite3DB m_db;
};
