#include "IOSMobileBackupThread.h"

#include "device/CFType.h"

#include <QDir>
#include <QFile>

#include <stdexcept>

namespace {

CFType readPlist(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? CFType::fromData(file.read(16 * 1024 * 1024)) : CFType();
}

// Every tool failure ends with the same advice; a locked phone gets the sentence that helps.
QString commonErrorText(const QString &toolText)
{
    // Phones from iOS 16.1 on ask for the passcode before each backup and give up after minutes.
    if (toolText.contains(QLatin1String("Device locked"), Qt::CaseInsensitive) ||
        toolText.contains(QLatin1String("ErrorCode 208"), Qt::CaseInsensitive))
        return IOSMobileBackupThread::tr("IDS_DEVICE_LOCKED_DURING_BACKUP");
    return QString();
}

} // namespace

IOSMobileBackupThread::IOSMobileBackupThread(MobileDeviceHandle device, const QString &udid,
                                             const QString &productVersion, const QString &backupRoot,
                                             QObject *parent)
    : WorkerThread(parent), m_udid(udid), m_productVersion(productVersion), m_backupRoot(backupRoot),
      m_tool(device, udid, backupRoot)
{
}

IOSMobileBackupThread::~IOSMobileBackupThread()
{
    wait();
}

QString IOSMobileBackupThread::backupFolder() const
{
    return QDir(m_backupRoot).filePath(m_udid);
}

bool IOSMobileBackupThread::isReusable(const QString &folder, const QString &productVersion)
{
    const QDir dir(folder);
    if (!dir.exists(QStringLiteral("Status.plist")) || !dir.exists(QStringLiteral("Manifest.plist")) ||
        (!dir.exists(QStringLiteral("Manifest.mbdb")) && !dir.exists(QStringLiteral("Manifest.db"))))
        return false;
    const CFType status = readPlist(dir.filePath(QStringLiteral("Status.plist")));
    const CFType manifest = readPlist(dir.filePath(QStringLiteral("Manifest.plist")));
    return status.value(QStringLiteral("SnapshotState")).toString() == QLatin1String("finished") &&
           manifest.value(QStringLiteral("Lockdown")).value(QStringLiteral("ProductVersion")).toString() ==
               productVersion;
}

QString IOSMobileBackupThread::work()
{
    reportProgress(0, tr("IDS_LOADING_DATA_FROM_DEVICE"));
    const QString folder = backupFolder();
    // A half-made backup or one of another iOS version would mislead an incremental one.
    if (QFileInfo::exists(folder) && !isReusable(folder, m_productVersion) &&
        !QDir(folder).removeRecursively())
        throw std::runtime_error(tr("IDS_CANNOT_REMOVE_OLD_BACKUP_%1")
                                     .arg(QDir::toNativeSeparators(folder).toHtmlEscaped())
                                     .toStdString());
    QDir().mkpath(m_backupRoot);
    reportProgress(-1, QString(), tr("IDS_UNLOCK_FOR_BACKUP"));
    try {
        m_tool.run(
            backup2tool::Backup, [this](double percent, const QString &) { reportProgress(int(percent)); },
            [this] { return stopRequested(); });
    } catch (const std::exception &e) {
        throw std::runtime_error(errorText(QString::fromUtf8(e.what())).toStdString());
    }
    checkCancel();
    return QString();
}

QString IOSMobileBackupThread::errorText(const QString &toolText)
{
    const QString special = commonErrorText(toolText);
    if (!special.isEmpty())
        return special;
    return toolText.toHtmlEscaped() + tr("IDS_RESTART_DEVICE_NOTE");
}
