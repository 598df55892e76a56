#pragma once

#include <QString>

namespace testsupport {

// Folder of real third-party stores ("" when absent: tests using it skip).
QString realDataDir();

} // namespace testsupport
