#include "support/StoreFixtures.h"

#include "support/RecordingReporter.h"
#include "viber/IOSViberDb.h"
#include "viber/LocalDatabases.h"
#include "workers/DeleteViberMsgThread.h"
#include "workers/ProgressReporter.h"

#include <QFile>
#include <QMutex>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>

namespace {

using Reporter = RecordingReporter;

// A local database holding the sample store, loaded.
class Database
{
public:
    Database()
    {
        folder = m_dir.filePath(QStringLiteral("Work"));
        QDir().mkpath(folder);
        fixtures::writeStore(fixtures::sampleStore(), folder, fixtures::StoreLayout::Template,
                             QLatin1String(LocalDatabases::kStoreFileName));
        store = LocalDatabases::store(folder);
        data = store->load();
        store->close();
    }

    QString storePath() const { return QDir(folder).filePath(QLatin1String(LocalDatabases::kStoreFileName)); }

    _ViberMsg *byText(const QString &text) const
    {
        for (_ViberMsg *m : data->messages)
            if (m->text == text)
                return m;
        return nullptr;
    }
    _ViberChat *chatWith(const QString &phone) const
    {
        for (_ViberChat *c : data->chats)
            if (c->groupId.isEmpty() && c->participants.size() == 1 &&
                c->participants.constBegin().value()->phone == phone)
                return c;
        return nullptr;
    }

    // Runs the worker on the store and returns its outcome.
    WorkerThread::Outcome remove(const QList<_ViberMsg *> &messages, Reporter &reporter)
    {
        DeleteViberMsgThread worker(store.get(), messages);
        worker.setReporter(&reporter);
        worker.start();
        worker.wait();
        store->close();
        return worker.outcome();
    }

    qint64 scalar(const QString &sql)
    {
        Sqlite3DB db;
        db.openThrow(storePath(), Sqlite3DB::ReadOnly);
        Sqlite3Cursor c = db.queryThrow(sql);
        return c.moveNext() ? c.getInt64At(0) : -1;
    }

    QString folder;
    std::unique_ptr<IOSViberDb> store;
    ViberDataPtr data;

private:
    QTemporaryDir m_dir;
};

} // namespace

class TestDeleteViberMsgThread : public QObject
{
    Q_OBJECT

private slots:
    void deletingAChatRemovesItsConversation();
    void deletingAPictureKeepsItsFile();
    void deletingTwiceChangesNothingTheSecondTime();
    void cancelLeavesEveryRow();
    void failureRollsBackWithItsText();
    void staleRecordsTakeNoOtherRow();
};

void TestDeleteViberMsgThread::deletingAChatRemovesItsConversation()
{
    Database db;
    _ViberChat *fay = db.chatWith(QStringLiteral("fay.viber"));
    _ViberChat *bob = db.chatWith(QStringLiteral("+4915222222222"));
    QVERIFY(fay && bob);
    const qint64 fayKey = fay->id;
    // Bob's chat also has a call; deleting only his text leaves the call in a made-up chat.
    QList<_ViberMsg *> messages = fay->messages;
    for (_ViberMsg *m : bob->messages)
        if (m->type != ViberMsgTypeCall)
            messages << m;
    const qint64 before = db.scalar(QStringLiteral("select count(*) from ZVIBERMESSAGE"));

    Reporter reporter;
    QCOMPARE(db.remove(messages, reporter), WorkerThread::Outcome::Succeeded);
    QCOMPARE(reporter.statuses.value(0), QStringLiteral("Deleting messages..."));
    QCOMPARE(reporter.percents.last(), 100);
    QCOMPARE(reporter.successes,
             QStringList(QStringLiteral("Successfully deleted %1 messages.").arg(messages.size())));
    QCOMPARE(db.scalar(QStringLiteral("select count(*) from ZVIBERMESSAGE")), before - messages.size());
    QCOMPARE(db.scalar(QStringLiteral("select count(*) from ZCONVERSATION where Z_PK=%1").arg(fayKey)), 0);
    // Compacted: no free pages are left in the file.
    QCOMPARE(db.scalar(QStringLiteral("pragma freelist_count")), 0);

    const ViberDataPtr after = db.store->load();
    for (const _ViberChat *c : after->chats)
        for (const _ViberPerson *p : c->participants)
            QVERIFY(p->phone != QStringLiteral("fay.viber"));
    bool bobsCall = false;
    for (const _ViberMsg *m : after->messages) {
        QVERIFY(m->text != QStringLiteral("Bob here"));
        if (m->call && m->call->person->phone == QStringLiteral("+4915222222222"))
            bobsCall = m->chat->id < 0;
    }
    QVERIFY(bobsCall);
    // The dates of the conversations that stay follow their latest message.
    const _ViberChat *ann = db.chatWith(QStringLiteral("+4915111111111"));
    double latest = 0;
    for (const _ViberMsg *m : ann->messages)
        if (m->type != ViberMsgTypeCall)
            latest = std::max(latest, m->date);
    Sqlite3DB raw;
    raw.openThrow(db.storePath(), Sqlite3DB::ReadOnly);
    Sqlite3Cursor c =
        raw.queryThrow(QStringLiteral("select ZDATE from ZCONVERSATION where Z_PK=%1").arg(ann->id));
    QVERIFY(c.moveNext());
    QCOMPARE(c.getDoubleAt(0), latest);
}

void TestDeleteViberMsgThread::deletingAPictureKeepsItsFile()
{
    Database db;
    _ViberMsg *picture = nullptr;
    for (_ViberMsg *m : db.data->messages)
        if (m->attachment && m->attachment->fileName == QStringLiteral("p1.jpg"))
            picture = m;
    QVERIFY(picture);
    const QString file = picture->attachment->filePath;
    QVERIFY(QFileInfo(file).isFile());
    const qint64 attachmentKey = picture->attachment->id;

    Reporter reporter;
    QCOMPARE(db.remove({picture}, reporter), WorkerThread::Outcome::Succeeded);
    QCOMPARE(db.scalar(QStringLiteral("select count(*) from ZATTACHMENT where Z_PK=%1").arg(attachmentKey)),
             0);
    QCOMPARE(db.scalar(QStringLiteral("select count(*) from ZVIBERMESSAGE where Z_PK=%1").arg(picture->id)),
             0);
    QVERIFY(QFileInfo(file).isFile());

    // A location goes with its message too.
    _ViberMsg *location = db.byText(QString());
    for (_ViberMsg *m : db.data->messages)
        if (m->type == ViberMsgTypeLocation && !m->attachment)
            location = m;
    QVERIFY(location && location->latitude != 0);
    QCOMPARE(db.remove({location}, reporter), WorkerThread::Outcome::Succeeded);
    QCOMPARE(
        db.scalar(QStringLiteral("select count(*) from ZVIBERLOCATION where ZMESSAGE=%1").arg(location->id)),
        0);
}

void TestDeleteViberMsgThread::deletingTwiceChangesNothingTheSecondTime()
{
    Database db;
    QList<_ViberMsg *> selection;
    for (_ViberMsg *m : db.data->messages)
        if (m->type == ViberMsgTypeCall || m->text == QStringLiteral("Hi all") || m->attachment)
            selection << m;
    QVERIFY(selection.size() > 10);
    Reporter first;
    QCOMPARE(db.remove(selection, first), WorkerThread::Outcome::Succeeded);
    for (const _ViberCall *call : db.data->calls)
        QCOMPARE(db.scalar(QStringLiteral("select count(*) from ZRECENT where Z_PK=%1").arg(call->id)), 0);
    // Opening drops the participant links of the conversations that went.
    db.store->open();
    db.store->close();
    const QStringList rows = fixtures::storeRows(db.storePath());

    Reporter second;
    QCOMPARE(db.remove(selection, second), WorkerThread::Outcome::Succeeded);
    QCOMPARE(first.successes,
             QStringList(QStringLiteral("Successfully deleted %1 messages.").arg(selection.size())));
    QCOMPARE(second.successes, QStringList(QStringLiteral("Successfully deleted 0 messages.")));
    QCOMPARE(fixtures::storeRows(db.storePath()), rows);
}

void TestDeleteViberMsgThread::cancelLeavesEveryRow()
{
    Database db;
    const QStringList rows = fixtures::storeRows(db.storePath());
    Reporter reporter;
    reporter.cancelWhen = [](const Reporter &r) { return r.percents.size() > 5; };
    QCOMPARE(db.remove(db.data->messages.values(), reporter), WorkerThread::Outcome::Cancelled);
    QVERIFY(reporter.errors.isEmpty() && reporter.successes.isEmpty());
    QCOMPARE(fixtures::storeRows(db.storePath()), rows);
}

void TestDeleteViberMsgThread::failureRollsBackWithItsText()
{
    Database db;
    {
        Sqlite3DB raw;
        raw.openThrow(db.storePath(), Sqlite3DB::ReadWrite);
        raw.execThrow(QStringLiteral("create trigger refuse before delete on ZVIBERLOCATION begin "
                                     "select raise(abort, 'location rows are kept'); end"));
    }
    const QStringList rows = fixtures::storeRows(db.storePath());
    // Messages first, the location last: the failure comes after other rows went.
    QList<_ViberMsg *> messages;
    _ViberMsg *location = nullptr;
    for (_ViberMsg *m : db.data->messages) {
        if (m->type == ViberMsgTypeLocation && !location)
            location = m;
        else if (m->type == ViberMsgTypeText)
            messages << m;
    }
    QVERIFY(location && messages.size() > 3);
    messages << location;

    // The program never runs a store's triggers; this one is switched on as the fault.
    db.store->open();
    db.store->setTriggersEnabled(true);
    Reporter reporter;
    QCOMPARE(db.remove(messages, reporter), WorkerThread::Outcome::Failed);
    const QString error = reporter.errors.value(0);
    QVERIFY2(error.startsWith(QStringLiteral("DeleteViberMsgThread, ")), qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("location rows are kept")), qPrintable(error));
    QVERIFY2(error.contains(QDir::toNativeSeparators(db.storePath())), qPrintable(error));
    QCOMPARE(fixtures::storeRows(db.storePath()), rows);
}

void TestDeleteViberMsgThread::staleRecordsTakeNoOtherRow()
{
    Database db;
    _ViberMsg *hello = db.byText(QStringLiteral("Bob here"));
    QVERIFY(hello);
    // The record of an older load: its key now holds another message.
    _ViberMsg stale = *hello;
    stale.token = hello->token + 1;
    _ViberCall staleCall;
    staleCall.id = db.data->calls.constBegin().key();
    staleCall.callToken = 1;
    _ViberMsg callEntry;
    callEntry.type = ViberMsgTypeCall;
    callEntry.call = &staleCall;
    // Conversations without messages go in any run; every other row must stay.
    auto rowsKept = [&db] {
        QStringList rows = fixtures::storeRows(db.storePath());
        rows.erase(
            std::remove_if(rows.begin(), rows.end(),
                           [](const QString &r) { return r.startsWith(QLatin1String("ZCONVERSATION ")); }),
            rows.end());
        return rows;
    };
    const QStringList rows = rowsKept();

    Reporter reporter;
    QCOMPARE(db.remove({&stale, &callEntry}, reporter), WorkerThread::Outcome::Succeeded);
    // Counted by what went, not by what was asked for.
    QCOMPARE(reporter.successes, QStringList(QStringLiteral("Successfully deleted 0 messages.")));
    QCOMPARE(rowsKept(), rows);
}

QTEST_GUILESS_MAIN(TestDeleteViberMsgThread)
#include "tst_deleteviber.moc"
