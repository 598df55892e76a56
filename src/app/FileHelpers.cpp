#include "FileHelpers.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <stdexcept>

QString uniqueFilePath(const QString &wantedPath)
{
    const QFileInfo wanted(wantedPath);
    if (!wanted.exists() && !wanted.isSymLink())
        return wantedPath;

    // Keep the folder part exactly as the caller wrote it.
    const QString fileName = wanted.fileName();
    const QString folder = wantedPath.left(wantedPath.size() - fileName.size());
    const QString base = wanted.baseName();
    const QString suffix = wanted.suffix();
    for (qint64 n = 1;; ++n) {
        QString candidate = folder + base + QLatin1Char('(') + QString::number(n) + QLatin1Char(')');
        if (!suffix.isEmpty())
            candidate += QLatin1Char('.') + suffix;
        const QFileInfo info(candidate);
        if (!info.exists() && !info.isSymLink())
            return candidate;
    }
}

QString sanitizeFileName(const QString &text)
{
    static const QRegularExpression forbidden(QStringLiteral("[\\\\/:*?\"<>|\\n\\r\\t]"));
    QString name = text;
    name.remove(forbidden);
    return name.trimmed();
}

QString exportFileName(const QString &text, qsizetype maxLength)
{
    QString name;
    name.reserve(text.size());
    for (const QChar c : text) {
        // Direction overrides and isolates would make a listing show the name
        // reordered ("gnp.exe" read as "exe.png"); the joiner keeps emoji whole.
        if (c.category() == QChar::Other_Format && c != QChar(0x200D))
            continue;
        name += c.isSpace() ? QChar(u' ') : c;
    }
    // Never half of a character outside the BMP: its lone surrogate has no UTF-8.
    if (name.size() > maxLength && maxLength > 0 && name.at(maxLength - 1).isHighSurrogate())
        --maxLength;
    name = sanitizeFileName(name.left(maxLength));
    // Dots alone would name the folder itself or its parent; a leading one hides the file.
    while (name.startsWith(QLatin1Char('.')))
        name = name.mid(1).trimmed();
    return name;
}

QString exportCopyName(const QString &fileName, const QString &emptyBase)
{
    const QFileInfo info(fileName);
    QString name = exportFileName(info.completeBaseName());
    if (name.isEmpty())
        name = emptyBase;
    if (name.isEmpty())
        return QString();
    const QString suffix = exportFileName(info.suffix(), 16);
    return suffix.isEmpty() ? name : name + QLatin1Char('.') + suffix;
}

void removeFolderTree(const QString &folderPath)
{
    // QDir("") is the working folder; an empty path must never delete that.
    if (folderPath.isEmpty())
        return;
    const QFileInfo info(folderPath);
    if (info.isSymLink()) {
        // Only the link goes; deleting through it would empty a folder elsewhere.
        if (info.isDir())
            QFile::remove(folderPath);
        return;
    }
    if (info.isDir())
        QDir(folderPath).removeRecursively();
}

QString md5Hex(const QString &text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

bool makePrivatePath(const QString &folderPath)
{
    if (folderPath.isEmpty())
        return false;
    QStringList missing;
    for (QString f = QDir::cleanPath(QDir(folderPath).absolutePath()); !QFileInfo::exists(f);) {
        missing.prepend(f);
        const QString parent = QFileInfo(f).absolutePath();
        if (parent == f)
            break;
        f = parent;
    }
    // One folder at a time, each given its mode by mkdir itself: mkpath would
    // make them under the umask, open to others until changed.
    for (const QString &f : std::as_const(missing))
        if (!QDir().mkdir(f, kPrivateFolderMode) && !QFileInfo(f).isDir())
            return false;
    return QFileInfo(folderPath).isDir();
}

QString makeUniquePrivateFolder(const QString &parent, const QString &prefix)
{
    if (!makePrivatePath(parent))
        return QString();
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QString name = prefix;
        for (int i = 0; i < 8; ++i)
            name += QLatin1Char(kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters) - 1)]);
        const QString path = QDir(parent).filePath(name);
        if (QDir().mkdir(path, kPrivateFolderMode))
            return path;
        if (!QFileInfo::exists(path))
            return QString(); // not a name taken: the parent refuses
    }
    return QString();
}

std::shared_ptr<void> folderLease(const QString &folderPath)
{
    return std::shared_ptr<void>(nullptr, [folderPath](void *) { removeFolderTree(folderPath); });
}

void writeWholeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size() ||
        !file.flush())
        throw std::runtime_error(QCoreApplication::translate("FileHelpers", "IDS_CANNOT_WRITE_%1")
                                     .arg(QDir::toNativeSeparators(path).toHtmlEscaped())
                                     .toStdString());
}
