#pragma once

#include <QString>

// What a worker thread reports to, so that worker code depends on no widget:
// the progress dialog implements it for the GUI, ConsoleReporter for a
// command-line tool. Every call may come from any thread; implementations
// marshal to wherever they show things and never block the worker, except
// where a call says so.
class ProgressReporter
{
public:
    virtual ~ProgressReporter() = default;

    // status replaces the status line unless empty; percent (0 to 100) moves
    // the bar unless negative; detail is the line under the bar, empty meaning
    // "show the percentage".
    virtual void reportProgress(const QString &status, int percent, const QString &detail) = 0;
    // The run's final report, exactly one of these two. Texts may hold rich
    // text ("<br/>"), as the dialog and the message boxes show it.
    virtual void reportError(const QString &message) = 0;
    // An empty message ends silently.
    virtual void reportSuccess(const QString &message) = 0;
    // Asks the user to do something and acknowledge it. isWaiting() stays true
    // until they have; the worker polls it (WorkerThread::tipsAndWait does).
    virtual void tipsAndWait(const QString &message) = 0;
    virtual bool isWaiting() const = 0;
    // True once the user asked the run to stop; workers poll it between steps
    // (WorkerThread::checkCancel) since nothing stops them by force.
    virtual bool isCancelled() const = 0;
    // The run has reached a point where stopping would lose its result (it is
    // committing): Cancel is no longer offered, and a late one changes nothing.
    virtual void refuseCancel() {}

protected:
    ProgressReporter() = default;
    ProgressReporter(const ProgressReporter &) = default;
    ProgressReporter &operator=(const ProgressReporter &) = default;
};
