#include "app/Logging.h"
#include "app/StyleSheet.h"
#include "support/ModalUser.h"
#include "ui/MessageBoxes.h"
#include "ui/WinMovable.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QStyle>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <functional>

using namespace Qt::StringLiterals;

using Buttons = QList<QMessageBox::StandardButton>;

class TestMessageBoxes : public QObject
{
    Q_OBJECT

private slots:
    void look_data();
    void look();
    void errorBoxNamesSupportAndIsLogged();
};

void TestMessageBoxes::look_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("icon");
    QTest::addColumn<Buttons>("buttons"); // left to right where ours to order
    QTest::addColumn<int>("press");       // NoButton: Escape
    QTest::addColumn<bool>("yes");        // what askYesNo answered
    const Buttons ok{QMessageBox::Ok}, yesNo{QMessageBox::Yes, QMessageBox::No};
    QTest::newRow("info") << 0 << int(QMessageBox::Information) << ok << int(QMessageBox::Ok) << false;
    QTest::newRow("warning") << 1 << int(QMessageBox::Warning) << ok << int(QMessageBox::Ok) << false;
    QTest::newRow("error") << 3 << int(QMessageBox::Critical) << ok << int(QMessageBox::Ok) << false;
    QTest::newRow("question, yes") << 2 << int(QMessageBox::Question) << yesNo << int(QMessageBox::Yes)
                                   << true;
    QTest::newRow("question, no") << 2 << int(QMessageBox::Question) << yesNo << int(QMessageBox::No)
                                  << false;
    QTest::newRow("question, escape")
        << 2 << int(QMessageBox::Question) << yesNo << int(QMessageBox::NoButton) << false;
    QTest::newRow("all four") << 4 << int(QMessageBox::Information)
                              << Buttons{QMessageBox::Yes, QMessageBox::No, QMessageBox::Ok,
                                         QMessageBox::Cancel}
                              << int(QMessageBox::Yes) << false;
}

void TestMessageBoxes::look()
{
    QFETCH(int, kind);
    QFETCH(int, icon);
    QFETCH(Buttons, buttons);
    QFETCH(int, press);
    QFETCH(bool, yes);

    ModalUser user;
    user.answer = QMessageBox::StandardButton(press);
    Buttons shown; // left to right
    bool framelessMovableStyled = false, linksOurs = false, iconClose = false;
    user.intercept = [&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QList<QAbstractButton *> order = box->buttons();
        std::sort(order.begin(), order.end(), [](auto *a, auto *b) { return a->x() < b->x(); });
        for (QAbstractButton *b : std::as_const(order))
            shown << box->standardButton(b);
        framelessMovableStyled = box->windowFlags().testFlag(Qt::FramelessWindowHint) &&
                                 box->findChild<WinMovable *>() && box->styleSheet() == appStyleSheet();
        // Links go through the program's one opener, not the label's own.
        auto *label = box->findChild<QLabel *>(u"qt_msgbox_label"_s);
        linksOurs =
            label->textInteractionFlags() == Qt::TextBrowserInteraction && !label->openExternalLinks();
        // The icon sits beside the text, and the text is shown whole: wrapped, or wide enough.
        auto *iconLabel = box->findChild<QLabel *>(u"qt_msgboxex_icon_label"_s);
        const bool whole = label->wordWrap() ? label->height() >= label->heightForWidth(label->width())
                                             : label->width() >= label->sizeHint().width();
        iconClose = iconLabel && label->x() - (iconLabel->x() + iconLabel->width()) < 40 && whole;
        return false;
    };
    // Long, as a question that names a database and a chat is.
    const QString text =
        u"Some <b>text</b>, and more words after it so that the line is long: "
        "Delete all 1234 messages of the chat “Weekend hiking friends” from the database “Work”?"_s;
    bool answer = false;
    const std::function<void()> show[] = {[&] { showInfo(text); }, [&] { showWarning(text); },
                                          [&] { answer = askYesNo(text); }, [&] { reportError(text); },
                                          [&] {
                                              showMessageBox(QMessageBox::Information, text,
                                                             QMessageBox::Cancel | QMessageBox::Ok |
                                                                 QMessageBox::No | QMessageBox::Yes);
                                          }};
    show[kind]();
    QVERIFY(framelessMovableStyled && iconClose);
    QCOMPARE(linksOurs, kind == 3); // the support address
    QCOMPARE(answer, yes);
    QCOMPARE(user.icons, QList<QMessageBox::Icon>{QMessageBox::Icon(icon)});
    // Across roles the platform orders buttons; Yes before No (one role) is ours,
    // seen under the Windows layout that applies without a desktop.
    if (kind == 2 &&
        QApplication::style()->styleHint(QStyle::SH_DialogButtonLayout) == QDialogButtonBox::WinLayout)
        QCOMPARE(shown, buttons);
    std::sort(shown.begin(), shown.end());
    std::sort(buttons.begin(), buttons.end());
    QCOMPARE(shown, buttons);
}

void TestMessageBoxes::errorBoxNamesSupportAndIsLogged()
{
    QTemporaryDir dir;
    setupLogging(dir.filePath(u"qlogs"_s), 10);
    const QString error = u"Cannot open /tmp/x/Contacts.data.<br/>disk I/O error"_s;
    ModalUser user;
    reportError(error);
    const QString text = user.boxes.value(0);
    QVERIFY2(text.startsWith(u"An Error Occurred. <br/><br/>"_s + error) &&
                 text.contains(u"support@chatwharf.example"_s),
             qPrintable(text));

    // The report follows the box into the log.
    QFile log(currentLogFilePath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString logged = QString::fromUtf8(log.readAll());
    resetLoggingForTests();
    QVERIFY2(logged.contains(u"Error report: Chatwharf "_s) && logged.contains(error), qPrintable(logged));
}

QTEST_MAIN(TestMessageBoxes)
#include "tst_messageboxes.moc"
