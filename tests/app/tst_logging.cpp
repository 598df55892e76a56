#include "app/Clock.h"
#include "app/Logging.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <vector>

// The clock is pinned, so that file names and line times are known.
class TestLogging : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void lineFormats_data();
    void lineFormats();
    void appendsToTheDaysFile();
    void rotation_data();
    void rotation();
    void unwritableFolderDropsMessages();
    void concurrentLinesStayWhole();

private:
    void setTime(const QDateTime &time);
    QString readLog(const QString &name) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::shared_ptr<std::atomic<qint64>> m_nowMs = std::make_shared<std::atomic<qint64>>(0);
};

void TestLogging::setTime(const QDateTime &time)
{
    m_nowMs->store(time.toMSecsSinceEpoch());
}

QString TestLogging::readLog(const QString &name) const
{
    QFile f(m_dir->filePath(QStringLiteral("qlogs/") + name));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("<missing %1>").arg(name);
    return QString::fromUtf8(f.readAll());
}

void TestLogging::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    setTime(QDateTime(QDate(2024, 3, 5), QTime(14, 3, 7)));
    auto now = m_nowMs;
    Clock::setOverride([now] { return QDateTime::fromMSecsSinceEpoch(now->load()); });
}

void TestLogging::cleanup()
{
    resetLoggingForTests();
    Clock::setOverride({});
    m_dir.reset();
}

void TestLogging::lineFormats_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("line");
    QTest::newRow("debug") << int(QtDebugMsg) << "(D 14:03:07) text\n";
    QTest::newRow("warning") << int(QtWarningMsg) << "(W 14:03:07) text\n";
    QTest::newRow("critical") << int(QtCriticalMsg) << "(C 14:03:07) text\n";
    QTest::newRow("info") << int(QtInfoMsg) << "(14:03:07) text\n";
}

void TestLogging::lineFormats()
{
    QFETCH(int, type);
    QFETCH(QString, line);
    setupLogging(m_dir->filePath(QStringLiteral("qlogs")), 10);
    switch (type) {
    case QtDebugMsg:
        qDebug("text");
        break;
    case QtWarningMsg:
        qWarning("text");
        break;
    case QtCriticalMsg:
        qCritical("text");
        break;
    default:
        qInfo("text");
        break;
    }
    QCOMPARE(readLog(QStringLiteral("log-20240305.txt")), line);
    // Fatal messages abort the process; only their line is checked here.
    QCOMPARE(formatLogLine(QtFatalMsg, QStringLiteral("14:03:07"), QStringLiteral("text")),
             QStringLiteral("(F 14:03:07) text\n"));
}

void TestLogging::appendsToTheDaysFile()
{
    const QString folder = m_dir->filePath(QStringLiteral("qlogs"));
    QVERIFY(QDir().mkpath(folder));
    {
        QFile earlier(folder + QStringLiteral("/log-20240305.txt"));
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("(D 09:00:00) earlier run\n");
    }
    setTime(QDateTime(QDate(2024, 3, 5), QTime(23, 59, 59)));
    setupLogging(folder, 10);
    qWarning("before midnight ünïcode");
    // A run that lasts past midnight keeps writing into the file of its first day.
    setTime(QDateTime(QDate(2024, 3, 6), QTime(0, 0, 1)));
    qWarning("after midnight");
    QCOMPARE(readLog(QStringLiteral("log-20240305.txt")),
             QStringLiteral("(D 09:00:00) earlier run\n"
                            "(W 23:59:59) before midnight ünïcode\n"
                            "(W 00:00:01) after midnight\n"));
    QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/log-20240306.txt")));
    QCOMPARE(currentLogFilePath(), folder + QStringLiteral("/log-20240305.txt"));
}

void TestLogging::rotation_data()
{
    QTest::addColumn<int>("days");
    QTest::addColumn<int>("firstKept");
    QTest::newRow("12 files") << 12 << 3;
    QTest::newRow("11 files") << 11 << 2;
    QTest::newRow("10 files") << 10 << 1;
    QTest::newRow("3 files") << 3 << 1;
    QTest::newRow("empty") << 0 << 1;
}

void TestLogging::rotation()
{
    QFETCH(int, days);
    QFETCH(int, firstKept);
    const QString folder = m_dir->filePath(QStringLiteral("qlogs"));
    QVERIFY(QDir().mkpath(folder));
    // Made out of date order, so that only the names can give the order.
    for (int day = days; day >= 1; --day) {
        QFile f(folder + QStringLiteral("/log-202403%1.txt").arg(day, 2, 10, QLatin1Char('0')));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    // Not a daily log: never counted, never deleted.
    QFile other(folder + QStringLiteral("/notes.txt"));
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.close();

    setupLogging(folder, 10);

    QStringList expected;
    for (int day = firstKept; day <= days; ++day)
        expected << QStringLiteral("log-202403%1.txt").arg(day, 2, 10, QLatin1Char('0'));
    expected << QStringLiteral("notes.txt");
    QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name), expected);
}

void TestLogging::unwritableFolderDropsMessages()
{
    // The log folder would have to be made inside a plain file.
    const QString blocker = m_dir->filePath(QStringLiteral("blocker"));
    QFile f(blocker);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    setupLogging(blocker + QStringLiteral("/qlogs"), 10);
    qWarning("dropped");
    qCritical("dropped too");
    QCOMPARE(currentLogFilePath(), QString());
    QVERIFY(QFileInfo(blocker).isFile());
}

void TestLogging::concurrentLinesStayWhole()
{
    setupLogging(m_dir->filePath(QStringLiteral("qlogs")), 10);
    constexpr int threads = 8;
    constexpr int perThread = 400;
    std::vector<std::unique_ptr<QThread>> workers;
    for (int t = 0; t < threads; ++t) {
        workers.push_back(std::unique_ptr<QThread>(QThread::create([t] {
            for (int i = 0; i < perThread; ++i) {
                // Lengths vary so that torn writes cannot line up by chance.
                const QString padding(1 + (i * 7 + t * 13) % 300, QChar(u'ж'));
                qWarning("t%d m%d %s", t, i, qUtf8Printable(padding));
            }
        })));
    }
    for (auto &w : workers)
        w->start();
    for (auto &w : workers)
        QVERIFY(w->wait(60000));

    const QString log = readLog(QStringLiteral("log-20240305.txt"));
    QVERIFY(log.endsWith(QLatin1Char('\n')));
    const QStringList lines = log.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), threads * perThread);
    static const QRegularExpression shape(QStringLiteral("^\\(W 14:03:07\\) t(\\d+) m(\\d+) (ж+)$"));
    QSet<QString> seen;
    for (const QString &line : lines) {
        const QRegularExpressionMatch m = shape.match(line);
        QVERIFY2(m.hasMatch(), qPrintable(line.left(80)));
        const int t = m.captured(1).toInt();
        const int i = m.captured(2).toInt();
        QCOMPARE(m.capturedLength(3), 1 + (i * 7 + t * 13) % 300);
        seen.insert(m.captured(1) + QLatin1Char('/') + m.captured(2));
    }
    QCOMPARE(seen.size(), threads * perThread);
}

QTEST_GUILESS_MAIN(TestLogging)
#include "tst_logging.moc"
