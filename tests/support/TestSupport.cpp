#include "TestSupport.h"

#include "TestConfig.h"

#include <QDir>

namespace testsupport {

QString sourcePath(const QString &relative)
{
    return QDir(QStringLiteral(CHATWHARF_SOURCE_DIR)).filePath(relative);
}

QString realDataDir()
{
    QDir dir(QStringLiteral(CHATWHARF_REAL_DATA_DIR));
    return dir.exists() ? dir.absolutePath() : QString();
}

} // namespace testsupport
