#include "app/AppConstants.h"
#include "app/Logging.h"
#include "app/Platform.h"
#include "app/StyleSheet.h"
#include "app/UpdateCheck.h"
#include "support/ModalUser.h"
#include "support/TempDataFolder.h"
#include "support/TestSupport.h"
#include "ui/Application.h"
#include "ui/MainWindow.h"
#include "ui/MessageBoxes.h"
#include "ui/WinMovable.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QSignalSpy>
#include <QStyle>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <optional>

#include <unistd.h>

using namespace Qt::StringLiterals;
using Buttons = QList<QMessageBox::StandardButton>;

// What surrounds the main window: start-up, the message boxes, and the daily
// update check with its announcement. Each test has a data folder of its own.
class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void starts_data();
    void starts();
    void rootTurnsTheWebSandboxOff();
    void look_data();
    void look();
    void repliesAreReadSafely_data();
    void repliesAreReadSafely();
    void checkAsksOnceADayAndFailsQuietly();
    void windowShowsAnnouncementOnlyWhenFetched();

private:
    // The service's pages are files, which the network layer reads like any address.
    void reply(const QString &page, const QByteArray &body)
    {
        QVERIFY(testsupport::writeFile(m_data->profile() + u"/service/"_s + page, body));
    }
    static MainWindow *shownWindow()
    {
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget *w : windows)
            if (auto *window = qobject_cast<MainWindow *>(w); window && window->isVisible())
                return window;
        return nullptr;
    }

    std::optional<TempDataFolder> m_data;
    QString m_service; // address of the service
};

void TestStartup::init()
{
    m_data.emplace();
    QVERIFY(QDir(m_data->profile()).mkpath(u"service"_s));
    m_service = QUrl::fromLocalFile(m_data->profile() + u"/service"_s).toString();
}

void TestStartup::cleanup()
{
    resetLoggingForTests();
    m_data.reset();
}

void TestStartup::starts_data()
{
    QTest::addColumn<int>("sqliteWrapper");   // its version less the one required
    QTest::addColumn<QString>("deviceError"); // of loading the device library
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("box"); // a part of the one box shown
    QTest::newRow("all there") << 0 << QString() << 0 << QString();
    // Only a warning, over the window, with help; the reason goes to the log for support.
    QTest::newRow("no device library") << 0 << u"Failed to load (Mobile Device) framework."_s << 0
                                       << u"href=\"%1\""_s.arg(QLatin1String(AppConstants::kDeviceHelpUrl));
    // Nothing starts: no device library, window, data folder or log.
    QTest::newRow("wrong database layer") << -1 << QString() << 1 << u"invalid libsqlite_qt."_s;
}

void TestStartup::starts()
{
    QFETCH(int, sqliteWrapper);
    QFETCH(QString, deviceError);
    QFETCH(int, exitCode);
    QFETCH(QString, box);
    // Answers the boxes and closes the main window once it is up with no box open.
    ModalUser user;
    bool windowUnderFirstBox = false;
    QString windowStyle; // empty: no window came up
    user.intercept = [&](QWidget *) {
        windowUnderFirstBox = windowUnderFirstBox || (user.boxes.isEmpty() && shownWindow());
        return false;
    };
    user.idle = [&] {
        if (MainWindow *window = shownWindow()) {
            windowStyle = window->styleSheet();
            window->close();
        }
    };
    StartupEnvironment env = defaultStartupEnvironment();
    env.sqliteWrapperVersion = [&] { return AppConstants::kRequiredSqliteWrapperVersion + sqliteWrapper; };
    bool deviceAsked = false;
    env.loadDeviceFramework = [&](QString &error) {
        deviceAsked = true;
        error = deviceError;
        return error.isEmpty();
    };
    QCOMPARE(runStartup(env), exitCode);
    QCOMPARE(deviceAsked, exitCode == 0);
    QCOMPARE(user.boxes.size(), box.isEmpty() ? 0 : 1);
    QVERIFY2(user.boxes.value(0).contains(box), qPrintable(user.boxes.value(0)));
    QCOMPARE(user.icons, box.isEmpty() ? QList<QMessageBox::Icon>()
                                       : QList<QMessageBox::Icon>{exitCode ? QMessageBox::Critical
                                                                           : QMessageBox::Warning});
    QCOMPARE(windowUnderFirstBox, !box.isEmpty() && exitCode == 0);
    QCOMPARE(windowStyle, exitCode ? QString() : appStyleSheet());
    if (exitCode) {
        QVERIFY(!QFileInfo::exists(m_data->profile() + u"/CorVanta"_s));
        QCOMPARE(currentLogFilePath(), QString());
        return;
    }
    // The log of the day is open in the data folder.
    QVERIFY2(currentLogFilePath().startsWith(dataFolder().filePath(u"qlogs/log-"_s)),
             qPrintable(currentLogFilePath()));
    QFile log(currentLogFilePath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.size() > 0 && log.readAll().contains(deviceError.toUtf8()));
}

void TestStartup::rootTurnsTheWebSandboxOff()
{
    const std::optional<QByteArray> kept = qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")
                                               ? std::optional(qgetenv("QTWEBENGINE_DISABLE_SANDBOX"))
                                               : std::nullopt;
    qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
    prepareWebEngineForUser();
    QCOMPARE(qgetenv("QTWEBENGINE_DISABLE_SANDBOX"), geteuid() == 0 ? QByteArray("1") : QByteArray());
    // What the environment decided stays.
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "0");
    prepareWebEngineForUser();
    QCOMPARE(qgetenv("QTWEBENGINE_DISABLE_SANDBOX"), QByteArray("0"));
    kept ? void(qputenv("QTWEBENGINE_DISABLE_SANDBOX", *kept))
         : void(qunsetenv("QTWEBENGINE_DISABLE_SANDBOX"));
}

void TestStartup::look_data()
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
    for (const auto &[name, press] : {std::pair("yes", QMessageBox::Yes), std::pair("no", QMessageBox::No),
                                      std::pair("escape", QMessageBox::NoButton)})
        QTest::addRow("question, %s", name)
            << 2 << int(QMessageBox::Question) << yesNo << int(press) << (press == QMessageBox::Yes);
    QTest::newRow("all four") << 4 << int(QMessageBox::Information)
                              << Buttons{QMessageBox::Yes, QMessageBox::No, QMessageBox::Ok,
                                         QMessageBox::Cancel}
                              << int(QMessageBox::Yes) << false;
}

void TestStartup::look()
{
    QFETCH(int, kind);
    QFETCH(int, icon);
    QFETCH(Buttons, buttons);
    QFETCH(int, press);
    QFETCH(bool, yes);
    ModalUser user;
    user.answer = QMessageBox::StandardButton(press);
    Buttons shown; // left to right
    bool framelessMovableStyled = false, linksOurs = false;
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
        return false;
    };
    const QString text = u"Some <b>text</b>"_s;
    if (kind == 3)
        setupLogging(m_data->profile() + u"/qlogs"_s, 10);
    bool answer = false;
    const std::function<void()> show[] = {[&] { showInfo(text); }, [&] { showWarning(text); },
                                          [&] { answer = askYesNo(text); }, [&] { reportError(text); },
                                          [&] {
                                              showMessageBox(QMessageBox::Information, text,
                                                             QMessageBox::Cancel | QMessageBox::Ok |
                                                                 QMessageBox::No | QMessageBox::Yes);
                                          }};
    show[kind]();
    QVERIFY(framelessMovableStyled);
    QCOMPARE(linksOurs, kind == 3); // the support address
    if (kind == 3) {                // the report follows the box into the log
        QFile log(currentLogFilePath());
        QVERIFY(log.open(QIODevice::ReadOnly) && log.readAll().contains("Error report: Chatwharf "));
    }
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

void TestStartup::repliesAreReadSafely_data()
{
    QTest::addColumn<char>("kind"); // the service's download address or announcement, or the day's stamp
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("shown");
    QTest::newRow("address") << 'd' << QByteArray("  http://dl.example/setup-3.2.exe\r\n")
                             << u"http://dl.example/setup-3.2.exe"_s;
    QTest::newRow("up to date") << 'd' << QByteArray("0") << QString();
    QTest::newRow("other scheme") << 'd' << QByteArray("ftp://x/y") << QString();
    // Only the link's address and text are taken; the label's HTML is built anew.
    QTest::newRow("link")
        << 'a'
        << QByteArray("<a href=\"https://cw.example/news\" onclick=\"x()\">New <b>release</b> & "
                      "more</a><script>bad()</script>")
        << u"<a href=\"https://cw.example/news\" style=\"color:#FF8B00;\">New release &amp; more</a>"_s;
    QTest::newRow("script address") << 'a' << QByteArray("<a href=\"javascript:alert(1)\">x</a>")
                                    << QString();
    QTest::newRow("no link") << 'a' << QByteArray("plain text") << QString();
    QTest::newRow("empty link") << 'a' << QByteArray("<a href=\"https://x.example/\"></a>") << QString();
    // A stamp's age in seconds, else its file's bytes; a check is due past a day.
    // A stamp from the future (the clock was set back) does not silence the check.
    QTest::newRow("no stamp") << 's' << QByteArray() << u"due"_s;
    QTest::newRow("stamp 100 s") << 's' << QByteArray("100") << QString();
    QTest::newRow("stamp a day") << 's' << QByteArray("86400") << QString();
    QTest::newRow("stamp a day and 1 s") << 's' << QByteArray("86401") << u"due"_s;
    QTest::newRow("stamp from the future") << 's' << QByteArray("-3600") << u"due"_s;
    QTest::newRow("garbled stamp") << 's' << QByteArray("yesterday") << u"due"_s;
}

void TestStartup::repliesAreReadSafely()
{
    QFETCH(char, kind);
    QFETCH(QByteArray, reply);
    QFETCH(QString, shown);
    if (kind != 's') {
        QCOMPARE(kind == 'd' ? UpdateCheck::downloadAddress(reply) : UpdateCheck::announcement(reply), shown);
        return;
    }
    const QString stamp = m_data->profile() + u"/stamp"_s;
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1800000000);
    bool isAge = false;
    const int age = reply.toInt(&isAge);
    if (isAge)
        QVERIFY(UpdateCheck::writeStamp(stamp, now.addSecs(-age)));
    else if (!reply.isEmpty())
        QVERIFY(testsupport::writeFile(stamp, reply));
    QCOMPARE(UpdateCheck::isCheckDue(stamp, now) ? u"due"_s : QString(), shown);
}

void TestStartup::checkAsksOnceADayAndFailsQuietly()
{
    reply(u"sms_check_update.php"_s, "http://127.0.0.1/setup-9.exe");
    UpdateCheck check(m_service, m_data->profile());
    QSignalSpy offered(&check, &UpdateCheck::newVersionAvailable);
    QVERIFY(check.checkIfDue());
    QTRY_COMPARE(offered.size(), 1);
    QCOMPARE(offered.first().first().toString(), u"http://127.0.0.1/setup-9.exe"_s);
    QVERIFY(!check.checkIfDue()); // within the day
    // Asked by the user, with nothing newer.
    reply(u"sms_check_update.php"_s, "0");
    QSignalSpy upToDate(&check, &UpdateCheck::upToDate);
    QVERIFY(check.checkNow());
    QTRY_COMPARE(upToDate.size(), 1);
    QCOMPARE(offered.size(), 1);

    // A service that does not answer: an automatic check tells only the log,
    // and the attempt counts, so the next is tomorrow rather than at every start.
    const QString lost = m_service + u"/gone"_s;
    UpdateCheck failing(lost, m_data->profile() + u"/service"_s);
    QSignalSpy failed(&failing, &UpdateCheck::checkFailed);
    QSignalSpy news(&failing, &UpdateCheck::announcementReady);
    QVERIFY(failing.checkIfDue() && failing.fetchAnnouncement());
    QTest::qWait(300);
    QCOMPARE(failed.size() + news.size(), 0);
    QVERIFY(!UpdateCheck::isCheckDue(failing.stampFile(), QDateTime::currentDateTimeUtc()));
    QVERIFY(failing.checkNow());
    QTRY_COMPARE(failed.size(), 1);
    QVERIFY(failed.first().first().toString().contains(lost));

    UpdateCheck none(QString(), m_data->profile()); // without an address nothing is asked
    QVERIFY(!none.checkIfDue() && !none.fetchAnnouncement());
}

void TestStartup::windowShowsAnnouncementOnlyWhenFetched()
{
    ModalUser user;
    user.answer = QMessageBox::No; // to any offer of a new version
    reply(u"adv.php"_s, "<a href=\"https://cw.example/tips\">Tips</a>");
    reply(u"sms_check_update.php"_s, "0");
    MainWindow::Options options;
    options.serviceBaseUrl = m_service;
    options.peripheryDelayMs = 0;
    {
        MainWindow window(options);
        window.show();
        auto *label = window.findChild<QLabel *>(u"lbAdvLink"_s);
        QVERIFY(label->isHidden());
        QTRY_VERIFY(label->isVisible());
        QVERIFY(label->text().contains(u"#FF8B00;\">Tips</a>"_s));
        QFile adv(dataFolder().filePath(u"last-adv"_s));
        QVERIFY(adv.open(QIODevice::ReadOnly) && adv.readAll().contains("https://cw.example/tips"));
    }
    // The check is not due again (else it would offer this); the announcement is
    // asked every time.
    reply(u"sms_check_update.php"_s, "http://127.0.0.1/setup-9.exe");
    reply(u"adv.php"_s, "nothing today");
    MainWindow window(options);
    window.show();
    QTest::qWait(300);
    QVERIFY(window.findChild<QLabel *>(u"lbAdvLink"_s)->isHidden());
    QVERIFY(user.boxes.isEmpty());
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
