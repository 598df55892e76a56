#include "LocalDatabases.h"

#include "AttachmentPreviews.h"
#include "StorePaths.h"
#include "app/DataFolder.h"
#include "app/FileHelpers.h"

#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>

QString LocalDatabases::normalizedName(const QString &typed)
{
    return typed.trimmed();
}

LocalDatabases::NameCheck LocalDatabases::checkName(const QString &name)
{
    if (name.isEmpty())
        return NameCheck::Empty;
    static const QRegularExpression forbidden(QStringLiteral("[\\\\/:\\*\\?\"<>|\\n\\r\\t]+"));
    if (forbidden.match(name).hasMatch() || name == QLatin1String(".") || name == QLatin1String("..") ||
        name.contains(QChar(0)))
        return NameCheck::Invalid;
    return NameCheck::Valid;
}

QString LocalDatabases::existingName(const QStringList &names, const QString &name)
{
    for (const QString &n : names)
        if (n.compare(name, Qt::CaseInsensitive) == 0)
            return n;
    return QString();
}

QStringList LocalDatabases::names(const QDir &parent)
{
    QStringList out;
    const QStringList dirs =
        parent.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString &dir : dirs)
        if (isDatabaseFolder(parent.filePath(dir)))
            out.append(dir);
    return out;
}

QStringList LocalDatabases::names()
{
    return names(localDatabasesFolder());
}

QString LocalDatabases::folderOf(const QDir &parent, const QString &name)
{
    if (checkName(name) != NameCheck::Valid)
        return QString();
    return StorePaths::childPath(parent.absolutePath(), name);
}

QString LocalDatabases::folderOf(const QString &name)
{
    return folderOf(localDatabasesFolder(), name);
}

bool LocalDatabases::isDatabaseFolder(const QString &folder)
{
    return !folder.isEmpty() && QFileInfo(QDir(folder).filePath(QLatin1String(kStoreFileName))).isFile();
}

std::unique_ptr<IOSViberDb> LocalDatabases::store(const QString &folder)
{
    return std::make_unique<IOSViberDb>(QDir(folder), QString::fromLatin1(kStoreFileName));
}

ViberDataPtr LocalDatabases::load(const QString &folder)
{
    ViberDataPtr data = store(folder)->load();
    AttachmentPreviews::makeMissing(*data);
    return data;
}

bool LocalDatabases::remove(const QDir &parent, const QString &name, QString *error)
{
    const QString folder = folderOf(parent, name);
    if (folder.isEmpty()) {
        if (error)
            *error = tr("IDS_LOCALDB_NAME_NOT_VALID_%1").arg(name.toHtmlEscaped());
        return false;
    }
    removeFolderTree(folder);
    if (QFileInfo::exists(folder)) {
        if (error)
            *error = tr("IDS_LOCALDB_NOT_DELETED_%1").arg(QDir::toNativeSeparators(folder).toHtmlEscaped());
        return false;
    }
    return true;
}

LocalDatabaseLock::LocalDatabaseLock(const QString &databaseFolder)
    : m_folder(QDir::cleanPath(databaseFolder)),
      m_lock(std::make_unique<QLockFile>(m_folder + QStringLiteral(".lock")))
{
    // A copy may run for hours: only a dead owner makes a lock stale, never its age.
    m_lock->setStaleLockTime(0);
}

LocalDatabaseLock::~LocalDatabaseLock() = default;

bool LocalDatabaseLock::tryLock(int timeoutMs)
{
    if (m_locked)
        return true;
    m_error.clear();
    const QString parent = QFileInfo(m_folder).absolutePath();
    if (!QDir().mkpath(parent)) {
        m_error = LocalDatabases::tr("IDS_LOCALDB_LOCK_FAILED_%1").arg(QDir::toNativeSeparators(parent));
        return false;
    }
    m_locked = m_lock->tryLock(timeoutMs);
    if (!m_locked && m_lock->error() != QLockFile::LockFailedError)
        m_error = LocalDatabases::tr("IDS_LOCALDB_LOCK_FAILED_%1")
                      .arg(QDir::toNativeSeparators(m_folder + QStringLiteral(".lock")));
    return m_locked;
}

bool LocalDatabaseLock::createFolder()
{
    return QDir().mkdir(m_folder);
}
