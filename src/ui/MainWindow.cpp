#include "MainWindow.h"
#include "ui_MainWindow.h"

#include "AboutDlg.h"
#include "DeviceActions.h"
#include "ExportActions.h"
#include "ImportActions.h"
#include "LocalDbActions.h"
#include "MessageBoxes.h"
#include "RunWorker.h"
#include "ScopeChoice.h"
#include "SearchActions.h"
#include "TransferActions.h"
#include "VBBubbleViewMgr.h"
#include "app/AppConstants.h"
#include "app/DataFolder.h"
#include "app/FileHelpers.h"
#include "app/Logging.h"
#include "app/Platform.h"
#include "app/Settings.h"
#include "app/StyleSheet.h"
#include "app/UpdateCheck.h"
#include "device/MobileDevice.h"
#include "export/MessageText.h"
#include "itunes/BackupLocations.h"
#include "viber/IOSViberDb.h"
#include "viber/LocalDatabases.h"
#include "workers/LoadViberMsgThread.h"

#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

namespace {

constexpr const char *kVirtualDevicesFolder = "virtual_ios";
constexpr const char *kDeviceStoreFile = "Documents/Contacts.data";
constexpr int kChatPictureWidth = 32;
// Reads shorter than this show no progress dialog.
constexpr int kLoadDialogDelayMs = 300;

// Messages of one source by date, ties in the store's order; the two directions are
// exact mirrors.
void sortByDate(QList<_ViberMsg *> &messages, Qt::SortOrder order)
{
    std::stable_sort(messages.begin(), messages.end(),
                     order == Qt::AscendingOrder ? msgDateLess : msgDateNotLess);
}

} // namespace

MainWindow::Options MainWindow::defaultOptions()
{
    Options options;
    options.serviceBaseUrl = AppSettings::updateServiceUrl();
    options.automaticUpdateCheck = AppSettings::automaticUpdateCheck();
    return options;
}

MainWindow::MainWindow(QWidget *parent) : MainWindow(defaultOptions(), parent) {}

MainWindow::MainWindow(const Options &options, QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::MainWindow>()), m_treeModel(new ItemModelMain(this)),
      m_smsModel(new ItemModelSms(this)), m_bubbleView(new VBBubbleViewMgr(this)), m_options(options),
      m_deviceLoader(&DeviceLoading::loadInto), m_folderOpener(&openFolder),
      m_localDb(std::make_unique<LocalDbController>(static_cast<WindowContext &>(*this))),
      m_exports(std::make_unique<ExportController>(static_cast<WindowContext &>(*this))),
      m_imports(std::make_unique<ImportController>(static_cast<WindowContext &>(*this), *m_localDb)),
      m_transfers(std::make_unique<TransferController>(static_cast<WindowContext &>(*this)))
{
    // Tests replace the opener after construction: the controller asks the window each time.
    m_localDb->setFolderOpener([this](const QString &path) { return m_folderOpener(path); });
    ui->setupUi(this);
    m_bubbleView->attach(ui->webViewSMS);
    m_search = new SearchController({this, ui->treeViewSMS, m_smsModel, m_bubbleView, ui->txtSMSKeyword,
                                     ui->lbSearchCount, ui->treeViewDS, m_treeModel, ui->txtHandleKeyword},
                                    this);
    setStyleSheet(appStyleSheet());
    ui->splitter->setSizes({200, 450, 350});
    // The tree's roots stay readable in a narrow window.
    ui->treeViewDS->setMinimumWidth(
        QFontMetrics(ui->treeViewDS->font()).horizontalAdvance(m_treeModel->rootOpened()->text) + 64);

    ui->treeViewDS->setModel(m_treeModel);
    ui->treeViewDS->setIconSize(QSize(18, 18));
    ui->treeViewSMS->setModel(m_smsModel);
    ui->treeViewSMS->setIconSize(QSize(18, 18));
    QHeaderView *header = ui->treeViewSMS->header();
    header->setSectionsMovable(false);
    header->setSortIndicatorShown(true);
    header->setStretchLastSection(true);
    ui->treeViewSMS->setColumnWidth(0, 160);
    ui->treeViewSMS->setColumnWidth(1, 50);
    ui->treeViewSMS->setColumnWidth(2, 120);
    header->setSortIndicator(0, Qt::AscendingOrder);
    // Titles come from stores: a group called "<b>x</b>" is shown as typed.
    ui->lbChatName->setTextFormat(Qt::PlainText);
    ui->lbSMSCount->setTextFormat(Qt::PlainText);
    ui->txtHandleKeyword->setPlaceholderText(tr("IDS_SEARCH_CONTACT_HINT"));
    ui->txtSMSKeyword->setPlaceholderText(tr("IDS_SEARCH_MESSAGE_HINT"));
    buildPageSizeChooser();

    connect(ui->treeViewDS, &MyTreeView::onSelectionChanged, this, &MainWindow::onMainTreeSelected);
    connect(ui->treeViewDS, &MyTreeView::createContextMenu, this, &MainWindow::onMainTreeContextMenu);
    connect(ui->treeViewSMS, &MyTreeView::onSelectionChanged, this, &MainWindow::onSMSItemSelected);
    connect(ui->treeViewSMS, &MyTreeView::createContextMenu, this, &MainWindow::onSMSContextMenu);
    connect(ui->btnSearchHandle, &QToolButton::pressed, this, &MainWindow::searchCotnact);
    connect(ui->txtHandleKeyword, &QLineEdit::returnPressed, this, &MainWindow::searchCotnact);
    connect(ui->btnSearchSMS, &QToolButton::pressed, this, &MainWindow::searchMessages);
    connect(ui->txtSMSKeyword, &QLineEdit::returnPressed, this, &MainWindow::searchMessages);
    connect(header, &QHeaderView::sortIndicatorChanged, this, &MainWindow::onSMSSortIndicatorChanged);

    ui->treeViewDS->expandAll();
    setWindowTitle(tr("Chatwharf"));
    setWindowIcon(QIcon(QStringLiteral(":/res/logo.png")));
    clearViews();
    ui->lbChatImg->installEventFilter(this);

    m_advLabel = new QLabel(this);
    m_advLabel->setObjectName(QStringLiteral("lbAdvLink"));
    m_advLabel->setTextFormat(Qt::RichText);
    m_advLabel->setOpenExternalLinks(true);
    m_advLabel->hide();
    statusBar()->addPermanentWidget(m_advLabel);

    buildActions();
    buildMenus();
    installShortcuts();
    updateActions();

    if (m_options.deviceLibraryLoaded) {
        try {
            mobiledevice_subscribe(this, "iosDeviceConnected", "iosDeviceDisconnected");
        } catch (const std::exception &e) {
            // Backups and local databases still work; the log says why devices do not.
            qWarning("Cannot watch for devices: %s", e.what());
        }
    }

    addStartupSources();
    connect(m_bubbleView, &VBBubbleViewMgr::welcomeLinkClicked, this, &MainWindow::onWelcomeLink);
    startPeriphery();
    resize(1040, 680);
}

MainWindow::~MainWindow()
{
    if (m_options.deviceLibraryLoaded)
        mobiledevice_unsubscribe();
    // The views hold pointers into the sources' records: empty them first.
    m_bubbleView->showBubble(ViberMsgList());
    m_smsModel->clear();
    // Decrypted copies are kept while shown, not once the window is gone.
    for (const _IOSDeviceItemNode *device : m_treeModel->deviceNodes())
        removeFolderTree(device->desc.privateFolder);
}

void MainWindow::setDeviceLoader(DeviceLoader loader)
{
    m_deviceLoader = std::move(loader);
}

void MainWindow::setFolderOpener(FolderOpener opener)
{
    m_folderOpener = opener ? std::move(opener) : FolderOpener(&openFolder);
}

// --- Actions, menus, toolbar -------------------------------------------------

QString MainWindow::menuIcon(const char *key)
{
    // An entry's picture follows its action, whatever the scope in its name, so that
    // no menu has a gap where a picture belongs.
    static const std::pair<const char *, const char *> pictures[] = {
        {"IDS_MI_BACKUP", ":/res/backup.png"},
        {"IDS_MI_I2I", ":/res/i2i.png"},
        {"IDS_MI_DB2I", ":/res/db2i.png"},
        {"IDS_MI_EXTRACT_MEDIA", ":/res/extract_media.png"},
        {"IDS_MI_EXPORT_CALL", ":/res/export_calls.png"},
        {"IDS_MI_EXPORT_TO_ITUNES", ":/res/load_itunes.png"},
        {"IDS_MI_EXPORT", ":/res/export.png"},
        {"IDS_MI_PRINT", ":/res/print.png"},
        {"IDS_MI_DELETE", ":/res/delete.png"},
        {"IDS_MI_IMPORT_FROM_PC", ":/res/database.png"},
        {"IDS_MI_SHOW_ACCOUNT", ":/res/about.png"},
        {"IDS_MI_CLOSE_SOURCE", ":/res/unmount.png"},
    };
    const QLatin1String name(key);
    for (const auto &[prefix, picture] : pictures)
        if (name.startsWith(QLatin1String(prefix)))
            return QLatin1String(picture);
    return QString();
}

QAction *MainWindow::makeAction(const char *key, const QString &icon, void (MainWindow::*slot)())
{
    auto *action = new QAction(tr(key), this);
    action->setObjectName(QLatin1String(key));
    const QString picture = icon.isEmpty() ? menuIcon(key) : icon;
    if (!picture.isEmpty())
        action->setIcon(QIcon(picture));
    if (slot)
        connect(action, &QAction::triggered, this, slot);
    return action;
}

QAction *MainWindow::toolbarAction(const QString &key) const
{
    return findChild<QAction *>(key, Qt::FindDirectChildrenOnly);
}

void MainWindow::buildActions()
{
    m_actBackup = makeAction(QT_TR_NOOP("IDS_MI_BACKUP_TOOLBAR"), QStringLiteral(":/res/backup.png"),
                             &MainWindow::miBackupToolbar);
    m_actI2i = makeAction(QT_TR_NOOP("IDS_MI_I2I_TOOLBAR"), QStringLiteral(":/res/i2i.png"),
                          &MainWindow::miI2iToolbar);
    m_actDb2i = makeAction(QT_TR_NOOP("IDS_MI_DB2I_TOOLBAR"), QStringLiteral(":/res/db2i.png"),
                           &MainWindow::miDb2iToolbar);
    m_actExtractMedia =
        makeAction(QT_TR_NOOP("IDS_MI_EXTRACT_MEDIA_TOOLBAR"), QStringLiteral(":/res/extract_media.png"),
                   &MainWindow::miExtractMediaToolbar);
    m_actExport = makeAction(QT_TR_NOOP("IDS_MI_EXPORT_TOOLBAR"), QStringLiteral(":/res/export.png"),
                             &MainWindow::miExportToolbar);
    m_actExportCall = makeAction(QT_TR_NOOP("IDS_MI_EXPORT_CALL_TOOLBAR"),
                                 QStringLiteral(":/res/export_calls.png"), &MainWindow::miExportCallToolbar);
    m_actPrint = makeAction(QT_TR_NOOP("IDS_MI_PRINT_TOOLBAR"), QStringLiteral(":/res/print.png"),
                            &MainWindow::miPrintToolbar);
    m_actDelete = makeAction(QT_TR_NOOP("IDS_MI_DELETE_TOOLBAR"), QStringLiteral(":/res/delete.png"),
                             &MainWindow::miDeleteToolbar);
    m_actImportiTunes = makeAction(QT_TR_NOOP("IDS_MI_IMPORT_FROM_ITUNES"),
                                   QStringLiteral(":/res/load_itunes.png"), &MainWindow::miImportiTunes);
    m_actOpenStore = makeAction(QT_TR_NOOP("IDS_MI_OPEN_STORE_FOLDER"),
                                QStringLiteral(":/res/open_db_folder.png"), &MainWindow::miOpenStoreFolder);
}

void MainWindow::installShortcuts()
{
    // The platform's standard keys where it has them; the menus show them beside the entries.
    m_actExport->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    m_actPrint->setShortcut(QKeySequence::Print);
    m_actDelete->setShortcut(QKeySequence::Delete);
    toolbarAction(QStringLiteral("IDS_MI_EXIT"))->setShortcut(QKeySequence::Quit);
    toolbarAction(QStringLiteral("IDS_MI_HELP"))->setShortcut(QKeySequence::HelpContents);
    // Find goes to the message search, the field a reader looks in most.
    auto *find = new QAction(this);
    find->setObjectName(QStringLiteral("findMessages"));
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, this, [this]() {
        ui->txtSMSKeyword->setFocus(Qt::ShortcutFocusReason);
        ui->txtSMSKeyword->selectAll();
    });
    addAction(find);
}

void MainWindow::buildMenus()
{
    // The toolbar shows short captions; menus and tool tips the full texts.
    const std::pair<QAction *, const char *> captions[] = {
        {m_actBackup, QT_TR_NOOP("IDS_TB_BACKUP")},
        {m_actI2i, QT_TR_NOOP("IDS_TB_I2I")},
        {m_actDb2i, QT_TR_NOOP("IDS_TB_DB2I")},
        {m_actImportiTunes, QT_TR_NOOP("IDS_TB_IMPORT_ITUNES")},
        {m_actOpenStore, QT_TR_NOOP("IDS_TB_OPEN_STORE_FOLDER")},
        {m_actExtractMedia, QT_TR_NOOP("IDS_TB_EXTRACT_MEDIA")},
        {m_actExport, QT_TR_NOOP("IDS_TB_EXPORT")},
        {m_actExportCall, QT_TR_NOOP("IDS_TB_EXPORT_CALL")},
        {m_actPrint, QT_TR_NOOP("IDS_TB_PRINT")},
        {m_actDelete, QT_TR_NOOP("IDS_TB_DELETE")},
    };
    for (const auto &[action, caption] : captions) {
        action->setIconText(tr(caption));
        action->setToolTip(action->text());
    }

    QMenu *file = ui->menuBar->addMenu(tr("IDS_MENU_FILE"));
    file->setObjectName(QStringLiteral("menuFile"));
    file->addAction(m_actBackup);
    file->addAction(m_actI2i);
    file->addAction(m_actDb2i);
    file->addSeparator();
    file->addAction(m_actExtractMedia);
    file->addAction(m_actExport);
    file->addAction(m_actExportCall);
    file->addAction(m_actPrint);
    file->addAction(m_actDelete);
    file->addSeparator();
    file->addAction(m_actImportiTunes);
    file->addAction(m_actOpenStore);
    file->addAction(makeAction(QT_TR_NOOP("IDS_MI_IMPORT_FROM_PC"), QString(), &MainWindow::miImportPCPort));
    file->addAction(makeAction(QT_TR_NOOP("IDS_MI_OPEN_DB_FOLDER"),
                               QStringLiteral(":/res/open_db_folder.png"), &MainWindow::miOpenDBFolder));
    file->addSeparator();
    file->addAction(makeAction(QT_TR_NOOP("IDS_MI_EXIT"), QStringLiteral(":/res/exit.png"), nullptr));
    connect(toolbarAction(QStringLiteral("IDS_MI_EXIT")), &QAction::triggered, this, &QWidget::close);

    QMenu *tools = ui->menuBar->addMenu(tr("IDS_MENU_TOOLS"));
    tools->setObjectName(QStringLiteral("menuTools"));
    tools->addAction(makeAction(QT_TR_NOOP("IDS_MI_CHECK_UPDATE"), QStringLiteral(":/res/check-update.png"),
                                &MainWindow::miCheckUpdate));
    tools->addMenu(buildMapSiteMenu());
    QAction *automatic = makeAction(QT_TR_NOOP("IDS_MI_AUTO_UPDATE_CHECK"), QString(), nullptr);
    automatic->setCheckable(true);
    automatic->setChecked(m_options.automaticUpdateCheck && !m_options.serviceBaseUrl.isEmpty());
    // Without a service to ask, turning it on would do nothing: it says why instead.
    automatic->setEnabled(!m_options.serviceBaseUrl.isEmpty());
    if (m_options.serviceBaseUrl.isEmpty())
        automatic->setToolTip(tr("IDS_TIP_NO_UPDATE_SERVICE"));
    connect(automatic, &QAction::toggled, this, &MainWindow::miAutoUpdateCheck);
    tools->addAction(automatic);
    tools->setToolTipsVisible(true);
    tools->addAction(makeAction(QT_TR_NOOP("IDS_CLEAR_CACHE"), QStringLiteral(":/res/clear-cache.png"),
                                &MainWindow::miClearCache));

    QMenu *help = ui->menuBar->addMenu(tr("IDS_MENU_HELP"));
    help->setObjectName(QStringLiteral("menuHelp"));
    help->addAction(
        makeAction(QT_TR_NOOP("IDS_MI_HELP"), QStringLiteral(":/res/help.png"), &MainWindow::miHelp));
    help->addAction(makeAction(QT_TR_NOOP("IDS_MI_FEEDBACK"), QStringLiteral(":/res/feedback.png"),
                               &MainWindow::miFeedback));
    help->addAction(
        makeAction(QT_TR_NOOP("IDS_MI_ABOUT"), QStringLiteral(":/res/about.png"), &MainWindow::miAbout));

    QToolBar *bar = ui->mainToolBar;
    bar->addAction(m_actBackup);
    bar->addAction(m_actI2i);
    bar->addAction(m_actDb2i);
    bar->addAction(m_actImportiTunes);
    bar->addAction(m_actOpenStore);
    bar->addSeparator();
    bar->addAction(m_actExtractMedia);
    bar->addAction(m_actExport);
    bar->addAction(m_actExportCall);
    bar->addAction(m_actPrint);
    bar->addAction(m_actDelete);
}

int MainWindow::phonesBesides(const _AbsDBItemNode *source) const
{
    // Store folders sit among the devices but take no transfer: only attached phones count.
    int n = 0;
    for (const _IOSDeviceItemNode *node : m_treeModel->deviceNodes())
        if (node->desc.handle && node != source)
            ++n;
    return n;
}

void MainWindow::updateActions()
{
    const _AbsDBItemNode *source = selectedSource();
    // An opened backup or folder is read like a phone: copied, exported, never written.
    const bool device = source && (source->kind == ItemNodeIOSDevice || source->kind == ItemNodeOpened);
    const bool localDb = source && source->kind == ItemNodeLocalDb;
    const int phones = phonesBesides(source);
    m_actBackup->setEnabled(device);
    m_actI2i->setEnabled(source && source->kind == ItemNodeIOSDevice && phones > 0);
    m_actDb2i->setEnabled(localDb && phones > 0);
    // A disabled transfer says why where it can be seen.
    for (QAction *action : {m_actI2i, m_actDb2i})
        action->setToolTip(phones == 0 ? tr("IDS_TIP_CONNECT_PHONE") : action->text());
    for (QAction *action : {m_actExtractMedia, m_actExport, m_actExportCall, m_actPrint})
        action->setEnabled(device || localDb);
    m_actDelete->setEnabled(localDb);
    // A disabled action says what would enable it; an enabled one its full name.
    const QString chooseFirst = tr("IDS_TIP_CHOOSE_SOURCE");
    for (QAction *action : {m_actExtractMedia, m_actExport, m_actExportCall, m_actPrint})
        action->setToolTip(action->isEnabled() ? action->text() : chooseFirst);
    m_actBackup->setToolTip(device   ? m_actBackup->text()
                            : source ? tr("IDS_TIP_BACKUP_ONLY_PHONES")
                                     : chooseFirst);
    m_actDelete->setToolTip(localDb  ? m_actDelete->text()
                            : source ? tr("IDS_TIP_DELETE_ONLY_LOCAL_DB")
                                     : chooseFirst);
}

// --- Start-up sources --------------------------------------------------------

void MainWindow::addStartupSources()
{
    const QDir databases = localDatabasesFolder();
    for (const QString &name : LocalDatabases::names(databases))
        m_treeModel->addLocalDbNode(name);
    ui->treeViewDS->expand(m_treeModel->indexOf(m_treeModel->rootLocalDb()));

    // Stored copies of phones, shown as devices without a connection.
    const QDir virtualRoot(dataFolder().filePath(QLatin1String(kVirtualDevicesFolder)));
    const QStringList folders = virtualRoot.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &folder : folders) {
        IOSDeviceDesc desc;
        desc.name = folder;
        desc.udid = virtualRoot.filePath(folder);
        desc.path = desc.udid;
        _IOSDeviceItemNode *node = m_treeModel->addDeviceNode(desc);
        const QDir root(desc.path);
        const QString fileName = root.exists(QLatin1String(LocalDatabases::kStoreFileName))
                                     ? QLatin1String(LocalDatabases::kStoreFileName)
                                     : QLatin1String(kDeviceStoreFile);
        loadSource(node, root, fileName);
    }
    ui->treeViewDS->expand(m_treeModel->indexOf(m_treeModel->rootDevice()));
    // The welcome page goes once there is something to choose.
    clearViews();
}

bool MainWindow::loadSource(_AbsDBItemNode *node, const QDir &root, const QString &fileName,
                            bool makePreviews)
{
    // Read off the GUI thread; the dialog comes up only when reading takes a while.
    LoadViberMsgThread worker(root, fileName);
    worker.setMakePreviews(makePreviews);
    if (!runWorker(this, &worker, tr("IDS_LOADING_TITLE"), true, kLoadDialogDelayMs))
        return false;
    m_treeModel->removeChildren(node);
    node->data = worker.data();
    m_treeModel->setChats(node);
    return true;
}

void MainWindow::startPeriphery()
{
    m_updateCheck = new UpdateCheck(m_options.serviceBaseUrl, dataFolder().path(), this);
    connect(m_updateCheck, &UpdateCheck::newVersionAvailable, this, &MainWindow::onCheckVersionReadyRead);
    connect(m_updateCheck, &UpdateCheck::announcementReady, this, &MainWindow::onGetAdvLinkRead);
    connect(m_updateCheck, &UpdateCheck::upToDate, this,
            [this] { showInfo(tr("IDS_NO_NEW_VERSION"), this); });
    connect(m_updateCheck, &UpdateCheck::checkFailed, this,
            [this](const QString &error) { showWarning(error, this); });
    // Nothing leaves the computer unless the user asked for it.
    if (m_options.serviceBaseUrl.isEmpty() || !m_options.automaticUpdateCheck)
        return;
    QTimer::singleShot(m_options.peripheryDelayMs, this, [this] {
        m_updateCheck->checkIfDue();
        m_updateCheck->fetchAnnouncement();
    });
}

void MainWindow::onCheckVersionReadyRead(const QString &downloadUrl)
{
    if (askYesNo(tr("IDS_NEW_VERSION_AVAILABLE_%1").arg(tr("Chatwharf")), this)) {
        openUrl(downloadUrl);
        close();
    }
}

void MainWindow::onGetAdvLinkRead(const QString &html)
{
    m_advLabel->setText(html);
    m_advLabel->setVisible(!html.isEmpty());
}

// --- Selection and views -----------------------------------------------------

AbsTreeItemModel::_ItemNode *MainWindow::selectedNode() const
{
    const QModelIndexList rows = ui->treeViewDS->selectionModel()->selectedIndexes();
    return rows.isEmpty() ? nullptr : m_treeModel->nodeOf(rows.first());
}

_AbsDBItemNode *MainWindow::selectedSource() const
{
    return ItemModelMain::sourceOf(selectedNode());
}

_ChatSessionItemNode *MainWindow::selectedChat() const
{
    AbsTreeItemModel::_ItemNode *node = selectedNode();
    return node && node->kind == ItemNodeChatSession ? static_cast<_ChatSessionItemNode *>(node) : nullptr;
}

void MainWindow::onMainTreeSelected(const QItemSelection &, const QItemSelection &)
{
    updateActions();
    AbsTreeItemModel::_ItemNode *node = selectedNode();
    if (!node) {
        clearViews();
        return;
    }
    switch (node->kind) {
    case ItemNodeLocalDb: {
        auto *db = static_cast<_LocalDbItemNode *>(node);
        if (!db->loaded) {
            clearViews();
            const QString folder = LocalDatabases::folderOf(db->text);
            if (folder.isEmpty() ||
                !loadSource(db, QDir(folder), QLatin1String(LocalDatabases::kStoreFileName)))
                return;
            db->loaded = true;
            ui->treeViewDS->expand(m_treeModel->indexOf(db));
        }
        showMessages(db->data, nullptr);
        break;
    }
    case ItemNodeIOSDevice:
    case ItemNodeOpened:
        showMessages(static_cast<_AbsDBItemNode *>(node)->data, nullptr);
        break;
    case ItemNodeChatSession: {
        _AbsDBItemNode *source = ItemModelMain::sourceOf(node);
        showMessages(source ? source->data : ViberDataPtr(), static_cast<_ChatSessionItemNode *>(node)->chat);
        break;
    }
    default:
        clearViews();
        break;
    }
}

void MainWindow::showMessages(const ViberDataPtr &data, _ViberChat *chat)
{
    m_shownChat = chat;
    m_shownData = data;
    QList<_ViberMsg *> messages;
    if (chat)
        messages = chat->messages;
    else if (data)
        messages = data->messages.values();
    sortByDate(messages, ui->treeViewSMS->header()->sortIndicatorOrder());
    showList(messages);

    if (chat) {
        showChatPicture(chat);
        ui->lbChatName->setText(headerTitle(MessageText::chatTitle(chat)));
        ui->lbChatName->setToolTip(
            Qt::convertFromPlainText(MessageText::chatTitle(chat), Qt::WhiteSpaceNormal));
    } else {
        ui->lbChatImg->hide();
        ui->lbChatName->clear();
        ui->lbChatName->setToolTip(QString());
    }
}

void MainWindow::showList(const QList<_ViberMsg *> &messages)
{
    m_smsModel->setMessages(messages);
    fitDateColumn();
    // The bubbles start at their first page: so does the list.
    ui->treeViewSMS->scrollToTop();
    m_bubbleView->showBubble(messages);
    ui->lbSMSCount->setText(tr("IDS_MESSAGES_COUNT_%1").arg(messages.size()));
}

QMenu *MainWindow::buildMapSiteMenu()
{
    // Places are links, never pictures fetched from a map service: the user picks
    // where they open.
    MessageText::setMapSite(AppSettings::mapSite());
    auto *menu = new QMenu(tr("IDS_MI_MAP_SITE"), this);
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
        connect(site, &QAction::triggered, this, [this, address = QString::fromLatin1(address)] {
            AppSettings::setMapSite(address);
            MessageText::setMapSite(address);
            // The bubbles shown link to the new site at once.
            if (m_shownData)
                showMessages(m_shownData, m_shownChat);
        });
    }
    return menu;
}

void MainWindow::buildPageSizeChooser()
{
    // A long chat reads faster in larger pages; the choice is kept for the next start.
    auto *sizes = new QComboBox(ui->widget_6);
    sizes->setObjectName(QStringLiteral("cbPageSize"));
    sizes->setToolTip(tr("IDS_TIP_PAGE_SIZE"));
    const int chosen = AppSettings::bubblePageSize();
    for (int size : {50, 100, 200, 500, 1000}) {
        sizes->addItem(tr("IDS_PAGE_SIZE_%n", nullptr, size), size);
        if (size == chosen)
            sizes->setCurrentIndex(sizes->count() - 1);
    }
    m_bubbleView->setPageSize(sizes->currentData().toInt());
    connect(sizes, &QComboBox::currentIndexChanged, this, [this, sizes] {
        const int size = sizes->currentData().toInt();
        m_bubbleView->setPageSize(size);
        AppSettings::setBubblePageSize(size);
    });
    ui->horizontalLayout_3->addWidget(sizes);
}

void MainWindow::fitDateColumn()
{
    // Dates in the user's format differ in length only by their digits: the first and
    // the last row tell the width without measuring a million rows.
    const int rows = m_smsModel->rowCount();
    if (rows == 0)
        return;
    const QFontMetrics metrics(ui->treeViewSMS->font());
    int width = metrics.horizontalAdvance(m_smsModel->headerData(0, Qt::Horizontal).toString());
    for (int row : {0, rows - 1})
        width = std::max(width, metrics.horizontalAdvance(m_smsModel->index(row, 0).data().toString()));
    ui->treeViewSMS->setColumnWidth(0, width + ui->treeViewSMS->iconSize().width() + 24);
}

void MainWindow::showChatPicture(const _ViberChat *chat)
{
    const QPixmap picture = ItemModelMain::contactPicture(chat);
    if (picture.isNull()) {
        ui->lbChatImg->hide();
        return;
    }
    ui->lbChatImg->setPixmap(picture.scaledToWidth(kChatPictureWidth, Qt::SmoothTransformation));
    ui->lbChatImg->show();
}

QString MainWindow::headerTitle(const QString &title)
{
    if (title.size() > 20)
        return title.left(17) + QStringLiteral("...");
    return title;
}

void MainWindow::clearViews()
{
    m_shownChat = nullptr;
    m_shownData.reset();
    m_smsModel->clear();
    // Without any source yet the pane shows the ways in.
    const bool noSource = m_treeModel->deviceNodes().isEmpty() &&
                          m_treeModel->rootLocalDb()->children.isEmpty() &&
                          m_treeModel->rootOpened()->children.isEmpty();
    if (noSource)
        m_bubbleView->showWelcome();
    else
        m_bubbleView->showBubble(ViberMsgList());
    ui->lbSMSCount->setText(tr("IDS_MESSAGES_COUNT_%1").arg(0));
    ui->lbChatImg->hide();
    ui->lbChatName->clear();
    ui->lbChatName->setToolTip(QString());
}

void MainWindow::clearTreeSelection()
{
    ui->treeViewDS->selectionModel()->clearSelection();
    ui->treeViewDS->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    clearViews();
}

void MainWindow::selectNode(AbsTreeItemModel::_ItemNode *node)
{
    const QModelIndex index = m_treeModel->indexOf(node);
    if (!index.isValid())
        return;
    if (node->parent)
        ui->treeViewDS->expand(m_treeModel->indexOf(node->parent));
    ui->treeViewDS->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    ui->treeViewDS->scrollTo(index);
}

void MainWindow::onSMSItemSelected(const QItemSelection &, const QItemSelection &)
{
    const QModelIndexList rows = ui->treeViewSMS->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return;
    int first = rows.first().row();
    for (const QModelIndex &row : rows)
        first = std::min(first, row.row());
    m_bubbleView->scrollToPos(first);
}

void MainWindow::onSMSSortIndicatorChanged(int logicalIndex, Qt::SortOrder order)
{
    if (logicalIndex != 0) {
        // Only the date sorts; the indicator goes back to it (which re-enters here).
        ui->treeViewSMS->header()->setSortIndicator(0, Qt::AscendingOrder);
        return;
    }
    QList<_ViberMsg *> messages = m_smsModel->messages();
    sortByDate(messages, order);
    showList(messages);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->lbChatImg && event->type() == QEvent::MouseButtonRelease) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && m_shownChat && m_shownChat->participants.size() == 1) {
            const _ViberPerson *person = m_shownChat->participants.cbegin().value();
            if (person && QFileInfo(person->contactIconPath).isFile())
                m_folderOpener(person->contactIconPath);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// --- Searches ----------------------------------------------------------------

void MainWindow::searchMessages()
{
    m_search->findNextMessage();
}

void MainWindow::searchCotnact()
{
    m_search->findNextChat();
}

// --- Context menus -----------------------------------------------------------

void MainWindow::miShowAccount()
{
    const _AbsDBItemNode *source = selectedSource();
    if (!source || !source->data)
        return;
    // What was read and what was left out, as the log and the command line say it.
    showInfo(source->data->account.text().toHtmlEscaped().replace(u'\n', QStringLiteral("<br/>")), this);
}

void MainWindow::onMainTreeContextMenu()
{
    AbsTreeItemModel::_ItemNode *node = selectedNode();
    if (!node)
        return;
    const int phones = phonesBesides(selectedSource());
    QMenu menu(this);
    auto add = [&](const char *key, const QString &icon, void (MainWindow::*slot)()) {
        QAction *action = menu.addAction(tr(key));
        action->setObjectName(QLatin1String(key));
        action->setIcon(QIcon(icon.isEmpty() ? menuIcon(key) : icon));
        if (slot)
            connect(action, &QAction::triggered, this, slot);
    };
    const QString backupIcon = QStringLiteral(":/res/backup.png");
    switch (node->kind) {
    case ItemNodeIOSDevice:
        add(QT_TR_NOOP("IDS_MI_BACKUP_ALL"), backupIcon, &MainWindow::miBackupAll);
        if (phones > 0)
            add(QT_TR_NOOP("IDS_MI_I2I_ALL"), QStringLiteral(":/res/i2i.png"), &MainWindow::miI2iAll);
        add(QT_TR_NOOP("IDS_MI_EXTRACT_MEDIA_All"), QString(), &MainWindow::miExtractMediaAll);
        add(QT_TR_NOOP("IDS_MI_EXPORT_ALL"), QString(), &MainWindow::miExportAll);
        add(QT_TR_NOOP("IDS_MI_EXPORT_CALL_ALL"), QString(), &MainWindow::miExportCallAll);
        add(QT_TR_NOOP("IDS_MI_PRINT_ALL"), QString(), &MainWindow::miPrintAll);
        add(QT_TR_NOOP("IDS_MI_UNMOUNT_DEVICE"), QStringLiteral(":/res/unmount.png"),
            &MainWindow::miUnmoutDevice);
        add(QT_TR_NOOP("IDS_MI_VIEW_CACHE_FILES"), QStringLiteral(":/res/view-cache.png"),
            &MainWindow::miViewIOSCacheFiles);
        add(QT_TR_NOOP("IDS_MI_SHOW_ACCOUNT"), QString(), &MainWindow::miShowAccount);
        break;
    case ItemNodeOpened:
        add(QT_TR_NOOP("IDS_MI_BACKUP_ALL"), backupIcon, &MainWindow::miBackupAll);
        add(QT_TR_NOOP("IDS_MI_EXTRACT_MEDIA_All"), QString(), &MainWindow::miExtractMediaAll);
        add(QT_TR_NOOP("IDS_MI_EXPORT_ALL"), QString(), &MainWindow::miExportAll);
        add(QT_TR_NOOP("IDS_MI_EXPORT_CALL_ALL"), QString(), &MainWindow::miExportCallAll);
        add(QT_TR_NOOP("IDS_MI_PRINT_ALL"), QString(), &MainWindow::miPrintAll);
        add(QT_TR_NOOP("IDS_MI_CLOSE_SOURCE"), QString(), &MainWindow::miUnmoutDevice);
        add(QT_TR_NOOP("IDS_MI_SHOW_ACCOUNT"), QString(), &MainWindow::miShowAccount);
        break;
    case ItemNodeRootOpened:
    case ItemNodeRootDevice:
    case ItemNodeRootLocalDb:
        add(QT_TR_NOOP("IDS_MI_OPEN_DB_FOLDER"), QStringLiteral(":/res/open_db_folder.png"),
            &MainWindow::miOpenDBFolder);
        add(QT_TR_NOOP("IDS_MI_IMPORT_FROM_ITUNES"), QStringLiteral(":/res/load_itunes.png"),
            &MainWindow::miImportiTunes);
        add(QT_TR_NOOP("IDS_MI_IMPORT_FROM_PC"), QString(), &MainWindow::miImportPCPort);
        break;
    case ItemNodeLocalDb:
        if (phones > 0)
            add(QT_TR_NOOP("IDS_MI_DB2I_ALL"), QStringLiteral(":/res/db2i.png"), &MainWindow::miDb2iAll);
        add(QT_TR_NOOP("IDS_MI_EXTRACT_MEDIA_All"), QString(), &MainWindow::miExtractMediaAll);
        add(QT_TR_NOOP("IDS_MI_EXPORT_ALL"), QString(), &MainWindow::miExportAll);
        add(QT_TR_NOOP("IDS_MI_EXPORT_CALL_ALL"), QString(), &MainWindow::miExportCallAll);
        add(QT_TR_NOOP("IDS_MI_PRINT_ALL"), QString(), &MainWindow::miPrintAll);
        add(QT_TR_NOOP("IDS_MI_DELETE_ALL"), QStringLiteral(":/res/delete.png"), &MainWindow::miDeleteAll);
        add(QT_TR_NOOP("IDS_MI_IMPORT_FROM_ITUNES"), QStringLiteral(":/res/load_itunes.png"),
            &MainWindow::miImportiTunesToLocalDb);
        add(QT_TR_NOOP("IDS_MI_IMPORT_FROM_PC"), QString(), &MainWindow::miImportPCPortToLocalDb);
        add(QT_TR_NOOP("IDS_MI_EXPORT_TO_ITUNES_ALL"), QString(), &MainWindow::miExport2ITunesBKAll);
        add(QT_TR_NOOP("IDS_MI_SHOW_ACCOUNT"), QString(), &MainWindow::miShowAccount);
        break;
    case ItemNodeChatSession:
        if (node->parent &&
            (node->parent->kind == ItemNodeIOSDevice || node->parent->kind == ItemNodeOpened)) {
            add(QT_TR_NOOP("IDS_MI_BACKUP_CHAT"), backupIcon, &MainWindow::miBackupChat);
            if (phones > 0 && node->parent->kind == ItemNodeIOSDevice)
                add(QT_TR_NOOP("IDS_MI_I2I_CHAT"), QStringLiteral(":/res/i2i.png"), &MainWindow::miI2iChat);
            add(QT_TR_NOOP("IDS_MI_EXTRACT_MEDIA_CHAT"), QString(), &MainWindow::miExtractMediaChat);
            add(QT_TR_NOOP("IDS_MI_EXPORT_CHAT"), QString(), &MainWindow::miExportChat);
            add(QT_TR_NOOP("IDS_MI_EXPORT_CALL_CHAT"), QString(), &MainWindow::miExportCallChat);
            add(QT_TR_NOOP("IDS_MI_PRINT_CHAT"), QString(), &MainWindow::miPrintChat);
        } else {
            if (phones > 0)
                add(QT_TR_NOOP("IDS_MI_DB2I_CHAT"), QStringLiteral(":/res/db2i.png"),
                    &MainWindow::miDb2iChat);
            add(QT_TR_NOOP("IDS_MI_EXTRACT_MEDIA_CHAT"), QString(), &MainWindow::miExtractMediaChat);
            add(QT_TR_NOOP("IDS_MI_EXPORT_CHAT"), QString(), &MainWindow::miExportChat);
            add(QT_TR_NOOP("IDS_MI_EXPORT_CALL_CHAT"), QString(), &MainWindow::miExportCallChat);
            add(QT_TR_NOOP("IDS_MI_PRINT_CHAT"), QString(), &MainWindow::miPrintChat);
            add(QT_TR_NOOP("IDS_MI_DELETE_CHAT"), QStringLiteral(":/res/delete.png"),
                &MainWindow::miDeleteChat);
            add(QT_TR_NOOP("IDS_MI_EXPORT_TO_ITUNES_CHAT"), QString(), &MainWindow::miExport2ITunesBKChat);
        }
        break;
    default:
        return;
    }
    menu.setObjectName(QStringLiteral("menuSourceTree"));
    menu.exec(QCursor::pos());
}

void MainWindow::onSMSContextMenu()
{
    if (!ui->treeViewSMS->selectionModel()->hasSelection())
        return;
    const _AbsDBItemNode *source = selectedSource();
    if (!source)
        return;
    const int phones = phonesBesides(source);
    QMenu menu(this);
    auto add = [&](const char *key, void (MainWindow::*slot)()) {
        QAction *action = menu.addAction(tr(key));
        action->setObjectName(QLatin1String(key));
        action->setIcon(QIcon(menuIcon(key)));
        if (slot)
            connect(action, &QAction::triggered, this, slot);
    };
    if (source->kind == ItemNodeIOSDevice || source->kind == ItemNodeOpened) {
        add(QT_TR_NOOP("IDS_MI_BACKUP_SEL"), &MainWindow::miBackup);
        if (phones > 0 && source->kind == ItemNodeIOSDevice)
            add(QT_TR_NOOP("IDS_MI_I2I_SEL"), &MainWindow::miI2i);
        add(QT_TR_NOOP("IDS_MI_EXTRACT_MEDIA_SEL"), &MainWindow::miExtractMedia);
        add(QT_TR_NOOP("IDS_MI_EXPORT_SEL"), &MainWindow::miExport);
        add(QT_TR_NOOP("IDS_MI_PRINT_SEL"), &MainWindow::miPrint);
    } else {
        if (phones > 0)
            add(QT_TR_NOOP("IDS_MI_DB2I_SEL"), &MainWindow::miDb2i);
        add(QT_TR_NOOP("IDS_MI_EXTRACT_MEDIA_SEL"), &MainWindow::miExtractMedia);
        add(QT_TR_NOOP("IDS_MI_EXPORT_SEL"), &MainWindow::miExport);
        add(QT_TR_NOOP("IDS_MI_PRINT_SEL"), &MainWindow::miPrint);
        add(QT_TR_NOOP("IDS_MI_DELETE_SEL"), &MainWindow::miDelete);
        add(QT_TR_NOOP("IDS_MI_EXPORT_TO_ITUNES_SEL"), &MainWindow::miExport2ITunesBKSel);
    }
    menu.setObjectName(QStringLiteral("menuMessageList"));
    menu.exec(QCursor::pos());
}

// --- Scopes ------------------------------------------------------------------

QList<_ViberMsg *> MainWindow::selectedMessages() const
{
    QList<int> rows;
    for (const QModelIndex &index : ui->treeViewSMS->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    QList<_ViberMsg *> out;
    for (int row : rows)
        if (_ViberMsg *msg = m_smsModel->message(row))
            out.append(msg);
    return out;
}

ActionScope MainWindow::resolvedScope() const
{
    if (ui->treeViewSMS->selectionModel()->hasSelection())
        return ActionScope::Selection;
    if (selectedChat())
        return ActionScope::Chat;
    return ActionScope::All;
}

QList<ScopeOption> MainWindow::scopeOptions() const
{
    QList<ScopeOption> options;
    const _AbsDBItemNode *source = selectedSource();
    if (!source || !source->data)
        return options;
    const qint64 selected = ui->treeViewSMS->selectionModel()->selectedRows().size();
    if (selected > 0)
        options.append({ActionScope::Selection, selected, ScopeChoice::selectionText(selected)});
    const _ChatSessionItemNode *chat = selectedChat();
    if (chat && chat->chat && !chat->chat->messages.isEmpty()) {
        const qint64 count = chat->chat->messages.size();
        options.append(
            {ActionScope::Chat, count, ScopeChoice::chatText(MessageText::chatTitle(chat->chat), count)});
    }
    const qint64 all = source->data->messages.size();
    if (all > 0)
        options.append({ActionScope::All, all, ScopeChoice::allText(source->text, all)});
    return options;
}

QList<_ViberMsg *> MainWindow::scopeMessages(ActionScope scope) const
{
    switch (scope) {
    case ActionScope::Selection:
        return selectedMessages();
    case ActionScope::Chat: {
        if (!m_shownChat)
            return m_smsModel->messages();
        // The chat's own messages: what the list shows of it may be sorted the other way.
        QList<_ViberMsg *> chat = m_shownChat->messages;
        sortByDate(chat, Qt::AscendingOrder);
        return chat;
    }
    case ActionScope::All: {
        const _AbsDBItemNode *source = selectedSource();
        if (!source || !source->data)
            return {};
        QList<_ViberMsg *> all = source->data->messages.values();
        sortByDate(all, Qt::AscendingOrder);
        return all;
    }
    case ActionScope::Toolbar:
        return scopeMessages(resolvedScope());
    }
    return {};
}

// --- Local databases ---------------------------------------------------------

void MainWindow::backup(ActionScope scope)
{
    m_localDb->backup(scope);
}

void MainWindow::remove(ActionScope scope)
{
    m_localDb->remove(scope);
}

void MainWindow::miOpenDBFolder()
{
    m_localDb->openFolder();
}

// --- Exports -----------------------------------------------------------------

void MainWindow::exportMessages(ActionScope scope)
{
    m_exports->exportMessages(scope);
}

void MainWindow::extractMedia(ActionScope scope)
{
    m_exports->extractMedia(scope);
}

void MainWindow::exportCalls(ActionScope scope)
{
    m_exports->exportCalls(scope);
}

void MainWindow::print(ActionScope scope)
{
    m_exports->print(scope);
}

void MainWindow::reloadLocalDb(_LocalDbItemNode *node)
{
    // What was shown of this database comes back: the same chat, else the chat
    // that took its row, else the database itself. A selection elsewhere stays.
    AbsTreeItemModel::_ItemNode *selected = selectedNode();
    const bool shownHere = selected && ItemModelMain::sourceOf(selected) == node;
    const _ChatSessionItemNode *shownChat = selectedChat();
    const qint64 chatId = shownHere && shownChat && shownChat->chat ? shownChat->chat->id : 0;
    const qsizetype chatRow = shownHere && shownChat ? node->children.indexOf(selected) : -1;
    // Nothing may still point into the records about to be replaced.
    if (shownHere)
        clearTreeSelection();
    const QString folder = LocalDatabases::folderOf(node->text);
    if (folder.isEmpty())
        return;
    node->loaded = loadSource(node, QDir(folder), QLatin1String(LocalDatabases::kStoreFileName));
    ui->treeViewDS->expand(m_treeModel->indexOf(node));
    if (!shownHere)
        return;
    if (chatRow >= 0) {
        for (AbsTreeItemModel::_ItemNode *child : node->children) {
            auto *chat = static_cast<_ChatSessionItemNode *>(child);
            if (chat->chat && chat->chat->id == chatId) {
                selectNode(chat);
                return;
            }
        }
        if (!node->children.isEmpty()) {
            selectNode(node->children.at(std::min(chatRow, node->children.size() - 1)));
            return;
        }
    }
    selectNode(node);
}

// --- Devices -----------------------------------------------------------------

void MainWindow::iosDeviceConnected(void *handle)
{
    if (m_treeModel->findDevice(handle))
        return;
    IOSDeviceDesc desc;
    desc.handle = handle;
    try {
        const QList<CFType> values = mobiledevice_copy_values(
            handle, {QStringLiteral("ProductType"), QStringLiteral("ProductVersion"),
                     QStringLiteral("MobileSubscriberCountryCode"), QStringLiteral("DeviceName"),
                     QStringLiteral("UniqueDeviceID")});
        auto text = [&](int i) { return i < values.size() ? values.at(i).toString() : QString(); };
        desc.productType = text(0);
        desc.productVersion = text(1);
        desc.countryCode = text(2);
        desc.name = text(3);
        desc.udid = text(4);
    } catch (const std::exception &e) {
        reportError(QString::fromUtf8(e.what()), this);
        return;
    }
    if (desc.udid.isEmpty())
        desc.udid = mobiledevice_udid(handle);
    if (desc.name.isEmpty())
        desc.name = desc.productType.isEmpty() ? QStringLiteral("iPhone") : desc.productType;
    qDebug("Device attached: %s (%s, iOS %s)", qUtf8Printable(desc.name), qUtf8Printable(desc.productType),
           qUtf8Printable(desc.productVersion));

    if (!m_deviceLoader) {
        showWarning(tr("IDS_DEVICE_LOADING_UNAVAILABLE_%1").arg(desc.name.toHtmlEscaped()), this);
        return;
    }
    showInfo(tr("IDS_DEVICE_CONNECTED_NOTES"), this);
    if (!m_deviceLoader(this, desc))
        return;
    // The device may have gone while it was read.
    if (!mobiledevice_is_attached(handle) || m_treeModel->findDevice(handle))
        return;
    _IOSDeviceItemNode *node = m_treeModel->addDeviceNode(desc);
    ui->treeViewDS->expand(m_treeModel->indexOf(m_treeModel->rootDevice()));
    if (loadSource(node, QDir(desc.path), QLatin1String(kDeviceStoreFile)))
        selectNode(node);
    updateActions();
}

void MainWindow::iosDeviceDisconnected(void *handle)
{
    removeSourceNode(m_treeModel->findDevice(handle));
}

void MainWindow::transferToIPhone(ActionScope scope)
{
    m_transfers->transferToIPhone(scope);
}

void MainWindow::reloadDevice(_IOSDeviceItemNode *node)
{
    void *handle = node->desc.handle;
    removeSourceNode(node);
    if (handle && mobiledevice_is_attached(handle))
        iosDeviceConnected(handle);
}

void MainWindow::exportToITunesBackup(ActionScope scope)
{
    m_transfers->exportToITunesBackup(scope);
}

void MainWindow::importITunesBackup(bool toSelectedDb)
{
    m_imports->importITunesBackup(toSelectedDb);
}

void MainWindow::importViberDesktop(bool toSelectedDb)
{
    m_imports->importViberDesktop(toSelectedDb);
}

void MainWindow::onWelcomeLink(const QString &way)
{
    if (way == QLatin1String("itunes"))
        miImportiTunes();
    else if (way == QLatin1String("store"))
        miOpenStoreFolder();
    else if (way == QLatin1String("desktop"))
        miImportPCPort();
    else if (way == QLatin1String("device"))
        showInfo(tr("IDS_WELCOME_DEVICE_HOW"), this);
    else if (way == QLatin1String("demo"))
        m_imports->openDemoArchive();
}

void MainWindow::miOpenStoreFolder()
{
    m_imports->openStoreFolder();
}

void MainWindow::addStoreFolderSource(const QString &root, const QString &fileName)
{
    if (_OpenedItemNode *shown = m_treeModel->findOpened(root)) {
        selectNode(shown);
        return;
    }
    _OpenedItemNode *node =
        m_treeModel->addOpenedNode(_OpenedItemNode::StoreFolder, QDir(root).dirName(), root);
    ui->treeViewDS->expand(m_treeModel->indexOf(m_treeModel->rootOpened()));
    // Someone else's folder: read, and nothing written beside it, not even previews.
    if (loadSource(node, QDir(root), fileName, false))
        selectNode(node);
    else
        removeSourceNode(node);
    updateActions();
}

void MainWindow::addOpenedSource(_OpenedItemNode::What what, const QString &name, const QString &path,
                                 const ViberDataPtr &data)
{
    if (_OpenedItemNode *shown = m_treeModel->findOpened(path)) {
        selectNode(shown);
        return;
    }
    _OpenedItemNode *node = m_treeModel->addOpenedNode(what, name, path);
    node->data = data;
    m_treeModel->setChats(node);
    ui->treeViewDS->expand(m_treeModel->indexOf(m_treeModel->rootOpened()));
    selectNode(node);
    updateActions();
}

void MainWindow::removeSourceNode(_AbsDBItemNode *node)
{
    if (!node)
        return;
    // Only the views of this source must let go of its records; others stay.
    if (selectedSource() == node)
        clearTreeSelection();
    const QString privateFolder = node->kind == ItemNodeIOSDevice
                                      ? static_cast<_IOSDeviceItemNode *>(node)->desc.privateFolder
                                      : QString();
    m_treeModel->removeNode(node);
    // What was decrypted for this source serves no one once it is not shown.
    removeFolderTree(privateFolder);
    updateActions();
}

void MainWindow::miUnmoutDevice()
{
    AbsTreeItemModel::_ItemNode *node = selectedNode();
    if (node && (node->kind == ItemNodeIOSDevice || node->kind == ItemNodeOpened))
        removeSourceNode(static_cast<_AbsDBItemNode *>(node));
}

void MainWindow::miViewIOSCacheFiles()
{
    AbsTreeItemModel::_ItemNode *node = selectedNode();
    if (!node || node->kind != ItemNodeIOSDevice)
        return;
    const QString folder = static_cast<_IOSDeviceItemNode *>(node)->desc.path;
    if (folder.isEmpty() || !QFileInfo(folder).isDir() || !m_folderOpener(folder))
        showWarning(tr("IDS_CAN_NOT_OPEN_FOLDER_%1").arg(QDir::toNativeSeparators(folder).toHtmlEscaped()),
                    this);
}

// --- Cache, periphery -------------------------------------------------------

void MainWindow::miClearCache()
{
    // The stores of connected devices live there and are read again on connection;
    // copies of backups are made again on the next import.
    for (const char *cache : {AppConstants::kDeviceCacheFolder, AppConstants::kBackupCacheFolder})
        removeFolderTree(dataFolder().filePath(QLatin1String(cache)));
    BackupLocations::clearBackupWorkFolder();
    showInfo(tr("IDS_SUC_CLEAR_CACHE"), this);
}

void MainWindow::miCheckUpdate()
{
    if (m_options.serviceBaseUrl.isEmpty()) {
        showInfo(tr("IDS_NO_UPDATE_SERVICE_%1").arg(QLatin1String(AboutDlg::kVersion)), this);
        return;
    }
    m_updateCheck->checkNow();
}

void MainWindow::miAutoUpdateCheck(bool on)
{
    m_options.automaticUpdateCheck = on;
    AppSettings::setAutomaticUpdateCheck(on);
}

void MainWindow::miHelp()
{
    // The help ships with the program: it reads the same offline and matches this version.
    if (!m_help) {
        m_help = new QDialog(this);
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

void MainWindow::miFeedback()
{
    // Where to write and what to attach, rather than a mail program that may not be set up.
    const QString address = QLatin1String(AppConstants::kSupportEmail);
    showInfo(tr("IDS_FEEDBACK_%1_%2")
                 .arg(QStringLiteral("<a href=\"mailto:%1\">%1</a>").arg(address),
                      QDir::toNativeSeparators(currentLogFilePath()).toHtmlEscaped()),
             this);
}

void MainWindow::miAbout()
{
    AboutDlg dialog(this);
    dialog.exec();
}
