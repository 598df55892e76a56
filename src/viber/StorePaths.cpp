#include "StorePaths.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <cmath>
#include <optional>

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

// What a folder listing tells of a name in it; Unsure where only a look at the file can.
enum class Entry { Missing, File, Other, Unsure };

struct Listing
{
    QHash<QString, Entry> entries;
    // Names case-folded: on a file system that ignores case, a name the store spells
    // otherwise still reaches a file, which a link may lead out of.
    QSet<QString> folded;

    Entry entry(const QString &name) const
    {
        const auto it = entries.constFind(name);
        if (it != entries.constEnd())
            return it.value();
        return folded.contains(name.toCaseFolded()) ? Entry::Unsure : Entry::Missing;
    }
};

using Listings = QHash<QString, std::optional<Listing>>;
thread_local Listings *t_listings = nullptr;

// The listing of folder, or none where it cannot be read (a folder that may be passed
// through but not listed still lets a known name be looked at).
const Listing *listingOf(const QString &folder)
{
    auto it = t_listings->find(folder);
    if (it != t_listings->end())
        return it->has_value() ? &**it : nullptr;
    std::optional<Listing> listing;
    const QFileInfo dir(folder);
    if (!dir.exists() || dir.isReadable()) {
        listing.emplace();
        // The entries' kinds come with the listing; only a link costs a look of its own.
        QDirIterator entries(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        while (entries.hasNext()) {
            entries.next();
            const QFileInfo info = entries.fileInfo();
            const QString name = info.fileName();
            listing->entries.insert(name, info.isSymLink() ? Entry::Unsure
                                          : info.isFile()  ? Entry::File
                                                           : Entry::Other);
            listing->folded.insert(name.toCaseFolded());
        }
    }
    it = t_listings->insert(folder, std::move(listing));
    return it->has_value() ? &**it : nullptr;
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

FolderListings::FolderListings()
{
    if (!t_listings) {
        t_listings = new Listings;
        m_owner = true;
    }
}

FolderListings::~FolderListings()
{
    if (m_owner) {
        delete t_listings;
        t_listings = nullptr;
    }
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
    if (const Listing *listing = t_listings ? listingOf(fileDir) : nullptr) {
        switch (listing->entry(path.mid(fileDir.size() + 1))) {
        case Entry::File:
            if (isFile)
                *isFile = true;
            return path;
        case Entry::Missing:
        case Entry::Other:
            return path;
        case Entry::Unsure:
            break;
        }
    }
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
