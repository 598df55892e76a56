#include "BackupViberMsgThread.h"

#include "viber/AttachmentPreviews.h"
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

// Whether two files hold the same bytes; read in chunks, a pair of videos is never held whole.
bool sameContent(const QString &a, const QString &b)
{
    QFile fa(a), fb(b);
    if (fa.size() != fb.size() || !fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly))
        return false;
    constexpr qint64 kChunk = 1 << 16;
    while (!fa.atEnd()) {
        const QByteArray chunk = fa.read(kChunk);
        if (chunk.isEmpty() || chunk != fb.read(kChunk))
            return false;
    }
    return fb.atEnd();
}

// "IMG_1.JPG" as the n-th of its name: "IMG_1 (2).JPG". The number goes before the
// first dot, since a video's preview is named by the part before it.
QString numberedName(const QString &name, int n)
{
    const qsizetype dot = name.indexOf(u'.');
    const QString number = QStringLiteral(" (%1)").arg(n);
    return dot < 0 ? name + number : name.left(dot) + number + name.mid(dot);
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
        QSet<qint64> changedChats;
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
            if (messageKey > 0)
                changedChats.insert(merger.chatKey());
            const QString fileName = copyAttachmentFiles(msg, attachmentKey, messageKey > 0);
            // Another message's different file had the name: this one is kept under its own.
            if (messageKey > 0 && attachmentKey > 0 && fileName != msg->attachment->fileName)
                db->executeThrow(Sqlite3Sql("update ZATTACHMENT set ZNAME=? where Z_PK=?")
                                     .addTextParam(fileName)
                                     .addInt64Param(attachmentKey));
        }
        merger.dropEmptyInsertedChats();
        db->refreshRecentsLines();
        // Only the conversations that got messages have a new latest one: a copy again
        // of a million messages changes none.
        db->refreshConversationDates(&changedChats);
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
                       ? tr("IDS_SUC_BACKUP_%n_MESSAGES", nullptr, int(merger.inserted()))
                       : tr("IDS_BACKUP_NOTHING_NEW");
    if (merger.present() > 0)
        text += QStringLiteral("<br/>") + tr("IDS_BACKUP_%n_ALREADY_PRESENT", nullptr, int(merger.present()));
    if (merger.skipped() > 0)
        text += QStringLiteral("<br/>") + tr("IDS_BACKUP_%n_SKIPPED", nullptr, int(merger.skipped()));
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

QString BackupViberMsgThread::previewTarget(ViberMsgType type, const QString &fileName) const
{
    using namespace StorePaths;
    const QString name = AttachmentPreviews::previewName(type, fileName);
    if (name.isEmpty())
        return QString();
    return fileInFolder(m_root, type == ViberMsgTypePicture ? kAttachmentsPreview : kBigAttachmentsPreview,
                        name);
}

QString BackupViberMsgThread::ownFileName(const _ViberMsg *msg) const
{
    const _ViberAtta *att = msg->attachment;
    const bool hasFile = QFileInfo(att->filePath).isFile();
    const bool hasPreview = QFileInfo(att->previewPath).isFile();
    const auto taken = [](const QString &path) {
        const QFileInfo info(path);
        return info.exists() || info.isSymLink();
    };
    // A name fits when what this store keeps under it is this attachment's (the same
    // bytes, shared) or nothing yet. Without a file of its own, a name whose file is
    // another's would show that one.
    const auto fits = [&](const QString &name) {
        const QString file = StorePaths::fileInFolder(m_root, StorePaths::kAttachments, name);
        if (file.isEmpty())
            return false;
        if (hasFile)
            return !taken(file) || sameContent(att->filePath, file);
        if (taken(file))
            return false;
        const QString preview = previewTarget(msg->type, name);
        return preview.isEmpty() || !taken(preview) || (hasPreview && sameContent(att->previewPath, preview));
    };
    // A name the path rule refuses copies nothing, whatever number it gets.
    if (att->fileName.isEmpty() ||
        StorePaths::fileInFolder(m_root, StorePaths::kAttachments, att->fileName).isEmpty() ||
        fits(att->fileName))
        return att->fileName;
    for (int n = 2;; ++n) {
        checkCancel(); // a folder of thousands of namesakes still answers a cancel
        const QString candidate = numberedName(att->fileName, n);
        if (fits(candidate))
            return candidate;
    }
}

QString BackupViberMsgThread::copyAttachmentFiles(const _ViberMsg *msg, qint64 attachmentKey,
                                                  bool newAttachment)
{
    const _ViberAtta *att = msg->attachment;
    if (!att)
        return QString();
    using namespace StorePaths;
    // Files kept by name: a new attachment gets a name no different file has.
    const bool byName =
        msg->type == ViberMsgTypePicture || msg->type == ViberMsgTypeVideo || msg->type == ViberMsgTypeFile;
    const QString fileName = byName && newAttachment ? ownFileName(msg) : att->fileName;
    switch (msg->type) {
    case ViberMsgTypePicture:
        m_files.copyFile(att->filePath, fileInFolder(m_root, kAttachments, fileName),
                         FileJournal::Replace::Never);
        m_files.copyFile(att->previewPath, previewTarget(msg->type, fileName), FileJournal::Replace::Never);
        break;
    case ViberMsgTypeLocation:
        m_files.copyFile(
            att->previewPath,
            fileInFolder(m_root, kCustomLocationImage, locationImageName(msg->latitude(), msg->longitude())),
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
    case ViberMsgTypeVideo:
        m_files.copyFile(att->filePath, fileInFolder(m_root, kAttachments, fileName),
                         FileJournal::Replace::Never);
        if (const QString preview = previewTarget(msg->type, fileName); !preview.isEmpty())
            m_files.copyFile(att->previewPath, preview, FileJournal::Replace::Never);
        break;
    case ViberMsgTypeFile:
        m_files.copyFile(att->filePath, fileInFolder(m_root, kAttachments, fileName),
                         FileJournal::Replace::Never);
        break;
    default:
        break;
    }
    return fileName;
}
