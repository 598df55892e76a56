#include "BackupViberMsgThread.h"

#include "viber/IOSViberDb.h"
#include "viber/LocalDatabases.h"
#include "viber/StorePaths.h"
#include "viber/ViberMsgMerger.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <stdexcept>

namespace {

// The dialog needs no more than a few updates a second.
constexpr qint64 kProgressIntervalMs = 100;

// Chat by chat, each chat's messages by date. Messages without a chat (which no
// reader makes) go last, so that the order stays a strict one.
bool copyOrder(const _ViberMsg *a, const _ViberMsg *b)
{
    if (!a->chat || !b->chat) {
        if (!a->chat != !b->chat)
            return b->chat == nullptr;
        return msgDateLess(a, b);
    }
    if (a->chat != b->chat) {
        if (a->chat->id != b->chat->id)
            return a->chat->id < b->chat->id;
        return std::less<const _ViberChat *>()(a->chat, b->chat);
    }
    return msgDateLess(a, b);
}

} // namespace

BackupViberMsgThread::BackupViberMsgThread(const QList<_ViberMsg *> &messages, const QDir &databaseFolder,
                                           QObject *parent)
    : WorkerThread(parent), m_messages(messages), m_folder(databaseFolder),
      m_root(databaseFolder.absolutePath()), m_files(m_root)
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
    m_files.clear();
    m_counts = Counts();
    StorePaths::forgetResolvedFolders();
    reportProgress(0, tr("IDS_BACKING_UP_VIBER_MESSAGES"));

    m_files.makeFolder(StorePaths::childPath(m_root, QStringLiteral("Documents")));
    const std::unique_ptr<IOSViberDb> db = LocalDatabases::store(m_root);
    qInfo("Copying %lld messages into %s", qint64(m_messages.size()), qUtf8Printable(m_root));
    db->open();
    db->requireWriterTables();
    db->execThrow(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        ViberMsgMerger merger(*db);
        merger.setCancelCheck([this] { checkCancel(); });
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

            if (merger.mergeChat(msg))
                copyContactIcons(msg->chat);
            qint64 attachmentKey = 0, locationKey = 0;
            const qint64 messageKey = merger.mergeRecord(msg, attachmentKey, locationKey);
            copyAttachmentFiles(msg, attachmentKey, messageKey > 0);
        }
        merger.dropEmptyInsertedChats();
        db->refreshRecentsLines();
        db->refreshConversationDates();
        // The copied files reach the disk before the rows that name them: each copy
        // skipped its own flush, one for the whole file system is far cheaper.
        m_files.syncToDisk(m_root);
        commitStarts();
        db->execThrow(QStringLiteral("COMMIT"));
        m_files.clear(); // the rows that name the files are there now
        m_counts = {merger.inserted(), merger.present(), merger.skipped(), merger.callsInserted(),
                    merger.callsPresent()};
        qInfo("Copied into %s: %lld new, %lld already present, %lld skipped", qUtf8Printable(db->path()),
              merger.inserted(), merger.present(), merger.skipped());
        return summary(merger);
    } catch (...) {
        // Nothing half-written: the store goes back to what it was.
        if (db->inTransaction() && !db->rollbackTran())
            qWarning("Could not roll back %s", qPrintable(db->path()));
        throw;
    }
}

QString BackupViberMsgThread::summary(const ViberMsgMerger &merger)
{
    // Only what was written counts as copied; the rest is said, not hidden in the count.
    QString text = merger.inserted() > 0 || (merger.present() == 0 && merger.skipped() == 0)
                       ? tr("IDS_SUC_BACKUP_%1_MESSAGES").arg(merger.inserted())
                       : tr("IDS_BACKUP_NOTHING_NEW");
    if (merger.present() > 0)
        text += QStringLiteral("<br/>") + tr("IDS_BACKUP_%1_ALREADY_PRESENT").arg(merger.present());
    if (merger.skipped() > 0)
        text += QStringLiteral("<br/>") + tr("IDS_BACKUP_%1_SKIPPED").arg(merger.skipped());
    return text;
}

void BackupViberMsgThread::cleanUp(Outcome)
{
    // The rows these files belonged to were rolled back, and a voice file is named
    // by a key the next run hands out again: left behind, it would be taken for
    // another message's. Only what this run created goes; older files stay.
    m_files.rollBack();
}

void BackupViberMsgThread::copyContactIcons(const _ViberChat *chat)
{
    for (const _ViberPerson *person : chat->participants) {
        if (!person || person->contactIconPath.isEmpty())
            continue;
        const QString digits = phoneDigits(person->phone);
        if (digits.isEmpty())
            continue;
        m_files.copyFile(
            person->contactIconPath,
            StorePaths::fileInFolder(m_root, StorePaths::kContactIcons, digits + QStringLiteral(".jpg")),
            FileJournal::Replace::IfOlder);
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
        m_files.copyFile(att->filePath, fileInFolder(m_root, kAttachments, att->fileName),
                         FileJournal::Replace::Never);
        m_files.copyFile(att->previewPath, fileInFolder(m_root, kAttachmentsPreview, att->fileName),
                         FileJournal::Replace::Never);
        break;
    case ViberMsgTypeLocation:
        m_files.copyFile(
            att->previewPath,
            fileInFolder(m_root, kCustomLocationImage, locationImageName(msg->latitude, msg->longitude)),
            FileJournal::Replace::Never);
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
            m_files.removeStaleFile(target);
        else
            m_files.copyFile(att->filePath, target,
                             newAttachment ? FileJournal::Replace::Always : FileJournal::Replace::Never);
        break;
    }
    case ViberMsgTypeSticker:
        if (!att->attId.isEmpty())
            m_files.copyFile(att->previewPath,
                             fileInFolder(m_root, kStickers, stickerRelativePath(att->attId)),
                             FileJournal::Replace::Never);
        break;
    case ViberMsgTypeVideo: {
        m_files.copyFile(att->filePath, fileInFolder(m_root, kAttachments, att->fileName),
                         FileJournal::Replace::Never);
        const QString baseName = QFileInfo(att->fileName).baseName();
        if (!baseName.isEmpty())
            m_files.copyFile(att->previewPath,
                             fileInFolder(m_root, kBigAttachmentsPreview, baseName + QStringLiteral(".jpg")),
                             FileJournal::Replace::Never);
        break;
    }
    case ViberMsgTypeFile:
        m_files.copyFile(att->filePath, fileInFolder(m_root, kAttachments, att->fileName),
                         FileJournal::Replace::Never);
        break;
    default:
        break;
    }
}
