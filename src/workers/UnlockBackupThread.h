#pragma once

#include "WorkerThread.h"

#include <QString>

class BackupManifest;

// Unlocks an encrypted backup off the GUI thread: the key derivation of current
// iPhones runs ten million rounds, seconds during which the window shows progress
// and the user may cancel. A wrong password is a run that succeeds unlocked().
class UnlockBackupThread : public WorkerThread
{
    Q_OBJECT
public:
    UnlockBackupThread(BackupManifest *manifest, const QString &password, QObject *parent = nullptr);
    ~UnlockBackupThread() override;

    bool unlocked() const { return m_unlocked; }

protected:
    QString work() override;

private:
    BackupManifest *m_manifest;
    QString m_password;
    bool m_unlocked = false;
};
