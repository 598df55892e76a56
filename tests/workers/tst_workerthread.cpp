#include "support/ScriptedWorker.h"
#include "workers/ProgressReporter.h"
#include "workers/WorkerThread.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QSemaphore>
#include <QtTest>

#include <atomic>
#include <functional>
#include <new>
#include <stdexcept>

namespace {

// Records what a worker reports, from whichever thread it comes.
class FakeReporter : public ProgressReporter
{
public:
    struct Progress
    {
        QString status;
        int percent;
        QString detail;
    };

    void reportProgress(const QString &status, int percent, const QString &detail) override
    {
        QMutexLocker lock(&m_mutex);
        m_progress.append({status, percent, detail});
    }
    void reportError(const QString &message) override
    {
        QMutexLocker lock(&m_mutex);
        m_errors.append(message);
    }
    void reportSuccess(const QString &message) override
    {
        QMutexLocker lock(&m_mutex);
        m_successes.append(message);
    }
    void tipsAndWait(const QString &message) override
    {
        {
            QMutexLocker lock(&m_mutex);
            m_tips.append(message);
        }
        waiting.store(true);
        tipsShown.release();
    }
    bool isWaiting() const override { return waiting.load(); }
    bool isCancelled() const override { return cancelled.load(); }

    QList<Progress> progress() const
    {
        QMutexLocker lock(&m_mutex);
        return m_progress;
    }
    QStringList errors() const
    {
        QMutexLocker lock(&m_mutex);
        return m_errors;
    }
    QStringList successes() const
    {
        QMutexLocker lock(&m_mutex);
        return m_successes;
    }
    QStringList tips() const
    {
        QMutexLocker lock(&m_mutex);
        return m_tips;
    }

    std::atomic<bool> waiting{false};
    std::atomic<bool> cancelled{false};
    QSemaphore tipsShown;

private:
    mutable QMutex m_mutex;
    QList<Progress> m_progress;
    QStringList m_errors;
    QStringList m_successes;
    QStringList m_tips;
};

struct NotAStdException
{
};

QString runToEnd(ScriptedWorker &worker, FakeReporter &reporter)
{
    worker.setReporter(&reporter);
    worker.start();
    worker.wait();
    return worker.errorText();
}

} // namespace

class TestWorkerThread : public QObject
{
    Q_OBJECT
private slots:
    void successReportsReturnedMessageOnce();
    void exceptionTextIsReportedAsUtf8();
    void failures_data();
    void failures();
    void cancelValueReportsNothingAndCleansUp();
    void stopIsSeenByCheckCancel_data();
    void stopIsSeenByCheckCancel();
    void cleanUpErrorsDoNotChangeTheOutcome();
    void tipsAndWaitBlocksUntilAcknowledged();
    void tipsAndWaitEndsWithCancelWhenStopped();
    void repeatedProgressIsDropped();
    void percentOf_data();
    void percentOf();
    void runsWithoutReporter();
};

void TestWorkerThread::successReportsReturnedMessageOnce()
{
    FakeReporter reporter;
    ScriptedWorker worker([](ScriptedWorker &w) {
        w.reportProgress(0, QStringLiteral("Saving messages..."));
        w.reportProgress(50);
        w.checkCancel();
        return QStringLiteral("Copied 3 messages.");
    });
    runToEnd(worker, reporter);
    QCOMPARE(worker.outcome(), WorkerThread::Outcome::Succeeded);
    QCOMPARE(reporter.successes(), QStringList{QStringLiteral("Copied 3 messages.")});
    QVERIFY(reporter.errors().isEmpty());
    QVERIFY(worker.cleanUps.isEmpty());
    const auto progress = reporter.progress();
    QCOMPARE(progress.size(), 2);
    QCOMPARE(progress[0].status, QStringLiteral("Saving messages..."));
    QCOMPARE(progress[0].percent, 0);
    QCOMPARE(progress[1].status, QString());
    QCOMPARE(progress[1].percent, 50);
}

void TestWorkerThread::exceptionTextIsReportedAsUtf8()
{
    FakeReporter reporter;
    const QString text = QStringLiteral("Die Datei „Grüße.db“ ist beschädigt.<br/>Bitte erneut versuchen.");
    const QByteArray utf8 = text.toUtf8();
    ScriptedWorker worker([&](ScriptedWorker &w) -> QString {
        w.reportProgress(10);
        throw std::runtime_error(utf8.toStdString());
    });
    QCOMPARE(runToEnd(worker, reporter), text);
    QCOMPARE(worker.outcome(), WorkerThread::Outcome::Failed);
    QCOMPARE(reporter.errors(), QStringList{text});
    QVERIFY(reporter.successes().isEmpty());
    // Partial output is removed on failure as well.
    QCOMPARE(worker.cleanUps, QList<WorkerThread::Outcome>{WorkerThread::Outcome::Failed});
}

void TestWorkerThread::failures_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("expected");
    const QString unexpected =
        QStringLiteral("The operation stopped because of an unexpected internal error.");
    QTest::newRow("other int") << 0 << unexpected;
    QTest::newRow("not a std exception") << 1 << unexpected;
    QTest::newRow("empty what") << 2 << unexpected;
    QTest::newRow("out of memory") << 3
                                   << QStringLiteral("There was not enough memory to finish the operation.");
}

void TestWorkerThread::failures()
{
    QFETCH(int, kind);
    QFETCH(QString, expected);
    FakeReporter reporter;
    ScriptedWorker worker([kind](ScriptedWorker &) -> QString {
        switch (kind) {
        case 0:
            throw 5;
        case 1:
            throw NotAStdException();
        case 2:
            throw std::runtime_error("");
        default:
            throw std::bad_alloc();
        }
    });
    runToEnd(worker, reporter);
    QCOMPARE(worker.outcome(), WorkerThread::Outcome::Failed);
    QCOMPARE(reporter.errors(), QStringList{expected});
    QVERIFY(reporter.successes().isEmpty());
}

void TestWorkerThread::cancelValueReportsNothingAndCleansUp()
{
    FakeReporter reporter;
    ScriptedWorker worker([](ScriptedWorker &w) -> QString {
        w.reportProgress(20);
        throw -1;
    });
    runToEnd(worker, reporter);
    QCOMPARE(worker.outcome(), WorkerThread::Outcome::Cancelled);
    QVERIFY(reporter.errors().isEmpty());
    QVERIFY(reporter.successes().isEmpty());
    QVERIFY(worker.errorText().isEmpty());
    QCOMPARE(worker.cleanUps, QList<WorkerThread::Outcome>{WorkerThread::Outcome::Cancelled});
}

void TestWorkerThread::stopIsSeenByCheckCancel_data()
{
    QTest::addColumn<bool>("fromReporter");
    QTest::newRow("requestStop") << false;
    QTest::newRow("user cancelled") << true;
}

void TestWorkerThread::stopIsSeenByCheckCancel()
{
    QFETCH(bool, fromReporter);
    FakeReporter reporter;
    QSemaphore started;
    ScriptedWorker worker([&](ScriptedWorker &w) {
        started.release();
        for (;;) {
            w.checkCancel();
            QThread::msleep(2);
        }
        return QString();
    });
    worker.setReporter(&reporter);
    worker.start();
    started.acquire();
    QVERIFY(!worker.stopRequested());
    if (fromReporter)
        reporter.cancelled.store(true);
    else
        worker.requestStop();
    QVERIFY(worker.wait(10000));
    QVERIFY(worker.stopRequested());
    QCOMPARE(worker.outcome(), WorkerThread::Outcome::Cancelled);
    QVERIFY(reporter.errors().isEmpty());
    QVERIFY(reporter.successes().isEmpty());
}

void TestWorkerThread::cleanUpErrorsDoNotChangeTheOutcome()
{
    FakeReporter reporter;
    ScriptedWorker worker(
        [](ScriptedWorker &) -> QString { throw std::runtime_error("Could not write out.csv."); });
    worker.onCleanUp = [](WorkerThread::Outcome) { throw std::runtime_error("Could not remove out.csv."); };
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("failed: Could not write")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("could not remove partial output")));
    runToEnd(worker, reporter);
    QCOMPARE(worker.outcome(), WorkerThread::Outcome::Failed);
    QCOMPARE(reporter.errors(), QStringList{QStringLiteral("Could not write out.csv.")});
}

void TestWorkerThread::tipsAndWaitBlocksUntilAcknowledged()
{
    FakeReporter reporter;
    std::atomic<bool> continued{false};
    ScriptedWorker worker([&](ScriptedWorker &w) {
        w.tipsAndWait(QStringLiteral("Please close Viber on your iPhone."));
        continued.store(true);
        return QString();
    });
    worker.setReporter(&reporter);
    worker.start();
    QVERIFY(reporter.tipsShown.tryAcquire(1, 10000));
    QCOMPARE(reporter.tips(), QStringList{QStringLiteral("Please close Viber on your iPhone.")});
    // Several poll intervals pass without an acknowledgement: the worker stays put.
    QThread::msleep(300);
    QVERIFY(!continued.load());
    QVERIFY(worker.isRunning());
    reporter.waiting.store(false);
    QVERIFY(worker.wait(10000));
    QVERIFY(continued.load());
    QCOMPARE(worker.outcome(), WorkerThread::Outcome::Succeeded);
    QCOMPARE(reporter.successes().size(), 1);
}

void TestWorkerThread::tipsAndWaitEndsWithCancelWhenStopped()
{
    FakeReporter reporter;
    std::atomic<bool> continued{false};
    ScriptedWorker worker([&](ScriptedWorker &w) {
        w.tipsAndWait(QStringLiteral("Unlock your iPhone."));
        continued.store(true);
        return QString();
    });
    worker.setReporter(&reporter);
    worker.start();
    QVERIFY(reporter.tipsShown.tryAcquire(1, 10000));
    worker.requestStop();
    QVERIFY(worker.wait(10000));
    QVERIFY(!continued.load());
    QCOMPARE(worker.outcome(), WorkerThread::Outcome::Cancelled);
    QVERIFY(reporter.successes().isEmpty());
}

void TestWorkerThread::repeatedProgressIsDropped()
{
    FakeReporter reporter;
    ScriptedWorker worker([](ScriptedWorker &w) {
        for (int i = 0; i < 1000; ++i)
            w.reportProgress(WorkerThread::percentOf(i, 1000, 99), QStringLiteral("Saving messages..."));
        w.reportProgress(98); // same as the last one shown
        w.reportProgress(-1); // changes nothing shown
        w.reportDetail(QStringLiteral("File: a.jpg"));
        w.reportDetail(QStringLiteral("File: a.jpg"));
        w.reportDetail(QStringLiteral("File: b.jpg"));
        w.reportStatus(QStringLiteral("Saving attachments..."));
        return QString();
    });
    runToEnd(worker, reporter);
    const auto progress = reporter.progress();
    // 0..98 once each, then two distinct details and the new status.
    QCOMPARE(progress.size(), 99 + 3);
    for (int p = 0; p < 99; ++p)
        QCOMPARE(progress[p].percent, p);
    QCOMPARE(progress[99].detail, QStringLiteral("File: a.jpg"));
    QCOMPARE(progress[99].percent, -1);
    QCOMPARE(progress[100].detail, QStringLiteral("File: b.jpg"));
    QCOMPARE(progress[101].status, QStringLiteral("Saving attachments..."));
}

void TestWorkerThread::percentOf_data()
{
    QTest::addColumn<qint64>("done");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("scale");
    QTest::addColumn<int>("expected");
    QTest::newRow("empty total") << qint64(0) << qint64(0) << 100 << 0;
    QTest::newRow("half") << qint64(1) << qint64(2) << 100 << 50;
    QTest::newRow("cut, not rounded") << qint64(2) << qint64(3) << 100 << 66;
    QTest::newRow("scale 99") << qint64(7) << qint64(7) << 99 << 99;
    QTest::newRow("over total") << qint64(9) << qint64(7) << 100 << 100;
    QTest::newRow("negative done") << qint64(-3) << qint64(7) << 100 << 0;
    QTest::newRow("huge sizes") << qint64(4'000'000'000'000'000'000) << qint64(8'000'000'000'000'000'000)
                                << 100 << 50;
}

void TestWorkerThread::percentOf()
{
    QFETCH(qint64, done);
    QFETCH(qint64, total);
    QFETCH(int, scale);
    QFETCH(int, expected);
    QCOMPARE(WorkerThread::percentOf(done, total, scale), expected);
}

void TestWorkerThread::runsWithoutReporter()
{
    ScriptedWorker worker([](ScriptedWorker &w) -> QString {
        w.reportProgress(10);
        w.tipsAndWait(QStringLiteral("nobody sees this"));
        throw std::runtime_error("Disk full while writing a.txt.");
    });
    worker.start();
    QVERIFY(worker.wait(10000));
    QCOMPARE(worker.outcome(), WorkerThread::Outcome::Failed);
    QCOMPARE(worker.errorText(), QStringLiteral("Disk full while writing a.txt."));
}

QTEST_GUILESS_MAIN(TestWorkerThread)
#include "tst_workerthread.moc"
