#include "RunWorker.h"

#include "ProgressForm.h"
#include "workers/WorkerThread.h"

bool runWorker(QWidget *parent, WorkerThread *worker, const QString &title, bool cancelable)
{
    Q_ASSERT(worker && !worker->isRunning());
    ProgressForm form(title, parent);
    form.enableCancel(cancelable);
    worker->setReporter(&form);
    worker->start(QThread::InheritPriority);
    const int result = form.exec();
    // No time limit: the worker may still be removing partial output after a
    // cancel, and the caller must not touch what it works on before it ended.
    // The dialog reports a closed state to a worker waiting for the user, so
    // this cannot hang on an acknowledgement nobody can give.
    worker->wait();
    // The dialog dies with this scope; the worker must not keep pointing at it.
    worker->setReporter(nullptr);
    return result == 1 && !form.endedWithoutSuccess();
}
