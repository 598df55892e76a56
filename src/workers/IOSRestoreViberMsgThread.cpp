#include "IOSRestoreViberMsgThread.h"

#include "ContainerUpload.h"
#include "PhoneStoreMerge.h"
#include "VoiceCounter.h"
#include "viber/AttachmentPreviews.h"
#include "viber/IOSViberDb.h"
#include "viber/Sqlite3DB.h"
#include "viber/StorePaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <future>
#include <memory>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

const QString kStoreName = u"Documents/Contacts.data"_s;

[[noreturn]] void fail(const QString &text)
{
    throw std::runtime_error(text.toStdString());
}

bool nonEmptyFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.size() > 0;
}

// The files of an attachment where the phone's Viber keeps them; voice files are named by
// their message's key.
void deliverAttachment(ContainerDelivery &delivery, qint64 key, const _ViberAtta &att)
{
    const _ViberMsg &msg = *att.message;
    const auto put = [&](const QString &local, const QString &device) {
        // A name without a preview name ends in the folder itself.
        if (nonEmptyFile(local) && !device.endsWith(u'/'))
            delivery.put(local, device, false);
    };
    switch (msg.type) {
    case ViberMsgTypeAudio:
        put(att.filePath, u"/Documents/VoiceMessages/"_s + QString::number(key));
        break;
    case ViberMsgTypePicture:
        put(att.filePath, u"/Documents/Attachments/"_s + att.fileName);
        put(att.previewPath,
            u"/Documents/AttachmentsPreview/"_s + AttachmentPreviews::previewName(msg.type, att.fileName));
        break;
    case ViberMsgTypeVideo:
        put(att.filePath, u"/Documents/Attachments/"_s + att.fileName);
        put(att.previewPath,
            u"/Documents/BigAttachmentsPreview/"_s + AttachmentPreviews::previewName(msg.type, att.fileName));
        break;
    case ViberMsgTypeLocation:
        put(att.previewPath, u"/Documents/CustomLocationImage/"_s +
                                 StorePaths::locationImageName(msg.latitude(), msg.longitude()));
        break;
    default:
        break;
    }
}

} // namespace

IOSRestoreViberMsgThread::IOSRestoreViberMsgThread(const QString &viberFolder,
                                                   const QList<_ViberMsg *> &messages, QObject *parent)
    : WorkerThread(parent), m_viberFolder(viberFolder), m_messages(messages), m_backupItems(viberFolder)
{
}

IOSRestoreViberMsgThread::~IOSRestoreViberMsgThread()
{
    wait();
}

QString IOSRestoreViberMsgThread::work()
{
    reportProgress(0, tr("IDS_RESTORING_VIBER_MSG_TO_IOS"));
    m_messageCount = m_callCount = 0;
    m_backupItems.clear();
    WorkSteps steps;
    steps.checkCancel = [this] { checkCancel(); };
    steps.progress = [this](int percent, const QString &status, const QString &detail) {
        reportProgress(percent, status, detail);
    };
    std::unique_ptr<ContainerUpload> upload;
    if (m_device)
        upload = std::make_unique<ContainerUpload>(m_device, steps);
    ContainerDelivery &delivery = upload ? static_cast<ContainerDelivery &>(*upload) : m_backupItems;
    const QDir viber(m_viberFolder);
    const QString store = viber.filePath(kStoreName);
    if (!QFileInfo(store).isFile())
        fail(tr("IDS_NO_STORE_TO_MERGE_INTO_%1").arg(QDir::toNativeSeparators(store).toHtmlEscaped()));
    // Commits still in a write-ahead log belong to the store that is copied.
    IOSViberDb::foldWriteAheadLog(store);
    m_workingCopy = store + QDateTime::currentDateTime().toString(u"_yyyyMMdd-hhmmss"_s);
    QFile::remove(m_workingCopy);
    if (!QFile::copy(store, m_workingCopy))
        fail(tr("IDS_CANNOT_COPY_%1_%2")
                 .arg(QDir::toNativeSeparators(store).toHtmlEscaped(),
                      QDir::toNativeSeparators(m_workingCopy).toHtmlEscaped()));
    QFile(m_workingCopy).setPermissions(QFile::ReadOwner | QFile::WriteOwner);

    // What the phone shows is read from the cached store, which nothing changes before the
    // delivery, while the merge writes the working copy: the two need not wait for each other.
    std::future<qint64> phoneLoaded = std::async(std::launch::async, [viber] {
        return qint64(IOSViberDb(viber, kStoreName, true).load()->messages.size());
    });
    IOSViberDb work(viber, QFileInfo(m_workingCopy).fileName().prepend(u"Documents/"_s));
    work.open();
    // A store that cannot be written safely is refused before any write, in a sentence
    // that names the store rather than the working copy no user has heard of.
    try {
        work.requireWriterTables();
    } catch (const Sqlite3Exception &e) {
        fail(QString::fromUtf8(e.what()).replace(QDir::toNativeSeparators(m_workingCopy),
                                                 QDir::toNativeSeparators(store)));
    }
    const PhoneStoreMerge::Result merge = PhoneStoreMerge::run(work, m_messages, steps);
    m_messageCount = merge.messages;
    m_callCount = merge.calls;

    qint64 highestVoiceKey = 0;
    qint64 i = 0;
    for (const auto &[key, attachment] : std::as_const(merge.attachments)) {
        reportProgress(int(double(++i) / double(merge.attachments.size()) * 99),
                       tr("IDS_SAVING_VIBER_ATTACHMENTS"));
        if (attachment->message && attachment->message->type == ViberMsgTypeAudio)
            highestVoiceKey = std::max(highestVoiceKey, key);
        checkCancel();
        deliverAttachment(delivery, key, *attachment);
    }
    const qint64 highestVoice = std::max(highestVoiceKey, delivery.highestVoiceFile());
    delivery.put(VoiceCounter::write(m_viberFolder, highestVoice), QLatin1String(VoiceCounter::kDevicePath),
                 true);

    // Only the conversations the merge wrote into have a new last message.
    work.refreshLastMessages(merge.allChats ? nullptr : &merge.chats);
    if (merge.anyCalls)
        work.refreshRecentsLines();
    work.refreshPrimaryKeyMax();
    commitStarts();
    work.execThrow(u"COMMIT"_s);
    {
        // Nothing reaches the phone that is not whole: checked, and read back.
        if (!work.isWhole())
            fail(tr("IDS_MERGED_STORE_DAMAGED_%1")
                     .arg(QDir::toNativeSeparators(m_workingCopy).toHtmlEscaped()));
    }
    work.close();
    // Every message the phone showed is still there, but for copies of one message.
    const ViberDataPtr merged =
        IOSViberDb(viber, QFileInfo(m_workingCopy).fileName().prepend(u"Documents/"_s)).load();
    if (merged->messages.size() < phoneLoaded.get() - merge.phoneDuplicates)
        fail(tr("IDS_MERGED_STORE_DAMAGED_%1").arg(QDir::toNativeSeparators(m_workingCopy).toHtmlEscaped()));

    // Delivered first: a delivery that fails leaves the cache matching the phone.
    delivery.putStore(m_workingCopy);
    // The cache now holds what was delivered, and the store from before beside it.
    const QString previous = store + u".bak"_s;
    QFile::remove(previous);
    if (!QFile::rename(store, previous) || !QFile::rename(m_workingCopy, store))
        fail(tr("IDS_CANNOT_COPY_%1_%2")
                 .arg(QDir::toNativeSeparators(m_workingCopy).toHtmlEscaped(),
                      QDir::toNativeSeparators(store).toHtmlEscaped()));
    // The backup's store item names the store under its lasting name.
    m_backupItems.renameSource(m_workingCopy, store);
    m_workingCopy.clear();
    return QString();
}

void IOSRestoreViberMsgThread::cleanUp(Outcome)
{
    // The cache keeps the store it had; the half-made copy goes.
    if (!m_workingCopy.isEmpty())
        QFile::remove(m_workingCopy);
    m_workingCopy.clear();
    m_backupItems.clear();
}
