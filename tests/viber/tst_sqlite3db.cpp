#include "viber/Sqlite3DB.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestSqlite3DB : public QObject
{
    Q_OBJECT

private slots:
    void bindAndRead();
    void rowInsertSql();
    void transactions();
    void errorsNameTheFile();

private:
    QTemporaryDir m_dir;
    // A new database of its own for each test, created read-write.
    QString open(Sqlite3DB &db, const char *name, const char *schema)
    {
        const QString file = m_dir.filePath(QLatin1String(name));
        db.openThrow(file, Sqlite3DB::ReadWrite | Sqlite3DB::Create);
        db.execThrow(QString::fromLatin1(schema));
        return file;
    }
};

void TestSqlite3DB::bindAndRead()
{
    Sqlite3DB db;
    open(db, "bind.db", "CREATE TABLE t (i INTEGER, l INTEGER, d REAL, s TEXT, b BLOB, n TEXT)");
    const qint64 big = Q_INT64_C(9007199254740993); // no double holds it
    const QString text = QStringLiteral("héllo 'quoted' \"x\"");
    const QByteArray blob("\x00\x01\x02", 3);
    db.executeThrow(Sqlite3Sql("INSERT INTO t VALUES (?, ?, ?, ?, ?, ?)")
                        .addIntParam(-7)
                        .addInt64Param(big)
                        .addDoubleParam(0.25)
                        .addTextParam(text)
                        .addBlobParam(blob)
                        .addNullParam());
    QCOMPARE(db.lastInsertId(), 1);

    Sqlite3Cursor c = db.queryThrow(Sqlite3Sql("SELECT * FROM t WHERE i = ?").addIntParam(-7));
    QVERIFY(c.moveNext());
    QCOMPARE(c.getInt("i"), -7);
    QCOMPARE(c.getInt64("L"), big); // names match without case
    QCOMPARE(c.getDouble("d"), 0.25);
    QCOMPARE(c.getText("s"), text);
    QCOMPARE(c.getBlob("b"), blob);
    QVERIFY(c.isNull("n") && !c.isNull("s"));
    QVERIFY(c.containsCol("b") && !c.containsCol("missing"));
    QVERIFY(c.getInt("missing") == 0 && c.isNull("missing"));
    // The views without a copy read what the copying getters read, conversions included.
    const int l = c.columnIndexOf("l"), s = c.columnIndexOf("s"), b = c.columnIndexOf("b");
    QCOMPARE(c.textBytesAt(s), text.toUtf8());
    QCOMPARE(c.textBytesAt(l), QByteArray::number(big));
    QCOMPARE(c.blobBytesAt(b), blob);
    QVERIFY(c.textBytesAt(c.columnIndexOf("n")).isNull() && c.blobBytesAt(-1).isNull());
    const Sqlite3Row row = c.getRow();
    QCOMPARE(row.columns(), QStringList({"i", "l", "d", "s", "b", "n"}));
    QCOMPARE(row.val("l").toLongLong(), big);
    QVERIFY(row.val("n").isNull());
    QVERIFY(!c.moveNext());
    QVERIFY(!c.moveNext()); // stays at the end

    // An empty text is text, not NULL; an empty blob is an empty blob.
    db.executeThrow(
        Sqlite3Sql("INSERT INTO t (s, b) VALUES (?, ?)").addTextParam(QString()).addBlobParam({}));
    Sqlite3Cursor e = db.queryThrow("SELECT typeof(s) || typeof(b) AS types, s FROM t WHERE rowid = 2");
    QVERIFY(e.moveNext());
    QCOMPARE(e.getText("types"), "textblob");
    const QByteArrayView empty = e.textBytesAt(e.columnIndexOf("s"));
    QVERIFY(empty.isEmpty() && !empty.isNull());

    // The declared types, by which readers tell the kind of a carried column.
    const QList<Sqlite3Column> cols = db.tbCols("t");
    QCOMPARE(cols.size(), 6);
    QCOMPARE(cols[2].name + ' ' + cols[2].type, "d REAL");
    QVERIFY(db.tbCols("nope").isEmpty());
}

void TestSqlite3DB::rowInsertSql()
{
    Sqlite3DB db;
    open(db, "row.db",
         "CREATE TABLE src (Z_PK INTEGER PRIMARY KEY, ZTEXT TEXT, ZDATE REAL, _other BLOB);"
         "CREATE TABLE dst (Z_PK INTEGER PRIMARY KEY, ZTEXT TEXT, ZDATE REAL, _other BLOB)");
    db.executeThrow(Sqlite3Sql("INSERT INTO src VALUES (5, ?, 12.5, ?)")
                        .addTextParam("hi; DROP TABLE src")
                        .addBlobParam("tinykv"));
    Sqlite3Cursor c = db.queryThrow("SELECT * FROM src");
    QVERIFY(c.moveNext());
    Sqlite3Row row = c.getRow();
    row["Z_PK"] = 9;
    db.executeThrow(row.insertSql("dst"));
    Sqlite3Row partial;
    partial.setVal("ZTEXT", "only text");
    partial.setVal("ZDATE", 1.0);
    db.executeThrow(partial.insertSql("dst", {"ZTEXT"}));

    Sqlite3Cursor d = db.queryThrow("SELECT Z_PK, ZTEXT, ZDATE, hex(_other) AS o FROM dst ORDER BY Z_PK");
    QStringList rows;
    while (d.moveNext())
        rows << QStringList({d.getText("Z_PK"), d.getText("ZTEXT"), d.getText("ZDATE"), d.getText("o")})
                    .join('|');
    QCOMPARE(rows, QStringList({"9|hi; DROP TABLE src|12.5|74696E796B76", // "tinykv"
                                "10|only text||"}));
}

void TestSqlite3DB::transactions()
{
    Sqlite3DB db;
    const QString file = open(db, "tx.db", "CREATE TABLE t (v INTEGER)");
    QVERIFY(db.beginTran() && db.inTransaction());
    db.executeThrow("INSERT INTO t VALUES (1)");
    QVERIFY(db.rollbackTran() && !db.inTransaction());
    QVERIFY(db.beginTran());
    db.executeThrow("INSERT INTO t VALUES (2)");
    QVERIFY(db.commitTran());
    {
        // A cursor holds its read lock while it lives, so it is scoped.
        Sqlite3DB other;
        other.openThrow(file, Sqlite3DB::ReadWrite);
        Sqlite3Cursor c = other.queryThrow("SELECT group_concat(v) AS vs FROM t");
        QVERIFY(c.moveNext());
        QCOMPARE(c.getText("vs"), "2");
    }
    QString error;
    QCOMPARE(db.exec("INSERT INTO t VALUES (3); INSERT INTO t VALUES (4);", error), 0);
    QVERIFY(error.isEmpty());
    QVERIFY(db.exec("INSERT INTO missing VALUES (1)", error) != 0);
    QVERIFY2(error.contains("missing"), qPrintable(error));
}

void TestSqlite3DB::errorsNameTheFile()
{
    Sqlite3DB db;
    const QString file = open(db, "errors.db", "CREATE TABLE t (v INTEGER)");
    try {
        db.executeThrow("INSERT INTO nowhere VALUES (1)");
        QFAIL("no exception");
    } catch (const Sqlite3Exception &e) {
        QVERIFY2(e.message().contains("errors.db") && e.message().contains("nowhere"), e.what());
        QCOMPARE(e.path(), file);
    }
    QVERIFY_THROWS_EXCEPTION(Sqlite3Exception, db.queryThrow("SELEKT 1"));

    // Opening for reading only requires an existing file and creates nothing.
    const QString missing = m_dir.filePath("missing.db");
    Sqlite3DB none;
    QVERIFY_THROWS_EXCEPTION(Sqlite3Exception, none.openThrow(missing, Sqlite3DB::ReadWrite));
    QVERIFY(!none.isOpen() && !QFile::exists(missing));
    QVERIFY_THROWS_EXCEPTION(Sqlite3Exception, none.executeThrow("SELECT 1"));

    // SQLite only notices a file that is no database on the first read.
    const QString junk = m_dir.filePath("junk.data");
    QFile f(junk);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(QByteArray(4096, 'x')) == 4096);
    f.close();
    Sqlite3DB notADb;
    notADb.openThrow(junk, Sqlite3DB::ReadWrite);
    try {
        notADb.queryThrow("SELECT * FROM sqlite_master").moveNext();
        QFAIL("no exception");
    } catch (const Sqlite3Exception &e) {
        QVERIFY2(e.message().contains("junk.data"), e.what());
    }
    QCOMPARE(QFileInfo(junk).size(), 4096);
}

QTEST_GUILESS_MAIN(TestSqlite3DB)
#include "tst_sqlite3db.moc"
