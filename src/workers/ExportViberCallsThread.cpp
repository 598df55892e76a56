#include "ExportViberCallsThread.h"

#include "export/StreamedFileExport.h"
#include "export/TimeText.h"

#include <QLocale>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>
#include <stdexcept>

ExportViberCallsThread::ExportViberCallsThread(const QList<_ViberCall *> &calls, const QString &filePath,
                                               QObject *parent)
    : WorkerThread(parent), m_calls(calls), m_filePath(filePath)
{
    m_calls.removeAll(nullptr);
    std::stable_sort(m_calls.begin(), m_calls.end(),
                     [](const _ViberCall *a, const _ViberCall *b) { return a->date > b->date; });
}

ExportViberCallsThread::~ExportViberCallsThread()
{
    // work() uses the members; the base would wait only after they are gone.
    wait();
}

QString ExportViberCallsThread::typeText(ViberCallType type)
{
    switch (type) {
    case ViberCallTypeIncoming:
        return QStringLiteral("Incoming");
    case ViberCallTypeOutgoing:
        return QStringLiteral("Outgoing");
    case ViberCallTypeMissed:
        return QStringLiteral("Missed");
    case ViberCallTypeIncomingVideo:
        return QStringLiteral("Incoming video");
    case ViberCallTypeOutgoingVideo:
        return QStringLiteral("Outgoing video");
    case ViberCallTypeMissedVideo:
        return QStringLiteral("Missed video");
    case ViberCallTypeOutgoingViberOut:
        return QStringLiteral("Viber Out");
    case ViberCallTypeUnknown:
        return QStringLiteral("Unknown");
    }
    return QString();
}

QString ExportViberCallsThread::work()
{
    reportProgress(0, tr("IDS_EXPORT_VIBER_CALLS"));
    // Written under a temporary name: a failure or a cancel leaves no part of a table.
    QSaveFile file(m_filePath);
    auto fail = [&] {
        throw std::runtime_error(
            StreamedFileExport::writeError(m_filePath, StreamedFileExport::failureReason(file))
                .toStdString());
    };
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        fail();
    QTextStream out(&file);
    out.setEncoding(QStringConverter::Utf8);
    out.setFieldAlignment(QTextStream::AlignLeft);
    out << qSetFieldWidth(40) << "number" << qSetFieldWidth(15) << "Flag" << qSetFieldWidth(30) << "Date"
        << qSetFieldWidth(15) << "duration" << qSetFieldWidth(0) << '\n';
    const qint64 total = m_calls.size();
    qint64 n = 0;
    for (const _ViberCall *call : std::as_const(m_calls)) {
        ++n;
        reportProgress(percentOf(n, total), QString(),
                       tr("IDS_EXPORT_CALLS_PROGRESS_%1_%2").arg(n).arg(total));
        const QString who = call->person ? personLabel(call->person) : QStringLiteral("Unknown");
        out << qSetFieldWidth(40) << who << qSetFieldWidth(15) << typeText(call->type) << qSetFieldWidth(30)
            << TimeText::dateTime(call->date) << qSetFieldWidth(15) << TimeText::duration(call->duration)
            << qSetFieldWidth(0) << '\n';
        if (out.status() != QTextStream::Ok)
            fail();
        checkCancel();
    }
    out.flush();
    if (out.status() != QTextStream::Ok || !file.commit())
        fail();
    return tr("IDS_SUC_EXPORT_%n_CALLS", nullptr, int(n));
}
