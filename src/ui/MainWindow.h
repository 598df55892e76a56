#pragma once

#include "ItemModelMain.h"
#include "ItemModelSms.h"

#include <QDir>
#include <QItemSelection>
#include <QMainWindow>

#include <functional>
#include <memory>

namespace Ui {
class MainWindow;
}

class QAction;
class QLabel;
class QMenu;
class UpdateCheck;
class VBBubbleViewMgr;

// The program's only main window: the source tree, the message list of the
// selected source or chat, the bubble view, and the actions on them.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    struct Options
    {
        // Whether the device library loaded, so that device events can be watched.
        bool deviceLibraryLoaded = false;
        // The web services' address; "" makes no request at all.
        QString serviceBaseUrl;
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

    ItemModelMain *treeModel() const { return m_treeModel; }
    ItemModelSms *smsModel() const { return m_smsModel; }
    VBBubbleViewMgr *bubbleView() const { return m_bubbleView; }
    const _ViberChat *shownChat() const { return m_shownChat; }
    // The node selected in the source tree; null when none.
    AbsTreeItemModel::_ItemNode *selectedNode() const;
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
    void miBackup();
    void miBackupChat();
    void miBackupAll();
    void miBackupToolbar();
    void miExtractMedia();
    void miExtractMediaChat();
    void miExtractMediaAll();
    void miExtractMediaToolbar();
    void miExport();
    void miExportChat();
    void miExportAll();
    void miExportToolbar();
    void miExportCallChat();
    void miExportCallAll();
    void miExportCallToolbar();
    void miPrint();
    void miPrintChat();
    void miPrintAll();
    void miPrintToolbar();
    void miDelete();
    void miDeleteChat();
    void miDeleteToolbar();
    void miDeleteAll();
    void miOpenDBFolder();
    void miCheckUpdate();
    void miHelp();
    void miFeedback();
    void miHome();
    void miAbout();
    void miUnmoutDevice();
    void miClearCache();
    void miImportPCPort();
    void miImportPCPortToLocalDb();
    void iosDeviceConnected(void *handle);
    void iosDeviceDisconnected(void *handle);
    void miI2i();
    void miI2iChat();
    void miI2iAll();
    void miI2iToolbar();
    void miDb2i();
    void miDb2iChat();
    void miDb2iAll();
    void miDb2iToolbar();
    void miImportiTunes();
    void miImportiTunesToLocalDb();
    void miExport2ITunesBKSel();
    void miExport2ITunesBKChat();
    void miExport2ITunesBKAll();
    void miExport2ITunesBKToolbar();
    void miViewIOSCacheFiles();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class Scope { Selection, Chat, All, Toolbar };

    void buildActions();
    void buildMenus();
    void updateActions();
    void addStartupSources();
    void startPeriphery();

    void showMessages(const ViberDataPtr &data, _ViberChat *chat);
    void showList(const QList<_ViberMsg *> &messages);
    void clearViews();
    void clearTreeSelection();
    void selectNode(AbsTreeItemModel::_ItemNode *node);
    // Opens and reads the store into the node; false (the user told) on failure.
    bool loadSource(_AbsDBItemNode *node, const QDir &root, const QString &fileName);
    // Re-reads a local database after its store changed; selects the chat with
    // reselectChatId again when it is still there.
    void reloadLocalDb(_LocalDbItemNode *node);

    QList<_ViberMsg *> selectedMessages() const;
    QList<_ViberMsg *> scopeMessages(Scope scope) const;
    Scope toolbarScope() const;
    _AbsDBItemNode *selectedSource() const;
    _ChatSessionItemNode *selectedChat() const;
    int deviceCount() const;

    void backup(const QList<_ViberMsg *> &messages);
    void deleteMessages(const QList<_ViberMsg *> &messages, bool wholeChat);
    void removeDeviceNode(_IOSDeviceItemNode *node);
    void notAvailable(const char *action);
    void showChatPicture(const _ViberChat *chat);

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
    QAction *m_actExportCall = nullptr;
    _ViberChat *m_shownChat = nullptr;
    UpdateCheck *m_updateCheck = nullptr;
    QLabel *m_advLabel = nullptr;

    Options m_options;
    // The data of what is shown, kept so that the list never outlives its records.
    ViberDataPtr m_shownData;
    DeviceLoader m_deviceLoader;
    FolderOpener m_folderOpener;
};
