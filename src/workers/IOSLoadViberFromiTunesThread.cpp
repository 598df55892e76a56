#include "IOSLoadViberFromiTunesThread.h"

#include "app/AppConstants.h"
#include "app/DataFolder.h"
#include "app/FileHelpers.h"
#include "app/PrivateSaveFile.h"
#include "itunes/IOSAssetDb.h"
#include "viber/IOSViberDb.h"
#include "viber/Sqlite3DB.h"
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

const QString kAppStoreKey = u"/Documents/Contacts.data"_s;
const QString kGroupStoreKey = u"/com.viber/database/Contacts.data"_s;
const QString kGroupSettingsKey = u"/com.viber/settings/Settings.data"_s;

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
    : WorkerThread(parent), m_manifest(manifest), m_private(manifest->isEncrypted()),
      m_ownFolder(m_private && cacheFolder.isEmpty())
{
    if (!m_ownFolder)
        setCacheFolder(
            QDir(cacheFolder.isEmpty() ? defaultCacheFolder(*manifest) : cacheFolder).absolutePath());
}

void IOSLoadViberFromiTunesThread::setCacheFolder(const QString &folder)
{
    m_cacheFolder = folder;
    m_viberFolder = QDir(QDir(m_cacheFolder).filePath(u"com.viber"_s));
}

IOSLoadViberFromiTunesThread::~IOSLoadViberFromiTunesThread()
{
    // work() uses the members; the base would wait only after they are gone.
    wait();
}

QString IOSLoadViberFromiTunesThread::cacheRoot()
{
    return dataFolder().filePath(QLatin1String(AppConstants::kBackupCacheFolder));
}

QString IOSLoadViberFromiTunesThread::defaultCacheFolder(const BackupManifest &manifest)
{
    return QDir(cacheRoot()).filePath(manifest.cacheKey());
}

QString IOSLoadViberFromiTunesThread::work()
{
    m_storeLoaded = false;
    m_failedFiles.clear();
    if (m_ownFolder) {
        // A fresh folder for every run, so that no other run (a second window, the
        // command line) shares or removes it; nothing decrypted outlives its use.
        m_lease.reset();
        const QString folder = makeUniquePrivateFolder(cacheRoot(), m_manifest->cacheKey() + u'-');
        if (folder.isEmpty())
            throw std::runtime_error(tr("IDS_BACKUP_CACHE_FOLDER_FAILED_%1")
                                         .arg(QDir::toNativeSeparators(cacheRoot()).toHtmlEscaped())
                                         .toStdString());
        setCacheFolder(folder);
        m_lease = folderLease(folder);
    } else if (m_private && QFileInfo(m_cacheFolder).isDir()) {
        // A folder of ours that held plain copies so far is closed before anything decrypted enters it.
        QFile::setPermissions(m_cacheFolder, kPrivateFolderMode);
    }
    m_journal = FileJournal(m_cacheFolder);
    m_journal.setPrivate(m_private);
    StorePaths::forgetResolvedFolders();
    reportProgress(0, tr("IDS_LOADING_ITUNES_BACKUP"));
    m_ownerName.clear();
    m_ownerPhone.clear();
    m_journal.makeFolder(m_cacheFolder);
    m_manifest->loadFileTree(m_cacheFolder);
    m_journal.makeFolder(m_viberFolder.path());

    buildTables();
    const QString noViberData = tr("IDS_NOT_CONTAIN_VIBER_DATA_IN_ITUNES_BACKUP");
    if (m_viberTable.isEmpty() && m_groupTable.isEmpty())
        throw std::runtime_error(noViberData.toStdString());

    copyStore();
    // Nothing to show is no success: the run says why instead of ending quietly.
    if (!isNonEmptyFile(storePath()))
        throw std::runtime_error(noViberData.toStdString());
    m_storeLoaded = true;
    readOwner();

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
    // A run's own folder of decrypted files serves nobody once the run failed.
    m_lease.reset();
}

void IOSLoadViberFromiTunesThread::buildTables()
{
    m_viberTable.clear();
    m_groupTable.clear();
    m_mediaTable.clear();
    const auto addApp = [](NodeTable &table, const FileNode *top, const QString &name) {
        for (const auto &app : top->children())
            if (app->name().compare(name, Qt::CaseInsensitive) == 0)
                addNodes(table, app.get());
    };
    for (const auto &top : m_manifest->root().children()) {
        if (top->name().compare(u"Applications"_s, Qt::CaseInsensitive) == 0) {
            addApp(m_viberTable, top.get(), u"com.viber"_s);
        } else if (top->name().compare(u"AppDomainGroup"_s, Qt::CaseInsensitive) == 0) {
            addApp(m_groupTable, top.get(), u"group.viber.share.container"_s);
        } else if (top->name().compare(u"Media"_s, Qt::CaseInsensitive) == 0) {
            addNodes(m_mediaTable, top.get());
        }
    }
}

void IOSLoadViberFromiTunesThread::copyStore()
{
    // A phone that moved to a current version may keep its old store beside the
    // new one: the one written last is the one in use.
    std::vector<std::pair<const NodeTable *, QString>> stores;
    for (const auto &[table, key] : {std::pair(&m_groupTable, kGroupStoreKey), {&m_viberTable, kAppStoreKey}})
        if (const FileNode *node = table->value(key); node && !node->isFolder())
            stores.emplace_back(table, key);
    std::stable_sort(stores.begin(), stores.end(), [](const auto &a, const auto &b) {
        return a.first->value(a.second)->record().mtime > b.first->value(b.second)->record().mtime;
    });
    const QString store = storePath();
    QFile::remove(storeOriginFile(store));
    for (const auto &[table, key] : stores) {
        // A log of an earlier run must not be replayed into this store.
        for (const char *suffix : {"-wal", "-shm", "-journal"})
            QFile::remove(store + QLatin1String(suffix));
        copyByKey(*table, key, store, true);
        if (!isNonEmptyFile(store))
            continue;
        copyByKey(*table, key + u"-wal"_s, store + u"-wal"_s, true);
        copyByKey(*table, key + u"-shm"_s, store + u"-shm"_s, true);
        // Committed messages may still be only in the log.
        IOSViberDb::foldWriteAheadLog(store);
        if (table == &m_groupTable) {
            QFile origin(storeOriginFile(store));
            const QFileDevice::Permissions mode = m_private
                                                      ? kPrivateFileMode
                                                      : QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                            QFileDevice::ReadGroup | QFileDevice::ReadOther;
            if (!origin.open(QIODevice::WriteOnly, mode) ||
                origin.write((QLatin1String(kGroupDomain) + key).toUtf8()) < 0 || !origin.flush())
                throw std::runtime_error(tr("IDS_CANNOT_WRITE_%1_%2")
                                             .arg(QDir::toNativeSeparators(origin.fileName()).toHtmlEscaped(),
                                                  origin.errorString().toHtmlEscaped())
                                             .toStdString());
        }
        return;
    }
}

void IOSLoadViberFromiTunesThread::readOwner()
{
    const QString settings =
        QDir(m_cacheFolder).filePath(u"group.viber.share.container"_s + kGroupSettingsKey);
    copyByKey(m_groupTable, kGroupSettingsKey, settings, true);
    if (!isNonEmptyFile(settings))
        return;
    // Only a convenience: a settings file this version cannot read costs nothing.
    try {
        Sqlite3DB db;
        db.openThrow(settings, Sqlite3DB::ReadOnly);
        db.treatAsUntrusted();
        Sqlite3Cursor c = db.queryThrow(
            Sqlite3Sql("select key, value from Data where key in ('_myUserName', '_myPhoneNumber')"));
        while (c.moveNext())
            (c.getTextAt(0) == u"_myUserName"_s ? m_ownerName : m_ownerPhone) = c.getTextAt(1).trimmed();
    } catch (const std::exception &e) {
        qWarning("IOSLoadViberFromiTunesThread: settings not readable. %s", e.what());
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
            // Current versions keep contact pictures in the app group.
            if (!isNonEmptyFile(person->contactIconPath) && !person->viberIconPath.isEmpty())
                copyByKey(m_groupTable,
                          u"/com.viber/ViberIcons/"_s + QFileInfo(person->viberIconPath).fileName(),
                          person->contactIconPath, true);
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
        // Written whole or not at all, so that a broken preview never counts as made;
        // one made from a decrypted picture is as private as the picture.
        const QByteArray format = QFileInfo(att.previewPath).suffix().toLatin1();
        const auto save = [&](auto &preview, bool opened) {
            return opened && image.save(&preview, format.isEmpty() ? nullptr : format.constData()) &&
                   preview.commit();
        };
        bool saved = false;
        if (m_private) {
            PrivateSaveFile preview(att.previewPath);
            saved = save(preview, preview.create());
        } else {
            QSaveFile preview(att.previewPath);
            saved = save(preview, preview.open(QIODevice::WriteOnly));
        }
        if (saved && !existed)
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
                      StorePaths::locationImageName(msg.latitude(), msg.longitude()),
                  att.previewPath, false);
        break;
    case ViberMsgTypeAudio:
        copyByKey(m_viberTable, u"/Documents/VoiceMessages/"_s + name, att.filePath, false);
        break;
    // Kinds the app added later; left out, the chat would show them as missing.
    case ViberMsgTypeFile:
        copyByKey(m_viberTable, u"/Documents/Attachments/"_s + name, att.filePath, false);
        if (!isNonEmptyFile(att.filePath))
            copyByKey(m_viberTable, u"/Documents/FileMessages/"_s + name, att.filePath, false);
        break;
    case ViberMsgTypeSticker:
        copyByKey(m_viberTable, u"/Documents/stickers/"_s + StorePaths::stickerRelativePath(att.attId),
                  att.previewPath, false);
        break;
    default:
        break;
    }
}
