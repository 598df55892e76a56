#include "ErrorReport.h"

#include <QDebug>
#include <QSysInfo>

void sendErrorReport(const QString &error)
{
    qCritical().noquote() << QStringLiteral("Error report: Chatwharf %1, Qt %2, %3 (%4): %5")
                                 .arg(QStringLiteral(CHATWHARF_VERSION), QString::fromLatin1(qVersion()),
                                      QSysInfo::prettyProductName(), QSysInfo::currentCpuArchitecture(),
                                      error);
}
