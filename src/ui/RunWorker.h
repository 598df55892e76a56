#pragma once

#include <QString>

class QWidget;
class WorkerThread;

// Runs worker behind a modal progress dialog owned by parent and returns
// whether the operation succeeded: the dialog closed with success and was
// not cancelled. Returns only after the worker's thread has ended, so the
// caller may read the worker's results and destroy it at once. cancelable
// false disables Cancel for operations that must not be left halfway.
bool runWorker(QWidget *parent, WorkerThread *worker, const QString &title = QString(),
               bool cancelable = true);
