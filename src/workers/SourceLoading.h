#pragma once

#include "viber/ViberData.h"

#include <QCoreApplication>
#include <QString>

#include <functional>

class BackupManifest;
class WorkerThread;

// The steps that read a source into records, shared by the window's import actions
// and the command line. Each worker runs through the caller's runner, which shows
// it (behind a progress dialog, on the console) and says whether it succeeded; a
// step that did not ends the loading with null.
class SourceLoading
{
    Q_DECLARE_TR_FUNCTIONS(SourceLoading)

public:
    using Runner = std::function<bool(WorkerThread &worker, const QString &title)>;

    // An iTunes backup with its Manifest.plist read and, when encrypted, unlocked:
    // its Viber files are cached, then the cached store is read. An encrypted
    // backup's decrypted cache lives as long as the records returned (filesLease)
    // and is gone when loading fails or is cancelled.
    static ViberDataPtr loadITunesBackup(BackupManifest &manifest, const Runner &run);
    // A Viber Desktop database.
    static ViberDataPtr loadViberDesktop(const QString &dbPath, const Runner &run);
};
