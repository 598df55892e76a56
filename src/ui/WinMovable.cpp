#include "WinMovable.h"

#include <QMouseEvent>
#include <QWidget>

WinMovable::WinMovable(QWidget *window) : QObject(window)
{
    setWindow(window);
}

void WinMovable::setWindow(QWidget *window)
{
    if (m_window)
        m_window->removeEventFilter(this);
    m_window = window;
    m_pressX = m_pressY = -1;
    m_dragging = false;
    if (m_window)
        m_window->installEventFilter(this);
}

bool WinMovable::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window) {
        switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto *e = static_cast<QMouseEvent *>(event);
            const QPoint p = e->position().toPoint();
            m_pressX = p.x();
            m_pressY = p.y();
            m_dragging = e->button() == Qt::LeftButton;
            break;
        }
        case QEvent::MouseMove: {
            auto *e = static_cast<QMouseEvent *>(event);
            if (m_pressX >= 0 && m_dragging) {
                const QPoint p = e->position().toPoint();
                m_window->move(m_window->pos() + QPoint(p.x() - m_pressX, p.y() - m_pressY));
            }
            break;
        }
        case QEvent::MouseButtonRelease:
            m_dragging = false;
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}
