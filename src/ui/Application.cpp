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
#include <QCommandLineParser>
#include <QFileInfo>
#include <QTranslator>

#include <cstdio>
#include <cstring>
#include <exception>

namespace {

bool asksForHelpOrVersion(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        for (const char *option : {"-h", "--help", "--help-all", "-v", "--version"})
            if (std::strcmp(argv[i], option) == 0)
                return true;
    return false;
}

// --help and --version answer on the terminal, without a display and before the
// web engine is set up, so that they also work over ssh and for the manual page.
int answerHelpOrVersion(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTranslator translator;
    if (translator.load(QStringLiteral(":/en.qm")))
        QCoreApplication::installTranslator(&translator);
    const QString program = QFileInfo(QCoreApplication::arguments().value(0)).fileName();
    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate("Application", "IDS_APP_DESCRIPTION"));
    parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    // Qt's own options (-style, -platform) are no error here; the window takes them.
    parser.parse(QCoreApplication::arguments());
    QString text;
    if (parser.isSet(version)) {
        text = program + QLatin1Char(' ') + QLatin1String(CHATWHARF_VERSION) + QLatin1Char('\n');
    } else {
        // The parser names the program by the path it was started with.
        text = parser.helpText();
        text.replace(QCoreApplication::arguments().value(0), program);
    }
    std::fputs(text.toLocal8Bit().constData(), stdout);
    return 0;
}

} // namespace

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
    if (asksForHelpOrVersion(argc, argv))
        return answerHelpOrVersion(argc, argv);
    settleLocalTimeZone();
    prepareWebEngineForUser();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Chatwharf"));
    QApplication::setApplicationVersion(QStringLiteral(CHATWHARF_VERSION));
    return runStartup(defaultStartupEnvironment());
}
