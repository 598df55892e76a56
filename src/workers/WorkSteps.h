#pragma once

#include <QString>

#include <functional>

// What a piece of a worker's job needs of the thread that runs it: the cancel check
// between steps and the progress line (see WorkerThread::reportProgress), so that
// the piece can live in a file of its own without being a thread.
struct WorkSteps
{
    std::function<void()> checkCancel = [] {};
    std::function<void(int percent, const QString &status, const QString &detail)> progress =
        [](int, const QString &, const QString &) {};
};
