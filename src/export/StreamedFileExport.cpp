#include "StreamedFileExport.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <stdexcept>

StreamedFileExport::StreamedFileExport(const QString &filePath, bool byteOrderMark, ExportFile::Place place)
    : m_path(filePath), m_byteOrderMark(byteOrderMark), m_file(filePath, place)
{
}

QString StreamedFileExport::writeError(const QString &path, const QString &reason)
{
    // Shown in a rich-text box.
    return tr("IDS_EXPORT_WRITE_FAILED_%1_%2")
        .arg(QDir::toNativeSeparators(path).toHtmlEscaped(), reason.toHtmlEscaped());
}

QString StreamedFileExport::failureReason(const QFileDevice &file)
{
    if (file.error() != QFileDevice::NoError) {
        const QString reason = file.errorString();
        // A device's error without a reason reads as a fresh device's.
        if (!reason.isEmpty() && reason != QFile().errorString())
            return reason;
    }
    // Asked while the partial file still takes its space.
    const QStorageInfo disk(QFileInfo(file.fileName()).absolutePath());
    if (disk.isValid() && disk.bytesAvailable() < kFullDiskBytes)
        return tr("IDS_DISK_FULL");
    return tr("IDS_WRITE_FAILED");
}

void StreamedFileExport::fail()
{
    const QString reason = failureReason(m_file.device());
    m_file.discard();
    throw std::runtime_error(writeError(m_path, reason).toStdString());
}

void StreamedFileExport::open()
{
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Text))
        fail();
    m_stream.setDevice(&m_file.device());
    m_stream.setEncoding(QStringConverter::Utf8);
    m_stream.setGenerateByteOrderMark(m_byteOrderMark);
    m_stream.setFieldAlignment(QTextStream::AlignLeft);
}

void StreamedFileExport::writeUtf8(const QByteArray &bytes)
{
    m_stream.flush();
    if (m_file.device().write(bytes) != bytes.size())
        fail();
}

void StreamedFileExport::checkWritten()
{
    if (m_stream.status() != QTextStream::Ok || m_file.device().error() != QFileDevice::NoError)
        fail();
}

void StreamedFileExport::finish()
{
    if (!m_file.device().isOpen())
        return;
    m_stream.flush();
    checkWritten();
    if (!m_file.commit())
        fail();
}
