#include "CliApp.h"

#include "app/AppConstants.h"
#include "app/DataFolder.h"
#include "app/Logging.h"
#include "app/Platform.h"
#include "app/Settings.h"
#include "export/MessageText.h"

#include <QGuiApplication>
#include <QTextStream>
#include <QTranslator>

#include <csignal>

namespace {

CliApp *g_app = nullptr;

// Ctrl+C takes the same way out as the dialog's Cancel: the worker stops and removes its partial output.
void interrupted(int)
{
    if (g_app)
        g_app->cancel();
}

} // namespace

int main(int argc, char **argv)
{
    // Until the log is set up, Qt's own notes (a missing runtime folder) would land among the output.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    // PDF pages and pictures are painted without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    settleLocalTimeZone();
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("Chatwharf"));
    QTranslator translator;
    if (translator.load(QStringLiteral(":/en.qm")))
        QCoreApplication::installTranslator(&translator);
    // What the workers log goes to the program's log, not among the command's output.
    setupLogging(dataFolder().filePath(QLatin1String(AppConstants::kLogFolder)), AppConstants::kLogFilesKept);
    setLogEcho(false);
    // Places link to the map site the user chose in the window.
    MessageText::setMapSite(AppSettings::mapSite());
    qDebug("chatwharf-cli %s: %s", CHATWHARF_VERSION,
           qUtf8Printable(QCoreApplication::arguments().mid(1).join(u' ')));

    QTextStream out(stdout);
    QTextStream err(stderr);
    CliApp cli(out, err);
    g_app = &cli;
    std::signal(SIGINT, interrupted);
    std::signal(SIGTERM, interrupted);
    const int code = cli.run(QCoreApplication::arguments());
    g_app = nullptr;
    return code;
}
