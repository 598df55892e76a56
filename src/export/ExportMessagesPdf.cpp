#include "ExportMessagesPdf.h"

#include "MessageText.h"
#include "StreamedFileExport.h"
#include "TimeText.h"

#include <QLocale>
#include <QPageLayout>
#include <QPageSize>

#include <stdexcept>

ExportMessagesPdf::ExportMessagesPdf(const QString &filePath, ExportFile::Place place)
    : m_filePath(filePath), m_file(filePath, place), m_writer(&m_file.device())
{
    if (!m_file.open(QIODevice::WriteOnly))
        fail();
    // A PDF writer rather than a printer: the export runs in a worker thread and the
    // core links no printing support. At the screen's resolution both lay out alike.
    m_writer.setResolution(kScreenResolution);
    m_writer.setPageSize(QPageSize(QPageSize::A4));
    m_writer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Point);
}

void ExportMessagesPdf::begin() {}

void ExportMessagesPdf::write(const _ViberMsg &record)
{
    m_messages.append(&record);
}

QString ExportMessagesPdf::dateRange(double first, double last)
{
    const QString from = TimeText::date(first);
    const QString to = TimeText::date(last);
    return from == to ? from : tr("IDS_PDF_DATES_%1_%2").arg(from, to);
}

void ExportMessagesPdf::layOut(MessagePagePainter &painter, int pass)
{
    const qsizetype total = m_messages.size();
    // Within a long message the painter tells how far it got, and may be stopped there.
    qsizetype index = 0;
    painter.setProgress([&](qint64 done, qint64 length) {
        if (m_progress)
            m_progress((pass + (double(index) + double(done) / double(std::max<qint64>(length, 1))) /
                                   double(total)) /
                       2.0);
    });
    for (qsizetype chatStart = 0; chatStart < total;) {
        const _ViberChat *chat = m_messages.at(chatStart)->chat;
        qsizetype chatEnd = chatStart + 1;
        while (chatEnd < total && m_messages.at(chatEnd)->chat == chat)
            ++chatEnd;
        const QString title = MessageText::chatTitle(chat);
        painter.setPageTitle(title);
        painter.breakPage();
        painter.paintHeading(title, MessageText::participantLabels(chat),
                             dateRange(m_messages.at(chatStart)->date, m_messages.at(chatEnd - 1)->date));
        for (index = chatStart; index < chatEnd; ++index) {
            painter.paint(m_messages.at(index));
            // A full disk shows only in the file: found here, the export stops at once.
            if (pass == 1 && m_file.device().error() != QFileDevice::NoError)
                fail();
            if (m_progress)
                m_progress((pass + double(index + 1) / double(total)) / 2.0);
        }
        chatStart = chatEnd;
    }
}

void ExportMessagesPdf::finish()
{
    {
        // The pages are counted first, so that each can say how many there are.
        MessagePagePainter counter;
        if (!counter.start(&m_writer, true))
            fail();
        layOut(counter, 0);
        m_pages = counter.pageNumber();
    }
    MessagePagePainter painter;
    // The first page takes the first chat's title.
    if (!m_messages.isEmpty())
        painter.setPageTitle(MessageText::chatTitle(m_messages.first()->chat));
    painter.setPageCount(m_pages);
    if (!painter.start(&m_writer))
        fail();
    layOut(painter, 1);
    // A full disk shows only in the file, the painter goes on without complaint.
    if (!painter.end() || m_file.device().error() != QFileDevice::NoError || !m_file.commit())
        fail();
}

void ExportMessagesPdf::fail()
{
    const QString reason = StreamedFileExport::failureReason(m_file.device());
    m_file.discard();
    throw std::runtime_error(StreamedFileExport::writeError(m_filePath, reason).toStdString());
}
