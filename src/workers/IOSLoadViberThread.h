#pragma once

#include "WorkerThread.h"

#include "device/Afc.h"
#include "device/IOSFileDownloader.h"
#include "viber/ViberData.h"

#include <QString>

#include <memory>

class IOSAssetDb;

// The phone's photo library, for pictures Viber only names there: its database
// fetched once per run, originals and thumbnails fetched on demand.
class IOSPhotoLibrary
{
public:
    IOSPhotoLibrary(MobileDeviceHandle device, const QString &cacheFolder,
                    IOSFileDownloader::CancelCheck cancelled, IOSFileDownloader::ProgressSink progress);
    ~IOSPhotoLibrary();

    // Whether the asset's original (or thumbnail) was a file on the phone and was fetched.
    bool fetchOriginal(const QString &assetId, const QString &localPath);
    bool fetchThumbnail(const QString &assetId, const QString &localPath);

private:
    void ensure();
    bool fetch(const QString &devicePath, const QString &localPath);

    QString m_cacheFolder;
    AfcConnection m_connection;
    IOSFileDownloader m_downloader;
    std::unique_ptr<IOSAssetDb> m_assets;
    bool m_connected = false;
    bool m_fetched = false;
};

// Copies Viber's store and the files its messages name from a connected iPhone
// into "<data folder>/ios_cache/<udid>/com.viber" and reads it. When the phone
// does not hand out Viber's container (current iOS refuses it for App Store apps)
// the run ends without error but with needsBackup(): the caller takes the backup
// route. One attachment that cannot be fetched costs only itself.
class IOSLoadViberThread : public WorkerThread
{
    Q_OBJECT
public:
    IOSLoadViberThread(MobileDeviceHandle device, const QString &udid, QObject *parent = nullptr);
    ~IOSLoadViberThread() override;

    static QString deviceCacheFolder(const QString &udid);
    QString rootFolder() const;
    bool needsBackup() const { return m_needsBackup; }
    qint64 skippedAttachments() const { return m_skipped; }
    ViberDataPtr data() const { return m_data; }

protected:
    QString work() override;

private:
    void fetchAttachment(AfcConnection &container, IOSFileDownloader &downloader, IOSPhotoLibrary &photos,
                         const _ViberAtta &att);

    MobileDeviceHandle m_device;
    QString m_udid;
    bool m_needsBackup = false;
    qint64 m_skipped = 0;
    ViberDataPtr m_data;
};
