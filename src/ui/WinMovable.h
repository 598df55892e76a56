#pragma once

#include <QObject>
#include <QPoint>

class QWidget;

// Event filter that lets a frameless window be dragged by any point of it.
class WinMovable : public QObject
{
    Q_OBJECT
public:
    explicit WinMovable(QWidget *window = nullptr);
    // Watches window (and installs itself on it); a null window detaches.
    void setWindow(QWidget *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_window = nullptr;
    int m_pressX = -1;
    int m_pressY = -1;
    bool m_dragging = false;
};
