#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <stdexcept>

struct sqlite3;
struct sqlite3_stmt;

// Version of this database layer's interface; start-up refuses any other.
int sqlite_qt_version();

// Raised by the ...Throw operations. what() is a UTF-8 sentence naming the file.
class Sqlite3Exception : public std::runtime_error
{
public:
    Sqlite3Exception(const QString &message, const QString &path, int code);

    QString message() const { return QString::fromUtf8(what()); }
    QString path() const { return m_path; }
    int code() const { return m_code; }

private:
    QString m_path;
    int m_code;
};

// SQL text with the values bound to its "?" placeholders, in order.
class Sqlite3Sql
{
public:
    Sqlite3Sql() = default;
    Sqlite3Sql(const QString &sql) : m_sql(sql.toUtf8()) {}
    Sqlite3Sql(const QByteArray &sql) : m_sql(sql) {}
    Sqlite3Sql(const char *sql) : m_sql(sql) {}

    Sqlite3Sql &addIntParam(int v);
    Sqlite3Sql &addInt64Param(qint64 v);
    Sqlite3Sql &addDoubleParam(double v);
    Sqlite3Sql &addTextParam(const QString &v);
    Sqlite3Sql &addBlobParam(const QByteArray &v);
    Sqlite3Sql &addNullParam();
    // Binds by the variant's type: null, integer, double, text or blob.
    Sqlite3Sql &addParam(const QVariant &v);

    const QByteArray &sql() const { return m_sql; }
    const QVariantList &params() const { return m_params; }

private:
    QByteArray m_sql;
    QVariantList m_params;
};

// One row as column name -> value, keeping the column order.
class Sqlite3Row
{
public:
    QVariant &operator[](const QString &name);
    void setVal(const QString &name, const QVariant &value);
    QVariant val(const QString &name) const;
    bool contains(const QString &name) const { return m_values.contains(name); }
    const QStringList &columns() const { return m_names; }

    // INSERT of the row's values under their names; an empty set means every column.
    Sqlite3Sql insertSql(const QString &table, const QSet<QString> &columnSet = {}) const;

private:
    QStringList m_names;
    QHash<QString, QVariant> m_values;
};

// The result of a query, positioned before its first row. Column names are
// matched without regard to case; a missing column reads as null.
class Sqlite3Cursor
{
public:
    Sqlite3Cursor() = default;

    // Advances; false after the last row. A step error raises Sqlite3Exception.
    bool moveNext();

    int getInt(const QString &col) const;
    qint64 getInt64(const QString &col) const;
    double getDouble(const QString &col) const;
    QString getText(const QString &col) const;
    QByteArray getBlob(const QString &col) const;
    bool isNull(const QString &col) const;
    bool containsCol(const QString &col) const;
    QVariant value(const QString &col) const;
    Sqlite3Row getRow() const;
    QStringList columnNames() const;

    // Positional access for readers of many rows: resolve each name once with
    // columnIndexOf (matched without regard to case; -1 when absent, valid before the
    // first row and for the whole query), then read by index. An index of -1 or out
    // of range reads as null, like a missing name.
    int columnIndexOf(const QString &col) const;
    int getIntAt(int index) const;
    qint64 getInt64At(int index) const;
    double getDoubleAt(int index) const;
    QString getTextAt(int index) const;
    QByteArray getBlobAt(int index) const;
    bool isNullAt(int index) const;
    // The value's bytes as UTF-8 text or as a blob, without a copy: for comparing or
    // hashing a value of many rows before deciding to keep it. Valid until the next
    // moveNext() or a read of the same column as another type; empty for null.
    QByteArrayView textBytesAt(int index) const;
    QByteArrayView blobBytesAt(int index) const;

private:
    friend class Sqlite3DB;
    struct Statement;
    struct StatementCache;
    int columnIndex(const QString &col) const;
    QVariant valueAt(int index) const;

    std::shared_ptr<Statement> m_stmt;
};

struct Sqlite3Column
{
    QString name;
    QString type;
};

// One SQLite connection; closed by close() or on destruction.
class Sqlite3DB
{
public:
    // SQLite's own values; Uri lets the path be a "file:" URI with parameters.
    enum OpenFlag { ReadOnly = 0x1, ReadWrite = 0x2, Create = 0x4, Uri = 0x40 };

    Sqlite3DB() = default;
    Sqlite3DB(const Sqlite3DB &) = delete;
    Sqlite3DB &operator=(const Sqlite3DB &) = delete;
    virtual ~Sqlite3DB();

    // flags as SQLite's: 6 opens or creates, 2 requires an existing file. With
    // target set, SQLite opens target (a "file:" URI, or a private copy) while
    // path() and every error still name path.
    void openThrow(const QString &path, int flags, const QString &target = QString());
    void close();
    bool isOpen() const { return m_db != nullptr; }
    QString path() const { return m_path; }
    sqlite3 *handle() const { return m_db; }
    // True when the connection cannot write (opened read-only, or the file is).
    bool isReadOnly() const;

    // Steps of SQLite's virtual machine run by every statement of the process so far:
    // work counted the same on any machine, for checks that work grows with its input.
    static qint64 vmSteps();

    // For files from outside: their triggers and views never run, their schema cannot
    // be changed through this connection, and functions in it count as untrusted.
    void treatAsUntrusted();
    // Switches the file's own triggers on or off for this connection.
    void setTriggersEnabled(bool enabled);

    void executeThrow(const Sqlite3Sql &sql);
    Sqlite3Cursor queryThrow(const Sqlite3Sql &sql);
    // Runs SQL text (several statements allowed); 0 on success, else SQLite's code and message.
    int exec(const QString &sql, QString &error);
    // Same as exec but raises with the file's name.
    void execThrow(const QString &sql);

    bool beginTran();
    bool commitTran();
    bool rollbackTran();
    bool inTransaction() const;
    // Changes whenever a transaction of this connection ends, committed or rolled back
    // (an automatic rollback after an error included), and when it closes: what was
    // learnt of the rows within one transaction holds while this stays the same.
    quint64 transactionSerial() const { return m_transactionSerial; }

    qint64 lastInsertId() const;
    int changes() const;
    QList<Sqlite3Column> tbCols(const QString &table);

private:
    [[noreturn]] void raise(int code, const QString &what = QString()) const;
    sqlite3_stmt *prepare(const Sqlite3Sql &sql);

    sqlite3 *m_db = nullptr;
    QString m_path;
    // Compiled statements kept for their next use: a copy of many rows runs the same
    // few statements hundreds of thousands of times, and compiling them each time
    // cost more than running them. Shared with cursors, which may outlive the connection.
    std::shared_ptr<Sqlite3Cursor::StatementCache> m_cache;
    quint64 m_transactionSerial = 0;
};

// SQLite makes its log and shared-memory files beside a database in write-ahead-log
// mode even for a connection that only reads. watch() notes which are absent before
// such a connection opens; removeNew() (and the destructor) removes those that were
// made meanwhile, once it has closed, so that reading leaves a folder as it was. A log
// with content stays: another program wrote it meanwhile.
class Sqlite3Sidecars
{
public:
    Sqlite3Sidecars() = default;
    explicit Sqlite3Sidecars(const QString &dbPath) { watch(dbPath); }
    ~Sqlite3Sidecars() { removeNew(); }
    Sqlite3Sidecars(const Sqlite3Sidecars &) = delete;
    Sqlite3Sidecars &operator=(const Sqlite3Sidecars &) = delete;

    void watch(const QString &dbPath);
    void removeNew();

private:
    QStringList m_absent;
};
