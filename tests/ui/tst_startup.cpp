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
    void startsAndQuits();
    void missingDeviceLibraryWarnsOverTheWindow();
    void wrongDatabaseLayerStopsBeforeAnything();
    void rootTurnsTheWebSandboxOff();

private:
    static MainWindow *shownWindow()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
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

void TestStartup::startsAndQuits()
{
    StartupEnvironment env = defaultStartupEnvironment();
    env.loadDeviceFramework = [](QString &) { return true; };
    QCOMPARE(runStartup(env), 0);
    QCOMPARE(m_windowStyle, appStyleSheet());
    QVERIFY(m_user->boxes.isEmpty());
    // The log of the day is open in the data folder.
    const QString log = currentLogFilePath();
    QVERIFY2(log.startsWith(dataFolder().filePath(u"qlogs/log-"_s)), qPrintable(log));
    QVERIFY(QFileInfo(log).size() > 0);
}

void TestStartup::missingDeviceLibraryWarnsOverTheWindow()
{
    StartupEnvironment env = defaultStartupEnvironment();
    env.loadDeviceFramework = [](QString &error) {
        error = u"Failed to load (Mobile Device) framework."_s;
        return false;
    };
    QCOMPARE(runStartup(env), 0);
    QCOMPARE(m_user->icons, QList<QMessageBox::Icon>{QMessageBox::Warning});
    const QString text = m_user->boxes.first();
    QVERIFY2(text.contains(u"href=\"%1\""_s.arg(QLatin1String(AppConstants::kDeviceHelpUrl))),
             qPrintable(text));
    QVERIFY(m_windowUnderFirstBox);
    QVERIFY(!m_windowStyle.isEmpty());
    // The reason goes to the log for support.
    QFile log(currentLogFilePath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("Failed to load (Mobile Device) framework."));
}

void TestStartup::wrongDatabaseLayerStopsBeforeAnything()
{
    StartupEnvironment env = defaultStartupEnvironment();
    env.sqliteWrapperVersion = [] { return AppConstants::kRequiredSqliteWrapperVersion - 1; };
    bool deviceAsked = false;
    env.loadDeviceFramework = [&](QString &) { return deviceAsked = true; };
    QCOMPARE(runStartup(env), 1);
    QCOMPARE(m_user->icons, QList<QMessageBox::Icon>{QMessageBox::Critical});
    QVERIFY2(m_user->boxes.first().contains(u"invalid libsqlite_qt."_s), qPrintable(m_user->boxes.first()));
    QVERIFY(m_windowStyle.isEmpty());
    QVERIFY(!deviceAsked);
    // No data folder and no log.
    QVERIFY(!QFileInfo::exists(m_data->profile() + u"/CorVanta"_s));
    QCOMPARE(currentLogFilePath(), QString());
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
