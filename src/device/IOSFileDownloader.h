#pragma once

#include "device/Afc.h"
#include "device/CacheManifest.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <functional>

// Copies device files to the computer for one worker, telling how far it got
// and skipping files whose copy from an earlier run is still current.
class IOSFileDownloader
{
    Q_DECLARE_TR_FUNCTIONS(IOSFileDownloader)

public:
    // True once the user asked the run to stop; polled between blocks.
    using CancelCheck = std::function<bool()>;
    // The status line of the progress dialog.
    using ProgressSink = std::function<void(const QString &status)>;

    // manifestPath is the cache manifest's database file.
    explicit IOSFileDownloader(const QString &manifestPath, CancelCheck cancelled = {},
                               ProgressSink progress = {});

    // Copies the device file described by info to localPath, creating its
    // folder. Nothing is copied for a folder or a path that does not exist, nor,
    // with useCache, when the copy made earlier is still current. True when it
    // copied. A cancel raises the int -1; a failure raises a std::exception
    // naming the file. Either way no partial file is left, and a copy that was
    // at localPath before stays as it was.
    bool download(AfcConnection &connection, const AfcFileInfo &info, const QString &localPath,
                  bool useCache);

    // The same for the device path, whose information is asked for first.
    bool download(AfcConnection &connection, const QString &devicePath, const QString &localPath,
                  bool useCache);

    CacheManifest &manifest() { return m_manifest; }

private:
    void checkCancel() const;

    CacheManifest m_manifest;
    CancelCheck m_cancelled;
    ProgressSink m_progress;
    QByteArray m_buffer; // allocated on first use
};
