#pragma once

#include <QString>

class QWidget;
class WorkerThread;

// Runs worker behind a modal progress dialog owned by parent and returns
// whether the operation succeeded, by the worker's outcome: a cancel that came
// after the worker began to commit changes nothing, and the worker's success
// is still shown. Returns only after the worker's thread has ended, so the
// caller may read the worker's results and destroy it at once. cancelable
// false disables Cancel for operations that must not be left halfway. With
// showAfterMs above 0 the dialog only comes up when the worker takes longer than
// that, so that short work does not flash a window; its outcome is told the same.
bool runWorker(QWidget *parent, WorkerThread *worker, const QString &title = QString(),
               bool cancelable = true, int showAfterMs = 0);
