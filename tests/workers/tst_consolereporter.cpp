#include "workers/ConsoleReporter.h"
#include "workers/WorkerThread.h"

#include <QBuffer>
#include <QtTest>

#include <stdexcept>

namespace {

QStringList linesOf(const QBuffer &buffer)
{
    QString text = QString::fromUtf8(buffer.data());
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

// Counts up, listening for a cancel, then fails or succeeds as told.
class CountingWorker : public WorkerThread
{
public:
    explicit CountingWorker(bool fail) : m_fail(fail) {}
    ~CountingWorker() override { wait(); }

protected:
    QString work() override
    {
        reportStatus(QStringLiteral("Saving messages..."));
        for (int i = 1; i <= 4; ++i) {
            checkCancel();
            reportProgress(percentOf(i, 4));
        }
        tipsAndWait(QStringLiteral("Please keep your iPhone connected."));
        if (m_fail)
            throw std::runtime_error("Could not open <b>Contacts.data</b>.<br/>The file is locked.");
        return QStringLiteral("Saved 4 messages.");
    }

private:
    bool m_fail;
};

} // namespace

class TestConsoleReporter : public QObject
{
    Q_OBJECT
private slots:
    void progressLinesKeepStatusAndPercent();
    void richTextBecomesPlainLines();
    void finalReportsAreRecorded();
    void tipsDoNotBlock();
    void drivesAWorkerToSuccess();
    void drivesAWorkerToFailure();
    void cancelRequestStopsAWorker();
    void linesFromManyThreadsStayWhole();
};

void TestConsoleReporter::progressLinesKeepStatusAndPercent()
{
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    ConsoleReporter reporter(&out);
    reporter.reportProgress(QStringLiteral("Loading data from Device..."), 0, QString());
    reporter.reportProgress(QString(), 42, QString());
    reporter.reportProgress(QString(), -1, QStringLiteral("Loading Contacts.data, 12KB / 100KB"));
    reporter.reportProgress(QString(), -1, QStringLiteral("Loading Contacts.data, 12KB / 100KB"));
    reporter.reportProgress(QString(), 250, QString());
    QCOMPARE(linesOf(out),
             (QStringList{
                 QStringLiteral("[  0%] Loading data from Device..."),
                 QStringLiteral("[ 42%] Loading data from Device..."),
                 QStringLiteral("[ 42%] Loading data from Device... - Loading Contacts.data, 12KB / 100KB"),
                 QStringLiteral("[100%] Loading data from Device..."),
             }));
}

void TestConsoleReporter::richTextBecomesPlainLines()
{
    QCOMPARE(ConsoleReporter::toPlainText(QStringLiteral("Plain text, 3 < 4")),
             QStringLiteral("Plain text, 3 < 4"));
    QCOMPARE(ConsoleReporter::toPlainText(
                 QStringLiteral("Could not open <b>a.db</b>.<br/><br/>Note: try &amp; retry")),
             QStringLiteral("Could not open a.db.\n\nNote: try & retry"));
}

void TestConsoleReporter::finalReportsAreRecorded()
{
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    ConsoleReporter reporter(&out);
    QVERIFY(!reporter.succeeded());
    QVERIFY(!reporter.failed());
    reporter.reportError(QStringLiteral("The file <i>x.csv</i> cannot be written."));
    QVERIFY(reporter.failed());
    QCOMPARE(reporter.lastError(), QStringLiteral("The file x.csv cannot be written."));
    reporter.reportSuccess(QString());
    QVERIFY(reporter.succeeded());
    QCOMPARE(linesOf(out), (QStringList{QStringLiteral("Error: The file x.csv cannot be written."),
                                        QStringLiteral("Done.")}));
}

void TestConsoleReporter::tipsDoNotBlock()
{
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    ConsoleReporter reporter(&out);
    reporter.tipsAndWait(QStringLiteral("Unlock your iPhone."));
    QVERIFY(!reporter.isWaiting());
    QCOMPARE(linesOf(out), QStringList{QStringLiteral("Unlock your iPhone.")});
}

void TestConsoleReporter::drivesAWorkerToSuccess()
{
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    ConsoleReporter reporter(&out);
    CountingWorker worker(false);
    worker.setReporter(&reporter);
    worker.start();
    QVERIFY(worker.wait(10000));
    QCOMPARE(worker.outcome(), WorkerThread::Outcome::Succeeded);
    QVERIFY(reporter.succeeded());
    QVERIFY(!reporter.failed());
    const QStringList lines = linesOf(out);
    QCOMPARE(lines.first(), QStringLiteral("[  0%] Saving messages..."));
    QVERIFY(lines.contains(QStringLiteral("[100%] Saving messages...")));
    QVERIFY(lines.contains(QStringLiteral("Please keep your iPhone connected.")));
    QCOMPARE(lines.last(), QStringLiteral("Saved 4 messages."));
}

void TestConsoleReporter::drivesAWorkerToFailure()
{
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    ConsoleReporter reporter(&out);
    CountingWorker worker(true);
    worker.setReporter(&reporter);
    worker.start();
    QVERIFY(worker.wait(10000));
    QCOMPARE(worker.outcome(), WorkerThread::Outcome::Failed);
    QVERIFY(reporter.failed());
    QVERIFY(!reporter.succeeded());
    QCOMPARE(reporter.lastError(), QStringLiteral("Could not open Contacts.data.\nThe file is locked."));
    QCOMPARE(linesOf(out).last(), QStringLiteral("The file is locked."));
}

void TestConsoleReporter::cancelRequestStopsAWorker()
{
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    ConsoleReporter reporter(&out);
    reporter.requestCancel();
    QVERIFY(reporter.isCancelled());
    CountingWorker worker(false);
    worker.setReporter(&reporter);
    worker.start();
    QVERIFY(worker.wait(10000));
    QCOMPARE(worker.outcome(), WorkerThread::Outcome::Cancelled);
    QVERIFY(!reporter.succeeded());
    QVERIFY(!reporter.failed());
    QCOMPARE(linesOf(out), QStringList{QStringLiteral("[  0%] Saving messages...")});
}

void TestConsoleReporter::linesFromManyThreadsStayWhole()
{
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    ConsoleReporter reporter(&out);
    QList<QThread *> threads;
    for (int t = 0; t < 4; ++t) {
        threads.append(QThread::create([&reporter, t] {
            for (int i = 0; i < 200; ++i)
                reporter.reportProgress(QString(), -1, QStringLiteral("thread %1 step %2").arg(t).arg(i));
        }));
        threads.last()->start();
    }
    for (QThread *thread : threads) {
        QVERIFY(thread->wait(10000));
        delete thread;
    }
    const QStringList lines = linesOf(out);
    // Every line is distinct, so none is dropped; none may be mangled.
    QCOMPARE(lines.size(), 4 * 200);
    const QRegularExpression whole(QStringLiteral("^\\[  0%\\] - thread [0-3] step \\d+$"));
    for (const QString &line : lines)
        QVERIFY2(whole.match(line).hasMatch(), qPrintable(line));
}

QTEST_GUILESS_MAIN(TestConsoleReporter)
#include "tst_consolereporter.moc"
