#pragma once

#include "ItemModelMain.h"
#include "ItemModelSms.h"
#include "WindowContext.h"

#include <QDir>
#include <QItemSelection>
#include <QMainWindow>

#include <functional>
#include <memory>

namespace Ui {
class MainWindow;
}

class ExportController;
class ImportController;
class TransferController;
class SearchController;
class LocalDbController;
class QAction;
class QDialog;
class QLabel;
class QMenu;
class UpdateCheck;
class VBBubbleViewMgr;

// The program's only main window: the source tree, the message list of the
// selected source or chat, the bubble view, and the actions on them. The
// actions' work lives in one controller per feature; the slots below are the
// entry points that menus, toolbar and context menus call, each naming a scope.
class MainWindow : public QMainWindow, private WindowContext
{
    Q_OBJECT
public:
    struct Options
    {
        // Whether the device library loaded, so that device events can be watched.
        bool deviceLibraryLoaded = false;
        // The web services' address; "" makes no request at all.
        QString serviceBaseUrl;
        // Whether the service is asked at start; the user's setting.
        bool automaticUpdateCheck = false;
        // Delay before the web services are asked, so that start-up never waits.
        int peripheryDelayMs = 3000;
    };

    // Reads a connected device into a store copy: fills desc.path with the folder
    // holding "Documents/Contacts.data" and returns true, or tells the user why
    // not and returns false.
    using DeviceLoader = std::function<bool(QWidget *parent, IOSDeviceDesc &desc)>;
    // Hands a folder or file to the desktop (replaceable so tests launch nothing).
    using FolderOpener = std::function<bool(const QString &path)>;

    explicit MainWindow(QWidget *parent = nullptr);
    explicit MainWindow(const Options &options, QWidget *parent = nullptr);
    ~MainWindow() override;

    // The default options: device events off, the real service address.
    static Options defaultOptions();

    void setDeviceLoader(DeviceLoader loader);
    void setFolderOpener(FolderOpener opener);
    ExportController *exports() const { return m_exports.get(); }
    ImportController *imports() const { return m_imports.get(); }

    ItemModelMain *treeModel() const override { return m_treeModel; }
    ItemModelSms *smsModel() const { return m_smsModel; }
    VBBubbleViewMgr *bubbleView() const { return m_bubbleView; }
    const _ViberChat *shownChat() const override { return m_shownChat; }
    // The node selected in the source tree; null when none.
    AbsTreeItemModel::_ItemNode *selectedNode() const override;
    // The actions kept for enabling, by key (IDS_MI_BACKUP_TOOLBAR, ...).
    QAction *toolbarAction(const QString &key) const;

    // The chat title as the header shows it: longer than 20 characters is cut
    // to 17 followed by "...".
    static QString headerTitle(const QString &title);

public slots:
    void onCheckVersionReadyRead(const QString &downloadUrl);
    void onGetAdvLinkRead(const QString &html);
    void onMainTreeSelected(const QItemSelection &selected, const QItemSelection &deselected);
    void onMainTreeContextMenu();
    void onSMSItemSelected(const QItemSelection &selected, const QItemSelection &deselected);
    void onSMSContextMenu();
    void onSMSSortIndicatorChanged(int logicalIndex, Qt::SortOrder order);
    void searchMessages();
    void searchCotnact();
    void miBackup() { backup(ActionScope::Selection); }
    void miBackupChat() { backup(ActionScope::Chat); }
    void miBackupAll() { backup(ActionScope::All); }
    void miBackupToolbar() { backup(ActionScope::Toolbar); }
    void miExtractMedia() { extractMedia(ActionScope::Selection); }
    void miExtractMediaChat() { extractMedia(ActionScope::Chat); }
    void miExtractMediaAll() { extractMedia(ActionScope::All); }
    void miExtractMediaToolbar() { extractMedia(ActionScope::Toolbar); }
    void miExport() { exportMessages(ActionScope::Selection); }
    void miExportChat() { exportMessages(ActionScope::Chat); }
    void miExportAll() { exportMessages(ActionScope::All); }
    void miExportToolbar() { exportMessages(ActionScope::Toolbar); }
    void miExportCallChat() { exportCalls(ActionScope::Chat); }
    void miExportCallAll() { exportCalls(ActionScope::All); }
    void miExportCallToolbar() { exportCalls(ActionScope::Toolbar); }
    void miPrint() { print(ActionScope::Selection); }
    void miPrintChat() { print(ActionScope::Chat); }
    void miPrintAll() { print(ActionScope::All); }
    void miPrintToolbar() { print(ActionScope::Toolbar); }
    void miDelete() { remove(ActionScope::Selection); }
    void miDeleteChat() { remove(ActionScope::Chat); }
    void miDeleteToolbar() { remove(ActionScope::Toolbar); }
    void miDeleteAll() { remove(ActionScope::All); }
    void miOpenDBFolder();
    void miCheckUpdate();
    void miAutoUpdateCheck(bool on);
    void miHelp();
    void miFeedback();
    void miAbout();
    void miUnmoutDevice();
    void miClearCache();
    void miImportPCPort() { importViberDesktop(false); }
    void miImportPCPortToLocalDb() { importViberDesktop(true); }
    void iosDeviceConnected(void *handle);
    void iosDeviceDisconnected(void *handle);
    void miI2i() { transferToIPhone(ActionScope::Selection); }
    void miI2iChat() { transferToIPhone(ActionScope::Chat); }
    void miI2iAll() { transferToIPhone(ActionScope::All); }
    void miI2iToolbar() { transferToIPhone(ActionScope::Toolbar); }
    void miDb2i() { transferToIPhone(ActionScope::Selection); }
    void miDb2iChat() { transferToIPhone(ActionScope::Chat); }
    void miDb2iAll() { transferToIPhone(ActionScope::All); }
    void miDb2iToolbar() { transferToIPhone(ActionScope::Toolbar); }
    void miImportiTunes() { importITunesBackup(false); }
    void miImportiTunesToLocalDb() { importITunesBackup(true); }
    void miOpenStoreFolder();
    void miExport2ITunesBKSel() { exportToITunesBackup(ActionScope::Selection); }
    void miExport2ITunesBKChat() { exportToITunesBackup(ActionScope::Chat); }
    void miExport2ITunesBKAll() { exportToITunesBackup(ActionScope::All); }
    void miExport2ITunesBKToolbar() { exportToITunesBackup(ActionScope::Toolbar); }
    void miViewIOSCacheFiles();
    // What the selected source holds: its load's account.
    void miShowAccount();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // WindowContext
    QWidget *dialogParent() override { return this; }
    _AbsDBItemNode *selectedSource() const override;
    QList<_ViberMsg *> scopeMessages(ActionScope scope) const override;
    ActionScope resolvedScope() const override;
    QList<ScopeOption> scopeOptions() const override;
    // Re-reads a local database after its store changed; selects the same chat
    // again when it is still there, else the chat that took its row.
    void reloadLocalDb(_LocalDbItemNode *node) override;
    void reloadDevice(_IOSDeviceItemNode *node) override;
    void removeSourceNode(_AbsDBItemNode *node) override;
    void addStoreFolderSource(const QString &root, const QString &fileName) override;
    void addOpenedSource(_OpenedItemNode::What what, const QString &name, const QString &path,
                         const ViberDataPtr &data) override;
    void showSource(_AbsDBItemNode *node) override { selectNode(node); }
    // The welcome page's links lead to the actions that bring a source in.
    void onWelcomeLink(const QString &way);

    // The features' actions, each on a scope.
    void backup(ActionScope scope);
    void remove(ActionScope scope);
    void extractMedia(ActionScope scope);
    void exportMessages(ActionScope scope);
    void exportCalls(ActionScope scope);
    void print(ActionScope scope);
    void transferToIPhone(ActionScope scope);
    void exportToITunesBackup(ActionScope scope);
    void importViberDesktop(bool toSelectedDb);
    void importITunesBackup(bool toSelectedDb);

    void buildActions();
    void buildMenus();
    void installShortcuts();
    void updateActions();
    void addStartupSources();
    void startPeriphery();

    void showMessages(const ViberDataPtr &data, _ViberChat *chat);
    void showList(const QList<_ViberMsg *> &messages);
    void fitDateColumn();
    void buildPageSizeChooser();
    QMenu *buildMapSiteMenu();
    void clearViews();
    void clearTreeSelection();
    void selectNode(AbsTreeItemModel::_ItemNode *node);
    // Opens and reads the store into the node; false (the user told) on failure.
    bool loadSource(_AbsDBItemNode *node, const QDir &root, const QString &fileName,
                    bool makePreviews = true);

    QList<_ViberMsg *> selectedMessages() const;
    _ChatSessionItemNode *selectedChat() const;
    // Attached phones other than source (which may be null).
    int phonesBesides(const _AbsDBItemNode *source) const;

    void showChatPicture(const _ViberChat *chat);

    // The picture of a menu entry named by key; "" for none.
    static QString menuIcon(const char *key);
    QAction *makeAction(const char *key, const QString &icon, void (MainWindow::*slot)());

    std::unique_ptr<Ui::MainWindow> ui;
    ItemModelMain *m_treeModel;
    ItemModelSms *m_smsModel;
    VBBubbleViewMgr *m_bubbleView;
    QAction *m_actBackup = nullptr;
    QAction *m_actI2i = nullptr;
    QAction *m_actDb2i = nullptr;
    QAction *m_actExtractMedia = nullptr;
    QAction *m_actExport = nullptr;
    QAction *m_actPrint = nullptr;
    QAction *m_actDelete = nullptr;
    QAction *m_actImportiTunes = nullptr;
    QAction *m_actOpenStore = nullptr;
    QAction *m_actExportCall = nullptr;
    _ViberChat *m_shownChat = nullptr;
    UpdateCheck *m_updateCheck = nullptr;
    QLabel *m_advLabel = nullptr;
    QDialog *m_help = nullptr; // made on first use, kept for the session

    Options m_options;
    // The data of what is shown, kept so that the list never outlives its records.
    ViberDataPtr m_shownData;
    DeviceLoader m_deviceLoader;
    FolderOpener m_folderOpener;
    std::unique_ptr<LocalDbController> m_localDb;
    std::unique_ptr<ExportController> m_exports;
    std::unique_ptr<ImportController> m_imports;
    std::unique_ptr<TransferController> m_transfers;
    SearchController *m_search = nullptr; // a child of the window
};
