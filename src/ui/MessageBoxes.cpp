#include "MessageBoxes.h"

#include "WinMovable.h"
#include "app/AppConstants.h"
#include "app/ErrorReport.h"
#include "app/Platform.h"
#include "app/StyleSheet.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>

QMessageBox::StandardButton showMessageBox(QMessageBox::Icon icon, const QString &text,
                                           QMessageBox::StandardButtons buttons, QWidget *parent)
{
    if (!parent)
        parent = QApplication::activeWindow();

    // Owned here rather than by the parent, so that a parent closing meanwhile
    // cannot delete the box under exec().
    QMessageBox box(parent);
    box.setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    box.setWindowTitle(QObject::tr("Chatwharf"));
    box.setStyleSheet(appStyleSheet());
    box.setIcon(icon);
    // Texts are rich text by convention ("<br/>" between lines), and names, paths
    // and keywords in them arrive escaped. Guessing the format instead would show
    // a text without tags but with an escaped "&lt;" literally.
    box.setTextFormat(Qt::RichText);
    box.setText(text);
    new WinMovable(&box);

    for (const QMessageBox::StandardButton button :
         {QMessageBox::Yes, QMessageBox::No, QMessageBox::Ok, QMessageBox::Cancel}) {
        if (buttons.testFlag(button))
            box.addButton(button);
    }

    // Links ("click HERE for help") go through the one place that opens addresses.
    // Plain texts keep the label inert, so that the whole box stays draggable.
    if (text.contains(QLatin1String("<a "), Qt::CaseInsensitive)) {
        box.setTextInteractionFlags(Qt::TextBrowserInteraction);
        if (auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"))) {
            label->setOpenExternalLinks(false);
            QObject::connect(label, &QLabel::linkActivated, label,
                             [](const QString &link) { openUrl(link); });
        }
    }

    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void showInfo(const QString &text, QWidget *parent)
{
    showMessageBox(QMessageBox::Information, text, QMessageBox::Ok, parent);
}

void showWarning(const QString &text, QWidget *parent)
{
    showMessageBox(QMessageBox::Warning, text, QMessageBox::Ok, parent);
}

bool askYesNo(const QString &question, QWidget *parent)
{
    return showMessageBox(QMessageBox::Question, question, QMessageBox::Yes | QMessageBox::No, parent) ==
           QMessageBox::Yes;
}

QString errorBoxText(const QString &error)
{
    return QCoreApplication::translate("MessageBoxes", "IDS_ERROR_OCCURRED").arg(error) +
           QCoreApplication::translate("MessageBoxes", "IDS_CONTACT_SUPPORT")
               .arg(QLatin1String(AppConstants::kSupportEmail));
}

void reportError(const QString &error, QWidget *parent)
{
    showMessageBox(QMessageBox::Critical, errorBoxText(error), QMessageBox::Ok, parent);
    sendErrorReport(error);
}
