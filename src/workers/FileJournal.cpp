#include "FileJournal.h"

#include "app/FileHelpers.h"
#include "app/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <stdexcept>

namespace {

[[noreturn]] void fail(const QString &text)
{
    throw std::runtime_error(text.toUtf8().toStdString());
}

// A path inside an error, which the dialogs show as rich text.
QString native(const QString &path)
{
    return QDir::toNativeSeparators(path).toHtmlEscaped();
}

} // namespace

void FileJournal::makeFolder(const QString &folder)
{
    if (folder.isEmpty())
        fail(tr("IDS_BACKUP_FOLDER_FAILED_%1").arg(native(m_root)));
    if (m_knownFolders.contains(folder))
        return;
    if (QFileInfo(folder).isDir()) {
        m_knownFolders.insert(folder);
        return;
    }
    // Remember which of the folders are new, from the outermost in.
    QStringList missing;
    for (QString f = QDir::cleanPath(folder); !f.isEmpty() && !QFileInfo::exists(f);) {
        missing.prepend(f);
        const QString parent = QFileInfo(f).absolutePath();
        if (parent == f)
            break;
        f = parent;
    }
    if (!(m_private ? makePrivatePath(folder) : QDir().mkpath(folder)) || !QFileInfo(folder).isDir())
        fail(tr("IDS_BACKUP_FOLDER_FAILED_%1").arg(native(folder)));
    m_createdFolders.append(missing);
    m_knownFolders.insert(folder);
}

void FileJournal::copyNewFile(const QString &source, const QString &target, const QDateTime &time)
{
    QFile in(source);
    // Written under a temporary name (unnamed where the system allows) and named
    // only when complete, so that a killed run never leaves a part of a file under
    // the attachment's name; the name is never taken from another file.
    QTemporaryFile out(target + QStringLiteral(".XXXXXX"));
    QString error;
    if (!in.open(QIODevice::ReadOnly)) {
        error = in.errorString();
    } else if (!out.open()) {
        error = out.errorString();
    } else {
        // A temporary file is private to its owner; the copy is as readable as its source.
        out.setPermissions(in.permissions());
        char buffer[1 << 16];
        qint64 n;
        while ((n = in.read(buffer, sizeof buffer)) > 0)
            if (out.write(buffer, n) != n)
                break;
        if (n < 0)
            error = in.errorString();
        else if (n > 0 || !out.flush())
            error = out.errorString();
        // The copy's time is the source's, so that "older" later compares the contents' ages.
        else if (time.isValid())
            out.setFileTime(time, QFileDevice::FileModificationTime);
        if (error.isEmpty() && !out.rename(target))
            error = out.errorString();
    }
    if (!error.isEmpty())
        fail(tr("IDS_BACKUP_COPY_FAILED_%1_%2_%3").arg(native(source), native(target), error));
    out.setAutoRemove(false);
}

void FileJournal::copyFile(const QString &source, const QString &target, Replace replace)
{
    if (source.isEmpty())
        return;
    // A copy again finds every target there: one look at it settles a file never replaced.
    if (replace == Replace::Never && !target.isEmpty()) {
        const QFileInfo dst(target);
        if (dst.exists() || dst.isSymLink())
            return;
    }
    const QFileInfo src(source);
    if (!src.isFile())
        return; // not downloaded, or deleted since the load: nothing to copy
    if (target.isEmpty()) {
        qWarning("No file copied for %s: its name would lead out of the database folder", qPrintable(source));
        return;
    }
    const QFileInfo dst(target);
    const bool exists = dst.exists() || dst.isSymLink();
    if (exists) {
        if (replace == Replace::Never)
            return;
        if (replace == Replace::IfOlder && !(dst.lastModified() < src.lastModified()))
            return;
        // A source inside the database itself is its own copy.
        if (dst.canonicalFilePath() == src.canonicalFilePath() || !dst.isFile())
            return;
    }
    makeFolder(dst.absolutePath());

    if (!exists) {
        copyNewFile(source, target, src.lastModified());
        m_createdFiles.append(target);
        return;
    }

    // The new copy is complete, under a free name beside it, before the old one goes.
    QString tempPath;
    {
        QTemporaryFile name(target + QStringLiteral(".XXXXXX"));
        if (!name.open())
            fail(tr("IDS_BACKUP_COPY_FAILED_%1_%2_%3")
                     .arg(native(source), native(target), name.errorString()));
        tempPath = name.fileName();
    } // the name is free again, and copyNewFile takes it only if nothing else did
    copyNewFile(source, tempPath, src.lastModified());
    QFile old(target);
    QFile fresh(tempPath);
    if (!old.remove() || !fresh.rename(target)) {
        const QString why = old.exists() ? old.errorString() : fresh.errorString();
        QFile::remove(tempPath);
        fail(tr("IDS_BACKUP_COPY_FAILED_%1_%2_%3").arg(native(source), native(target), why));
    }
}

void FileJournal::removeStaleFile(const QString &target)
{
    const QFileInfo info(target);
    if (target.isEmpty() || !(info.exists() || info.isSymLink()))
        return;
    if (!QFile::remove(target))
        fail(tr("IDS_BACKUP_STALE_FILE_%1").arg(native(target)));
}

void FileJournal::syncToDisk(const QString &path) const
{
    // Each copy skipped its own flush; one for the whole file system is far cheaper.
    if (!m_createdFiles.isEmpty() && !syncFileSystem(path))
        fail(tr("IDS_BACKUP_SYNC_FAILED_%1").arg(native(path)));
}

void FileJournal::rollBack()
{
    for (auto it = m_createdFiles.crbegin(); it != m_createdFiles.crend(); ++it)
        if (!QFile::remove(*it) && QFileInfo::exists(*it))
            qWarning("Could not remove %s", qPrintable(*it));
    for (auto it = m_createdFolders.crbegin(); it != m_createdFolders.crend(); ++it)
        QDir().rmdir(*it); // only when empty
    clear();
}

void FileJournal::clear()
{
    m_createdFiles.clear();
    m_createdFolders.clear();
    m_knownFolders.clear();
}
