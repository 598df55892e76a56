#include "StorePaths.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <cmath>

namespace StorePaths {

QString childPath(const QString &base, const QString &relative)
{
    if (relative.isEmpty() || relative.contains(QChar(0)))
        return QString();
    QString rel = relative;
    rel.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (rel.startsWith(QLatin1Char('/')))
        return QString();
    // "C:x" is drive-relative and "C:/x" absolute on Windows; neither belongs to a store.
    if (rel.size() >= 2 && rel.at(1) == QLatin1Char(':') && rel.at(0).isLetter())
        return QString();
    rel = QDir::cleanPath(rel);
    // What cleans to the folder itself, or climbs above it, names no file inside it.
    if (rel.isEmpty() || rel == QLatin1String(".") || rel == QLatin1String("..") ||
        rel.startsWith(QLatin1String("../")))
        return QString();

    QString root = base;
    root.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (root.isEmpty())
        return rel;
    root = QDir::cleanPath(root);
    if (root.endsWith(QLatin1Char('/')))
        return root + rel;
    return root + QLatin1Char('/') + rel;
}

namespace {

// Folders already found inside their base, per thread (readers and writers run in
// worker threads): resolving a folder for each of 100,000 attachments would cost
// more than reading them.
QHash<QString, bool> &resolvedFolders()
{
    thread_local QHash<QString, bool> folders;
    return folders;
}

bool isInside(const QString &root, const QString &canonical)
{
    return canonical == root ||
           canonical.startsWith(root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/'));
}

} // namespace

bool resolvesInside(const QString &base, const QString &path)
{
    const QString root = QFileInfo(base).canonicalFilePath();
    if (root.isEmpty())
        return true;
    QString p = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    for (;;) {
        const QFileInfo info(p);
        if (info.isSymLink() || info.exists()) {
            const QString canonical = info.canonicalFilePath();
            return !canonical.isEmpty() && isInside(root, canonical);
        }
        const QString parent = info.absolutePath();
        if (parent == p)
            return true;
        p = parent;
    }
}

void forgetResolvedFolders()
{
    resolvedFolders().clear();
}

QString fileInFolder(const QString &base, const char *folder, const QString &name, bool *isFile)
{
    if (isFile)
        *isFile = false;
    const QString dir = childPath(base, QString::fromLatin1(folder));
    if (dir.isEmpty())
        return QString();
    const QString path = childPath(dir, name);
    if (path.isEmpty())
        return path;
    // One QFileInfo: what it learnt of a file that is no link answers isFile as well.
    const QFileInfo info(path);
    if (base.isEmpty()) {
        if (isFile)
            *isFile = info.isFile();
        return path;
    }
    // Links inside a store are allowed; only where they lead counts. A nested name's
    // own folder (a sticker's "1000/100") is remembered like the store's folders.
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString fileDir = slash > dir.size() ? path.left(slash) : dir;
    QHash<QString, bool> &folders = resolvedFolders();
    auto it = folders.constFind(fileDir);
    if (it == folders.constEnd())
        it = folders.insert(fileDir, resolvesInside(base, fileDir));
    if (!it.value())
        return QString();
    if (info.isSymLink() && !resolvesInside(base, path))
        return QString();
    if (isFile)
        *isFile = info.isFile();
    return path;
}

QString locationImageName(double latitude, double longitude)
{
    QString lat = QStringLiteral("%1").arg(latitude, 0, 'g', 8);
    const qsizetype wanted = lat.indexOf(QLatin1Char('.')) + 7;
    if (lat.size() < wanted)
        lat.append(QString(wanted - lat.size(), QLatin1Char('0')));
    // A value from a file may be NaN or huge; an integer cast of those is undefined.
    const double t = std::trunc(longitude);
    const qint64 lon = (t > -9.2e18 && t < 9.2e18) ? qint64(t) : 0;
    return QStringLiteral("%1_%2.jpg").arg(lat).arg(lon);
}

QString stickerRelativePath(const QString &attId)
{
    const qint64 number = attId.toLongLong();
    return QStringLiteral("%1/100/%2.png").arg((number / 100) * 100).arg(attId, 8, QLatin1Char('0'));
}

bool findStoreFile(const QString &folder, QString *root, QString *fileName)
{
    const QDir dir(folder);
    const QString store = QStringLiteral("Contacts.data");
    auto found = [&](const QString &rootPath, const QString &file) {
        *root = QDir::cleanPath(rootPath);
        *fileName = file;
        return true;
    };
    const QFileInfo given(folder);
    if (given.isFile()) {
        // The store file itself: its root follows from where it lies.
        if (given.fileName() != store)
            return false;
        const QDir parent = given.absoluteDir();
        if (parent.dirName() == QLatin1String("Documents"))
            return found(parent.absoluteFilePath(QStringLiteral("..")),
                         QStringLiteral("Documents/Contacts.data"));
        if (parent.dirName() == QLatin1String("database") &&
            QDir(QDir::cleanPath(parent.absoluteFilePath(QStringLiteral("..")))).dirName() ==
                QLatin1String("com.viber"))
            return found(parent.absoluteFilePath(QStringLiteral("../..")),
                         QStringLiteral("com.viber/database/Contacts.data"));
        return found(parent.absolutePath(), store);
    }
    if (QFileInfo(dir.filePath(QStringLiteral("Documents/Contacts.data"))).isFile())
        return found(dir.absolutePath(), QStringLiteral("Documents/Contacts.data"));
    if (QFileInfo(dir.filePath(store)).isFile()) {
        // The Documents folder itself: its attachments lie beside the store.
        if (dir.dirName() == QLatin1String("Documents"))
            return found(dir.absoluteFilePath(QStringLiteral("..")),
                         QStringLiteral("Documents/Contacts.data"));
        return found(dir.absolutePath(), store);
    }
    if (QFileInfo(dir.filePath(QStringLiteral("com.viber/database/Contacts.data"))).isFile())
        return found(dir.absolutePath(), QStringLiteral("com.viber/database/Contacts.data"));
    return false;
}

} // namespace StorePaths
