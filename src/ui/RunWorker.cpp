#include "RunWorker.h"

#include "MessageBoxes.h"
#include "ProgressForm.h"
#include "ScopeChoice.h"
#include "workers/WorkerThread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

bool runWorker(QWidget *parent, WorkerThread *worker, const QString &title, bool cancelable, int showAfterMs)
{
    Q_ASSERT(worker && !worker->isRunning());
    ProgressForm form(title, parent);
    form.enableCancel(cancelable);
    worker->setReporter(&form);
    worker->start(QThread::InheritPriority);
    if (showAfterMs > 0 && worker->wait(QDeadlineTimer(showAfterMs))) {
        // Done before the dialog was due: its queued reports are dropped unseen (a
        // box below would run them), and the outcome is told here.
        worker->setReporter(nullptr);
        QCoreApplication::removePostedEvents(&form);
        const WorkerThread::Outcome outcome = worker->outcome();
        if (outcome == WorkerThread::Outcome::Succeeded && !worker->successText().isEmpty())
            showInfo(ScopeNote::decorate(worker->successText()), parent);
        else if (outcome == WorkerThread::Outcome::Failed)
            reportError(worker->errorText(), parent);
        return outcome == WorkerThread::Outcome::Succeeded;
    }
    // A worker that stopped on a request of its own (the program closing) has no
    // last word to close the dialog with: its end does.
    QObject::connect(
        worker, &QThread::finished, &form,
        [&form, worker] {
            if (worker->outcome() == WorkerThread::Outcome::Cancelled && form.isVisible())
                form.done(0);
        },
        Qt::QueuedConnection);
    form.exec();
    // No time limit: the worker may still be removing partial output after a
    // cancel, and the caller must not touch what it works on before it ended.
    // The dialog reports a closed state to a worker waiting for the user, so
    // this cannot hang on an acknowledgement nobody can give.
    worker->wait();
    // The dialog dies with this scope; the worker must not keep pointing at it.
    worker->setReporter(nullptr);
    // The worker's outcome decides, not the dialog's: a cancel pressed while the
    // worker was already committing closed the dialog before its last word, which
    // is said here instead.
    const WorkerThread::Outcome outcome = worker->outcome();
    if (form.isCancelled()) {
        if (outcome == WorkerThread::Outcome::Succeeded && !worker->successText().isEmpty())
            showInfo(ScopeNote::decorate(worker->successText()), parent);
        else if (outcome == WorkerThread::Outcome::Failed)
            reportError(worker->errorText(), parent);
    }
    return outcome == WorkerThread::Outcome::Succeeded;
}
