#include "support/TestSupport.h"
#include "viber/Sqlite3DB.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestSqlite3DB : public QObject
{
    Q_OBJECT

private slots:
    // The readers and writers rely on these on every row; what they would not notice is here.
    void bindAndRead()
    {
        Sqlite3DB db;
        open(db, u"bind.db"_s, u"CREATE TABLE t (i INTEGER, l INTEGER, d REAL, s TEXT, b BLOB, n TEXT)"_s);
        const qint64 big = Q_INT64_C(9007199254740993); // no double holds it
        const QString text = u"héllo 'quoted' \"x\""_s;
        const QByteArray blob("\x00\x01\x02", 3);
        db.executeThrow(Sqlite3Sql("INSERT INTO t VALUES (?, ?, ?, ?, ?, ?)")
                            .addIntParam(-7)
                            .addInt64Param(big)
                            .addDoubleParam(0.25)
                            .addTextParam(text)
                            .addBlobParam(blob)
                            .addNullParam());
        // An empty text is text, not NULL; an empty blob is an empty blob.
        db.executeThrow(
            Sqlite3Sql("INSERT INTO t (s, b) VALUES (?, ?)").addTextParam(QString()).addBlobParam({}));

        Sqlite3Cursor c = db.queryThrow("SELECT *, typeof(s) || typeof(b) AS types FROM t ORDER BY rowid");
        QVERIFY(c.moveNext());
        QCOMPARE(c.getInt(u"i"_s), -7);
        QCOMPARE(c.getInt64(u"L"_s), big); // names match without case
        QCOMPARE(c.getDouble(u"d"_s), 0.25);
        QCOMPARE(c.getText(u"s"_s), text);
        QCOMPARE(c.getBlob(u"b"_s), blob);
        QVERIFY(c.isNull(u"n"_s) && !c.isNull(u"s"_s) && c.isNull(u"missing"_s) &&
                c.getInt(u"missing"_s) == 0);
        QVERIFY(c.moveNext());
        QCOMPARE(c.getText(u"types"_s), u"textblob"_s);
        const QByteArrayView empty = c.textBytesAt(c.columnIndexOf(u"s"_s));
        QVERIFY(empty.isEmpty() && !empty.isNull());
    }
    void rowInsertSql()
    {
        Sqlite3DB db;
        open(db, u"row.db"_s,
             u"CREATE TABLE src (Z_PK INTEGER PRIMARY KEY, ZTEXT TEXT, ZDATE REAL, _other BLOB);"
             "CREATE TABLE dst (Z_PK INTEGER PRIMARY KEY, ZTEXT TEXT, ZDATE REAL, _other BLOB)"_s);
        db.executeThrow(Sqlite3Sql("INSERT INTO src VALUES (5, ?, 12.5, ?)")
                            .addTextParam(u"hi; DROP TABLE src"_s)
                            .addBlobParam("tinykv"));
        Sqlite3Cursor c = db.queryThrow("SELECT * FROM src");
        QVERIFY(c.moveNext());
        Sqlite3Row row = c.getRow();
        row[u"Z_PK"_s] = 9;
        db.executeThrow(row.insertSql(u"dst"_s));
        // Values are bound, never spliced into the statement.
        Sqlite3Cursor d =
            db.queryThrow("SELECT Z_PK || '|' || ZTEXT || '|' || ZDATE || '|' || hex(_other) FROM dst");
        QVERIFY(d.moveNext());
        QCOMPARE(d.getTextAt(0), u"9|hi; DROP TABLE src|12.5|74696E796B76"_s);
    }
    void transactionsAndErrors()
    {
        Sqlite3DB db;
        const QString file = open(db, u"tx.db"_s, u"CREATE TABLE t (v INTEGER)"_s);
        QVERIFY(db.beginTran() && db.inTransaction());
        db.executeThrow("INSERT INTO t VALUES (1)");
        QVERIFY(db.rollbackTran() && !db.inTransaction());
        QVERIFY(db.beginTran());
        db.executeThrow("INSERT INTO t VALUES (2)");
        QVERIFY(db.commitTran());
        {
            // Seen from another connection; a cursor holds its read lock while it lives.
            Sqlite3DB other;
            other.openThrow(file, Sqlite3DB::ReadWrite);
            Sqlite3Cursor c = other.queryThrow("SELECT group_concat(v) AS vs FROM t");
            QVERIFY(c.moveNext());
            QCOMPARE(c.getText(u"vs"_s), u"2"_s);
        }
        // Errors name the file and what failed; a missing file opened for reading is not created.
        QString error;
        QVERIFY(db.exec(u"INSERT INTO missing VALUES (1)"_s, error) != 0);
        QVERIFY2(error.contains(u"missing"_s), qPrintable(error));
        error = testsupport::errorOf([&] { db.executeThrow("INSERT INTO nowhere VALUES (1)"); });
        QVERIFY2(error.contains(QDir::toNativeSeparators(file)) && error.contains(u"nowhere"_s),
                 qPrintable(error));
        const QString missing = m_dir.filePath(u"missing.db"_s);
        Sqlite3DB none;
        QVERIFY_THROWS_EXCEPTION(Sqlite3Exception, none.openThrow(missing, Sqlite3DB::ReadWrite));
        QVERIFY(!none.isOpen() && !QFile::exists(missing));
    }

private:
    QTemporaryDir m_dir;
    // A new database of its own for each test, created read-write.
    QString open(Sqlite3DB &db, const QString &name, const QString &schema)
    {
        const QString file = m_dir.filePath(name);
        db.openThrow(file, Sqlite3DB::ReadWrite | Sqlite3DB::Create);
        db.execThrow(schema);
        return file;
    }
};

QTEST_GUILESS_MAIN(TestSqlite3DB)
#include "tst_sqlite3db.moc"
