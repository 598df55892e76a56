#include "Platform.h"

#include <QDesktopServices>
#include <QDir>
#include <QStandardPaths>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>
#endif

QString roamingProfileFolder()
{
#ifdef Q_OS_WIN
    const QDir home = QDir::home();
    const QString roaming = home.filePath(QStringLiteral("AppData/Roaming"));
    if (QFileInfo(roaming).isDir())
        return roaming;
    return home.filePath(QStringLiteral("Application Data"));
#else
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#endif
}

QStringList userAppDataFolders(const QString &folderName)
{
    QStringList folders{QDir(roamingProfileFolder()).filePath(folderName)};
#if defined(Q_OS_MACOS)
    folders.append(QDir::home().filePath(QStringLiteral("Library/Application Support/") + folderName));
#elif !defined(Q_OS_WIN)
    folders.append(QDir::home().filePath(QLatin1Char('.') + folderName));
#endif
    return folders;
}

QUrl shellUrl(const QString &urlOrPath)
{
    const QUrl url(urlOrPath, QUrl::StrictMode);
    // A one-letter scheme is a drive letter ("C:/out"), not an address.
    if (url.isValid() && url.scheme().size() > 1)
        return url;
    return QUrl::fromLocalFile(urlOrPath);
}

bool openFolder(const QString &folderPath)
{
    const bool opened = QDesktopServices::openUrl(QUrl::fromLocalFile(folderPath));
    // Files (attachments, pictures) are opened through here too.
    if (!opened && QFileInfo(folderPath).isDir())
        qWarning("Could not open the folder %s in the file browser.", qUtf8Printable(folderPath));
    else if (!opened)
        qWarning("Could not open the file %s.", qUtf8Printable(folderPath));
    return opened;
}

bool openUrl(const QString &urlOrPath)
{
    const bool opened = QDesktopServices::openUrl(shellUrl(urlOrPath));
    if (!opened)
        qWarning("Could not open %s.", qUtf8Printable(urlOrPath));
    return opened;
}

void prepareWebEngineForUser()
{
#ifndef Q_OS_WIN
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
#endif
}

bool syncFileSystem(const QString &path)
{
#if defined(Q_OS_LINUX)
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::syncfs(fd) == 0;
    ::close(fd);
    return ok;
#elif defined(Q_OS_WIN)
    // Windows writes a closed file's data through its own cache; nothing to wait for here.
    Q_UNUSED(path);
    return true;
#else
    Q_UNUSED(path);
    ::sync();
    return true;
#endif
}
