#include "viber/Sqlite3DB.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestSqlite3DB : public QObject
{
    Q_OBJECT

private slots:
    void version();
    void bindAndRead();
    void rowInsertSql();
    void tableColumns();
    void transactions();
    void errorsNameTheFile();
    void notADatabase();

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
};

void TestSqlite3DB::version()
{
    QCOMPARE(sqlite_qt_version(), 6);
}

void TestSqlite3DB::bindAndRead()
{
    Sqlite3DB db;
    db.openThrow(path(QStringLiteral("bind.db")), 6);
    db.executeThrow("CREATE TABLE t (i INTEGER, l INTEGER, d REAL, s TEXT, b BLOB, n TEXT)");
    Sqlite3Sql ins("INSERT INTO t VALUES (?, ?, ?, ?, ?, ?)");
    ins.addIntParam(-7)
        .addInt64Param(Q_INT64_C(9007199254740993))
        .addDoubleParam(0.25)
        .addTextParam(QStringLiteral("héllo 'quoted' \"x\""))
        .addBlobParam(QByteArray("\x00\x01\x02", 3))
        .addNullParam();
    db.executeThrow(ins);
    QCOMPARE(db.lastInsertId(), Q_INT64_C(1));

    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql("SELECT * FROM t WHERE i = ?").addIntParam(-7));
    QVERIFY(c.moveNext());
    QCOMPARE(c.getInt(QStringLiteral("i")), -7);
    QCOMPARE(c.getInt64(QStringLiteral("L")), Q_INT64_C(9007199254740993)); // names match without case
    QCOMPARE(c.getDouble(QStringLiteral("d")), 0.25);
    QCOMPARE(c.getText(QStringLiteral("s")), QStringLiteral("héllo 'quoted' \"x\""));
    QCOMPARE(c.getBlob(QStringLiteral("b")), QByteArray("\x00\x01\x02", 3));
    QVERIFY(c.isNull(QStringLiteral("n")));
    QVERIFY(!c.isNull(QStringLiteral("s")));
    QVERIFY(c.containsCol(QStringLiteral("b")));
    QVERIFY(!c.containsCol(QStringLiteral("missing")));
    QCOMPARE(c.getInt(QStringLiteral("missing")), 0);
    QVERIFY(c.isNull(QStringLiteral("missing")));

    const Sqlite3Row row = c.getRow();
    QCOMPARE(row.columns(), QStringList({"i", "l", "d", "s", "b", "n"}));
    QCOMPARE(row.val(QStringLiteral("l")).toLongLong(), Q_INT64_C(9007199254740993));
    QVERIFY(row.val(QStringLiteral("n")).isNull());
    QVERIFY(!c.moveNext());
    QVERIFY(!c.moveNext()); // stays at the end

    // An empty text is text, not NULL; an empty blob is an empty blob.
    db.executeThrow(
        Sqlite3Sql("INSERT INTO t (s, b) VALUES (?, ?)").addTextParam(QString()).addBlobParam({}));
    Sqlite3Cursor e = db.queryThrow("SELECT typeof(s) AS ts, typeof(b) AS tb FROM t WHERE rowid = 2");
    QVERIFY(e.moveNext());
    QCOMPARE(e.getText(QStringLiteral("ts")), QStringLiteral("text"));
    QCOMPARE(e.getText(QStringLiteral("tb")), QStringLiteral("blob"));
}

void TestSqlite3DB::rowInsertSql()
{
    Sqlite3DB db;
    db.openThrow(path(QStringLiteral("row.db")), 6);
    db.executeThrow("CREATE TABLE src (Z_PK INTEGER PRIMARY KEY, ZTEXT TEXT, ZDATE REAL, _other BLOB)");
    db.executeThrow("CREATE TABLE dst (Z_PK INTEGER PRIMARY KEY, ZTEXT TEXT, ZDATE REAL, _other BLOB)");
    db.executeThrow(Sqlite3Sql("INSERT INTO src VALUES (5, ?, 12.5, ?)")
                        .addTextParam(QStringLiteral("hi; DROP TABLE src"))
                        .addBlobParam(QByteArray("tinykv")));
    Sqlite3Cursor c = db.queryThrow("SELECT * FROM src");
    QVERIFY(c.moveNext());
    Sqlite3Row row = c.getRow();
    row[QStringLiteral("Z_PK")] = 9;
    db.executeThrow(row.insertSql(QStringLiteral("dst")));

    Sqlite3Row partial;
    partial.setVal(QStringLiteral("ZTEXT"), QStringLiteral("only text"));
    partial.setVal(QStringLiteral("ZDATE"), 1.0);
    db.executeThrow(partial.insertSql(QStringLiteral("dst"), {QStringLiteral("ZTEXT")}));

    Sqlite3Cursor d = db.queryThrow("SELECT * FROM dst ORDER BY Z_PK");
    QVERIFY(d.moveNext());
    QCOMPARE(d.getInt64(QStringLiteral("Z_PK")), Q_INT64_C(9));
    QCOMPARE(d.getText(QStringLiteral("ZTEXT")), QStringLiteral("hi; DROP TABLE src"));
    QCOMPARE(d.getDouble(QStringLiteral("ZDATE")), 12.5);
    QCOMPARE(d.getBlob(QStringLiteral("_other")), QByteArray("tinykv"));
    QVERIFY(d.moveNext());
    QCOMPARE(d.getText(QStringLiteral("ZTEXT")), QStringLiteral("only text"));
    QVERIFY(d.isNull(QStringLiteral("ZDATE")));
    QVERIFY(!d.moveNext());
}

void TestSqlite3DB::tableColumns()
{
    Sqlite3DB db;
    db.openThrow(path(QStringLiteral("cols.db")), 6);
    db.executeThrow("CREATE TABLE ZVIBERMESSAGE (Z_PK INTEGER PRIMARY KEY, ZTEXT VARCHAR, ZDATE TIMESTAMP)");
    const QList<Sqlite3Column> cols = db.tbCols(QStringLiteral("ZVIBERMESSAGE"));
    QCOMPARE(cols.size(), 3);
    QCOMPARE(cols[1].name, QStringLiteral("ZTEXT"));
    QCOMPARE(cols[1].type, QStringLiteral("VARCHAR"));
    QCOMPARE(cols[2].type, QStringLiteral("TIMESTAMP"));
    QVERIFY(db.tbCols(QStringLiteral("nope")).isEmpty());
}

void TestSqlite3DB::transactions()
{
    Sqlite3DB db;
    db.openThrow(path(QStringLiteral("tx.db")), 6);
    db.executeThrow("CREATE TABLE t (v INTEGER)");
    QVERIFY(db.beginTran());
    QVERIFY(db.inTransaction());
    db.executeThrow("INSERT INTO t VALUES (1)");
    QVERIFY(db.rollbackTran());
    QVERIFY(!db.inTransaction());
    QVERIFY(db.beginTran());
    db.executeThrow("INSERT INTO t VALUES (2)");
    QVERIFY(db.commitTran());

    {
        // A cursor holds its read lock while it lives, so it is scoped.
        Sqlite3DB other;
        other.openThrow(path(QStringLiteral("tx.db")), 2);
        Sqlite3Cursor c = other.queryThrow("SELECT group_concat(v) AS vs FROM t");
        QVERIFY(c.moveNext());
        QCOMPARE(c.getText(QStringLiteral("vs")), QStringLiteral("2"));
    }

    QString error;
    QCOMPARE(db.exec(QStringLiteral("INSERT INTO t VALUES (3); INSERT INTO t VALUES (4);"), error), 0);
    QVERIFY(error.isEmpty());
    QVERIFY(db.exec(QStringLiteral("INSERT INTO missing VALUES (1)"), error) != 0);
    QVERIFY2(error.contains(QStringLiteral("missing")), qPrintable(error));
}

void TestSqlite3DB::errorsNameTheFile()
{
    const QString file = path(QStringLiteral("errors.db"));
    Sqlite3DB db;
    db.openThrow(file, 6);
    try {
        db.executeThrow("INSERT INTO nowhere VALUES (1)");
        QFAIL("no exception");
    } catch (const Sqlite3Exception &e) {
        QVERIFY2(e.message().contains(QStringLiteral("errors.db")), e.what());
        QVERIFY2(e.message().contains(QStringLiteral("nowhere")), e.what());
        QCOMPARE(e.path(), file);
    }
    try {
        db.queryThrow("SELEKT 1");
        QFAIL("no exception");
    } catch (const std::exception &e) {
        QVERIFY(QString::fromUtf8(e.what()).contains(QStringLiteral("syntax")));
    }

    // Flags 2 require an existing file and create nothing.
    const QString missing = path(QStringLiteral("missing.db"));
    Sqlite3DB none;
    QVERIFY_THROWS_EXCEPTION(Sqlite3Exception, none.openThrow(missing, 2));
    QVERIFY(!none.isOpen());
    QVERIFY(!QFile::exists(missing));

    Sqlite3DB closed;
    QVERIFY_THROWS_EXCEPTION(Sqlite3Exception, closed.executeThrow("SELECT 1"));
}

void TestSqlite3DB::notADatabase()
{
    const QString file = path(QStringLiteral("junk.data"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'x'));
    f.close();
    Sqlite3DB db;
    db.openThrow(file, 2); // SQLite only notices on first read
    try {
        db.queryThrow("SELECT * FROM sqlite_master").moveNext();
        QFAIL("no exception");
    } catch (const Sqlite3Exception &e) {
        QVERIFY2(e.message().contains(QStringLiteral("junk.data")), e.what());
    }
    QCOMPARE(QFileInfo(file).size(), qint64(4096));
}

QTEST_GUILESS_MAIN(TestSqlite3DB)
#include "tst_sqlite3db.moc"
