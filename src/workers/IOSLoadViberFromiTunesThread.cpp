#include "IOSLoadViberFromiTunesThread.h"

#include "app/DataFolder.h"
#include "itunes/IOSAssetDb.h"
#include "viber/IOSViberDb.h"
#include "viber/StorePaths.h"

#include <QDebug>
#include <QFileInfo>
#include <QImage>
#include <QSaveFile>

#include <algorithm>
#include <stdexcept>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// How many files a run that could not copy them all names in its message.
constexpr qsizetype kMaxNamedFailures = 10;

bool isNonEmptyFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.size() > 0;
}

// Every safe node from top down, keyed by "/" + its record's path. Iterative: a
// hostile manifest may nest thousands of folders.
void addNodes(IOSLoadViberFromiTunesThread::NodeTable &table, const BackupManifest::FileNode *top)
{
    std::vector<const BackupManifest::FileNode *> pending{top};
    while (!pending.empty()) {
        const BackupManifest::FileNode *node = pending.back();
        pending.pop_back();
        // Folders the tree made up have no record, and unsafe records never leave the manifest.
        if (!node->record().domain.absent && node->record().isSafe())
            table.insert(u'/' + node->record().path.text(), node);
        for (const auto &child : node->children())
            pending.push_back(child.get());
    }
}

} // namespace

IOSLoadViberFromiTunesThread::IOSLoadViberFromiTunesThread(BackupManifest *manifest,
                                                           const QString &cacheFolder, QObject *parent)
    : WorkerThread(parent), m_manifest(manifest),
      m_cacheFolder(QDir(cacheFolder.isEmpty() ? defaultCacheFolder(*manifest) : cacheFolder).absolutePath()),
      m_viberFolder(QDir(m_cacheFolder).filePath(u"com.viber"_s))
{
}

IOSLoadViberFromiTunesThread::~IOSLoadViberFromiTunesThread()
{
    // work() uses the members; the base would wait only after they are gone.
    wait();
}

QString IOSLoadViberFromiTunesThread::defaultCacheFolder(const BackupManifest &manifest)
{
    return dataFolder().filePath(u"itunes_cache/"_s + manifest.cacheKey());
}

QString IOSLoadViberFromiTunesThread::work()
{
    m_storeLoaded = false;
    m_failedFiles.clear();
    m_journal = FileJournal(m_cacheFolder);
    StorePaths::forgetResolvedFolders();
    reportProgress(0, tr("IDS_LOADING_ITUNES_BACKUP"));
    m_manifest->loadFileTree();
    m_journal.makeFolder(m_viberFolder.path());

    buildTables();
    const QString noViberData = tr("IDS_NOT_CONTAIN_VIBER_DATA_IN_ITUNES_BACKUP");
    if (m_viberTable.isEmpty())
        throw std::runtime_error(noViberData.toStdString());

    copyByKey(m_viberTable, u"/Documents/Contacts.data"_s, storePath(), true);
    // Nothing to show is no success: the run says why instead of ending quietly.
    if (!isNonEmptyFile(storePath()))
        throw std::runtime_error(noViberData.toStdString());
    m_storeLoaded = true;

    ViberDataPtr data;
    {
        IOSViberDb store(m_viberFolder, storeFileName());
        data = store.load();
        store.close();
    }

    const QString photos = QDir(m_cacheFolder).filePath(u"Photos.sqlite"_s);
    const QString photosKey = u"/Media/PhotoData/Photos.sqlite"_s;
    m_assets.reset();
    if (m_mediaTable.contains(photosKey)) {
        copyByKey(m_mediaTable, photosKey, photos, true);
        if (isNonEmptyFile(photos))
            m_assets = std::make_unique<IOSAssetDb>(photos);
    }

    copyAvatars(*data);

    std::vector<const _ViberAtta *> attachments;
    for (const _ViberAtta *att : std::as_const(data->attachments))
        if (att->message)
            attachments.push_back(att);
    std::sort(attachments.begin(), attachments.end(),
              [](const _ViberAtta *a, const _ViberAtta *b) { return a->id < b->id; });
    const qint64 total = qint64(attachments.size());
    qint64 done = 0;
    for (const _ViberAtta *att : attachments) {
        reportProgress(percentOf(++done, total));
        // One damaged file costs only itself; the cancel (an int) still ends the run.
        try {
            copyAttachment(*att);
        } catch (const std::exception &e) {
            qDebug("IOSLoadViberFromiTunesThread, load attachment failed. %s", e.what());
            m_failedFiles << QString::fromUtf8(e.what());
        }
    }
    m_assets.reset();
    m_journal.clear();

    if (m_failedFiles.isEmpty())
        return QString();
    // The chats are there, but the user learns which files are missing and why.
    QStringList named = m_failedFiles.mid(0, kMaxNamedFailures);
    if (m_failedFiles.size() > kMaxNamedFailures)
        named << u"…"_s;
    return tr("IDS_ITUNES_FILES_NOT_COPIED_%1_%2").arg(m_failedFiles.size()).arg(named.join(u"<br>"_s));
}

void IOSLoadViberFromiTunesThread::cleanUp(Outcome)
{
    m_assets.reset();
    m_storeLoaded = false;
    // Only what this run created goes; the cache of earlier runs stays.
    m_journal.rollBack();
}

void IOSLoadViberFromiTunesThread::buildTables()
{
    m_viberTable.clear();
    m_mediaTable.clear();
    for (const auto &top : m_manifest->root().children()) {
        if (top->name().compare(u"Applications"_s, Qt::CaseInsensitive) == 0) {
            for (const auto &app : top->children())
                if (app->name().compare(u"com.viber"_s, Qt::CaseInsensitive) == 0)
                    addNodes(m_viberTable, app.get());
        } else if (top->name().compare(u"Media"_s, Qt::CaseInsensitive) == 0) {
            addNodes(m_mediaTable, top.get());
        }
    }
}

void IOSLoadViberFromiTunesThread::copyFileThrow(const FileNode *node, const QString &destination,
                                                 bool overwrite)
{
    if (!node)
        throw std::runtime_error(
            "IOSLoadViberFromiTunesThread::copyThrow, invalid BackupManifest::FileNode.");
    const MbdbRecord &record = node->record();
    reportProgress(-1, QString(), tr("IDS_CACHING_BACKUP_FILE_%1").arg(node->name().toHtmlEscaped()));
    if (node->isFolder()) {
        qDebug("IOSLoadViberFromiTunesThread::copyFileThrow(is a folder): %s",
               qPrintable(record.path.text()));
        return;
    }
    checkCancel();
    if (!record.isSafe() || !QFileInfo::exists(m_manifest->dataFilePath(record)))
        return;
    // A name from the store or a link planted in the cache must not lead the copy out of it.
    if (destination.isEmpty() || !StorePaths::resolvesInside(m_cacheFolder, destination)) {
        qWarning("IOSLoadViberFromiTunesThread: refused to copy %s outside the cache",
                 qPrintable(record.path.text()));
        return;
    }
    m_journal.makeFolder(QFileInfo(destination).absolutePath());
    const bool existed = QFileInfo::exists(destination);
    if (!overwrite && isNonEmptyFile(destination)) {
        qDebug("IOSLoadViberFromiTunesThread::copyFileThrow, skip file: %s", qPrintable(record.path.text()));
        return;
    }
    m_manifest->copyBackupFile(*node, destination);
    if (!existed)
        m_journal.addCreatedFile(destination);
}

void IOSLoadViberFromiTunesThread::copyByKey(const NodeTable &table, const QString &key,
                                             const QString &destination, bool overwrite)
{
    if (const FileNode *node = table.value(key); node && !destination.isEmpty())
        copyFileThrow(node, destination, overwrite);
}

void IOSLoadViberFromiTunesThread::copyAvatars(const ViberData &data)
{
    for (const _ViberPerson *person : data.persons) {
        if (person->contactIconPath.isEmpty())
            continue;
        try {
            copyByKey(m_viberTable, person->viberIconPath, person->contactIconPath, true);
            if (!isNonEmptyFile(person->contactIconPath))
                copyByKey(m_viberTable, person->recordIconPath, person->contactIconPath, true);
        } catch (const std::exception &e) {
            m_failedFiles << QString::fromUtf8(e.what());
        }
    }
}

void IOSLoadViberFromiTunesThread::copyFromCameraRoll(const _ViberAtta &att)
{
    const QString assetId = photoAssetId(&att);
    if (!m_assets || assetId.isEmpty())
        return;
    QString path;
    try {
        path = m_assets->mediaPath(assetId);
    } catch (const std::exception &e) {
        // An unreadable photo library costs the originals, not the attachments' own copies.
        qWarning("IOSLoadViberFromiTunesThread: photo library not usable. %s", e.what());
        m_assets.reset();
        return;
    }
    if (!path.isEmpty())
        copyByKey(m_mediaTable, u"/Media"_s + path, att.filePath, false);
}

void IOSLoadViberFromiTunesThread::copyAttachment(const _ViberAtta &att)
{
    const _ViberMsg &msg = *att.message;
    const QString &name = att.fileName;
    switch (msg.type) {
    case ViberMsgTypePicture: {
        copyFromCameraRoll(att);
        if (!QFileInfo(att.filePath).isFile())
            copyByKey(m_viberTable, u"/Documents/Attachments/"_s + name, att.filePath, false);
        copyByKey(m_viberTable, u"/Documents/AttachmentsPreview/"_s + name, att.previewPath, false);
        if (!isNonEmptyFile(att.previewPath))
            copyByKey(m_viberTable, u"/Documents/BigAttachmentsPreview/"_s + name, att.previewPath, false);
        if (att.previewPath.isEmpty() || isNonEmptyFile(att.previewPath) ||
            !StorePaths::resolvesInside(m_cacheFolder, att.previewPath))
            break;
        QImage image;
        if (!image.load(att.filePath, "JPEG") && !image.load(att.filePath, "PNG"))
            break;
        image = image.width() > image.height() ? image.scaledToWidth(400, Qt::FastTransformation)
                                               : image.scaledToHeight(400, Qt::FastTransformation);
        m_journal.makeFolder(QFileInfo(att.previewPath).absolutePath());
        const bool existed = QFileInfo::exists(att.previewPath);
        // Written whole or not at all, so that a broken preview never counts as made.
        QSaveFile preview(att.previewPath);
        const QByteArray format = QFileInfo(att.previewPath).suffix().toLatin1();
        if (preview.open(QIODevice::WriteOnly) &&
            image.save(&preview, format.isEmpty() ? nullptr : format.constData()) && preview.commit() &&
            !existed)
            m_journal.addCreatedFile(att.previewPath);
        break;
    }
    case ViberMsgTypeVideo: {
        copyFromCameraRoll(att);
        if (!QFileInfo(att.filePath).isFile())
            copyByKey(m_viberTable, u"/Documents/Attachments/"_s + name, att.filePath, false);
        const QString previewName = name.section(u'.', 0, 0) + u".jpg"_s;
        copyByKey(m_viberTable, u"/Documents/BigAttachmentsPreview/"_s + previewName, att.previewPath, false);
        if (!isNonEmptyFile(att.previewPath))
            copyByKey(m_viberTable, u"/Documents/AttachmentsPreview/"_s + previewName, att.previewPath,
                      false);
        break;
    }
    case ViberMsgTypeLocation:
        copyByKey(m_viberTable,
                  u"/Documents/CustomLocationImage/"_s +
                      StorePaths::locationImageName(msg.latitude, msg.longitude),
                  att.previewPath, false);
        break;
    case ViberMsgTypeAudio:
        copyByKey(m_viberTable, u"/Documents/VoiceMessages/"_s + name, att.filePath, false);
        break;
    // Kinds the app added later; left out, the chat would show them as missing.
    case ViberMsgTypeFile:
        copyByKey(m_viberTable, u"/Documents/Attachments/"_s + name, att.filePath, false);
        break;
    case ViberMsgTypeSticker:
        copyByKey(m_viberTable, u"/Documents/stickers/"_s + StorePaths::stickerRelativePath(att.attId),
                  att.previewPath, false);
        break;
    default:
        break;
    }
}
