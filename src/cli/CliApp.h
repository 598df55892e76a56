#pragma once

#include "viber/ViberData.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <memory>

class BackupManifest;
class LocalDatabaseLock;
class ConsoleReporter;
class QCommandLineParser;
class QTextStream;
class WorkerThread;

// The command-line program: subcommands that list, read, import and export chat
// histories with the same workers as the window program, reporting on standard
// error and writing results (tables, files) where asked. A failure is an
// exception carrying one sentence; run() turns it into an exit code.
class CliApp
{
    Q_DECLARE_TR_FUNCTIONS(CliApp)

public:
    enum ExitCode { Success = 0, Failure = 1, UsageError = 2, Cancelled = 130 };

    CliApp(QTextStream &out, QTextStream &err);
    ~CliApp();

    // arguments as main() has them, the program's name first.
    int run(const QStringList &arguments);
    // Asks the running worker to stop, as the dialog's Cancel does; safe from a signal handler.
    void cancel();

private:
    struct Source
    {
        QString name; // as the user named it, for messages
        ViberDataPtr data;
    };

    void list(QCommandLineParser &parser);
    void chats(QCommandLineParser &parser);
    // What the source holds, as its load's account.
    void inspect(QCommandLineParser &parser);
    void import(QCommandLineParser &parser);
    void exportMessages(QCommandLineParser &parser);
    void attachments(QCommandLineParser &parser);
    void calls(QCommandLineParser &parser);
    // Deletes the chosen messages and calls from a local database, after asking.
    void deleteMessages(QCommandLineParser &parser);
    // Writes the chosen messages into the Viber store of an unencrypted iTunes backup.
    void toBackup(QCommandLineParser &parser);
    // Transfers the chosen messages into the Viber store of a connected iPhone.
    void transfer(QCommandLineParser &parser);

    // Raises when --out is missing, or names a file or a folder holding files and --force is not given.
    void checkOutput(const QCommandLineParser &parser) const;
    // backupIsTarget: --backup names where to write, not a source.
    Source openSource(const QCommandLineParser &parser, bool backupIsTarget = false);
    // A result line on standard output, unless --quiet.
    void say(const QString &line);
    // Raises for a malformed --since or --until, before any source is read.
    void checkDates(const QCommandLineParser &parser) const;
    // Raises for a worker that did not succeed: cancelled, or failed (already reported).
    [[noreturn]] void finishFailed(const WorkerThread &worker);
    // Raises for a sequence of steps that did not succeed: cancelled, or failed (already reported).
    [[noreturn]] void stepFailed() const;
    // Takes the database's lock, waiting for another run that holds it unless noWait;
    // raises when it cannot be had.
    void lockDatabase(LocalDatabaseLock &lock, const QString &name, bool noWait);
    void unlock(BackupManifest &manifest, const QCommandLineParser &parser);
    // The source's messages of the chosen chats and dates, by date; raises when none are left.
    QList<_ViberMsg *> chosenMessages(const Source &source, const QCommandLineParser &parser) const;
    // Runs worker on the console; false when it failed (reported) or was cancelled.
    bool runWorker(WorkerThread &worker);
    void checkFinished(WorkerThread &worker);

    QTextStream &m_out;
    QTextStream &m_err;
    std::unique_ptr<ConsoleReporter> m_reporter;
    bool m_cancelled = false;
    bool m_quiet = false;
};
