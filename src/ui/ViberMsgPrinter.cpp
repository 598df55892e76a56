#include "ViberMsgPrinter.h"

#include "export/MessagePagePainter.h"

#include <QPageLayout>
#include <QPageSize>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include <algorithm>

ViberMsgPrinter::ViberMsgPrinter(QObject *parent) : QObject(parent) {}

void ViberMsgPrinter::setMessages(const QList<_ViberMsg *> &messages)
{
    m_messages = messages;
    m_messages.removeAll(nullptr);
    sortByDate(m_messages);
}

void ViberMsgPrinter::print(const QList<_ViberMsg *> &messages)
{
    setMessages(messages);
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setOutputFormat(QPrinter::NativeFormat);
    if (!printer.isValid())
        printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Point);

    QPrintPreviewDialog dialog(&printer);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setWindowTitle(tr("IDS_PRINT_MESSAGES"));
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this, &ViberMsgPrinter::onPaintRequested);
    dialog.exec();
}

void ViberMsgPrinter::onPaintRequested(QPrinter *printer)
{
    MessagePagePainter painter;
    if (!painter.start(printer))
        return;
    for (const _ViberMsg *msg : std::as_const(m_messages))
        painter.paint(msg);
    painter.end();
}
