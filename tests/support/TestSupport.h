#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class WorkerThread;

namespace testsupport {

// The exit code of a child that killedAtStep ended at its step.
constexpr int kKilledAtStep = 9;
// Runs work in a child process that ends on the spot, as under a kill, at the step-th
// step of a backup write (its step hook); kKilledAtStep then, otherwise work's own exit
// code; -1 when the child did not exit. Unix only.
int killedAtStep(int step, const std::function<int()> &work);

// The file's bytes; empty when it cannot be read.
QByteArray readFile(const QString &path);
// Writes the bytes, making the folders on the way; false when that failed.
bool writeFile(const QString &path, const QByteArray &bytes);

// The text of the exception action raises; empty when it raises none.
QString errorOf(const std::function<void()> &action);

// Runs the worker and waits for its end; whether it succeeded.
bool runToEnd(WorkerThread &worker);

// A stand-in for the device backup tool in folder: each run adds its arguments as a line
// to folder/calls, then runs script (sh). Its path.
QString backupToolStandIn(const QString &folder, const QString &script);

// Folder of real third-party stores ("" when absent: tests using it skip).
QString realDataDir();

} // namespace testsupport
