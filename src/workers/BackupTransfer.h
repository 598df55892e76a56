#pragma once

#include "SourceLoading.h"

#include <QCoreApplication>

class BackupManifest;

// Messages written into an unencrypted iTunes backup, for restoring onto a phone:
// the backup's Viber files are cached, the messages merged into the cached store,
// and the changed files written into the backup, which changes as a whole or not
// at all. The cache of the run is removed afterwards, whatever the outcome.
class BackupTransfer
{
    Q_DECLARE_TR_FUNCTIONS(BackupTransfer)

public:
    struct Result
    {
        bool succeeded = false;
        qint64 messages = 0;
        qint64 calls = 0;
    };

    // manifest has its Manifest.plist read; each step runs through run.
    static Result run(BackupManifest &manifest, const QList<_ViberMsg *> &messages,
                      const SourceLoading::Runner &run);
    // "<data folder>/ios_cache/virtual_<cacheKey>".
    static QString cacheFolder(const BackupManifest &manifest);
};
