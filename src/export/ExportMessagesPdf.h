#pragma once

#include "AbsFormatExport.h"
#include "MessagePagePainter.h"

#include <QCoreApplication>
#include <QPdfWriter>
#include <QSaveFile>
#include <QString>

// One chat's messages as a PDF of chat bubbles on A4 pages. The file is created
// on construction and complete after finish().
class ExportMessagesPdf : public AbsFormatExport<_ViberMsg>
{
    Q_DECLARE_TR_FUNCTIONS(ExportMessagesPdf)

public:
    // The resolution of an ordinary screen, which the bubbles' pixel sizes suit.
    static constexpr int kScreenResolution = 96;

    // Raises std::runtime_error naming the file when it cannot be created.
    explicit ExportMessagesPdf(const QString &filePath);

    void begin() override;
    void write(const _ViberMsg &record) override;
    void finish() override;

    int pageCount() const { return m_painter.pageNumber(); }
    // See MessagePagePainter::setProgress: how a long message's painting is followed or stopped.
    void setProgress(MessagePagePainter::Progress progress) { m_painter.setProgress(std::move(progress)); }

private:
    [[noreturn]] void fail();

    QString m_filePath;
    // Written under a temporary name and named when complete: a failed or
    // cancelled export leaves no part of a PDF behind.
    QSaveFile m_file;
    QPdfWriter m_writer;
    // After the writer, so that an export stopped early ends painting, and closes
    // the file for the caller to remove, before the writer goes.
    MessagePagePainter m_painter;
};
