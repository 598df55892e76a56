#include "app/Clock.h"
#include "app/Logging.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>

using namespace Qt::StringLiterals;

// The clock is pinned, so that file names and line times are known.
class TestLogging : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void linesGoToTheFirstDaysFile();
    void rotation_data();
    void rotation();
    void linesFromManyThreadsStayWhole();

private:
    static void setTime(int day, const QTime &time)
    {
        s_nowMs = QDateTime(QDate(2024, 3, day), time).toMSecsSinceEpoch();
    }
    QString log() const
    {
        QFile f(m_dir->filePath(u"qlogs/log-20240305.txt"_s));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    static inline std::atomic<qint64> s_nowMs;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_folder;
};

void TestLogging::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_folder = m_dir->filePath(u"qlogs"_s);
    QVERIFY(QDir().mkpath(m_folder));
    setTime(5, QTime(14, 3, 7));
    Clock::setOverride([] { return QDateTime::fromMSecsSinceEpoch(s_nowMs); });
}

void TestLogging::cleanup()
{
    resetLoggingForTests();
    Clock::setOverride({});
}

void TestLogging::linesGoToTheFirstDaysFile()
{
    const QString file = m_folder + u"/log-20240305.txt"_s;
    QFile earlier(file);
    QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("(D 09:00:00) earlier run\n") > 0);
    earlier.close();
    setupLogging(m_folder, 10);
    qDebug("debug");
    qWarning("warning ünïcode");
    qCritical("critical");
    qInfo("info");
    // A run that lasts past midnight keeps writing into the file of its first day.
    setTime(6, QTime(0, 0, 1));
    qWarning("after midnight");
    QCOMPARE(currentLogFilePath(), file);
    // Moved to a folder that cannot be made (inside a plain file): messages are dropped.
    setupLogging(file + u"/qlogs"_s, 10);
    qWarning("dropped");
    QCOMPARE(currentLogFilePath(), QString());
    QCOMPARE(log(), u"(D 09:00:00) earlier run\n(D 14:03:07) debug\n(W 14:03:07) warning ünïcode\n"
                    "(C 14:03:07) critical\n(14:03:07) info\n(W 00:00:01) after midnight\n"_s);
    QCOMPARE(QDir(m_folder).entryList(QDir::Files), QStringList{u"log-20240305.txt"_s});
    // A fatal message aborts the process; only its line is checked.
    QCOMPARE(formatLogLine(QtFatalMsg, u"1"_s, u"t"_s), u"(F 1) t\n"_s);
}

void TestLogging::rotation_data()
{
    QTest::addColumn<int>("logs");
    for (int logs : {12, 11, 10, 0})
        QTest::addRow("%d logs", logs) << logs;
}

void TestLogging::rotation()
{
    QFETCH(int, logs);
    // Other files are never counted nor deleted; the logs are made out of date
    // order, so that only the names can give the order.
    QStringList made{u"notes.txt"_s, u"log-old.txt.bak"_s};
    for (int day = logs; day >= 1; --day)
        made << u"log-202403%1.txt"_s.arg(day, 2, 10, QChar(u'0'));
    for (const QString &name : std::as_const(made))
        QVERIFY(QFile(m_folder + u'/' + name).open(QIODevice::WriteOnly));
    setupLogging(m_folder, 10);
    made.sort();
    QCOMPARE(QDir(m_folder).entryList(QDir::Files, QDir::Name), made.mid(qMax(logs - 10, 0)));
}

void TestLogging::linesFromManyThreadsStayWhole()
{
    setupLogging(m_folder, 10);
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back(QThread::create([t] {
            // Lengths vary so that torn writes cannot line up by chance.
            for (int i = 0; i < 400; ++i)
                qWarning("t%d m%d %s", t, i, qUtf8Printable(QString(1 + (i * 7 + t * 13) % 300, u'ж')));
        }));
        threads.back()->start();
    }
    for (const auto &thread : threads)
        QVERIFY(thread->wait(60000));
    static const QRegularExpression shape(u"^\\(W 14:03:07\\) t(\\d) m(\\d+) (ж+)$"_s);
    QSet<QString> seen;
    for (const QString &line : log().split(u'\n')) {
        const QRegularExpressionMatch m = shape.match(line);
        if (m.hasMatch() &&
            m.capturedLength(3) == 1 + (m.captured(2).toInt() * 7 + m.captured(1).toInt() * 13) % 300)
            seen.insert(line);
    }
    QCOMPARE(seen.size(), 8 * 400);
    QCOMPARE(log().count(u'\n'), 8 * 400);
}

QTEST_GUILESS_MAIN(TestLogging)
#include "tst_logging.moc"
