#include "UnlockBackupThread.h"

#include "itunes/BackupManifest.h"

UnlockBackupThread::UnlockBackupThread(BackupManifest *manifest, const QString &password, QObject *parent)
    : WorkerThread(parent), m_manifest(manifest), m_password(password)
{
}

UnlockBackupThread::~UnlockBackupThread()
{
    wait();
    // The password lives no longer than the answer it gave.
    m_password.fill(QChar(u'\0'));
}

QString UnlockBackupThread::work()
{
    m_unlocked = false;
    reportProgress(0, tr("IDS_UNLOCKING_BACKUP_%1").arg(m_manifest->displayName().toHtmlEscaped()));
    m_unlocked = m_manifest->unlockWithPassword(m_password, [this](qint64 done, qint64 total) {
        reportProgress(percentOf(done, total));
        checkCancel();
    });
    m_password.fill(QChar(u'\0'));
    return QString();
}
