#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// The program's message boxes: frameless, draggable, styled, titled "Chatwharf".
// All run modally; parent may be null (the active window is used).
void showInfo(const QString &text, QWidget *parent = nullptr);
void showWarning(const QString &text, QWidget *parent = nullptr);
bool askYesNo(const QString &question, QWidget *parent = nullptr);
// Shows the standard error box around text, then records the error report.
void reportError(const QString &error, QWidget *parent = nullptr);

// The box behind the four above: the requested buttons are added in the order
// Yes, No, OK, Cancel. Links in text open in the desktop's browser. Returns the
// button pressed (the escape button when the box was dismissed otherwise).
QMessageBox::StandardButton showMessageBox(QMessageBox::Icon icon, const QString &text,
                                           QMessageBox::StandardButtons buttons, QWidget *parent = nullptr);

// The text of reportError's box for the given error (which may hold HTML).
QString errorBoxText(const QString &error);
