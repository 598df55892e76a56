#include "ExportMessagesPdf.h"

#include <QFileInfo>
#include <QPageLayout>
#include <QPageSize>

#include <stdexcept>

ExportMessagesPdf::ExportMessagesPdf(const QString &filePath) : m_filePath(filePath), m_writer(filePath)
{
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
}

void ExportMessagesPdf::finish()
{
    if (!m_painter.end() || QFileInfo(m_filePath).size() <= 0)
        fail();
}

void ExportMessagesPdf::fail() const
{
    throw std::runtime_error(tr("IDS_PDF_WRITE_FAILED_%1").arg(m_filePath).toStdString());
}
