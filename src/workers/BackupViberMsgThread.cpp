#include "BackupViberMsgThread.h"

#include "app/Platform.h"

#include "viber/IOSViberDb.h"
#include "viber/LocalDatabases.h"
#include "viber/StorePaths.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <stdexcept>

namespace {

// The dialog needs no more than a few updates a second.
constexpr qint64 kProgressIntervalMs = 100;

[[noreturn]] void fail(const QString &text)
{
    throw std::runtime_error(text.toUtf8().toStdString());
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// Chat by chat, each chat's messages by date. Messages without a chat (which no
// reader makes) go last, so that the order stays a strict one.
bool copyOrder(const _ViberMsg *a, const _ViberMsg *b)
{
    if (!a->chat || !b->chat) {
        if (!a->chat != !b->chat)
            return b->chat == nullptr;
        return a->date < b->date;
    }
    if (a->chat != b->chat) {
        if (a->chat->id != b->chat->id)
            return a->chat->id < b->chat->id;
        return std::less<const _ViberChat *>()(a->chat, b->chat);
    }
    return a->date < b->date;
}

} // namespace

BackupViberMsgThread::BackupViberMsgThread(const QList<_ViberMsg *> &messages, const QDir &databaseFolder,
                                           QObject *parent)
    : WorkerThread(parent), m_messages(messages), m_folder(databaseFolder),
      m_root(databaseFolder.absolutePath())
{
    m_messages.removeAll(nullptr);
    std::stable_sort(m_messages.begin(), m_messages.end(), copyOrder);
}

BackupViberMsgThread::~BackupViberMsgThread()
{
    // work() uses the members; the base would wait only after they are gone.
    wait();
}

QString BackupViberMsgThread::work()
{
    m_createdFiles.clear();
    m_createdFolders.clear();
    m_knownFolders.clear();
    StorePaths::forgetResolvedFolders();
    reportProgress(0, tr("IDS_BACKING_UP_VIBER_MESSAGES"));

    makeFolder(StorePaths::childPath(m_root, QStringLiteral("Documents")));
    const std::unique_ptr<IOSViberDb> db = LocalDatabases::store(m_root);
    qInfo("Copying %lld messages into %s", qint64(m_messages.size()), qUtf8Printable(m_root));
    db->open();
    db->requireWriterTables();
    db->execThrow(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        IOSViberDb::MergeState state;
        state.checkCancel = [this] { checkCancel(); };
        const qint64 total = m_messages.size();
        qint64 n = 0;
        QElapsedTimer sinceReport;
        int lastPercent = -1;
        for (const _ViberMsg *msg : std::as_const(m_messages)) {
            checkCancel();
            ++n;
            const int percent = percentOf(n, total);
            if (percent != lastPercent || n == total || !sinceReport.isValid() ||
                sinceReport.elapsed() >= kProgressIntervalMs) {
                reportProgress(percent, QString(), tr("IDS_BACKUP_MESSAGES_%1_%2").arg(n).arg(total));
                lastPercent = percent;
                sinceReport.start();
            }
            if (!msg->chat)
                continue;

            if (db->mergeChat(state, msg))
                copyContactIcons(msg->chat);
            qint64 attachmentKey = 0, locationKey = 0;
            const qint64 messageKey = db->mergeRecord(state, msg, attachmentKey, locationKey);
            copyAttachmentFiles(msg, attachmentKey, messageKey > 0);
        }
        db->dropEmptyInsertedChats(state);
        db->refreshRecentsLines();
        db->refreshConversationDates();
        // The copied files reach the disk before the rows that name them: each copy
        // skipped its own flush, one for the whole file system is far cheaper.
        if (!m_createdFiles.isEmpty() && !syncFileSystem(m_root))
            fail(tr("IDS_BACKUP_SYNC_FAILED_%1").arg(native(m_root)));
        commitStarts();
        db->execThrow(QStringLiteral("COMMIT"));
        qInfo("Copied into %s: %lld new, %lld already present, %lld skipped", qUtf8Printable(db->path()),
              qint64(state.inserted), qint64(state.present), qint64(state.skipped));
        return summary(state);
    } catch (...) {
        // Nothing half-written: the store goes back to what it was.
        if (db->inTransaction() && !db->rollbackTran())
            qWarning("Could not roll back %s", qPrintable(db->path()));
        throw;
    }
}

QString BackupViberMsgThread::summary(const IOSViberDb::MergeState &state)
{
    // Only what was written counts as copied; the rest is said, not hidden in the count.
    QString text = state.inserted > 0 || (state.present == 0 && state.skipped == 0)
                       ? tr("IDS_SUC_BACKUP_%1_MESSAGES").arg(state.inserted)
                       : tr("IDS_BACKUP_NOTHING_NEW");
    if (state.present > 0)
        text += QStringLiteral("<br/>") + tr("IDS_BACKUP_%1_ALREADY_PRESENT").arg(state.present);
    if (state.skipped > 0)
        text += QStringLiteral("<br/>") + tr("IDS_BACKUP_%1_SKIPPED").arg(state.skipped);
    return text;
}

void BackupViberMsgThread::cleanUp(Outcome)
{
    // The rows these files belonged to were rolled back, and a voice file is named
    // by a key the next run hands out again: left behind, it would be taken for
    // another message's. Only what this run created goes; older files stay.
    for (auto it = m_createdFiles.crbegin(); it != m_createdFiles.crend(); ++it)
        if (!QFile::remove(*it) && QFileInfo::exists(*it))
            qWarning("Could not remove %s", qPrintable(*it));
    for (auto it = m_createdFolders.crbegin(); it != m_createdFolders.crend(); ++it)
        QDir().rmdir(*it); // only when empty
    m_createdFiles.clear();
    m_createdFolders.clear();
}

void BackupViberMsgThread::makeFolder(const QString &folder)
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
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir())
        fail(tr("IDS_BACKUP_FOLDER_FAILED_%1").arg(native(folder)));
    m_createdFolders.append(missing);
    m_knownFolders.insert(folder);
}

void BackupViberMsgThread::copyNewFile(const QString &source, const QString &target, const QDateTime &time)
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

void BackupViberMsgThread::copyFile(const QString &source, const QString &target, Replace replace)
{
    if (source.isEmpty())
        return;
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

    // The new copy is complete before the old one goes.
    QTemporaryFile temp(target + QStringLiteral(".XXXXXX"));
    if (!temp.open())
        fail(tr("IDS_BACKUP_COPY_FAILED_%1_%2_%3").arg(native(source), native(target), temp.errorString()));
    const QString tempPath = temp.fileName();
    temp.close();
    temp.remove();
    QFile in(source);
    if (!in.copy(tempPath))
        fail(tr("IDS_BACKUP_COPY_FAILED_%1_%2_%3").arg(native(source), native(target), in.errorString()));
    QFile old(target);
    QFile fresh(tempPath);
    if (!old.remove() || !fresh.rename(target)) {
        const QString why = old.exists() ? old.errorString() : fresh.errorString();
        QFile::remove(tempPath);
        fail(tr("IDS_BACKUP_COPY_FAILED_%1_%2_%3").arg(native(source), native(target), why));
    }

    // The copy's time is the source's, so that "older" later compares the contents' ages.
    QFile copied(target);
    if (copied.open(QIODevice::ReadWrite))
        copied.setFileTime(src.lastModified(), QFileDevice::FileModificationTime);
}

void BackupViberMsgThread::copyContactIcons(const _ViberChat *chat)
{
    for (const _ViberPerson *person : chat->participants) {
        if (!person || person->contactIconPath.isEmpty())
            continue;
        const QString digits = phoneDigits(person->phone);
        if (digits.isEmpty())
            continue;
        copyFile(person->contactIconPath,
                 StorePaths::fileInFolder(m_root, StorePaths::kContactIcons, digits + QStringLiteral(".jpg")),
                 Replace::IfOlder);
    }
}

void BackupViberMsgThread::copyAttachmentFiles(const _ViberMsg *msg, qint64 attachmentKey, bool newAttachment)
{
    const _ViberAtta *att = msg->attachment;
    if (!att)
        return;
    using namespace StorePaths;
    switch (msg->type) {
    case ViberMsgTypePicture:
        copyFile(att->filePath, fileInFolder(m_root, kAttachments, att->fileName), Replace::Never);
        copyFile(att->previewPath, fileInFolder(m_root, kAttachmentsPreview, att->fileName), Replace::Never);
        break;
    case ViberMsgTypeLocation:
        copyFile(att->previewPath,
                 fileInFolder(m_root, kCustomLocationImage, locationImageName(msg->latitude, msg->longitude)),
                 Replace::Never);
        break;
    case ViberMsgTypeAudio: {
        // Named by the attachment's key in this store. A key just handed out belongs
        // to no other message, so a file already under that name is a leftover of a
        // deleted message (or of a run that was killed) and gives way: a new message
        // without a recording of its own must never play somebody else's.
        if (attachmentKey <= 0)
            break;
        const QString target = fileInFolder(m_root, kVoiceMessages, QString::number(attachmentKey));
        if (newAttachment && !QFileInfo(att->filePath).isFile())
            removeStaleFile(target);
        else
            copyFile(att->filePath, target, newAttachment ? Replace::Always : Replace::Never);
        break;
    }
    case ViberMsgTypeSticker:
        if (!att->attId.isEmpty())
            copyFile(att->previewPath, fileInFolder(m_root, kStickers, stickerRelativePath(att->attId)),
                     Replace::Never);
        break;
    case ViberMsgTypeVideo: {
        copyFile(att->filePath, fileInFolder(m_root, kAttachments, att->fileName), Replace::Never);
        const QString baseName = QFileInfo(att->fileName).baseName();
        if (!baseName.isEmpty())
            copyFile(att->previewPath,
                     fileInFolder(m_root, kBigAttachmentsPreview, baseName + QStringLiteral(".jpg")),
                     Replace::Never);
        break;
    }
    case ViberMsgTypeFile:
        copyFile(att->filePath, fileInFolder(m_root, kAttachments, att->fileName), Replace::Never);
        break;
    default:
        break;
    }
}

void BackupViberMsgThread::removeStaleFile(const QString &target)
{
    const QFileInfo info(target);
    if (target.isEmpty() || !(info.exists() || info.isSymLink()))
        return;
    if (!QFile::remove(target))
        fail(tr("IDS_BACKUP_STALE_FILE_%1").arg(native(target)));
}
