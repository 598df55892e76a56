#include "ToolsActions.h"

#include "AboutDlg.h"
#include "MessageBoxes.h"
#include "VBBubbleViewMgr.h"
#include "app/AppConstants.h"
#include "app/DataFolder.h"
#include "app/FileHelpers.h"
#include "app/Logging.h"
#include "app/Platform.h"
#include "app/Settings.h"
#include "app/UpdateCheck.h"
#include "export/MessageText.h"
#include "itunes/BackupLocations.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>

ToolsController::ToolsController(QMainWindow *window, const Options &options)
    : QObject(window), m_window(window), m_options(options)
{
    m_advLabel = new QLabel(window);
    m_advLabel->setObjectName(QStringLiteral("lbAdvLink"));
    m_advLabel->setTextFormat(Qt::RichText);
    m_advLabel->setOpenExternalLinks(true);
    m_advLabel->hide();
    window->statusBar()->addPermanentWidget(m_advLabel);

    m_updateCheck = new UpdateCheck(m_options.serviceBaseUrl, dataFolder().path(), this);
    connect(m_updateCheck, &UpdateCheck::newVersionAvailable, this, &ToolsController::onNewVersion);
    connect(m_updateCheck, &UpdateCheck::announcementReady, this, &ToolsController::onAnnouncement);
    connect(m_updateCheck, &UpdateCheck::upToDate, this,
            [this] { showInfo(tr("IDS_NO_NEW_VERSION"), m_window); });
    connect(m_updateCheck, &UpdateCheck::checkFailed, this,
            [this](const QString &error) { showWarning(error, m_window); });
}

void ToolsController::start()
{
    // Nothing leaves the computer unless the user asked for it.
    if (m_options.serviceBaseUrl.isEmpty() || !m_options.automaticUpdateCheck)
        return;
    QTimer::singleShot(m_options.peripheryDelayMs, this, [this] {
        m_updateCheck->checkIfDue();
        m_updateCheck->fetchAnnouncement();
    });
}

void ToolsController::onNewVersion(const QString &downloadUrl)
{
    if (askYesNo(tr("IDS_NEW_VERSION_AVAILABLE_%1").arg(tr("Chatwharf")), m_window)) {
        openUrl(downloadUrl);
        m_window->close();
    }
}

void ToolsController::onAnnouncement(const QString &html)
{
    m_advLabel->setText(html);
    m_advLabel->setVisible(!html.isEmpty());
}

void ToolsController::checkUpdate()
{
    if (m_options.serviceBaseUrl.isEmpty()) {
        showInfo(tr("IDS_NO_UPDATE_SERVICE_%1").arg(QLatin1String(AboutDlg::kVersion)), m_window);
        return;
    }
    m_updateCheck->checkNow();
}

void ToolsController::setAutomaticUpdateCheck(bool on)
{
    m_options.automaticUpdateCheck = on;
    AppSettings::setAutomaticUpdateCheck(on);
}

QAction *ToolsController::automaticCheckAction()
{
    auto *automatic = new QAction(tr("IDS_MI_AUTO_UPDATE_CHECK"), m_window);
    automatic->setObjectName(QStringLiteral("IDS_MI_AUTO_UPDATE_CHECK"));
    automatic->setCheckable(true);
    const bool service = !m_options.serviceBaseUrl.isEmpty();
    automatic->setChecked(m_options.automaticUpdateCheck && service);
    // Without a service to ask, turning it on would do nothing: it says why instead.
    automatic->setEnabled(service);
    if (!service)
        automatic->setToolTip(tr("IDS_TIP_NO_UPDATE_SERVICE"));
    connect(automatic, &QAction::toggled, this, &ToolsController::setAutomaticUpdateCheck);
    return automatic;
}

void ToolsController::help()
{
    // The help ships with the program: it reads the same offline and matches this version.
    if (!m_help) {
        m_help = new QDialog(m_window);
        m_help->setObjectName(QStringLiteral("helpDialog"));
        m_help->setWindowTitle(tr("IDS_MI_HELP"));
        auto *page = new QTextBrowser(m_help);
        page->setOpenExternalLinks(true);
        page->setSource(QUrl(QStringLiteral("qrc:/help/index.html")));
        auto *layout = new QVBoxLayout(m_help);
        layout->addWidget(page);
        m_help->resize(720, 640);
    }
    m_help->show();
    m_help->raise();
}

void ToolsController::feedback()
{
    // Where to write and what to attach, rather than a mail program that may not be set up.
    const QString address = QLatin1String(AppConstants::kSupportEmail);
    showInfo(tr("IDS_FEEDBACK_%1_%2")
                 .arg(QStringLiteral("<a href=\"mailto:%1\">%1</a>").arg(address),
                      QDir::toNativeSeparators(currentLogFilePath()).toHtmlEscaped()),
             m_window);
}

void ToolsController::about()
{
    AboutDlg dialog(m_window);
    dialog.exec();
}

void ToolsController::clearCache()
{
    // The stores of connected devices live there and are read again on connection;
    // copies of backups are made again on the next import.
    for (const char *cache : {AppConstants::kDeviceCacheFolder, AppConstants::kBackupCacheFolder})
        removeFolderTree(dataFolder().filePath(QLatin1String(cache)));
    BackupLocations::clearBackupWorkFolder();
    showInfo(tr("IDS_SUC_CLEAR_CACHE"), m_window);
}

QMenu *ToolsController::mapSiteMenu(std::function<void()> shownChanged)
{
    // Places are links, never pictures fetched from a map service: the user picks
    // where they open.
    MessageText::setMapSite(AppSettings::mapSite());
    auto *menu = new QMenu(tr("IDS_MI_MAP_SITE"), m_window);
    menu->setObjectName(QStringLiteral("menuMapSite"));
    menu->setIcon(QIcon(QStringLiteral(":/res/open_db_folder.png")));
    auto *group = new QActionGroup(menu);
    const std::pair<const char *, const char *> sites[] = {
        {QT_TR_NOOP("IDS_MAP_SITE_OPENSTREETMAP"), ""},
        {QT_TR_NOOP("IDS_MAP_SITE_GOOGLE"), "https://www.google.com/maps/search/?api=1&query=%1,%2"},
        {QT_TR_NOOP("IDS_MAP_SITE_BING"), "https://www.bing.com/maps?cp=%1~%2&lvl=16"},
    };
    const QString current = AppSettings::mapSite();
    for (const auto &[name, address] : sites) {
        QAction *site = menu->addAction(tr(name));
        site->setObjectName(QLatin1String(name));
        site->setCheckable(true);
        site->setChecked(current == QLatin1String(address));
        group->addAction(site);
        connect(site, &QAction::triggered, this, [shownChanged, address = QString::fromLatin1(address)] {
            AppSettings::setMapSite(address);
            MessageText::setMapSite(address);
            shownChanged();
        });
    }
    return menu;
}

QComboBox *ToolsController::pageSizeChooser(QWidget *parent, VBBubbleViewMgr *bubbles)
{
    // A long chat reads faster in larger pages; the choice is kept for the next start.
    auto *sizes = new QComboBox(parent);
    sizes->setObjectName(QStringLiteral("cbPageSize"));
    sizes->setToolTip(tr("IDS_TIP_PAGE_SIZE"));
    const int chosen = AppSettings::bubblePageSize();
    for (int size : {50, 100, 200, 500, 1000}) {
        sizes->addItem(tr("IDS_PAGE_SIZE_%n", nullptr, size), size);
        if (size == chosen)
            sizes->setCurrentIndex(sizes->count() - 1);
    }
    bubbles->setPageSize(sizes->currentData().toInt());
    connect(sizes, &QComboBox::currentIndexChanged, this, [bubbles, sizes] {
        const int size = sizes->currentData().toInt();
        bubbles->setPageSize(size);
        AppSettings::setBubblePageSize(size);
    });
    return sizes;
}
