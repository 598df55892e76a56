#include "TestSupport.h"

#include "itunes/BackupWriteJournal.h"
#include "workers/WorkerThread.h"

#include "TestConfig.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTranslator>

#ifdef Q_OS_UNIX
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace testsupport {

int killedAtStep(int step, const std::function<int()> &work)
{
#ifdef Q_OS_UNIX
    const pid_t child = fork();
    if (child == 0) {
        BackupWriteJournal::setStepHook([step, count = 0]() mutable {
            if (++count == step)
                ::_exit(kKilledAtStep);
        });
        ::_exit(work());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
#else
    Q_UNUSED(step);
    Q_UNUSED(work);
    return -1;
#endif
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

bool runToEnd(WorkerThread &worker)
{
    worker.start();
    worker.wait();
    return worker.outcome() == WorkerThread::Outcome::Succeeded;
}

QString backupToolStandIn(const QString &folder, const QString &script)
{
    const QString path = folder + QStringLiteral("/tool");
    writeFile(path,
              QStringLiteral("#!/bin/sh\necho \"$@\" >> \"%1/calls\"\n%2\n").arg(folder, script).toUtf8());
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

QString realDataDir()
{
    QDir dir(QStringLiteral(CHATWHARF_REAL_DATA_DIR));
    return dir.exists() ? dir.absolutePath() : QString();
}

QString errorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}

} // namespace testsupport

namespace {

// Every suite sees the user-visible texts the program shows, not bare keys.
void installCatalogue()
{
    static QTranslator translator;
    if (translator.load(QStringLiteral(":/en.qm")))
        QCoreApplication::installTranslator(&translator);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installCatalogue)
