#pragma once

#include "viber/ViberData.h"

#include <QList>
#include <QObject>

class QPrinter;

// Prints messages as chat bubbles, behind a print preview; with no printer
// installed the preview still shows, rendering as for a PDF.
class ViberMsgPrinter : public QObject
{
    Q_OBJECT

public:
    explicit ViberMsgPrinter(QObject *parent = nullptr);

    // Shows the preview of the messages, in date order, until the user closes it.
    void print(const QList<_ViberMsg *> &messages);

    // The messages to paint, kept in date order.
    void setMessages(const QList<_ViberMsg *> &messages);
    const QList<_ViberMsg *> &messages() const { return m_messages; }

public slots:
    // Paints every message from page 1; the preview asks again whenever its settings change.
    void onPaintRequested(QPrinter *printer);

private:
    QList<_ViberMsg *> m_messages;
};
