#include "ExportMessagesPdf.h"

#include "StreamedFileExport.h"

#include <QPageLayout>
#include <QPageSize>

#include <stdexcept>

ExportMessagesPdf::ExportMessagesPdf(const QString &filePath)
    : m_filePath(filePath), m_file(filePath), m_writer(&m_file)
{
    if (!m_file.open(QIODevice::WriteOnly))
        fail();
    // A PDF writer rather than a printer: the export runs in a worker thread and the
    // core links no printing support. At the screen's resolution both lay out alike.
    m_writer.setResolution(kScreenResolution);
    m_writer.setPageSize(QPageSize(QPageSize::A4));
    m_writer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Point);
    if (!m_painter.start(&m_writer))
        fail();
}

void ExportMessagesPdf::begin() {}

void ExportMessagesPdf::write(const _ViberMsg &record)
{
    m_painter.paint(&record);
    // A full disk shows only in the file, the painter goes on without complaint:
    // found here, an export stops at once rather than at its end.
    if (m_file.error() != QFileDevice::NoError)
        fail();
}

void ExportMessagesPdf::finish()
{
    if (!m_painter.end() || m_file.error() != QFileDevice::NoError || !m_file.commit())
        fail();
}

void ExportMessagesPdf::fail()
{
    const QString reason = StreamedFileExport::failureReason(m_file);
    m_file.cancelWriting();
    throw std::runtime_error(StreamedFileExport::writeError(m_filePath, reason).toStdString());
}
