#include "support/RecordingReporter.h"
#include "support/ScriptedWorker.h"
#include "workers/ConsoleReporter.h"

#include <QBuffer>
#include <QtTest>

#include <new>
#include <numeric>
#include <stdexcept>

using Outcome = WorkerThread::Outcome;

namespace {

// Either reporter a worker can run with (or none), read back the same way.
struct Listener
{
    enum Via { Nobody, Console, Recording };
    explicit Listener(Via via) : via(via) {}

    const Via via;
    QBuffer out;
    ConsoleReporter console{&out};
    RecordingReporter recording;

    ProgressReporter *reporter()
    {
        out.open(QIODevice::WriteOnly);
        return via == Console     ? static_cast<ProgressReporter *>(&console)
               : via == Recording ? &recording
                                  : nullptr;
    }
    void pressCancel() { via == Console ? console.requestCancel() : recording.cancel(); }
    // The final reports, in the order made.
    QStringList finals() const
    {
        if (via != Console)
            return recording.successes + recording.errors;
        QStringList finals;
        if (console.succeeded())
            finals << QString::fromUtf8(out.data()).trimmed().section(u'\n', -1);
        if (console.failed())
            finals << console.lastError();
        return finals;
    }
};

using Body = std::function<QString(ScriptedWorker &, Listener &)>;
const char kBroken[] = "Die Datei „Grüße.db“ ist beschädigt.";

} // namespace

Q_DECLARE_METATYPE(Body)
Q_DECLARE_METATYPE(Listener::Via)

class TestWorkerThread : public QObject
{
    Q_OBJECT
private slots:
    void protocol_data();
    void protocol();
    void tipsAndWaitHoldsUntilAcknowledgedOrStopped_data();
    void tipsAndWaitHoldsUntilAcknowledgedOrStopped();
    void repeatedProgressIsDropped();
    void percentOf();
};

void TestWorkerThread::protocol_data()
{
    QTest::addColumn<Listener::Via>("via");
    QTest::addColumn<Body>("body");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QString>("text"); // the one final report, "" for none
    const QString unexpected =
        QStringLiteral("The operation stopped because of an unexpected internal error.");
    const QString broken = QString::fromUtf8(kBroken), done = QStringLiteral("Copied 3 messages.");
    // Asks the worker to stop (or the user presses Cancel) and sees whether it does.
    const auto stop = [](bool user, bool committing) -> Body {
        return [=](ScriptedWorker &w, Listener &l) {
            if (committing)
                w.commitStarts();
            user ? l.pressCancel() : w.requestStop();
            w.checkCancel();
            return QStringLiteral("Copied 3 messages.");
        };
    };
    for (const auto via : {Listener::Nobody, Listener::Console, Listener::Recording}) {
        const auto row = [via](const char *what, Outcome outcome, const QString &text, Body body) {
            static const char *const names[] = {"nobody", "console", "recording"};
            QTest::addRow("%s, via %s", what, names[via]) << via << body << outcome << text;
        };
        row("success", Outcome::Succeeded, done,
            [](auto &, auto &) { return QStringLiteral("Copied 3 messages."); });
        row("UTF-8 exception", Outcome::Failed, broken,
            [](auto &, auto &) -> QString { throw std::runtime_error(kBroken); });
        row("blank exception", Outcome::Failed, unexpected,
            [](auto &, auto &) -> QString { throw std::runtime_error(" "); });
        row("other int", Outcome::Failed, unexpected, [](auto &, auto &) -> QString { throw 5; });
        row("not a std exception", Outcome::Failed, unexpected,
            [](auto &, auto &) -> QString { throw QString(); });
        row("out of memory", Outcome::Failed,
            QStringLiteral("There was not enough memory to finish the operation."),
            [](auto &, auto &) -> QString { throw std::bad_alloc(); });
        row("cancel value", Outcome::Cancelled, QString(), [](auto &, auto &) -> QString { throw -1; });
        row("stop requested", Outcome::Cancelled, QString(), stop(false, false));
        if (via != Listener::Nobody)
            row("user cancels", Outcome::Cancelled, QString(), stop(true, false));
        // The store is committing: a cancel now would hide a change that was made.
        row("stop while committing", Outcome::Succeeded, done, stop(false, true));
        row("clean-up fails too", Outcome::Failed, broken, [](ScriptedWorker &w, auto &) -> QString {
            w.onCleanUp = [](Outcome) { throw std::runtime_error("Could not remove out.csv."); };
            throw std::runtime_error(kBroken);
        });
    }
}

// Whatever ends a run, the worker reports exactly one final word (none when
// cancelled), cleans up after a failure or a cancel only, and lets nothing escape.
void TestWorkerThread::protocol()
{
    QFETCH(Listener::Via, via);
    QFETCH(Body, body);
    QFETCH(Outcome, outcome);
    QFETCH(QString, text);
    Listener listener(via);
    ScriptedWorker worker([&](ScriptedWorker &w) {
        w.reportProgress(10, QStringLiteral("Saving messages..."));
        w.tipsAndWait(QStringLiteral("Keep your iPhone connected."));
        w.checkCancel();
        return body(w, listener);
    });
    worker.setReporter(listener.reporter());
    // The log says how the run ended and how long it took.
    const char *ending = outcome == Outcome::Succeeded ? "finished in"
                         : outcome == Outcome::Failed  ? "failed after"
                                                       : "cancelled after";
    QTest::ignoreMessage(
        outcome == Outcome::Failed ? QtWarningMsg : QtInfoMsg,
        QRegularExpression(QStringLiteral("^\\w+ %1 \\d+\\.\\d\\d s").arg(QLatin1String(ending))));
    worker.start();
    QVERIFY(worker.wait(10000));
    QCOMPARE(worker.outcome(), outcome);
    QCOMPARE(listener.finals(),
             text.isEmpty() || via == Listener::Nobody ? QStringList() : QStringList{text});
    QCOMPARE(outcome == Outcome::Failed ? worker.errorText() : worker.successText(), text);
    QCOMPARE(worker.cleanUps, outcome == Outcome::Succeeded ? QList<Outcome>() : QList<Outcome>{outcome});
}

void TestWorkerThread::tipsAndWaitHoldsUntilAcknowledgedOrStopped_data()
{
    QTest::addColumn<bool>("stop");
    QTest::newRow("acknowledged") << false;
    QTest::newRow("stopped") << true;
}

void TestWorkerThread::tipsAndWaitHoldsUntilAcknowledgedOrStopped()
{
    QFETCH(bool, stop);
    RecordingReporter reporter;
    reporter.holdTips = true;
    std::atomic<bool> continued{false};
    ScriptedWorker worker([&](ScriptedWorker &w) {
        w.tipsAndWait(QStringLiteral("Please close Viber on your iPhone."));
        continued = true;
        return QString();
    });
    worker.setReporter(&reporter);
    worker.start();
    QTRY_VERIFY(reporter.isWaiting());
    QCOMPARE(reporter.tips, QStringList{"Please close Viber on your iPhone."});
    QThread::msleep(300); // several polls without an answer: the worker stays put
    QVERIFY(!continued && worker.isRunning());
    stop ? worker.requestStop() : reporter.acknowledge();
    QVERIFY(worker.wait(10000));
    QCOMPARE(continued.load(), !stop);
    QCOMPARE(worker.outcome(), stop ? Outcome::Cancelled : Outcome::Succeeded);
}

void TestWorkerThread::repeatedProgressIsDropped()
{
    RecordingReporter reporter;
    ScriptedWorker worker([](ScriptedWorker &w) {
        for (int i = 0; i < 1000; ++i)
            w.reportProgress(WorkerThread::percentOf(i, 1000, 99), QStringLiteral("Saving messages..."));
        w.reportProgress(98); // as shown already
        w.reportProgress(-1); // changes nothing shown
        for (const char *detail : {"File: a.jpg", "File: a.jpg", "File: b.jpg"})
            w.reportDetail(QString::fromLatin1(detail));
        w.reportStatus(QStringLiteral("Saving attachments..."));
        return QString();
    });
    worker.setReporter(&reporter);
    worker.start();
    QVERIFY(worker.wait(10000));
    // 0..98 once each, then the two details and the new status.
    QList<int> expected(99);
    std::iota(expected.begin(), expected.end(), 0);
    QCOMPARE(reporter.percents, expected << -1 << -1 << -1);
    QCOMPARE(reporter.details, (QStringList{QStringLiteral("File: a.jpg"), QStringLiteral("File: b.jpg")}));
    QCOMPARE(reporter.statuses.last(), QStringLiteral("Saving attachments..."));
}

void TestWorkerThread::percentOf()
{
    QCOMPARE(WorkerThread::percentOf(0, 0), 0);
    QCOMPARE(WorkerThread::percentOf(2, 3), 66); // cut, not rounded: 100 only when done
    QCOMPARE(WorkerThread::percentOf(9, 7, 99), 99);
    QCOMPARE(WorkerThread::percentOf(-3, 7), 0);
    QCOMPARE(WorkerThread::percentOf(qint64(4e18), qint64(8e18)), 50); // no overflow
}

QTEST_GUILESS_MAIN(TestWorkerThread)
#include "tst_workerthread.moc"
