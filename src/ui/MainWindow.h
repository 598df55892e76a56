#pragma once

#include "ItemModelMain.h"
#include "ItemModelSms.h"
#include "WindowContext.h"

#include <QMainWindow>

#include <functional>
#include <memory>

namespace Ui {
class MainWindow;
}

class ContextMenus;
class DeviceController;
class ExportController;
class ImportController;
class LocalDbController;
class QAction;
class SearchController;
class SelectionController;
class ToolsController;
class TransferController;
class VBBubbleViewMgr;
class WindowMenus;

// The program's only main window: the source tree, the message list of the
// selected source or chat, the bubble view, and the actions on them. The window
// builds itself and wires its menus to the feature controllers, which do the work
// and reach the window through WindowContext.
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
    const ContextMenus *contextMenus() const { return m_contextMenus.get(); }

    ItemModelMain *treeModel() const override { return m_treeModel; }
    ItemModelSms *smsModel() const { return m_smsModel; }
    VBBubbleViewMgr *bubbleView() const { return m_bubbleView; }
    const _ViberChat *shownChat() const override;
    // The node selected in the source tree; null when none.
    AbsTreeItemModel::_ItemNode *selectedNode() const override;
    // The window's actions (menus, toolbar, shortcuts), by key (IDS_MI_BACKUP_TOOLBAR, ...).
    QAction *toolbarAction(const QString &key) const;

private:
    // WindowContext
    QWidget *dialogParent() override { return this; }
    _AbsDBItemNode *selectedSource() const override;
    QList<_ViberMsg *> scopeMessages(ActionScope scope) const override;
    ActionScope resolvedScope() const override;
    QList<ScopeOption> scopeOptions() const override;
    // Selects the same chat again when it is still there, else the chat that took its row.
    void reloadLocalDb(_LocalDbItemNode *node) override;
    void reloadDevice(_IOSDeviceItemNode *node) override;
    void removeSourceNode(_AbsDBItemNode *node) override;
    void addStoreFolderSource(const QString &root, const QString &fileName) override;
    void addOpenedSource(_OpenedItemNode::What what, const QString &name, const QString &path,
                         const ViberDataPtr &data) override;
    void showSource(_AbsDBItemNode *node) override;
    bool loadSource(_AbsDBItemNode *node, const QDir &root, const QString &fileName,
                    bool makePreviews) override;
    void expand(AbsTreeItemModel::_ItemNode *node) override;
    void updateActions() override;

    // The local databases and the stored copies of phones.
    void addStartupSources();

    std::unique_ptr<Ui::MainWindow> ui;
    ItemModelMain *m_treeModel;
    ItemModelSms *m_smsModel;
    VBBubbleViewMgr *m_bubbleView;
    Options m_options;
    FolderOpener m_folderOpener;
    std::unique_ptr<LocalDbController> m_localDb;
    std::unique_ptr<ExportController> m_exports;
    std::unique_ptr<ImportController> m_imports;
    std::unique_ptr<TransferController> m_transfers;
    // Children of the window.
    SelectionController *m_selection = nullptr;
    DeviceController *m_devices = nullptr;
    ToolsController *m_tools = nullptr;
    SearchController *m_search = nullptr;
    std::unique_ptr<WindowMenus> m_menus;
    std::unique_ptr<ContextMenus> m_contextMenus;
};
