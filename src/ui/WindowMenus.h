#pragma once

#include "ActionScope.h"

#include <QCoreApplication>
#include <QString>

#include <functional>

class DeviceController;
class ExportController;
class ImportController;
class LocalDbController;
class QAction;
class QLineEdit;
class QMainWindow;
class QMenuBar;
class QToolBar;
class SelectionController;
class ToolsController;
class TransferController;
class WindowContext;

// The window's controllers, as its menus reach them.
struct WindowControllers
{
    LocalDbController *localDb = nullptr;
    ExportController *exports = nullptr;
    ImportController *imports = nullptr;
    TransferController *transfers = nullptr;
    DeviceController *devices = nullptr;
    ToolsController *tools = nullptr;
    SelectionController *selection = nullptr;

    // The actions that take messages; the entry that runs one names the scope.
    enum Scoped { Backup, Transfer, ExtractMedia, Export, ExportCalls, Print, Delete, ExportToITunes };
    void run(Scoped action, ActionScope scope) const;
};

// The window's menu bar, toolbar and shortcuts: each entry's text, picture and
// controller, and which of them the selection enables (a disabled one says why).
class WindowMenus
{
    Q_DECLARE_TR_FUNCTIONS(WindowMenus)

public:
    WindowMenus(QMainWindow *window, WindowContext &context, const WindowControllers &controllers);

    // Fills the menu bar and the toolbar; Find takes the user to findField.
    void build(QMenuBar *menuBar, QToolBar *toolbar, QLineEdit *findField);
    void updateActions();

    // The picture of a menu entry named by key; "" for none.
    static QString menuIcon(const char *key);

private:
    // An action of the window named key; icon "" takes the entry's picture by its key.
    QAction *makeAction(const char *key, const QString &icon, std::function<void()> run);
    QAction *makeScoped(const char *key, WindowControllers::Scoped action);

    QMainWindow *m_window;
    WindowContext &m_context;
    WindowControllers m_c;
    QAction *m_actBackup = nullptr;
    QAction *m_actI2i = nullptr;
    QAction *m_actDb2i = nullptr;
    QAction *m_actExtractMedia = nullptr;
    QAction *m_actExport = nullptr;
    QAction *m_actExportCall = nullptr;
    QAction *m_actPrint = nullptr;
    QAction *m_actDelete = nullptr;
    QAction *m_actImportiTunes = nullptr;
    QAction *m_actOpenStore = nullptr;
};
