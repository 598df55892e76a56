#include "Backup2Tool.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <stdexcept>

namespace {

[[noreturn]] void fail(const QString &text)
{
    throw std::runtime_error(text.toStdString());
}

} // namespace

backup2tool::backup2tool(MobileDeviceHandle device, const QString &udid, const QString &backupRoot)
    : m_device(device), m_udid(udid), m_backupRoot(backupRoot)
{
}

QString backup2tool::defaultToolPath()
{
    return QStandardPaths::findExecutable(QStringLiteral("idevicebackup2"));
}

QStringList backup2tool::arguments(int operation, const QString &udid, const QString &backupRoot)
{
    const QString root = QDir::toNativeSeparators(backupRoot);
    switch (operation) {
    case Backup:
        return {QStringLiteral("-u"), udid, QStringLiteral("backup"), root};
    case Restore:
        // The backup of this device, restored onto it.
        return {QStringLiteral("-u"), udid, QStringLiteral("-s"), udid, QStringLiteral("restore"), root};
    default:
        fail(QStringLiteral("unknown backup2tool_op."));
    }
}

qint64 backup2tool::usedMegabytes(MobileDeviceHandle device)
{
    if (!device)
        return 0;
    try {
        const CFType usage =
            mobiledevice_copy_values(device, {QString()}, QStringLiteral("com.apple.disk_usage")).value(0);
        const qint64 used = usage.value(QStringLiteral("TotalDataCapacity")).toLongLong() -
                            usage.value(QStringLiteral("AmountDataAvailable")).toLongLong();
        return used / 1024 / 1024;
    } catch (const std::exception &e) {
        qWarning("backup2tool: no disk usage. %s", e.what());
        return 0;
    }
}

qint64 backup2tool::estimateSeconds(qint64 usedMegabytes)
{
    return usedMegabytes > 0 ? qint64(double(usedMegabytes) * 0.03) : 60;
}

void backup2tool::run(int operation, const Progress &progress, const CancelCheck &cancelled)
{
    const QStringList args = arguments(operation, m_udid, m_backupRoot);
    const QString tool = m_toolPath.isEmpty() ? defaultToolPath() : m_toolPath;
    if (tool.isEmpty())
        fail(tr("IDS_NO_BACKUP_TOOL"));
    const qint64 estimate = std::max<qint64>(1, estimateSeconds(usedMegabytes(m_device)));

    QProcess process;
    process.start(tool, args, QIODevice::ReadOnly);
    if (!process.waitForStarted(60000))
        fail(tr("IDS_CANNOT_START_BACKUP_TOOL_%1_%2").arg(tool, process.errorString()));
    QElapsedTimer timer;
    timer.start();
    QByteArray output;
    double percent = 0;
    bool toolPercent = false;
    static const QRegularExpression shownPercent(QStringLiteral("(\\d{1,3})% Finished"));
    for (;;) {
        const qint64 seconds = timer.elapsed() / 1000;
        if (!toolPercent)
            percent = std::min(99.0, double(seconds) / double(estimate) * 99.0);
        if (progress)
            progress(percent, tr("IDS_SECONDS_PASSED_%1").arg(seconds));
        if (cancelled && cancelled()) {
            process.kill();
            process.waitForFinished(5000);
            return;
        }
        if (process.waitForFinished(200))
            break;
        const QByteArray chunk = process.readAllStandardOutput();
        output += chunk;
        // The tool draws its own bar: its figure beats the estimate.
        QRegularExpressionMatchIterator it = shownPercent.globalMatch(QString::fromLatin1(chunk));
        while (it.hasNext()) {
            percent = std::min(99.0, it.next().captured(1).toDouble());
            toolPercent = true;
        }
    }
    output += process.readAllStandardOutput();
    output += '\n';
    output += process.readAllStandardError();
    const qsizetype nul = output.indexOf('\0');
    const QString text = QString::fromLatin1(nul >= 0 ? output.left(nul) : output).trimmed();
    qDebug("backup2tool output:\n%s", qPrintable(text));
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 ||
        text.contains(QLatin1String("error"), Qt::CaseInsensitive))
        fail(text.isEmpty() ? tr("IDS_BACKUP_TOOL_FAILED_%1").arg(process.exitCode()) : text);
}
