#include "IOSLoadViberThread.h"

#include "app/DataFolder.h"
#include "itunes/IOSAssetDb.h"
#include "viber/AttachmentPreviews.h"
#include "viber/IOSViberDb.h"
#include "viber/StorePaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

const QString kStoreName = u"Documents/Contacts.data"_s;

bool nonEmptyFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.size() > 0;
}

} // namespace

IOSPhotoLibrary::IOSPhotoLibrary(MobileDeviceHandle device, const QString &cacheFolder,
                                 IOSFileDownloader::CancelCheck cancelled,
                                 IOSFileDownloader::ProgressSink progress)
    : m_cacheFolder(cacheFolder), m_connection(device),
      m_downloader(QDir(cacheFolder).filePath(u"iphone.asset.manifest.db"_s), std::move(cancelled),
                   std::move(progress))
{
}

IOSPhotoLibrary::~IOSPhotoLibrary() = default;

void IOSPhotoLibrary::ensure()
{
    if (!m_connected) {
        afc_connect(m_connection, QString()); // the media area
        m_connected = true;
    }
    if (!m_fetched) {
        const QDir cache(m_cacheFolder);
        for (const QString &suffix : {u""_s, u"-shm"_s, u"-wal"_s}) {
            QFile::remove(cache.filePath(u"Photos.sqlite"_s + suffix));
            m_downloader.download(m_connection, u"/PhotoData/Photos.sqlite"_s + suffix,
                                  cache.filePath(u"Photos.sqlite"_s + suffix), false);
        }
        IOSViberDb::foldWriteAheadLog(cache.filePath(u"Photos.sqlite"_s));
        m_assets = std::make_unique<IOSAssetDb>(cache.filePath(u"Photos.sqlite"_s));
        m_fetched = true;
    }
}

bool IOSPhotoLibrary::fetch(const QString &devicePath, const QString &localPath)
{
    if (devicePath.isEmpty())
        return false;
    const AfcFileInfo info = afc_file_info(m_connection, devicePath);
    return info.isFile() && m_downloader.download(m_connection, info, localPath, true);
}

bool IOSPhotoLibrary::fetchOriginal(const QString &assetId, const QString &localPath)
{
    ensure();
    return fetch(m_assets->mediaPath(assetId), localPath);
}

bool IOSPhotoLibrary::fetchThumbnail(const QString &assetId, const QString &localPath)
{
    ensure();
    return fetch(m_assets->thumbnailPath(assetId), localPath);
}

IOSLoadViberThread::IOSLoadViberThread(MobileDeviceHandle device, const QString &udid, QObject *parent)
    : WorkerThread(parent), m_device(device), m_udid(udid)
{
}

IOSLoadViberThread::~IOSLoadViberThread()
{
    wait();
}

QString IOSLoadViberThread::deviceCacheFolder(const QString &udid)
{
    return dataFolder().filePath(u"ios_cache/"_s + udid);
}

QString IOSLoadViberThread::rootFolder() const
{
    return QDir(deviceCacheFolder(m_udid)).filePath(u"com.viber"_s);
}

QString IOSLoadViberThread::work()
{
    m_needsBackup = false;
    m_skipped = 0;
    m_data.reset();
    reportProgress(0, tr("IDS_LOADING_IOS_VIBER"));
    const QDir root(rootFolder());
    const QString store = root.filePath(kStoreName);
    QDir().mkpath(root.filePath(u"Documents"_s));
    for (const QString &suffix : {u""_s, u"-shm"_s, u"-wal"_s})
        QFile::remove(store + suffix);

    AfcConnection container(m_device);
    try {
        afc_connect(container, u"com.viber"_s);
    } catch (const std::exception &e) {
        // Not an error: the phone's backup still holds the container.
        qInfo("IOSLoadViberThread: no direct access to Viber's container. %s", e.what());
        m_needsBackup = true;
        return QString();
    }
    const auto cancelled = [this] { return stopRequested(); };
    const auto progress = [this](const QString &status) { reportProgress(-1, QString(), status); };
    IOSFileDownloader downloader(QDir(deviceCacheFolder(m_udid)).filePath(u"com.viber.manifest.db"_s),
                                 cancelled, progress);
    for (const QString &suffix : {u""_s, u"-shm"_s, u"-wal"_s})
        downloader.download(container, u"/"_s + kStoreName + suffix, store + suffix, false);
    if (!nonEmptyFile(store))
        throw std::runtime_error(tr("IDS_REINSTALL_VIBER").toStdString());
    IOSViberDb::foldWriteAheadLog(store);
    const QString counter = root.filePath(u"Documents/VoiceMessages/_ptt_id_counter"_s);
    QFile::remove(counter);
    downloader.download(container, u"/Documents/VoiceMessages/_ptt_id_counter"_s, counter, false);

    ViberDataPtr data = IOSViberDb(root, kStoreName).load();
    for (const _ViberPerson *person : std::as_const(data->persons)) {
        if (person->contactIconPath.isEmpty())
            continue;
        try {
            downloader.download(container, person->viberIconPath, person->contactIconPath, true);
            if (!nonEmptyFile(person->contactIconPath))
                downloader.download(container, person->recordIconPath, person->contactIconPath, true);
        } catch (const std::exception &e) {
            qDebug("IOSLoadViberThread: no picture of a participant. %s", e.what());
        }
    }

    IOSPhotoLibrary photos(m_device, deviceCacheFolder(m_udid), cancelled, progress);
    const qint64 total = data->attachments.size();
    qint64 i = 0;
    for (const _ViberAtta *att : std::as_const(data->attachments)) {
        reportProgress(percentOf(++i, total));
        if (!att->message)
            continue;
        try {
            fetchAttachment(container, downloader, photos, *att);
        } catch (const std::exception &e) {
            ++m_skipped;
            qDebug("IOSLoadViberThread::run, download attachment failed. %s", e.what());
        }
        checkCancel();
    }
    // Pictures still without a preview get one made from the picture.
    AttachmentPreviews::makeMissing(*data);
    m_data = std::move(data);
    return QString();
}

void IOSLoadViberThread::fetchAttachment(AfcConnection &container, IOSFileDownloader &downloader,
                                         IOSPhotoLibrary &photos, const _ViberAtta &att)
{
    const _ViberMsg &msg = *att.message;
    const QString asset = photoAssetId(&att);
    const auto regular = [&](const QString &path) { return afc_file_info(container, path).isFile(); };
    const auto fetchMedia = [&](const QString &previewName, const QString &firstPreview,
                                const QString &secondPreview) {
        if (!asset.isEmpty())
            photos.fetchOriginal(asset, att.filePath);
        if (!QFileInfo(att.filePath).isFile())
            downloader.download(container, u"/Documents/Attachments/"_s + att.fileName, att.filePath, true);
        QString source = firstPreview + previewName;
        if (!regular(source))
            source = secondPreview + previewName;
        if (regular(source))
            downloader.download(container, source, att.previewPath, true);
        else if (!asset.isEmpty())
            photos.fetchThumbnail(asset, att.previewPath);
    };
    switch (msg.type) {
    case ViberMsgTypePicture:
        fetchMedia(AttachmentPreviews::previewName(msg.type, att.fileName),
                   u"/Documents/AttachmentsPreview/"_s, u"/Documents/BigAttachmentsPreview/"_s);
        break;
    case ViberMsgTypeVideo:
        fetchMedia(AttachmentPreviews::previewName(msg.type, att.fileName),
                   u"/Documents/BigAttachmentsPreview/"_s, u"/Documents/AttachmentsPreview/"_s);
        break;
    case ViberMsgTypeAudio:
        downloader.download(container, u"/Documents/VoiceMessages/"_s + att.fileName, att.filePath, true);
        break;
    case ViberMsgTypeLocation:
        downloader.download(container,
                            u"/Documents/CustomLocationImage/"_s +
                                StorePaths::locationImageName(msg.latitude(), msg.longitude()),
                            att.previewPath, true);
        break;
    // Kinds the app added later: left out, the chat would show them as missing.
    case ViberMsgTypeFile:
        downloader.download(container, u"/Documents/Attachments/"_s + att.fileName, att.filePath, true);
        if (!nonEmptyFile(att.filePath))
            downloader.download(container, u"/Documents/FileMessages/"_s + att.fileName, att.filePath, true);
        break;
    case ViberMsgTypeSticker:
        downloader.download(container, u"/Documents/stickers/"_s + StorePaths::stickerRelativePath(att.attId),
                            att.previewPath, true);
        break;
    default:
        break;
    }
}
