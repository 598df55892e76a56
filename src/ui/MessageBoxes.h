#pragma once

#include <QString>

class QWidget;

// The program's message boxes: frameless, draggable, styled, titled "Chatwharf".
// All run modally; parent may be null (the active window is used).
void showInfo(const QString &text, QWidget *parent = nullptr);
void showWarning(const QString &text, QWidget *parent = nullptr);
bool askYesNo(const QString &question, QWidget *parent = nullptr);
// Shows the standard error box around text, then records the error report.
void reportError(const QString &error, QWidget *parent = nullptr);
