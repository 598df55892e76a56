#include "Platform.h"

#include <QDesktopServices>
#include <QDir>
#include <QStandardPaths>

#include <cstdio>
#include <string>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#endif
#ifndef Q_OS_WIN
#include <fcntl.h>
#include <termios.h>
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

bool renameOver(const QString &source, const QString &target)
{
#if defined(Q_OS_WIN)
    return MoveFileExW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(source).utf16()),
                       reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(target).utf16()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return ::rename(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) == 0;
#endif
}

bool stdinIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stdin)) != 0;
#else
    return isatty(STDIN_FILENO) != 0;
#endif
}

bool stderrIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

QString readHiddenLine(const QString &prompt, bool *ok)
{
    std::fputs(prompt.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
#ifdef Q_OS_WIN
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    const bool console = GetConsoleMode(in, &mode);
    if (console)
        SetConsoleMode(in, mode & ~ENABLE_ECHO_INPUT);
#else
    termios old{};
    const bool console = tcgetattr(STDIN_FILENO, &old) == 0;
    if (console) {
        termios quiet = old;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
#endif
    std::string line;
    int c = 0;
    while ((c = std::getchar()) != EOF && c != '\n')
        line.push_back(char(c));
    if (console) {
#ifdef Q_OS_WIN
        SetConsoleMode(in, mode);
#else
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
#endif
    }
    std::fputs("\n", stderr);
    *ok = c != EOF || !line.empty();
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    QString result = QString::fromLocal8Bit(line.data(), qsizetype(line.size()));
    std::fill(line.begin(), line.end(), '\0');
    return result;
}

void settleLocalTimeZone()
{
#if defined(Q_OS_LINUX)
    static const char kZoneFile[] = "/etc/localtime";
    if (qEnvironmentVariableIsSet("TZ") || !QFile::exists(QLatin1String(kZoneFile)))
        return;
    // The C library reads ":<file>" as that zone file, and Qt takes this value for the
    // system's zone as before.
    qputenv("TZ", QByteArray(":") + kZoneFile);
#endif
}
