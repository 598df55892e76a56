#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class WorkerThread;

namespace testsupport {

constexpr int kKilledAtStep = 9;
// Runs work in a child process that ends as if killed at the step-th step of a backup write:
// kKilledAtStep then, else work's exit code; -1 when the child did not exit. Unix only.
int killedAtStep(int step, const std::function<int()> &work);

// The file's bytes; empty when it cannot be read.
QByteArray readFile(const QString &path);
// Writes the bytes, making the folders on the way; false when that failed.
bool writeFile(const QString &path, const QByteArray &bytes);

// The text of the exception action raises; empty: none.
QString errorOf(const std::function<void()> &action);

// Runs the worker and waits for its end; whether it succeeded.
bool runToEnd(WorkerThread &worker);

// The path of a stand-in backup tool in folder: each run adds its arguments to folder/calls, then runs script
// (sh).
QString backupToolStandIn(const QString &folder, const QString &script);

// Folder of real third-party stores ("" when absent: tests using it skip).
QString realDataDir();

} // namespace testsupport
