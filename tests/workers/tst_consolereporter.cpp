#include "workers/ConsoleReporter.h"

#include <QBuffer>
#include <QtTest>

// How a run reads on a console; the run itself is the worker suite's.
class TestConsoleReporter : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_out.close();
        m_out.setData(QByteArray());
        m_out.open(QIODevice::WriteOnly);
    }
    void progressLinesKeepStatusAndPercent();
    void reportsArePlainLines();

private:
    QStringList lines() const { return QString::fromUtf8(m_out.data()).split(u'\n', Qt::SkipEmptyParts); }
    QBuffer m_out;
};

void TestConsoleReporter::progressLinesKeepStatusAndPercent()
{
    ConsoleReporter reporter(&m_out);
    reporter.reportProgress("Loading data from Device...", 0, QString());
    reporter.reportProgress(QString(), 42, QString());
    reporter.reportProgress(QString(), -1, "Contacts.data, 12KB / 100KB");
    reporter.reportProgress(QString(), -1, "Contacts.data, 12KB / 100KB");
    reporter.reportProgress(QString(), 250, QString());
    QCOMPARE(lines(), (QStringList{"[  0%] Loading data from Device...", "[ 42%] Loading data from Device...",
                                   "[ 42%] Loading data from Device... - Contacts.data, 12KB / 100KB",
                                   "[100%] Loading data from Device..."}));
}

void TestConsoleReporter::reportsArePlainLines()
{
    ConsoleReporter reporter(&m_out);
    QVERIFY(!reporter.failed() && !reporter.succeeded());
    reporter.tipsAndWait("Unlock your <b>iPhone</b>.");
    QVERIFY(!reporter.isWaiting()); // nobody is there to press OK
    reporter.reportError("Could not open <i>a.db</i>.<br/><br/>Note: try &amp; retry");
    QVERIFY(reporter.failed());
    QCOMPARE(reporter.lastError(), "Could not open a.db.\n\nNote: try & retry");
    reporter.reportSuccess(QString());
    QVERIFY(reporter.succeeded());
    QCOMPARE(lines(), (QStringList{"Unlock your iPhone.", "Error: Could not open a.db.", "Note: try & retry",
                                   "Done."}));
    QCOMPARE(ConsoleReporter::toPlainText("Plain, 3 < 4"), "Plain, 3 < 4");
    // A "<" of the text beside real markup: nothing after it is lost.
    QCOMPARE(ConsoleReporter::toPlainText("Can't copy <b>a.jpg</b>:<br/>3 < 4 &amp;lt; x"),
             "Can't copy a.jpg:\n3 < 4 &lt; x");
}

QTEST_GUILESS_MAIN(TestConsoleReporter)
#include "tst_consolereporter.moc"
