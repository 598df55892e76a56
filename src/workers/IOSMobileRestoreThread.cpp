#include "IOSMobileRestoreThread.h"

#include "IOSMobileBackupThread.h"

#include <QRegularExpression>

#include <stdexcept>

IOSMobileRestoreThread::IOSMobileRestoreThread(MobileDeviceHandle device, const QString &udid,
                                               const QString &backupRoot, QObject *parent)
    : WorkerThread(parent), m_tool(device, udid, backupRoot)
{
}

IOSMobileRestoreThread::~IOSMobileRestoreThread()
{
    wait();
}

QString IOSMobileRestoreThread::restoreErrorText(const QString &toolText)
{
    if (toolText.contains(QLatin1String("Find My iPhone must be disabled"), Qt::CaseInsensitive))
        return tr("IDS_DISABLE_FIND_MY_IPHONE");
    static const QRegularExpression space(
        QStringLiteral("Insufficient free disk space on device to restore \\((\\d+) [^\\d]+ (\\d+)\\)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = space.match(toolText);
    if (m.hasMatch()) {
        const double gigabytes = m.captured(2).toDouble() / 1024 / 1024 / 1024;
        return tr("IDS_RESTORE_NEEDS_SPACE_%1").arg(gigabytes, 0, 'g', 1);
    }
    return IOSMobileBackupThread::errorText(toolText);
}

QString IOSMobileRestoreThread::work()
{
    reportProgress(0, tr("IDS_TRANSFERRING_DATA_TO_DEVICE"));
    try {
        m_tool.run(
            backup2tool::Restore, [this](double percent, const QString &) { reportProgress(int(percent)); },
            [this] { return stopRequested(); });
    } catch (const std::exception &e) {
        throw std::runtime_error(restoreErrorText(QString::fromUtf8(e.what())).toStdString());
    }
    checkCancel();
    return QString();
}
