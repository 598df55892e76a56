#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include <functional>

// Stands in for the user in modal loops: every few milliseconds it closes a context menu,
// records and answers a message box, names the database in the chooser, gives a file dialog
// fileName (none: cancel). Dialogs are confirmed from the event loop, where what they do next
// may open a box that a later look answers.
class ModalUser : public QObject
{
public:
    explicit ModalUser(int intervalMs = 20)
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalUser::look);
        m_timer.start(intervalMs);
    }

    // Pressed where the box has it, else OK or its first button; NoButton presses Escape.
    QMessageBox::StandardButton answer = QMessageBox::Yes;
    QString databaseName;
    QStringList boxes;     // texts of the boxes answered
    QStringList proposals; // names the database chooser offered before the answer
    QString fileName;
    QStringList fileDialogs; // title and proposed file name of each file dialog
    QList<QMessageBox::Icon> icons;
    // The scope dialog's offers, the one taken, and which to take (-1: its first choice; beyond: cancel).
    QList<QStringList> scopeOffers;
    QStringList scopesTaken;
    int scopeChoice = -1;
    // Sees every modal window first; true leaves it alone on this look.
    std::function<bool(QWidget *modal)> intercept;
    std::function<void()> idle; // on every look with no modal window up

private:
    void look()
    {
        if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
            menu->close();
            return;
        }
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal && idle)
            idle();
        if (!modal || !modal->isVisible() || modal == m_answered || (intercept && intercept(modal)))
            return;
        m_answered = modal;
        if (modal->objectName() == QLatin1String("scopeDialog")) {
            answerScope(modal);
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            boxes << box->text();
            icons << box->icon();
            QAbstractButton *button = box->button(answer);
            if (!button && answer != QMessageBox::NoButton)
                button =
                    box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok) : box->buttons().value(0);
            if (button)
                button->click();
            else
                QTest::keyClick(box, Qt::Key_Escape);
        } else if (auto *combo = modal->findChild<QComboBox *>(QStringLiteral("cbDatabases"))) {
            proposals << combo->currentText();
            combo->setEditText(databaseName);
            QMetaObject::invokeMethod(modal->findChild<QPushButton *>(QStringLiteral("btnOk")),
                                      &QAbstractButton::click, Qt::QueuedConnection);
        } else if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
            fileDialogs << dialog->windowTitle() << QFileInfo(dialog->selectedFiles().value(0)).fileName();
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(fileName);
            QMetaObject::invokeMethod(dialog, fileName.isEmpty() ? "reject" : "accept", Qt::QueuedConnection);
        }
    }

    void answerScope(QWidget *dialog)
    {
        QStringList offers;
        for (int i = 0;; ++i) {
            auto *button = dialog->findChild<QRadioButton *>(QStringLiteral("scope%1").arg(i));
            if (!button)
                break;
            offers << button->text();
            if (i == scopeChoice)
                button->setChecked(true);
        }
        scopeOffers << offers;
        const bool cancel = scopeChoice >= offers.size();
        for (int i = 0; i < offers.size(); ++i)
            if (dialog->findChild<QRadioButton *>(QStringLiteral("scope%1").arg(i))->isChecked())
                scopesTaken << offers.at(i);
        QMetaObject::invokeMethod(dialog, cancel ? "reject" : "accept", Qt::QueuedConnection);
    }

    QTimer m_timer;
    QPointer<QWidget> m_answered;
};
