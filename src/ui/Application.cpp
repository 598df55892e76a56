#include "Application.h"

#include "MainWindow.h"
#include "MessageBoxes.h"
#include "app/AppConstants.h"
#include "app/DataFolder.h"
#include "app/Logging.h"
#include "app/Platform.h"
#include "device/MobileDevice.h"
#include "viber/Sqlite3DB.h"

#include <QApplication>
#include <QTranslator>

#include <exception>

StartupEnvironment defaultStartupEnvironment()
{
    return {&sqlite_qt_version, &mobiledevice_load_framework};
}

int runStartup(const StartupEnvironment &environment)
{
    QTranslator translator;
    if (translator.load(QStringLiteral(":/en.qm")))
        QCoreApplication::installTranslator(&translator);

    if (environment.sqliteWrapperVersion() != AppConstants::kRequiredSqliteWrapperVersion) {
        reportError(QCoreApplication::translate("Application", "invalid libsqlite_qt."));
        return 1;
    }

    const QString logFolder = dataFolder().filePath(QLatin1String(AppConstants::kLogFolder));
    setupLogging(logFolder, AppConstants::kLogFilesKept);
    qDebug("Chatwharf %s starting; data folder %s", CHATWHARF_VERSION, qUtf8Printable(dataFolder().path()));

    // Without the device library the program still reads backups, local
    // databases and Viber Desktop data, so this is only a warning.
    QString deviceError;
    const bool deviceLoaded = environment.loadDeviceFramework(deviceError);
    if (!deviceLoaded)
        qWarning("Device library not loaded: %s", qUtf8Printable(deviceError));

    try {
        MainWindow::Options options = MainWindow::defaultOptions();
        options.deviceLibraryLoaded = deviceLoaded;
        MainWindow window(options);
        window.show();
        if (!deviceLoaded) {
            showWarning(QCoreApplication::translate("Application", "IDS_NONE_INSTALL_ITUNES")
                            .arg(QLatin1String(AppConstants::kDeviceHelpUrl)),
                        &window);
        }
        return QApplication::exec();
    } catch (const std::exception &e) {
        // Handlers catch their own errors; this is the last stop before the
        // process would end without a word.
        reportError(QString::fromUtf8(e.what()));
        return 1;
    }
}

int runChatwharf(int argc, char **argv)
{
    prepareWebEngineForUser();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Chatwharf"));
    QApplication::setApplicationVersion(QStringLiteral(CHATWHARF_VERSION));
    return runStartup(defaultStartupEnvironment());
}
