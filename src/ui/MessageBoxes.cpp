#include "MessageBoxes.h"

#include <QMessageBox>

// Provisional boxes; the styled frameless versions replace these.
void showInfo(const QString &text, QWidget *parent)
{
    QMessageBox::information(parent, QObject::tr("Chatwharf"), text);
}

void showWarning(const QString &text, QWidget *parent)
{
    QMessageBox::warning(parent, QObject::tr("Chatwharf"), text);
}

bool askYesNo(const QString &question, QWidget *parent)
{
    return QMessageBox::question(parent, QObject::tr("Chatwharf"), question) == QMessageBox::Yes;
}

void reportError(const QString &error, QWidget *parent)
{
    QMessageBox::critical(parent, QObject::tr("Chatwharf"), error);
}
