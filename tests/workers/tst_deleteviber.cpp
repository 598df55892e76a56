#include "support/RecordingReporter.h"
#include "support/StoreFixtures.h"
#include "viber/IOSViberDb.h"
#include "viber/LocalDatabases.h"
#include "workers/DeleteViberMsgThread.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// A local database holding the sample store, loaded.
struct Database
{
    Database()
    {
        QDir().mkpath(folder);
        fixtures::writeStore(plan, folder, fixtures::StoreLayout::Template,
                             QLatin1String(LocalDatabases::kStoreFileName));
        data = store->load();
        store->close();
    }

    // Runs the worker on the store; it must leave the caller's store as it found it.
    WorkerThread::Outcome remove(const QList<_ViberMsg *> &messages, int cancelAfter = 0)
    {
        reporter = std::make_unique<RecordingReporter>();
        reporter->cancelWhen = [=](const RecordingReporter &r) {
            return cancelAfter && r.percents.size() > cancelAfter;
        };
        DeleteViberMsgThread worker(store.get(), messages);
        worker.setReporter(reporter.get());
        worker.start();
        worker.wait();
        // A store left inside the worker's transaction counts as a run that never ended.
        const bool inTransaction = store->inTransaction();
        store->close();
        return inTransaction ? WorkerThread::Outcome::NotFinished : worker.outcome();
    }
    qint64 count(const QString &table, const QString &where = u"1"_s) const
    {
        return fixtures::rows(path, u"select count(*) from %1 where %2"_s.arg(table, where)).toLongLong();
    }
    QList<_ViberMsg *> messages(const QStringList &labels, const QStringList &callLabels = {}) const
    {
        QList<_ViberMsg *> out;
        for (const QString &label : labels)
            out << data->messages.value(plan.message(label).pk);
        for (const QString &label : callLabels)
            out << data->messages.value(-plan.call(label).pk);
        return out;
    }

    const fixtures::StorePlan plan = fixtures::sampleStore();
    QTemporaryDir dir;
    QString folder = dir.filePath(u"Work"_s);
    QString path = QDir(folder).filePath(QLatin1String(LocalDatabases::kStoreFileName));
    std::unique_ptr<IOSViberDb> store = LocalDatabases::store(folder);
    ViberDataPtr data;
    std::unique_ptr<RecordingReporter> reporter;
};

} // namespace

class TestDeleteViberMsgThread : public QObject
{
    Q_OBJECT

private slots:
    void deletesRowsButNoFiles()
    {
        Database db;
        // Fay's only message, Bob's text but not his call, a picture, both locations,
        // Ann's newest message and one call.
        const QList<_ViberMsg *> selection = db.messages(
            {u"fayText"_s, u"bobText"_s, u"picture"_s, u"location"_s, u"locationAttachment"_s, u"other"_s},
            {u"annIncoming"_s});
        QVERIFY(!selection.contains(nullptr));
        const QString picture = selection[2]->attachment->filePath;
        QStringList keys;
        for (const _ViberMsg *m : selection)
            keys << QString::number(m->id);
        const qint64 messages = db.count(u"ZVIBERMESSAGE"_s), calls = db.count(u"ZRECENT"_s);

        QCOMPARE(db.remove(selection), WorkerThread::Outcome::Succeeded);
        QCOMPARE(db.reporter->successes, QStringList(u"Successfully deleted 7 messages."_s));
        QCOMPARE(db.count(u"ZVIBERMESSAGE"_s), messages - 6);
        QCOMPARE(db.count(u"ZRECENT"_s), calls - 1);
        QCOMPARE(db.count(u"ZRECENT"_s, u"Z_PK=%1"_s.arg(selection[6]->call->id)), 0);
        QCOMPARE(
            db.count(QStringLiteral("(select Z_PK as k from ZVIBERMESSAGE union all select ZMESSAGE from "
                                    "ZATTACHMENT union all select ZMESSAGE from ZVIBERLOCATION)"),
                     u"k in (%1)"_s.arg(keys.join(u','))),
            0);
        QVERIFY(QFileInfo(picture).isFile());
        // Every conversation left has messages, and the date of its newest; Fay's and Bob's went.
        QCOMPARE(db.count(u"ZCONVERSATION"_s, QStringLiteral("ZDATE=(select max(ZDATE) from ZVIBERMESSAGE m "
                                                             "where m.ZCONVERSATION=ZCONVERSATION.Z_PK)")),
                 db.count(u"ZCONVERSATION"_s));
        QCOMPARE(db.count(u"ZCONVERSATION"_s,
                          u"Z_PK in (%1,%2)"_s.arg(db.plan.chat(u"fay"_s).pk).arg(db.plan.chat(u"bob"_s).pk)),
                 0);

        // Again, with records of the older load whose keys now hold other rows: nothing goes.
        db.store->open(); // drops the participant links of the conversations that went
        db.store->close();
        const QStringList rows = fixtures::storeRows(db.path);
        _ViberMsg staleMessage = *db.messages({u"received"_s}).value(0);
        ++staleMessage.token;
        _ViberCall staleCall = *db.messages({}, {u"bobOutgoing"_s}).value(0)->call;
        ++staleCall.callToken;
        _ViberMsg staleCallEntry;
        staleCallEntry.type = ViberMsgTypeCall;
        staleCallEntry.call = &staleCall;
        QCOMPARE(db.remove(selection + QList<_ViberMsg *>{&staleMessage, &staleCallEntry}),
                 WorkerThread::Outcome::Succeeded);
        QCOMPARE(db.reporter->successes, QStringList(u"Successfully deleted 0 messages."_s));
        QCOMPARE(fixtures::storeRows(db.path), rows);
    }
    void endsEarlyWithEveryRowKept_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("cancelled") << true;
        QTest::newRow("failed") << false;
    }
    void endsEarlyWithEveryRowKept()
    {
        QFETCH(bool, cancel);
        Database db;
        if (!cancel) {
            Sqlite3DB raw;
            raw.openThrow(db.path, Sqlite3DB::ReadWrite);
            raw.execThrow(QStringLiteral("create trigger refuse before delete on ZVIBERLOCATION begin "
                                         "select raise(abort, 'location rows are kept'); end"));
            // The program runs no store's triggers; this one is switched on as the fault.
            db.store->open();
            db.store->setTriggersEnabled(true);
        }
        const QStringList rows = fixtures::storeRows(db.path);
        // Text messages first, a location last: the end comes after other rows went.
        const QList<_ViberMsg *> messages =
            db.messages({u"received"_s, u"sending"_s, u"delivered"_s, u"send"_s, u"pending"_s, u"groupText"_s,
                         u"bobText"_s, u"fayText"_s, u"location"_s});
        QVERIFY(!messages.contains(nullptr));

        QCOMPARE(db.remove(messages, cancel ? 5 : 0),
                 cancel ? WorkerThread::Outcome::Cancelled : WorkerThread::Outcome::Failed);
        QVERIFY(db.reporter->successes.isEmpty());
        QCOMPARE(db.reporter->errors.size(), cancel ? 0 : 1);
        if (!cancel) {
            const QString error = db.reporter->errors.value(0);
            QVERIFY2(
                error.startsWith(u"Nothing was deleted from %1. "_s.arg(QDir::toNativeSeparators(db.path))) &&
                    error.contains(u"location rows are kept"_s) &&
                    error.contains(QDir::toNativeSeparators(db.path)),
                qPrintable(error));
        }
        QCOMPARE(fixtures::storeRows(db.path), rows);
    }
};

QTEST_GUILESS_MAIN(TestDeleteViberMsgThread)
#include "tst_deleteviber.moc"
