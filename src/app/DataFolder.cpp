#include "DataFolder.h"

#include "AppConstants.h"
#include "Platform.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

namespace {

QMutex s_mutex;
QString s_dataFolder;

QString resolveDataFolder()
{
    const QString roaming = roamingProfileFolder();
    const QString makerFolder = roaming + QLatin1Char('/') + QLatin1String(AppConstants::kMakerFolder);
    QString base = makerFolder;

    // The redirect file lets a user keep the data elsewhere (another drive).
    // Its content is the folder path exactly as written.
    QFile redirect(makerFolder + QLatin1Char('/') + QLatin1String(AppConstants::kAppId) +
                   QStringLiteral(".redirect"));
    if (redirect.open(QIODevice::ReadOnly)) {
        const QString target = QString::fromUtf8(redirect.readAll());
        // Only a folder can hold the data folder; a plain file there would make
        // every later write fail, so it is ignored like a missing path.
        if (!target.isEmpty() && QFileInfo(target).isDir())
            base = target;
    }
    return QDir(base).absoluteFilePath(QLatin1String(AppConstants::kAppId));
}

} // namespace

QDir dataFolder()
{
    QString path;
    {
        QMutexLocker lock(&s_mutex);
        if (s_dataFolder.isEmpty())
            s_dataFolder = QDir::cleanPath(resolveDataFolder());
        path = s_dataFolder;
    }
    QDir().mkpath(path);
    return QDir(path);
}

QDir localDatabasesFolder()
{
    const QString path = dataFolder().filePath(QLatin1String(AppConstants::kLocalDatabasesFolder));
    QDir().mkpath(path);
    return QDir(path);
}

void resetDataFolderForTests()
{
    QMutexLocker lock(&s_mutex);
    s_dataFolder.clear();
}
