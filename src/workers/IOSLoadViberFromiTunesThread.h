#pragma once

#include "WorkerThread.h"

#include "FileJournal.h"
#include "itunes/BackupManifest.h"
#include "viber/ViberData.h"

#include <QDir>
#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>

class IOSAssetDb;

// Turns an iTunes backup into a local copy of the Viber app's files: the store
// (in the app's "Documents/Contacts.data", or, for current versions, in the app
// group's "com.viber/database/Contacts.data" with its write-ahead log) and every
// file its records name (avatars,
// attachments, previews, map images, voice messages), decrypted when the backup
// is, below "<cache>/com.viber", where the store's reader expects them. Camera-roll
// originals come from the backup's photo library. Afterwards the cached store is
// opened like any other phone's store.
class IOSLoadViberFromiTunesThread : public WorkerThread
{
    Q_OBJECT
public:
    using FileNode = BackupManifest::FileNode;
    using NodeTable = QHash<QString, const FileNode *>;

    // manifest has its Manifest.plist read and, if encrypted, is unlocked; the run
    // builds its file tree when that is not there yet (a large backup takes
    // seconds), and nobody else touches it meanwhile. It must outlive the run. An
    // empty cacheFolder means the backup's own folder below the data folder; for an
    // encrypted backup that is a new private folder of each run (see cacheLease).
    // What an encrypted backup's run writes is the user's alone: folders 0700,
    // files 0600, from their creation on.
    IOSLoadViberFromiTunesThread(BackupManifest *manifest, const QString &cacheFolder,
                                 QObject *parent = nullptr);
    ~IOSLoadViberFromiTunesThread() override;

    // "<data folder>/itunes_cache/<cacheKey>": chats belong to the user alone,
    // never to a shared temporary folder. An encrypted backup's runs each make
    // "<cacheKey>-<random>" beside it instead, decrypted data being kept only while used.
    static QString defaultCacheFolder(const BackupManifest &manifest);
    // The folder below the data folder that holds every backup's cache.
    static QString cacheRoot();

    // Known before the run when it was given or the backup is plain, else once it ran.
    const QString &cacheFolder() const { return m_cacheFolder; }
    // The run's own private folder, removed when the last copy of this is gone
    // (the thread holds one until it is destroyed, a failed or cancelled run none);
    // null when the folder was given or the backup is plain. Whoever goes on using
    // the cached files keeps a copy for as long as it does.
    std::shared_ptr<void> cacheLease() const { return m_lease; }
    // The store's root: the cached store is viberCacheFolder()/storeFileName().
    QString viberCacheFolder() const { return m_viberFolder.path(); }
    static QString storeFileName() { return QStringLiteral("Documents/Contacts.data"); }
    QString storePath() const { return m_viberFolder.filePath(storeFileName()); }
    // Beside a cached store that came from the app group's container, a file naming
    // where in the backup it lies ("<domain>/<path>"), so that a writer puts it back there.
    static QString storeOriginFile(const QString &storePath) { return storePath + QStringLiteral(".origin"); }
    static constexpr const char *kGroupDomain = "AppDomainGroup-group.viber.share.container";
    // True once the store has been copied with content (after the thread finished).
    bool storeLoaded() const { return m_storeLoaded; }
    // The account owner as current versions' settings name them; empty without.
    const QString &ownerName() const { return m_ownerName; }
    const QString &ownerPhone() const { return m_ownerPhone; }

protected:
    QString work() override;
    void cleanUp(Outcome outcome) override;

private:
    void setCacheFolder(const QString &folder);
    // Copies node's file to destination, which must lie in the cache folder.
    // Without overwrite an existing non-empty destination stays. A node the
    // backup holds no data for copies nothing.
    void copyFileThrow(const FileNode *node, const QString &destination, bool overwrite);
    // copyFileThrow of the node at key; an unknown key or an empty destination copies nothing.
    void copyByKey(const NodeTable &table, const QString &key, const QString &destination, bool overwrite);
    void buildTables();
    // Copies the newest store of app and app group, with its write-ahead log
    // folded in, so that the cached store is one file holding every commit.
    void copyStore();
    void readOwner();
    void copyAvatars(const ViberData &data);
    void copyAttachment(const _ViberAtta &att);
    // The camera-roll original of a picture or video, when the photo library knows it.
    void copyFromCameraRoll(const _ViberAtta &att);

    BackupManifest *m_manifest;
    bool m_private;   // the backup is encrypted: what the run writes is decrypted
    bool m_ownFolder; // a private folder of the run's own, made by work()
    QString m_cacheFolder;
    std::shared_ptr<void> m_lease;
    QDir m_viberFolder;
    bool m_storeLoaded = false;
    NodeTable m_viberTable;
    NodeTable m_groupTable; // the app group shared by current versions and their extensions
    NodeTable m_mediaTable;
    QString m_ownerName;
    QString m_ownerPhone;
    std::unique_ptr<IOSAssetDb> m_assets;
    FileJournal m_journal;
    QStringList m_failedFiles;
};
