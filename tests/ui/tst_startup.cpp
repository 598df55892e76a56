#include "app/AppConstants.h"
#include "app/Logging.h"
#include "app/Platform.h"
#include "app/StyleSheet.h"
#include "support/ModalUser.h"
#include "support/TempDataFolder.h"
#include "ui/Application.h"
#include "ui/MainWindow.h"

#include <QtTest>

#include <optional>

#include <unistd.h>

using namespace Qt::StringLiterals;

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void starts_data();
    void starts();
    void rootTurnsTheWebSandboxOff();

private:
    static MainWindow *shownWindow()
    {
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget *w : windows)
            if (auto *window = qobject_cast<MainWindow *>(w); window && window->isVisible())
                return window;
        return nullptr;
    }

    std::optional<TempDataFolder> m_data;
    // Answers the boxes and closes the main window once it is up with no box open.
    std::optional<ModalUser> m_user;
    bool m_windowUnderFirstBox = false;
    QString m_windowStyle; // empty: no window came up
};

void TestStartup::init()
{
    m_data.emplace();
    m_user.emplace();
    m_windowUnderFirstBox = false;
    m_windowStyle.clear();
    m_user->intercept = [this](QWidget *) {
        if (m_user->boxes.isEmpty())
            m_windowUnderFirstBox = shownWindow();
        return false;
    };
    m_user->idle = [this] {
        if (MainWindow *window = shownWindow()) {
            m_windowStyle = window->styleSheet();
            window->close();
        }
    };
}

void TestStartup::cleanup()
{
    resetLoggingForTests();
    m_user.reset();
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
    QCOMPARE(m_user->boxes.size(), box.isEmpty() ? 0 : 1);
    QVERIFY2(m_user->boxes.value(0).contains(box), qPrintable(m_user->boxes.value(0)));
    QCOMPARE(m_user->icons, box.isEmpty() ? QList<QMessageBox::Icon>()
                                          : QList<QMessageBox::Icon>{exitCode ? QMessageBox::Critical
                                                                              : QMessageBox::Warning});
    QCOMPARE(m_windowUnderFirstBox, !box.isEmpty() && exitCode == 0);
    QCOMPARE(m_windowStyle, exitCode ? QString() : appStyleSheet());
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
    const QByteArray kept = qgetenv("QTWEBENGINE_DISABLE_SANDBOX");
    const bool wasSet = qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX");
    qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
    prepareWebEngineForUser();
    QCOMPARE(qgetenv("QTWEBENGINE_DISABLE_SANDBOX"), geteuid() == 0 ? QByteArray("1") : QByteArray());
    // What the environment decided stays.
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "0");
    prepareWebEngineForUser();
    QCOMPARE(qgetenv("QTWEBENGINE_DISABLE_SANDBOX"), QByteArray("0"));
    if (wasSet)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", kept);
    else
        qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
