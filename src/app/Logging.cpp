#include "Logging.h"

#include "Clock.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// One lock for the folder and the file: worker threads log too, and lines
// from different threads must never interleave.
QMutex s_mutex;
QString s_logFolder;
std::unique_ptr<QFile> s_logFile;

// A message raised while a line is being written (by Qt's own file code) would
// deadlock on the lock; it is dropped instead.
thread_local bool t_insideHandler = false;
std::atomic<bool> s_echo{true};

// Called with s_mutex held.
bool ensureLogFileOpen()
{
    if (s_logFile)
        return true;
    if (s_logFolder.isEmpty())
        return false;
    const QString name =
        QStringLiteral("log-%1.txt").arg(Clock::currentDateTime().toString(QStringLiteral("yyyyMMdd")));
    if (!QDir().mkpath(s_logFolder))
        return false;
    auto file = std::make_unique<QFile>(QDir(s_logFolder).filePath(name));
    if (!file->open(QIODevice::ReadWrite | QIODevice::Append))
        return false;
    s_logFile = std::move(file);
    return true;
}

} // namespace

QString formatLogLine(QtMsgType type, const QString &time, const QString &message)
{
    QString format;
    switch (type) {
    case QtDebugMsg:
        format = QStringLiteral("(D %1) %2\n");
        break;
    case QtWarningMsg:
        format = QStringLiteral("(W %1) %2\n");
        break;
    case QtCriticalMsg:
        format = QStringLiteral("(C %1) %2\n");
        break;
    case QtFatalMsg:
        format = QStringLiteral("(F %1) %2\n");
        break;
    default:
        format = QStringLiteral("(%1) %2\n");
        break;
    }
    return format.arg(time, message);
}

void pruneLogFolder(const QString &logFolder, int keepCount)
{
    if (logFolder.isEmpty())
        return;
    const QDir dir(logFolder);
    const QStringList logs =
        dir.entryList({QStringLiteral("log-*.txt")}, QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (qsizetype i = 0; i < logs.size() - qMax(keepCount, 0); ++i)
        QFile::remove(dir.filePath(logs.at(i)));
}

void setupLogging(const QString &logFolder, int keepCount)
{
    pruneLogFolder(logFolder, keepCount);
    {
        QMutexLocker lock(&s_mutex);
        if (s_logFolder != logFolder)
            s_logFile.reset();
        s_logFolder = logFolder;
    }
    qInstallMessageHandler(logMessageHandler);
}

void setLogEcho(bool echo)
{
    s_echo.store(echo);
}

void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    Q_UNUSED(context);
    if (!t_insideHandler) {
        t_insideHandler = true;
        const QString time = Clock::currentDateTime().toString(QStringLiteral("hh:mm:ss"));
        const QByteArray line = formatLogLine(type, time, message).toUtf8();
        QMutexLocker lock(&s_mutex);
        if (type == QtDebugMsg && s_echo.load()) {
            const QByteArray raw = message.toUtf8();
            std::fprintf(stdout, "%s\n", raw.constData());
            std::fflush(stdout);
        }
        if (ensureLogFileOpen()) {
            s_logFile->write(line);
            s_logFile->flush();
        }
        t_insideHandler = false;
    }
    if (type == QtFatalMsg)
        std::abort();
}

QString currentLogFilePath()
{
    QMutexLocker lock(&s_mutex);
    return s_logFile ? s_logFile->fileName() : QString();
}

void resetLoggingForTests()
{
    QMutexLocker lock(&s_mutex);
    s_logFile.reset();
    s_logFolder.clear();
}
