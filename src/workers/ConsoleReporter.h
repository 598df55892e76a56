#pragma once

#include "ProgressReporter.h"

#include <QCoreApplication>
#include <QFile>
#include <QMutex>
#include <QString>

#include <atomic>

class QIODevice;

// Reports a worker's run as lines of plain text (standard error unless told
// otherwise), for a command-line tool driving the same workers as the GUI.
// It never blocks the worker: a tips-and-wait note is printed and the run
// goes on, since nobody is there to press OK.
class ConsoleReporter : public ProgressReporter
{
    Q_DECLARE_TR_FUNCTIONS(ConsoleReporter)
public:
    // out must stay open while the reporter is used; null writes to stderr.
    explicit ConsoleReporter(QIODevice *out = nullptr);
    ~ConsoleReporter() override;

    void reportProgress(const QString &status, int percent, const QString &detail) override;
    void reportError(const QString &message) override;
    void reportSuccess(const QString &message) override;
    void tipsAndWait(const QString &message) override;
    bool isWaiting() const override { return false; }
    bool isCancelled() const override { return m_cancelled.load(); }

    // On a terminal: progress redraws one bar line in place instead of adding lines.
    // Otherwise a line is added for each new step, and within a step at most once a
    // second or once per tenth of the work.
    void setProgressBar(bool bar) { m_bar = bar; }
    // Errors only: no progress, notes or success lines.
    void setQuiet(bool quiet) { m_quiet = quiet; }

    // Lock-free, so a signal handler (Ctrl+C) may call it.
    void requestCancel() { m_cancelled.store(true); }

    // What the run ended with: neither before its final report.
    bool succeeded() const;
    bool failed() const;
    QString lastError() const;

    // Rich text as the message boxes would show it, as plain lines.
    static QString toPlainText(const QString &text);

private:
    void writeLine(const QString &line);
    void write(const QByteArray &bytes);

    QFile m_stderr;
    QIODevice *m_out = nullptr;
    std::atomic<bool> m_cancelled{false};
    mutable QMutex m_mutex;
    QString m_status;
    int m_percent = 0;
    QString m_lastLine;
    // The last line written without a terminal: its step, percent and time.
    bool m_loggedAny = false;
    QString m_loggedStatus;
    int m_loggedPercent = 0;
    qint64 m_loggedAt = 0;
    bool m_bar = false;
    bool m_quiet = false;
    bool m_barShown = false;
    bool m_succeeded = false;
    bool m_failed = false;
    QString m_lastError;
};
