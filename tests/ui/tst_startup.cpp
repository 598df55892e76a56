#include "app/AppConstants.h"
#include "app/DataFolder.h"
#include "app/Logging.h"
#include "app/StyleSheet.h"
#include "ui/Application.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

// Stands in for the user during start-up: answers modal boxes and closes the
// main window once it is up and no box is open.
class StartupUser : public QObject
{
public:
    StartupUser()
    {
        connect(&m_timer, &QTimer::timeout, this, &StartupUser::poll);
        m_timer.start(20);
    }

    QStringList boxTexts;
    QList<QMessageBox::Icon> boxIcons;
    bool windowShownBeforeBox = false;
    QString windowTitle;
    QString windowStyleSheet;
    bool windowSeen = false;

private:
    static MainWindow *visibleMainWindow()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *mw = qobject_cast<MainWindow *>(w); mw && mw->isVisible())
                return mw;
        return nullptr;
    }

    void poll()
    {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            if (!box->isVisible())
                return;
            boxTexts << box->text();
            boxIcons << box->icon();
            if (boxTexts.size() == 1)
                windowShownBeforeBox = visibleMainWindow() != nullptr;
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
            return;
        }
        if (MainWindow *window = visibleMainWindow()) {
            windowSeen = true;
            windowTitle = window->windowTitle();
            windowStyleSheet = window->styleSheet();
            window->close();
        }
    }

    QTimer m_timer;
};

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startsAndQuits();
    void missingDeviceLibraryWarns();
    void wrongDatabaseLayerStops();

private:
    QString dataPath() const
    {
        return m_profile->path() + QStringLiteral("/CorVanta/") + QLatin1String(AppConstants::kAppId);
    }

    std::unique_ptr<QTemporaryDir> m_profile;
    QByteArray m_oldXdg;
};

void TestStartup::init()
{
    m_oldXdg = qgetenv("XDG_DATA_HOME");
    m_profile = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_profile->path()));
    resetDataFolderForTests();
}

void TestStartup::cleanup()
{
    resetLoggingForTests();
    qputenv("XDG_DATA_HOME", m_oldXdg);
    resetDataFolderForTests();
    m_profile.reset();
}

void TestStartup::startsAndQuits()
{
    StartupEnvironment env = defaultStartupEnvironment();
    env.loadDeviceFramework = [](QString &) { return true; };
    StartupUser user;
    QCOMPARE(runStartup(env), 0);
    QVERIFY(user.windowSeen);
    QCOMPARE(user.windowTitle, QStringLiteral("Chatwharf"));
    QVERIFY(!user.windowStyleSheet.isEmpty());
    QCOMPARE(user.windowStyleSheet, appStyleSheet());
    QVERIFY(user.boxTexts.isEmpty());

    // The log of the day is open in the data folder's qlogs.
    const QString log = currentLogFilePath();
    QVERIFY2(log.startsWith(dataPath() + QStringLiteral("/qlogs/log-")), qPrintable(log));
    QVERIFY(QFileInfo(log).size() > 0);
}

void TestStartup::missingDeviceLibraryWarns()
{
    StartupEnvironment env = defaultStartupEnvironment();
    env.loadDeviceFramework = [](QString &error) {
        error = QStringLiteral("Failed to load (Mobile Device) framework.");
        return false;
    };
    StartupUser user;
    QCOMPARE(runStartup(env), 0);
    QCOMPARE(user.boxTexts.size(), 1);
    QCOMPARE(user.boxIcons.first(), QMessageBox::Warning);
    const QString text = user.boxTexts.first();
    QVERIFY2(text.startsWith(QStringLiteral("Failed to load (Apple Mobile Device) framework. Plese click ")),
             qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("href=\"%1\"").arg(QLatin1String(AppConstants::kDeviceHelpUrl))),
             qPrintable(text));
    QVERIFY(user.windowShownBeforeBox);
    QVERIFY(user.windowSeen);

    // The reason goes to the log for support.
    QFile log(currentLogFilePath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("Failed to load (Mobile Device) framework."));
}

void TestStartup::wrongDatabaseLayerStops()
{
    StartupEnvironment env = defaultStartupEnvironment();
    env.sqliteWrapperVersion = [] { return 5; };
    bool deviceAsked = false;
    env.loadDeviceFramework = [&](QString &) { return deviceAsked = true; };
    StartupUser user;
    QCOMPARE(runStartup(env), 1);
    QCOMPARE(user.boxTexts.size(), 1);
    QCOMPARE(user.boxIcons.first(), QMessageBox::Critical);
    QVERIFY2(user.boxTexts.first().contains(QStringLiteral("invalid libsqlite_qt.")),
             qPrintable(user.boxTexts.first()));
    QVERIFY(!user.windowShownBeforeBox);
    QVERIFY(!user.windowSeen);
    QVERIFY(!deviceAsked);
    // No data folder and no log.
    QVERIFY(!QFileInfo::exists(m_profile->path() + QStringLiteral("/CorVanta")));
    QCOMPARE(currentLogFilePath(), QString());
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
