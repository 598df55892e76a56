#pragma once

#include "AbsFormatExport.h"
#include "ExportFile.h"
#include "viber/ViberData.h"

#include <QCoreApplication>
#include <QTextStream>

// A text file written as a stream, in UTF-8. It is written under a temporary
// name and takes its own name only when complete, so that a failed or cancelled
// export leaves no partial file and a file it replaces stays until then.
class StreamedFileExport : public AbsFormatExport<_ViberMsg>
{
    Q_DECLARE_TR_FUNCTIONS(StreamedFileExport)

public:
    // Space left on a disk below which a failed write is put down to a full disk.
    static constexpr qint64 kFullDiskBytes = 1024 * 1024;

    explicit StreamedFileExport(const QString &filePath, bool byteOrderMark = false,
                                ExportFile::Place place = ExportFile::Alone);

    const QString &filePath() const { return m_path; }
    void finish() override;

    // The sentence of a failed write, naming the file.
    static QString writeError(const QString &path, const QString &reason);
    // Why a write to file failed, in words. A device whose writes went through a
    // buffer may hold an error without its reason ("Unknown error"): then a full
    // disk is told by the space left, anything else by a general sentence.
    static QString failureReason(const QFileDevice &file);

protected:
    // Opens the file; raises when it cannot be created.
    void open();
    QTextStream &out() { return m_stream; }
    // UTF-8 written as it is, after what the stream holds: no second conversion.
    void writeUtf8(const QByteArray &bytes);
    // Raises when a write failed (a full disk shows here, not at the end).
    void checkWritten();

private:
    [[noreturn]] void fail();

    QString m_path;
    bool m_byteOrderMark;
    ExportFile m_file;
    QTextStream m_stream;
};
