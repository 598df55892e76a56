#pragma once

#include "ExportFile.h"

#include "AbsFormatExport.h"
#include "MessagePagePainter.h"

#include <QCoreApplication>
#include <QList>
#include <QPdfWriter>
#include <QString>

#include <functional>

// Messages as a PDF of chat bubbles on A4 pages, chat by chat: each chat starts on
// a page of its own with its title, participants and dates, and every page carries
// the chat's title and "page N of M". Messages must come chat by chat, in date
// order within each; they are only read, and must live until finish(). The file
// is created on construction and complete after finish(), which lays the pages
// out twice: once to count them, once to draw them.
class ExportMessagesPdf : public AbsFormatExport<_ViberMsg>
{
    Q_DECLARE_TR_FUNCTIONS(ExportMessagesPdf)

public:
    // The resolution of an ordinary screen, which the bubbles' pixel sizes suit.
    static constexpr int kScreenResolution = 96;

    // Raises std::runtime_error naming the file when it cannot be created.
    explicit ExportMessagesPdf(const QString &filePath, ExportFile::Place place = ExportFile::Alone);

    void begin() override;
    void write(const _ViberMsg &record) override;
    void finish() override;

    int pageCount() const { return m_pages; }
    qint64 messageCount() const { return m_messages.size(); }
    // Called again and again while finish() works, with the share of its work done
    // (0 to 1): to show progress, or to stop by raising.
    using Progress = std::function<void(double done)>;
    void setProgress(Progress progress) { m_progress = std::move(progress); }

    // "31 Jan 2014 – 1 Feb 2014": the days of a chat's first and last message.
    static QString dateRange(double first, double last);

private:
    [[noreturn]] void fail();
    // One pass over all messages; pass 0 counts, pass 1 draws.
    void layOut(MessagePagePainter &painter, int pass);

    QString m_filePath;
    // Written under a temporary name and named when complete: a failed or
    // cancelled export leaves no part of a PDF behind.
    ExportFile m_file;
    QPdfWriter m_writer;
    QList<const _ViberMsg *> m_messages;
    int m_pages = 0;
    Progress m_progress;
};
