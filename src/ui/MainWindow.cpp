#include "MainWindow.h"
#include "ui_MainWindow.h"

#include "ContextMenus.h"
#include "DeviceActions.h"
#include "ExportActions.h"
#include "ImportActions.h"
#include "LocalDbActions.h"
#include "RunWorker.h"
#include "SearchActions.h"
#include "SelectionActions.h"
#include "ToolsActions.h"
#include "TransferActions.h"
#include "VBBubbleViewMgr.h"
#include "WindowMenus.h"
#include "app/DataFolder.h"
#include "app/FileHelpers.h"
#include "app/Platform.h"
#include "app/Settings.h"
#include "app/StyleSheet.h"
#include "viber/LocalDatabases.h"
#include "workers/LoadViberMsgThread.h"

#include <QComboBox>
#include <QDir>
#include <QHeaderView>

#include <algorithm>

namespace {

// Reads shorter than this show no progress dialog.
constexpr int kLoadDialogDelayMs = 300;

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
      m_folderOpener(&openFolder),
      m_localDb(std::make_unique<LocalDbController>(static_cast<WindowContext &>(*this))),
      m_exports(std::make_unique<ExportController>(static_cast<WindowContext &>(*this))),
      m_imports(std::make_unique<ImportController>(static_cast<WindowContext &>(*this), *m_localDb)),
      m_transfers(std::make_unique<TransferController>(static_cast<WindowContext &>(*this)))
{
    // Tests replace the opener after construction: the controllers ask the window each time.
    const auto opener = [this](const QString &path) { return m_folderOpener(path); };
    m_localDb->setFolderOpener(opener);
    ui->setupUi(this);
    m_bubbleView->attach(ui->webViewSMS);
    WindowContext &context = *this;
    m_selection = new SelectionController(context,
                                          {ui->treeViewDS, m_treeModel, ui->treeViewSMS, m_smsModel,
                                           m_bubbleView, ui->lbChatImg, ui->lbChatName, ui->lbSMSCount},
                                          opener, this);
    m_devices = new DeviceController(context, opener, this);
    m_tools = new ToolsController(
        this, {m_options.serviceBaseUrl, m_options.automaticUpdateCheck, m_options.peripheryDelayMs});
    m_search = new SearchController({this, ui->treeViewSMS, m_smsModel, m_bubbleView, ui->txtSMSKeyword,
                                     ui->lbSearchCount, ui->treeViewDS, m_treeModel, ui->txtHandleKeyword},
                                    this);
    const WindowControllers controllers{m_localDb.get(), m_exports.get(), m_imports.get(), m_transfers.get(),
                                        m_devices,       m_tools,         m_selection};
    m_menus = std::make_unique<WindowMenus>(this, context, controllers);
    m_contextMenus = std::make_unique<ContextMenus>(context, controllers);

    setStyleSheet(appStyleSheet());
    setWindowTitle(tr("Chatwharf"));
    setWindowIcon(QIcon(QStringLiteral(":/res/logo.png")));
    ui->splitter->setSizes({200, 450, 350});
    ui->txtHandleKeyword->setPlaceholderText(tr("IDS_SEARCH_CONTACT_HINT"));
    ui->txtSMSKeyword->setPlaceholderText(tr("IDS_SEARCH_MESSAGE_HINT"));
    ui->horizontalLayout_3->addWidget(m_tools->pageSizeChooser(ui->widget_6, m_bubbleView));

    connect(ui->treeViewDS, &MyTreeView::onSelectionChanged, m_selection,
            &SelectionController::onSourceSelected);
    connect(ui->treeViewSMS, &MyTreeView::onSelectionChanged, m_selection,
            &SelectionController::onMessagesSelected);
    connect(ui->treeViewDS, &MyTreeView::createContextMenu, this,
            [this] { m_contextMenus->showTreeMenu(this); });
    connect(ui->treeViewSMS, &MyTreeView::createContextMenu, this,
            [this] { m_contextMenus->showListMenu(this); });
    connect(ui->btnSearchHandle, &QToolButton::pressed, m_search, &SearchController::findNextChat);
    connect(ui->txtHandleKeyword, &QLineEdit::returnPressed, m_search, &SearchController::findNextChat);
    connect(ui->btnSearchSMS, &QToolButton::pressed, m_search, &SearchController::findNextMessage);
    connect(ui->txtSMSKeyword, &QLineEdit::returnPressed, m_search, &SearchController::findNextMessage);
    connect(m_bubbleView, &VBBubbleViewMgr::welcomeLinkClicked, this,
            [this](const QString &way) { m_imports->followWelcomeLink(way); });

    ui->treeViewDS->expandAll();
    m_selection->clearViews();
    m_menus->build(ui->menuBar, ui->mainToolBar, ui->txtSMSKeyword);
    m_menus->updateActions();
    if (m_options.deviceLibraryLoaded)
        m_devices->watch();
    addStartupSources();
    m_tools->start();
    resize(1040, 680);
}

MainWindow::~MainWindow()
{
    m_devices->stopWatching();
    // Nothing reacts to the views while they go.
    ui->treeViewDS->disconnect(m_selection);
    ui->treeViewSMS->disconnect(m_selection);
    ui->treeViewSMS->header()->disconnect(m_selection);
    // The views hold pointers into the sources' records: empty them first.
    m_bubbleView->showBubble(ViberMsgList());
    m_smsModel->clear();
    // Decrypted copies are kept while shown, not once the window is gone.
    for (const _IOSDeviceItemNode *device : m_treeModel->deviceNodes())
        removeFolderTree(device->desc.privateFolder);
}

void MainWindow::setDeviceLoader(DeviceLoader loader)
{
    m_devices->setLoader(std::move(loader));
}

void MainWindow::setFolderOpener(FolderOpener opener)
{
    m_folderOpener = opener ? std::move(opener) : FolderOpener(&openFolder);
}

QAction *MainWindow::toolbarAction(const QString &key) const
{
    return findChild<QAction *>(key, Qt::FindDirectChildrenOnly);
}

void MainWindow::addStartupSources()
{
    for (const QString &name : LocalDatabases::names(localDatabasesFolder()))
        m_treeModel->addLocalDbNode(name);
    expand(m_treeModel->rootLocalDb());
    m_devices->addStoredPhones();
    // The welcome page goes once there is something to choose.
    m_selection->clearViews();
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

// --- What the controllers reach of the window -------------------------------

const _ViberChat *MainWindow::shownChat() const
{
    return m_selection->shownChat();
}

AbsTreeItemModel::_ItemNode *MainWindow::selectedNode() const
{
    return m_selection->selectedNode();
}

_AbsDBItemNode *MainWindow::selectedSource() const
{
    return m_selection->selectedSource();
}

QList<_ViberMsg *> MainWindow::scopeMessages(ActionScope scope) const
{
    return m_selection->scopeMessages(scope);
}

ActionScope MainWindow::resolvedScope() const
{
    return m_selection->resolvedScope();
}

QList<ScopeOption> MainWindow::scopeOptions() const
{
    return m_selection->scopeOptions();
}

void MainWindow::showSource(_AbsDBItemNode *node)
{
    m_selection->selectNode(node);
}

void MainWindow::expand(AbsTreeItemModel::_ItemNode *node)
{
    m_selection->expand(node);
}

void MainWindow::updateActions()
{
    m_menus->updateActions();
}

void MainWindow::reloadDevice(_IOSDeviceItemNode *node)
{
    m_devices->reload(node);
}

void MainWindow::reloadLocalDb(_LocalDbItemNode *node)
{
    // What was shown of this database comes back: the same chat, else the chat
    // that took its row, else the database itself. A selection elsewhere stays.
    AbsTreeItemModel::_ItemNode *selected = selectedNode();
    const bool shownHere = selected && ItemModelMain::sourceOf(selected) == node;
    const _ChatSessionItemNode *shownChat = m_selection->selectedChat();
    const qint64 chatId = shownHere && shownChat && shownChat->chat ? shownChat->chat->id : 0;
    const qsizetype chatRow = shownHere && shownChat ? node->children.indexOf(selected) : -1;
    // Nothing may still point into the records about to be replaced.
    if (shownHere)
        m_selection->clearTreeSelection();
    const QString folder = LocalDatabases::folderOf(node->text);
    if (folder.isEmpty())
        return;
    node->loaded = loadSource(node, QDir(folder), QLatin1String(LocalDatabases::kStoreFileName), true);
    expand(node);
    if (!shownHere)
        return;
    if (chatRow >= 0) {
        for (AbsTreeItemModel::_ItemNode *child : node->children) {
            auto *chat = static_cast<_ChatSessionItemNode *>(child);
            if (chat->chat && chat->chat->id == chatId) {
                m_selection->selectNode(chat);
                return;
            }
        }
        if (!node->children.isEmpty()) {
            m_selection->selectNode(node->children.at(std::min(chatRow, node->children.size() - 1)));
            return;
        }
    }
    m_selection->selectNode(node);
}

void MainWindow::addStoreFolderSource(const QString &root, const QString &fileName)
{
    if (_OpenedItemNode *shown = m_treeModel->findOpened(root)) {
        m_selection->selectNode(shown);
        return;
    }
    _OpenedItemNode *node =
        m_treeModel->addOpenedNode(_OpenedItemNode::StoreFolder, QDir(root).dirName(), root);
    expand(m_treeModel->rootOpened());
    // Someone else's folder: read, and nothing written beside it, not even previews.
    if (loadSource(node, QDir(root), fileName, false))
        m_selection->selectNode(node);
    else
        removeSourceNode(node);
    updateActions();
}

void MainWindow::addOpenedSource(_OpenedItemNode::What what, const QString &name, const QString &path,
                                 const ViberDataPtr &data)
{
    if (_OpenedItemNode *shown = m_treeModel->findOpened(path)) {
        m_selection->selectNode(shown);
        return;
    }
    _OpenedItemNode *node = m_treeModel->addOpenedNode(what, name, path);
    node->data = data;
    m_treeModel->setChats(node);
    expand(m_treeModel->rootOpened());
    m_selection->selectNode(node);
    updateActions();
}

void MainWindow::removeSourceNode(_AbsDBItemNode *node)
{
    if (!node)
        return;
    // Only the views of this source must let go of its records; others stay.
    if (selectedSource() == node)
        m_selection->clearTreeSelection();
    const QString privateFolder = node->kind == ItemNodeIOSDevice
                                      ? static_cast<_IOSDeviceItemNode *>(node)->desc.privateFolder
                                      : QString();
    m_treeModel->removeNode(node);
    // What was decrypted for this source serves no one once it is not shown.
    removeFolderTree(privateFolder);
    updateActions();
}
