#pragma once

#include <QString>

namespace testsupport {

// Absolute path of a file in the repository, for inputs kept beside the tests.
QString sourcePath(const QString &relative);

// Folder of real third-party stores ("" when absent: tests using it skip).
QString realDataDir();

} // namespace testsupport
