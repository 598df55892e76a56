#include "ExtractMediaFilesThread.h"

#include "app/FileHelpers.h"
#include "export/MediaType.h"

#include <QFile>
#include <QFileInfo>

#include <stdexcept>

namespace {

bool isFile(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

} // namespace

ExtractMediaFilesThread::ExtractMediaFilesThread(const QList<_ViberMsg *> &messages, const QDir &folder,
                                                 QObject *parent)
    : WorkerThread(parent), m_messages(messages), m_folder(folder), m_journal(folder.absolutePath())
{
    m_messages.removeAll(nullptr);
}

ExtractMediaFilesThread::~ExtractMediaFilesThread()
{
    // work() uses the members; the base would wait only after they are gone.
    wait();
}

ExtractMediaFilesThread::Source ExtractMediaFilesThread::sourceOf(const _ViberMsg *msg)
{
    const _ViberAtta *att = msg ? msg->attachment : nullptr;
    if (!att)
        return {};
    const QString base =
        QStringLiteral("atta_") + storeTimeToDateTime(msg->date).toString(QStringLiteral("yyyyMMdd-hhmmss"));
    // Named by what the content is: a player opens a voice note stored as "2" or
    // ".viber_voice" once it is called ".m4a".
    auto named = [&](const QString &path) {
        const QString suffix =
            exportFileName(MediaType::copyExtension(path, msg->type == ViberMsgTypeAudio, att->fileName), 16);
        return Source{path, suffix.isEmpty() ? base : base + QLatin1Char('.') + suffix};
    };
    switch (msg->type) {
    case ViberMsgTypePicture:
    case ViberMsgTypeVideo:
        if (isFile(att->filePath))
            return named(att->filePath);
        return isFile(att->previewPath) ? named(att->previewPath) : Source{};
    case ViberMsgTypeLocation:
    case ViberMsgTypeSticker:
        return isFile(att->previewPath) ? named(att->previewPath) : Source{};
    case ViberMsgTypeAudio:
        return isFile(att->filePath) ? named(att->filePath) : Source{};
    case ViberMsgTypeFile: {
        if (!isFile(att->filePath))
            return {};
        // A document keeps its own name after the time, so that it can still be found by it.
        // Shortened as the HTML export's copies are: a name of any length still fits the folder.
        const QString own =
            exportCopyName(att->fileName.isEmpty() ? QFileInfo(att->filePath).fileName() : att->fileName);
        return own.isEmpty() ? named(att->filePath) : Source{att->filePath, base + QLatin1Char('_') + own};
    }
    default:
        return {};
    }
}

QString ExtractMediaFilesThread::work()
{
    reportProgress(-1, tr("IDS_EXTRACTING_MEDIA_FILES"));
    m_extracted.clear();
    const QString root = m_folder.absolutePath();
    m_journal.makeFolder(root);
    const qint64 total = m_messages.size();
    qint64 done = 0;
    m_missing = 0;
    for (const _ViberMsg *msg : std::as_const(m_messages)) {
        reportProgress(percentOf(done++, total));
        const Source source = sourceOf(msg);
        if (source.path.isEmpty() && hasExtractableAttachment(msg))
            ++m_missing;
        if (!source.path.isEmpty()) {
            const QString target = uniqueFilePath(m_folder.filePath(source.name));
            m_journal.copyFile(source.path, target, FileJournal::Replace::Never);
            // The file carries the time of its message, as the phone showed it.
            const QDateTime time = QDateTime::fromSecsSinceEpoch(storeTimeToMSecs(msg->date) / 1000);
            QFile file(target);
            if (file.open(QIODevice::ReadOnly)) {
                file.setFileTime(time, QFileDevice::FileModificationTime);
                file.setFileTime(time, QFileDevice::FileAccessTime);
            }
            m_extracted.append(target);
        }
        checkCancel();
    }
    const qint64 extracted = m_extracted.size();
    if (extracted == 0) {
        // An empty folder would read as a success; it is removed.
        m_journal.rollBack();
        if (m_missing > 0)
            throw std::runtime_error(
                tr("IDS_EXTRACT_ALL_%n_MEDIA_FILES_MISSING", nullptr, int(m_missing)).toStdString());
        return tr("IDS_NO_MEDIA_FILES_TO_EXTRACT");
    }
    const QString folder = QDir::toNativeSeparators(root).toHtmlEscaped();
    if (m_missing > 0)
        return tr("IDS_SUC_EXTRACT_%1_TO_%2_%n_MISSING", nullptr, int(m_missing))
            .arg(tr("IDS_N_ATTACHMENTS_%n", nullptr, int(extracted)), folder);
    return tr("IDS_SUC_EXTRACT_%n_MEDIA_FILES_TO_%1", nullptr, int(extracted)).arg(folder);
}

bool ExtractMediaFilesThread::hasExtractableAttachment(const _ViberMsg *msg)
{
    if (!msg || !msg->attachment)
        return false;
    switch (msg->type) {
    case ViberMsgTypePicture:
    case ViberMsgTypeVideo:
    case ViberMsgTypeLocation:
    case ViberMsgTypeSticker:
    case ViberMsgTypeAudio:
    case ViberMsgTypeFile:
        return true;
    default:
        return false;
    }
}

void ExtractMediaFilesThread::cleanUp(Outcome outcome)
{
    // What a cancelled run copied is the user's; a failed one leaves nothing half done.
    if (outcome == Outcome::Failed)
        m_journal.rollBack();
}
