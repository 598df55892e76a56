#include "Sqlite3DB.h"

#include <QVarLengthArray>

#include <atomic>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <sqlite3.h>

int sqlite_qt_version()
{
    return 6;
}

Sqlite3Exception::Sqlite3Exception(const QString &message, const QString &path, int code)
    : std::runtime_error(message.toUtf8().toStdString()), m_path(path), m_code(code)
{
}

namespace {

// The sentence for a failure of the database at path: what a user can act on where the
// code says more than SQLite's own words (another program holds it, the disk is full).
QString sqliteErrorText(const QString &path, int code, const QString &detail)
{
    const QString shown = QDir::toNativeSeparators(path);
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QCoreApplication::translate("Sqlite3DB", "IDS_SQLITE_BUSY_%1").arg(shown);
    case SQLITE_FULL:
        return QCoreApplication::translate("Sqlite3DB", "IDS_SQLITE_FULL_%1").arg(shown);
    default:
        return QCoreApplication::translate("Sqlite3DB", "IDS_SQLITE_ERROR").arg(shown, detail);
    }
}

} // namespace

// --- Sqlite3Sql ----------------------------------------------------------------

Sqlite3Sql &Sqlite3Sql::addIntParam(int v)
{
    m_params.append(QVariant(v));
    return *this;
}

Sqlite3Sql &Sqlite3Sql::addInt64Param(qint64 v)
{
    m_params.append(QVariant(v));
    return *this;
}

Sqlite3Sql &Sqlite3Sql::addDoubleParam(double v)
{
    m_params.append(QVariant(v));
    return *this;
}

Sqlite3Sql &Sqlite3Sql::addTextParam(const QString &v)
{
    // A null QString would bind as NULL; text columns expect text.
    m_params.append(QVariant(v.isNull() ? QString(QLatin1String("")) : v));
    return *this;
}

Sqlite3Sql &Sqlite3Sql::addBlobParam(const QByteArray &v)
{
    m_params.append(QVariant(v.isNull() ? QByteArray("") : v));
    return *this;
}

Sqlite3Sql &Sqlite3Sql::addNullParam()
{
    m_params.append(QVariant());
    return *this;
}

Sqlite3Sql &Sqlite3Sql::addParam(const QVariant &v)
{
    m_params.append(v);
    return *this;
}

// --- Sqlite3Row ----------------------------------------------------------------

QVariant &Sqlite3Row::operator[](const QString &name)
{
    if (!m_values.contains(name))
        m_names.append(name);
    return m_values[name];
}

void Sqlite3Row::setVal(const QString &name, const QVariant &value)
{
    (*this)[name] = value;
}

QVariant Sqlite3Row::val(const QString &name) const
{
    return m_values.value(name);
}

Sqlite3Sql Sqlite3Row::insertSql(const QString &table, const QSet<QString> &columnSet) const
{
    // Made straight as the UTF-8 the statement cache looks up: a copy makes one for every row.
    const auto appendQuoted = [](QByteArray &out, const QString &name) {
        out += '"';
        out += name.toUtf8().replace('"', "\"\"");
        out += '"';
    };
    QByteArray text("INSERT INTO ");
    appendQuoted(text, table);
    QByteArray marks;
    QVarLengthArray<const QVariant *, 32> values;
    for (const QString &name : m_names) {
        if (!columnSet.isEmpty() && !columnSet.contains(name))
            continue;
        text += values.isEmpty() ? " (" : ",";
        appendQuoted(text, name);
        marks += values.isEmpty() ? "?" : ",?";
        const auto it = m_values.constFind(name);
        values.append(it != m_values.constEnd() ? &it.value() : nullptr);
    }
    if (values.isEmpty())
        text += " DEFAULT VALUES";
    else
        text += ") VALUES (" + marks + ')';
    Sqlite3Sql sql(text);
    for (const QVariant *v : values)
        sql.addParam(v ? *v : QVariant());
    return sql;
}

// --- Work done ------------------------------------------------------------------

namespace {

std::atomic<qint64> g_vmSteps{0};

// Adds what the statement's program did since it was last counted.
void countSteps(sqlite3_stmt *stmt)
{
    if (stmt)
        g_vmSteps.fetch_add(sqlite3_stmt_status(stmt, SQLITE_STMTSTATUS_VM_STEP, 1),
                            std::memory_order_relaxed);
}

void finalizeCounted(sqlite3_stmt *stmt)
{
    countSteps(stmt);
    sqlite3_finalize(stmt);
}

} // namespace

qint64 Sqlite3DB::vmSteps()
{
    return g_vmSteps.load(std::memory_order_relaxed);
}

// --- Sqlite3Cursor -------------------------------------------------------------

struct Sqlite3Cursor::StatementCache
{
    static constexpr int kLimit = 128;
    QHash<QByteArray, sqlite3_stmt *> idle; // by SQL text; each one reset and unbound

    // Takes the idle statement of sql, null when there is none.
    sqlite3_stmt *take(const QByteArray &sql) { return idle.take(sql); }
    // Keeps stmt for its next use, or finalizes it when one of its text is kept already.
    void give(sqlite3_stmt *stmt)
    {
        countSteps(stmt);
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        const QByteArray sql(sqlite3_sql(stmt));
        if (idle.contains(sql)) {
            finalizeCounted(stmt);
            return;
        }
        // Texts that embed values never repeat; rather than grow, start over.
        if (idle.size() >= kLimit)
            clear();
        idle.insert(sql, stmt);
    }
    void clear()
    {
        for (sqlite3_stmt *stmt : std::as_const(idle))
            finalizeCounted(stmt);
        idle.clear();
    }
};

struct Sqlite3Cursor::Statement
{
    sqlite3_stmt *stmt = nullptr;
    std::weak_ptr<StatementCache> cache; // where stmt goes back to, while its connection is open
    QString path;
    QHash<QString, int> index; // lower-case column name -> first column of that name
    QStringList names;
    bool named = false;
    bool onRow = false;
    bool done = false;

    // Names are read when first asked for: most queries are read by position, and naming
    // the columns of each cost a duplicate check as much as running it.
    Statement &nameColumns()
    {
        if (named)
            return *this;
        named = true;
        const int n = sqlite3_column_count(stmt);
        for (int i = 0; i < n; ++i) {
            const QString name = QString::fromUtf8(sqlite3_column_name(stmt, i));
            names.append(name);
            const QString key = name.toLower();
            if (!index.contains(key))
                index.insert(key, i);
        }
        return *this;
    }

    ~Statement()
    {
        if (const std::shared_ptr<StatementCache> c = cache.lock())
            c->give(stmt);
        else
            finalizeCounted(stmt);
    }
};

bool Sqlite3Cursor::moveNext()
{
    if (!m_stmt || m_stmt->done)
        return false;
    const int rc = sqlite3_step(m_stmt->stmt);
    if (rc == SQLITE_ROW) {
        m_stmt->onRow = true;
        return true;
    }
    m_stmt->onRow = false;
    m_stmt->done = true;
    if (rc != SQLITE_DONE) {
        sqlite3 *db = sqlite3_db_handle(m_stmt->stmt);
        throw Sqlite3Exception(sqliteErrorText(m_stmt->path, rc, QString::fromUtf8(sqlite3_errmsg(db))),
                               m_stmt->path, rc);
    }
    return false;
}

int Sqlite3Cursor::columnIndex(const QString &col) const
{
    if (!m_stmt || !m_stmt->onRow)
        return -1;
    return m_stmt->nameColumns().index.value(col.toLower(), -1);
}

int Sqlite3Cursor::getInt(const QString &col) const
{
    return getIntAt(columnIndexOf(col));
}

qint64 Sqlite3Cursor::getInt64(const QString &col) const
{
    return getInt64At(columnIndexOf(col));
}

double Sqlite3Cursor::getDouble(const QString &col) const
{
    return getDoubleAt(columnIndexOf(col));
}

QString Sqlite3Cursor::getText(const QString &col) const
{
    return getTextAt(columnIndexOf(col));
}

QByteArray Sqlite3Cursor::getBlob(const QString &col) const
{
    return getBlobAt(columnIndexOf(col));
}

bool Sqlite3Cursor::isNull(const QString &col) const
{
    return isNullAt(columnIndexOf(col));
}

bool Sqlite3Cursor::containsCol(const QString &col) const
{
    return m_stmt && m_stmt->nameColumns().index.contains(col.toLower());
}

QVariant Sqlite3Cursor::valueAt(int i) const
{
    switch (sqlite3_column_type(m_stmt->stmt, i)) {
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(m_stmt->stmt, i)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(m_stmt->stmt, i));
    case SQLITE_TEXT:
        return QVariant(
            QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(m_stmt->stmt, i)),
                              sqlite3_column_bytes(m_stmt->stmt, i)));
    case SQLITE_BLOB: {
        const void *data = sqlite3_column_blob(m_stmt->stmt, i);
        const int size = sqlite3_column_bytes(m_stmt->stmt, i);
        return QVariant(data && size > 0 ? QByteArray(static_cast<const char *>(data), size)
                                         : QByteArray(""));
    }
    default:
        return QVariant();
    }
}

QVariant Sqlite3Cursor::value(const QString &col) const
{
    const int i = columnIndex(col);
    return i < 0 ? QVariant() : valueAt(i);
}

Sqlite3Row Sqlite3Cursor::getRow() const
{
    Sqlite3Row row;
    if (!m_stmt || !m_stmt->onRow)
        return row;
    const QStringList &names = m_stmt->nameColumns().names;
    for (int i = 0; i < names.size(); ++i)
        if (!row.contains(names[i]))
            row.setVal(names[i], valueAt(i));
    return row;
}

QStringList Sqlite3Cursor::columnNames() const
{
    return m_stmt ? m_stmt->nameColumns().names : QStringList();
}

// --- Sqlite3Cursor: positional access ------------------------------------------

int Sqlite3Cursor::columnIndexOf(const QString &col) const
{
    return m_stmt ? m_stmt->nameColumns().index.value(col.toLower(), -1) : -1;
}

namespace {

bool validColumn(sqlite3_stmt *stmt, bool onRow, int index)
{
    return onRow && index >= 0 && index < sqlite3_column_count(stmt);
}

} // namespace

int Sqlite3Cursor::getIntAt(int index) const
{
    return m_stmt && validColumn(m_stmt->stmt, m_stmt->onRow, index) ? sqlite3_column_int(m_stmt->stmt, index)
                                                                     : 0;
}

qint64 Sqlite3Cursor::getInt64At(int index) const
{
    return m_stmt && validColumn(m_stmt->stmt, m_stmt->onRow, index)
               ? sqlite3_column_int64(m_stmt->stmt, index)
               : 0;
}

double Sqlite3Cursor::getDoubleAt(int index) const
{
    return m_stmt && validColumn(m_stmt->stmt, m_stmt->onRow, index)
               ? sqlite3_column_double(m_stmt->stmt, index)
               : 0.0;
}

QString Sqlite3Cursor::getTextAt(int index) const
{
    if (!m_stmt || !validColumn(m_stmt->stmt, m_stmt->onRow, index))
        return QString();
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt->stmt, index));
    if (!text)
        return QString();
    return QString::fromUtf8(text, sqlite3_column_bytes(m_stmt->stmt, index));
}

QByteArray Sqlite3Cursor::getBlobAt(int index) const
{
    if (!m_stmt || !validColumn(m_stmt->stmt, m_stmt->onRow, index))
        return QByteArray();
    const void *data = sqlite3_column_blob(m_stmt->stmt, index);
    const int size = sqlite3_column_bytes(m_stmt->stmt, index);
    if (!data || size <= 0)
        return QByteArray();
    return QByteArray(static_cast<const char *>(data), size);
}

QByteArrayView Sqlite3Cursor::textBytesAt(int index) const
{
    if (!m_stmt || !validColumn(m_stmt->stmt, m_stmt->onRow, index))
        return QByteArrayView();
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt->stmt, index));
    return text ? QByteArrayView(text, sqlite3_column_bytes(m_stmt->stmt, index)) : QByteArrayView();
}

QByteArrayView Sqlite3Cursor::blobBytesAt(int index) const
{
    if (!m_stmt || !validColumn(m_stmt->stmt, m_stmt->onRow, index))
        return QByteArrayView();
    const auto *data = static_cast<const char *>(sqlite3_column_blob(m_stmt->stmt, index));
    const int size = sqlite3_column_bytes(m_stmt->stmt, index);
    return data && size > 0 ? QByteArrayView(data, size) : QByteArrayView();
}

bool Sqlite3Cursor::isNullAt(int index) const
{
    return !m_stmt || !validColumn(m_stmt->stmt, m_stmt->onRow, index) ||
           sqlite3_column_type(m_stmt->stmt, index) == SQLITE_NULL;
}

// --- Sqlite3DB -----------------------------------------------------------------

Sqlite3DB::~Sqlite3DB()
{
    close();
}

void Sqlite3DB::raise(int code, const QString &what) const
{
    const QString detail = what.isEmpty() && m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : what;
    throw Sqlite3Exception(sqliteErrorText(m_path, code, detail), m_path, code);
}

void Sqlite3DB::openThrow(const QString &path, int flags, const QString &target)
{
    close();
    m_path = path;
    sqlite3 *db = nullptr;
    const QByteArray file =
        (flags & Uri) ? target.toUtf8() : QFile::encodeName(target.isEmpty() ? path : target);
    // One thread uses a connection at a time: SQLite's own locking of every call is not needed.
    const int rc = sqlite3_open_v2(file.constData(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const QString msg =
            db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close(db);
        raise(rc, msg);
    }
    m_db = db;
    m_cache = std::make_shared<Sqlite3Cursor::StatementCache>();
    sqlite3_extended_result_codes(m_db, 1);
    // Another program (the phone app's copy, a viewer) may hold a short lock.
    sqlite3_busy_timeout(m_db, 5000);
    // SQLite ends transactions of its own accord too (a rollback after a full disk):
    // its hooks see every end, where the wrapper's calls would miss those.
    sqlite3_commit_hook(
        m_db,
        [](void *self) {
            ++static_cast<Sqlite3DB *>(self)->m_transactionSerial;
            return 0; // 0 lets the commit go on
        },
        this);
    sqlite3_rollback_hook(
        m_db, [](void *self) { ++static_cast<Sqlite3DB *>(self)->m_transactionSerial; }, this);
}

bool Sqlite3DB::isReadOnly() const
{
    return m_db && sqlite3_db_readonly(m_db, "main") == 1;
}

void Sqlite3DB::setTriggersEnabled(bool enabled)
{
    if (m_db)
        sqlite3_db_config(m_db, SQLITE_DBCONFIG_ENABLE_TRIGGER, enabled ? 1 : 0, nullptr);
}

void Sqlite3DB::treatAsUntrusted()
{
    if (!m_db)
        return;
    setTriggersEnabled(false);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
}

void Sqlite3DB::close()
{
    if (m_cache) {
        // Cursors still open finalize their statements themselves.
        m_cache->clear();
        m_cache.reset();
    }
    if (m_db) {
        // Cursors may keep the connection alive a little longer; this object may not.
        sqlite3_commit_hook(m_db, nullptr, nullptr);
        sqlite3_rollback_hook(m_db, nullptr, nullptr);
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        ++m_transactionSerial;
    }
}

sqlite3_stmt *Sqlite3DB::prepare(const Sqlite3Sql &sql)
{
    if (!m_db)
        raise(SQLITE_MISUSE, QStringLiteral("the database is not open"));
    sqlite3_stmt *stmt = m_cache->take(sql.sql());
    int rc = SQLITE_OK;
    if (!stmt) {
        rc = sqlite3_prepare_v3(m_db, sql.sql().constData(), int(sql.sql().size()), SQLITE_PREPARE_PERSISTENT,
                                &stmt, nullptr);
        if (rc != SQLITE_OK)
            raise(rc);
    }
    const QVariantList &params = sql.params();
    for (int i = 0; i < params.size(); ++i) {
        const QVariant &v = params[i];
        const int pos = i + 1;
        if (v.isNull() && v.typeId() != QMetaType::QString && v.typeId() != QMetaType::QByteArray) {
            rc = sqlite3_bind_null(stmt, pos);
        } else {
            switch (v.typeId()) {
            case QMetaType::Bool:
            case QMetaType::Int:
            case QMetaType::UInt:
            case QMetaType::Short:
            case QMetaType::UShort:
                rc = sqlite3_bind_int(stmt, pos, v.toInt());
                break;
            case QMetaType::LongLong:
            case QMetaType::ULongLong:
            case QMetaType::Long:
            case QMetaType::ULong:
                rc = sqlite3_bind_int64(stmt, pos, v.toLongLong());
                break;
            case QMetaType::Double:
            case QMetaType::Float:
                rc = sqlite3_bind_double(stmt, pos, v.toDouble());
                break;
            case QMetaType::QByteArray: {
                const QByteArray b = v.toByteArray();
                rc =
                    sqlite3_bind_blob64(stmt, pos, b.constData(), sqlite3_uint64(b.size()), SQLITE_TRANSIENT);
                break;
            }
            default: {
                const QByteArray t = v.toString().toUtf8();
                rc = sqlite3_bind_text64(stmt, pos, t.constData(), sqlite3_uint64(t.size()), SQLITE_TRANSIENT,
                                         SQLITE_UTF8);
                break;
            }
            }
        }
        if (rc != SQLITE_OK) {
            finalizeCounted(stmt);
            raise(rc);
        }
    }
    return stmt;
}

void Sqlite3DB::executeThrow(const Sqlite3Sql &sql)
{
    sqlite3_stmt *stmt = prepare(sql);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) {
        const QString msg = QString::fromUtf8(sqlite3_errmsg(m_db));
        finalizeCounted(stmt);
        raise(rc, msg);
    }
    m_cache->give(stmt);
}

Sqlite3Cursor Sqlite3DB::queryThrow(const Sqlite3Sql &sql)
{
    Sqlite3Cursor cursor;
    cursor.m_stmt = std::make_shared<Sqlite3Cursor::Statement>();
    cursor.m_stmt->stmt = prepare(sql);
    cursor.m_stmt->cache = m_cache;
    cursor.m_stmt->path = m_path;
    return cursor;
}

int Sqlite3DB::exec(const QString &sql, QString &error)
{
    error.clear();
    if (!m_db) {
        error = QStringLiteral("the database is not open");
        return SQLITE_MISUSE;
    }
    char *msg = nullptr;
    const int rc = sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &msg);
    if (rc != SQLITE_OK)
        error = msg ? QString::fromUtf8(msg) : QString::fromUtf8(sqlite3_errstr(rc));
    sqlite3_free(msg);
    return rc;
}

void Sqlite3DB::execThrow(const QString &sql)
{
    QString error;
    const int rc = exec(sql, error);
    if (rc != SQLITE_OK)
        raise(rc, error);
}

bool Sqlite3DB::beginTran()
{
    QString error;
    return exec(QStringLiteral("BEGIN IMMEDIATE"), error) == SQLITE_OK;
}

bool Sqlite3DB::commitTran()
{
    QString error;
    return exec(QStringLiteral("COMMIT"), error) == SQLITE_OK;
}

bool Sqlite3DB::rollbackTran()
{
    QString error;
    return exec(QStringLiteral("ROLLBACK"), error) == SQLITE_OK;
}

bool Sqlite3DB::inTransaction() const
{
    return m_db && sqlite3_get_autocommit(m_db) == 0;
}

qint64 Sqlite3DB::lastInsertId() const
{
    return m_db ? sqlite3_last_insert_rowid(m_db) : 0;
}

int Sqlite3DB::changes() const
{
    return m_db ? sqlite3_changes(m_db) : 0;
}

QList<Sqlite3Column> Sqlite3DB::tbCols(const QString &table)
{
    QList<Sqlite3Column> cols;
    const QString quoted = QString(table).replace(QLatin1Char('"'), QLatin1String("\"\""));
    Sqlite3Cursor c = queryThrow(QStringLiteral("PRAGMA table_info(\"%1\")").arg(quoted));
    while (c.moveNext())
        cols.append({c.getText(QStringLiteral("name")), c.getText(QStringLiteral("type"))});
    return cols;
}

void Sqlite3Sidecars::watch(const QString &dbPath)
{
    m_absent.clear();
    for (const char *suffix : {"-wal", "-shm"})
        if (!QFileInfo::exists(dbPath + QLatin1String(suffix)))
            m_absent.append(dbPath + QLatin1String(suffix));
}

void Sqlite3Sidecars::removeNew()
{
    for (const QString &file : std::as_const(m_absent)) {
        const QFileInfo info(file);
        if (!info.exists() || (file.endsWith(QLatin1String("-wal")) && info.size() > 0))
            continue;
        if (!QFile::remove(file))
            qWarning("Could not remove %s left beside a database that was only read", qPrintable(file));
    }
    m_absent.clear();
}
