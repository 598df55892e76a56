#include "app/Logging.h"
#include "app/StyleSheet.h"
#include "ui/MessageBoxes.h"
#include "ui/WinMovable.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <functional>

// Stands in for the user: waits for the next modal box, hands it to look, then
// presses the given button (or closes the box with Escape when there is none).
class BoxAnswerer : public QObject
{
public:
    BoxAnswerer(QMessageBox::StandardButton press, std::function<void(QMessageBox *)> look)
        : m_press(press), m_look(std::move(look))
    {
        connect(&m_timer, &QTimer::timeout, this, &BoxAnswerer::poll);
        m_timer.start(20);
    }
    bool answered = false;

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        m_timer.stop();
        answered = true;
        m_look(box);
        if (QAbstractButton *button = box->button(m_press))
            QTest::mouseClick(button, Qt::LeftButton);
        else
            QTest::keyClick(box, Qt::Key_Escape);
    }

    QTimer m_timer;
    QMessageBox::StandardButton m_press;
    std::function<void(QMessageBox *)> m_look;
};

class TestMessageBoxes : public QObject
{
    Q_OBJECT

private slots:
    void look_data();
    void look();
    void askYesNoAnswers_data();
    void askYesNoAnswers();
    void errorBoxAndReport();
};

namespace {

struct Look
{
    Qt::WindowFlags flags;
    QString title;
    QString styleSheet;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QList<QMessageBox::StandardButton> buttonsLeftToRight;
    bool movable = false;
    bool linksActive = false;
};

Look lookOf(QMessageBox *box)
{
    Look look;
    look.flags = box->windowFlags();
    look.title = box->windowTitle();
    look.styleSheet = box->styleSheet();
    look.icon = box->icon();
    QList<QAbstractButton *> buttons = box->buttons();
    std::sort(buttons.begin(), buttons.end(),
              [](QAbstractButton *a, QAbstractButton *b) { return a->x() < b->x(); });
    for (QAbstractButton *b : buttons)
        look.buttonsLeftToRight << box->standardButton(b);
    look.movable = box->findChild<WinMovable *>() != nullptr;
    if (auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label")))
        look.linksActive = label->textInteractionFlags().testFlag(Qt::LinksAccessibleByMouse);
    return look;
}

} // namespace

void TestMessageBoxes::look_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QList<QMessageBox::StandardButton>>("buttons");
    QTest::newRow("info") << 0 << int(QMessageBox::Information)
                          << QList<QMessageBox::StandardButton>{QMessageBox::Ok};
    QTest::newRow("warning") << 1 << int(QMessageBox::Warning)
                             << QList<QMessageBox::StandardButton>{QMessageBox::Ok};
    QTest::newRow("question") << 2 << int(QMessageBox::Question)
                              << QList<QMessageBox::StandardButton>{QMessageBox::Yes, QMessageBox::No};
    QTest::newRow("error") << 3 << int(QMessageBox::Critical)
                           << QList<QMessageBox::StandardButton>{QMessageBox::Ok};
    QTest::newRow("all four") << 4 << int(QMessageBox::Information)
                              << QList<QMessageBox::StandardButton>{QMessageBox::Yes, QMessageBox::No,
                                                                    QMessageBox::Ok, QMessageBox::Cancel};
}

void TestMessageBoxes::look()
{
    QFETCH(int, kind);
    QFETCH(int, icon);
    QFETCH(QList<QMessageBox::StandardButton>, buttons);

    Look seen;
    BoxAnswerer user(buttons.first(), [&](QMessageBox *box) { seen = lookOf(box); });
    const QString text = QStringLiteral("Some <b>text</b>");
    switch (kind) {
    case 0:
        showInfo(text);
        break;
    case 1:
        showWarning(text);
        break;
    case 2:
        askYesNo(text);
        break;
    case 3:
        reportError(text);
        break;
    default:
        showMessageBox(QMessageBox::Information, text,
                       QMessageBox::Cancel | QMessageBox::Ok | QMessageBox::No | QMessageBox::Yes);
        break;
    }
    QVERIFY(user.answered);
    QVERIFY(seen.flags.testFlag(Qt::FramelessWindowHint));
    QCOMPARE(seen.flags & Qt::WindowType_Mask, Qt::Dialog);
    QCOMPARE(seen.title, QStringLiteral("Chatwharf"));
    QVERIFY(!seen.styleSheet.isEmpty());
    QCOMPARE(seen.styleSheet, appStyleSheet());
    QCOMPARE(int(seen.icon), icon);
    QVERIFY(seen.movable);
    // The error box carries the support address as a link the user can click.
    if (kind == 3)
        QVERIFY(seen.linksActive);

    // Exactly the requested buttons.
    auto sorted = [](QList<QMessageBox::StandardButton> list) {
        std::sort(list.begin(), list.end());
        return list;
    };
    QCOMPARE(sorted(seen.buttonsLeftToRight), sorted(buttons));

    // The on-screen order across roles is the platform's; buttons of the same
    // standing (Yes before No) keep the order they were added in under the
    // Windows layout, the default without a desktop.
    if (kind != 2)
        return;
    if (QApplication::style()->styleHint(QStyle::SH_DialogButtonLayout) != QDialogButtonBox::WinLayout)
        QSKIP("The desktop's button layout orders buttons its own way.");
    QCOMPARE(seen.buttonsLeftToRight, buttons);
}

void TestMessageBoxes::askYesNoAnswers_data()
{
    QTest::addColumn<int>("press");
    QTest::addColumn<bool>("answer");
    QTest::newRow("yes") << int(QMessageBox::Yes) << true;
    QTest::newRow("no") << int(QMessageBox::No) << false;
    QTest::newRow("escape") << int(QMessageBox::NoButton) << false;
}

void TestMessageBoxes::askYesNoAnswers()
{
    QFETCH(int, press);
    QFETCH(bool, answer);
    QString text;
    BoxAnswerer user(QMessageBox::StandardButton(press), [&](QMessageBox *box) { text = box->text(); });
    QCOMPARE(askYesNo(QStringLiteral("Delete 3 messages?")), answer);
    QVERIFY(user.answered);
    QCOMPARE(text, QStringLiteral("Delete 3 messages?"));
}

void TestMessageBoxes::errorBoxAndReport()
{
    QTemporaryDir dir;
    setupLogging(dir.filePath(QStringLiteral("qlogs")), 10);
    const QString error = QStringLiteral("Cannot open /tmp/x/Contacts.data.<br/>disk I/O error");
    QString text;
    BoxAnswerer user(QMessageBox::Ok, [&](QMessageBox *box) { text = box->text(); });
    reportError(error);
    QVERIFY(user.answered);
    QVERIFY2(text.startsWith(QStringLiteral("An Error Occurred. <br/><br/>") + error +
                             QStringLiteral("<br/><br/>")),
             qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("support@chatwharf.example")), qPrintable(text));
    QCOMPARE(text, errorBoxText(error));

    // The report follows the box into the log.
    QFile log(currentLogFilePath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString logged = QString::fromUtf8(log.readAll());
    QVERIFY2(logged.contains(QStringLiteral("Error report: Chatwharf ")), qPrintable(logged));
    QVERIFY2(logged.contains(error), qPrintable(logged));
    resetLoggingForTests();
}

QTEST_MAIN(TestMessageBoxes)
#include "tst_messageboxes.moc"
