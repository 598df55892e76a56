#include "support/DesktopFixtures.h"
#include "support/StoreFixtures.h"

#include "viber/IOSViberDb.h"
#include "viber/PCViberDb.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;

// Stores as a damaged phone, a careless tool or an attacker leaves them. Loading reads what
// it can or refuses with a sentence naming the file; it never crashes, never hangs and
// never changes the store.

namespace {

// Setups that are no SQL.
const QString kLocked = u"@locked"_s;     // another connection holds an exclusive transaction
const QString kReadOnly = u"@readonly"_s; // file mode 0444 in folders of mode 0555
const QString kWriting = u"@writing"_s;   // another connection is deleting every message, uncommitted

using fixtures::exec;

void setWritable(const QStringList &paths, bool writable)
{
    for (const QString &path : paths) {
        QFile::Permissions p = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
        if (QFileInfo(path).isDir())
            p |= QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
        if (writable)
            p |= QFile::WriteOwner;
        QFile::setPermissions(path, p);
    }
}

} // namespace

class TestHostileStores : public QObject
{
    Q_OBJECT

private slots:
    void load_data()
    {
        QTest::addColumn<bool>("desktop");  // a desktop database instead of a phone's store
        QTest::addColumn<QString>("setup"); // SQL run on the sample store, or kLocked, kReadOnly
        QTest::addColumn<int>("lost");      // messages fewer than the sample's; -1: the load fails
        QTest::addColumn<QString>("says");  // what a failure tells beside the file's name
        const auto row = [](const char *name, const QString &setup, int lost, const QString &says = {}) {
            QTest::newRow(name) << false << setup << lost << says;
        };

        // Most damage is done to Bob: his one message, chat, participant row and call.
        const fixtures::StorePlan plan = fixtures::sampleStore();
        const auto bob = [&](QString sql) {
            return sql.replace(u"$MSG"_s, QString::number(plan.message(u"bobText"_s).pk))
                .replace(u"$CHAT"_s, QString::number(plan.chat(u"bob"_s).pk))
                .replace(u"$PERSON"_s, QString::number(plan.person(u"bob"_s).pk));
        };
        row("text in dates",
            u"UPDATE ZVIBERMESSAGE SET ZDATE = 'yesterday', ZSTATEDATE = x'00';"
            u"UPDATE ZCONVERSATION SET ZDATE = 'never'; UPDATE ZRECENT SET ZDATE = ''"_s,
            0);
        row("blobs in texts",
            u"UPDATE ZVIBERMESSAGE SET ZTEXT = x'00ff41c3' WHERE ZTEXT <> '';"
            u"UPDATE ZPHONENUMBERINDEX SET ZCANONIZEDPHONENUM = x'0000';"
            u"UPDATE ZATTACHMENT SET ZNAME = x'2e2e2f', ZTYPE = x'ff'"_s,
            0);
        // A state that is no text is no known state: the message is left out, as a failed one is.
        row("blob in a state", bob(u"UPDATE ZVIBERMESSAGE SET ZSTATE = x'ff' WHERE Z_PK = $MSG"_s), 1);
        row("texts in keys",
            bob(u"UPDATE ZVIBERMESSAGE SET ZCONVERSATION = 'one' WHERE Z_PK = $MSG;"
                u"UPDATE ZVIBERMESSAGE SET ZPHONENUMINDEX = 'x', ZATTACHMENT = 'y';"
                u"UPDATE ZATTACHMENT SET ZMESSAGE = '1e400'"_s),
            1);
        row("null references",
            bob(u"UPDATE ZVIBERMESSAGE SET ZCONVERSATION = NULL WHERE Z_PK = $MSG;"
                u"UPDATE ZVIBERMESSAGE SET ZPHONENUMINDEX = NULL WHERE Z_PK <> $MSG;"
                u"UPDATE Z_PRIMARYKEY SET Z_NAME = NULL WHERE Z_NAME = 'Attachment'"_s),
            1);
        // Keys moved to the ends of their range, with every reference to them.
        row("extreme keys",
            bob(u"UPDATE ZVIBERMESSAGE SET Z_PK = -9223372036854775808 WHERE Z_PK = $MSG;"
                u"UPDATE ZCONVERSATION SET Z_PK = 9223372036854775807 WHERE Z_PK = $CHAT;"
                u"UPDATE ZVIBERMESSAGE SET ZCONVERSATION = 9223372036854775807 WHERE ZCONVERSATION = $CHAT;"
                u"UPDATE Z_5PHONENUMINDEXES SET Z_5CONVERSATIONS = 9223372036854775807 "
                u"WHERE Z_5CONVERSATIONS = $CHAT;"
                u"UPDATE ZPHONENUMBERINDEX SET Z_PK = 0 WHERE Z_PK = $PERSON;"
                u"UPDATE ZVIBERMESSAGE SET ZPHONENUMINDEX = 0 WHERE ZPHONENUMINDEX = $PERSON;"
                u"UPDATE Z_5PHONENUMINDEXES SET Z_10PHONENUMINDEXES = 0 WHERE Z_10PHONENUMINDEXES = $PERSON;"
                u"UPDATE ZRECENTSLINE SET ZPHONENUMINDEX = 0 WHERE ZPHONENUMINDEX = $PERSON;"
                u"UPDATE ZRECENT SET Z_PK = -Z_PK"_s),
            0);
        row("keys repeated across tables",
            u"UPDATE ZVIBERMESSAGE SET Z_PK = -Z_PK; UPDATE ZATTACHMENT SET Z_PK = -Z_PK;"
            u"UPDATE ZVIBERMESSAGE SET ZATTACHMENT = -ZATTACHMENT; UPDATE ZATTACHMENT SET ZMESSAGE = "
            u"-ZMESSAGE;"
            u"UPDATE ZVIBERLOCATION SET ZMESSAGE = -ZMESSAGE"_s,
            0);
        row("references in a circle",
            u"UPDATE ZATTACHMENT SET ZMESSAGE = (SELECT max(Z_PK) FROM ZVIBERMESSAGE);"
            u"UPDATE ZVIBERMESSAGE SET ZATTACHMENT = (SELECT min(Z_PK) FROM ZATTACHMENT),"
            u" ZLOCATION = (SELECT min(Z_PK) FROM ZVIBERLOCATION);"
            u"UPDATE ZVIBERLOCATION SET ZMESSAGE = (SELECT min(Z_PK) FROM ZVIBERMESSAGE)"_s,
            0);
        // A message keeps its text without its sender; a call without its person is shown
        // under an unknown party.
        row("dangling references",
            bob(u"UPDATE ZVIBERMESSAGE SET ZPHONENUMINDEX = 424242, ZATTACHMENT = 424242, ZLOCATION = 424242;"
                u"UPDATE ZRECENTSLINE SET ZPHONENUMINDEX = 424242 WHERE ZPHONENUMINDEX = $PERSON;"
                u"INSERT INTO Z_5PHONENUMINDEXES VALUES (424242, 424242)"_s),
            0);
        row("locked by another program", kLocked, -1, u"in use by another program"_s);
        row("read-only", kReadOnly, 0);
        // Orphans of every kind, a million attachments among them.
        row("a million orphans",
            u"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000000) "
            u"INSERT INTO ZATTACHMENT (ZMESSAGE, ZTYPE, ZNAME) SELECT 1000000 + i, 'picture', 'x.jpg' FROM n;"
            u"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
            u"INSERT INTO Z_5PHONENUMINDEXES SELECT 1000000 + i, 1 FROM n;"
            u"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
            u"INSERT INTO ZVIBERLOCATION (ZMESSAGE, ZLATITUDE) SELECT 1000000 + i, 1 FROM n"_s,
            0);
        row("no participant tables", u"DROP TABLE ZPHONENUMBERINDEX; DROP TABLE Z_5PHONENUMINDEXES"_s, 0);
        // What another program has not committed is not read.
        row("another program writing", kWriting, 0);
        // Damaged values of a desktop database are its reader's own suite's; here what the file's state does.
        QTest::newRow("desktop, locked by another program")
            << true << kLocked << -1 << u"in use by another program"_s;
        QTest::newRow("desktop, read-only") << true << kReadOnly << 0 << QString();
    }
    void load()
    {
        QFETCH(bool, desktop);
        QFETCH(QString, setup);
        QFETCH(int, lost);
        QFETCH(QString, says);
        QTemporaryDir dir;
        const QString root = QDir(dir.path()).absolutePath();
        const QString file = QString::fromLatin1(fixtures::kStoreFileName);
        const QString path = desktop ? dir.filePath(u"viber.db"_s) : dir.filePath(file);
        if (desktop)
            fixtures::writeDesktopStore(fixtures::sampleDesktopStore(fixtures::DesktopLayout::Contacts), path,
                                        fixtures::DesktopLayout::Contacts);
        else
            fixtures::writeStore(fixtures::sampleStore(), root, fixtures::StoreLayout::Phone);
        const auto load = [&] {
            return desktop ? PCViberDb(path).load() : IOSViberDb(QDir(root), file).load();
        };
        const qsizetype sample = load()->messages.size();
        const QStringList folders = desktop ? QStringList{root} : QStringList{root + u"/Documents"_s, root};
        Sqlite3DB locker;
        if (setup == kLocked || setup == kWriting) {
            locker.openThrow(path, Sqlite3DB::ReadWrite);
            locker.execThrow(setup == kLocked ? u"PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE;"_s
                                              : u"BEGIN IMMEDIATE; DELETE FROM ZVIBERMESSAGE;"_s);
        } else if (setup == kReadOnly) {
            setWritable(QStringList{path} + folders, false);
        } else {
            exec(path, setup);
        }
        const QStringList before = fixtures::filesBelow(root);
        QElapsedTimer timer;
        timer.start();
        ViberDataPtr data;
        QString error;
        try {
            data = load();
        } catch (const std::exception &e) {
            error = QString::fromUtf8(e.what());
        }
        const qint64 ms = timer.elapsed();
        if (setup == kReadOnly)
            setWritable(QStringList{path} + folders, true);
        QVERIFY2(fixtures::filesBelow(root) == before, "loading changed the store");
        // SQLite waits 5 s for a lock; much longer would be a hang.
        QVERIFY2(ms < 15000, qPrintable(QString::number(ms)));
        // A load fails naming the file and saying why, or loads all but the messages lost
        // and counts whatever it did not read with its reason.
        if (lost < 0) {
            QVERIFY2(error.contains(QDir::toNativeSeparators(path)) && error.contains(says),
                     qPrintable(error));
        } else {
            QVERIFY2(error.isEmpty(), qPrintable(error));
            QCOMPARE(data->messages.size(), sample - lost);
            QVERIFY2(data->account.balances(), qPrintable(data->account.imbalances().join(u"; "_s)));
        }
    }
};

QTEST_GUILESS_MAIN(TestHostileStores)
#include "tst_hostilestores.moc"
