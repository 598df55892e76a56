#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QThread>

#include <atomic>

class ProgressReporter;

// Base of every long operation's thread. run() is fixed here so that every
// worker keeps the same protocol: it ends with exactly one final report
// (success or error) unless the user cancelled, it never lets an exception
// escape the thread, and it never shows a window.
//
// A subclass implements work(): it reports progress through the helpers,
// calls checkCancel() between steps, raises a std::exception (UTF-8 text) on
// failure and returns the success message (empty for none). Cancelling is the
// int -1 raised by checkCancel(), reported to nobody.
class WorkerThread : public QThread
{
    Q_OBJECT
public:
    enum class Outcome { NotFinished, Succeeded, Failed, Cancelled };

    explicit WorkerThread(QObject *parent = nullptr);
    // A last resort against destroying a running thread; subclasses whose
    // work() uses their own members must not be destroyed before it ended.
    ~WorkerThread() override;

    // Set before start(); the worker only calls the reporter's thread-safe
    // operations. Null reports nowhere.
    void setReporter(ProgressReporter *reporter);
    ProgressReporter *reporter() const { return m_reporter; }

    // Valid once the thread has finished (after wait()).
    Outcome outcome() const { return m_outcome; }
    // The text reported when the outcome is Failed.
    QString errorText() const { return m_errorText; }
    // The text reported when the outcome is Succeeded.
    QString successText() const { return m_successText; }

    // True after requestStop() or once the reporter says the user cancelled.
    bool stopRequested() const;

    // done of total scaled to 0..scale, cut to a whole number; 0 for an empty total.
    static int percentOf(qint64 done, qint64 total, int scale = 100);

public slots:
    // Thread-safe: asks the worker to stop at its next checkCancel(), e.g. when
    // the program closes or a console tool is interrupted.
    void requestStop();

protected:
    virtual QString work() = 0;
    // Called in the worker thread after work() ended by a cancel or a failure,
    // to remove partial output. Errors raised here are logged, not reported.
    virtual void cleanUp(Outcome outcome);

    // Raises the cancel value -1 when a stop was requested, until commitStarts().
    void checkCancel() const;
    // From here on the run ends as it goes, success or failure: called right before
    // a store commits, so that a cancel can no longer hide a change that was made.
    void commitStarts();

    // Unchanged repeats are dropped, so loops may report on every step without
    // flooding the dialog's event queue.
    void reportProgress(int percent, const QString &status = QString(), const QString &detail = QString());
    void reportStatus(const QString &status) { reportProgress(-1, status); }
    void reportDetail(const QString &detail) { reportProgress(-1, QString(), detail); }
    // Shows message and blocks until the user has acknowledged it (or a stop
    // was requested: then it raises the cancel value).
    void tipsAndWait(const QString &message);

private:
    void run() final;
    QString elapsedText() const;
    static QString plainLogText(const QString &richText);
    void finishCancelled();
    void finishFailed(const QString &text);
    void safeCleanUp(Outcome outcome);

    ProgressReporter *m_reporter = nullptr;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_committing{false};
    // Written in the worker thread, read after wait().
    Outcome m_outcome = Outcome::NotFinished;
    QString m_errorText;
    QString m_successText;
    QElapsedTimer m_timer; // since run() began, for the log
    // Last progress sent, to drop repeats (worker thread only).
    bool m_sentAny = false;
    int m_lastPercent = -1;
    QString m_lastStatus;
    QString m_lastDetail;
};
