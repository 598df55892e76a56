#include "WindowMenus.h"

#include "DeviceActions.h"
#include "ExportActions.h"
#include "ImportActions.h"
#include "LocalDbActions.h"
#include "SelectionActions.h"
#include "ToolsActions.h"
#include "TransferActions.h"
#include "WindowContext.h"

#include <QAction>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

void WindowControllers::run(Scoped action, ActionScope scope) const
{
    switch (action) {
    case Backup:
        return localDb->backup(scope);
    case Transfer:
        return transfers->transferToIPhone(scope);
    case ExtractMedia:
        return exports->extractMedia(scope);
    case Export:
        return exports->exportMessages(scope);
    case ExportCalls:
        return exports->exportCalls(scope);
    case Print:
        return exports->print(scope);
    case Delete:
        return localDb->remove(scope);
    case ExportToITunes:
        return transfers->exportToITunesBackup(scope);
    }
}

WindowMenus::WindowMenus(QMainWindow *window, WindowContext &context, const WindowControllers &controllers)
    : m_window(window), m_context(context), m_c(controllers)
{
}

QString WindowMenus::menuIcon(const char *key)
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
        {"IDS_MI_IMPORT_FROM_ITUNES", ":/res/load_itunes.png"},
        {"IDS_MI_OPEN_DB_FOLDER", ":/res/open_db_folder.png"},
        {"IDS_MI_OPEN_STORE_FOLDER", ":/res/open_db_folder.png"},
        {"IDS_MI_UNMOUNT_DEVICE", ":/res/unmount.png"},
        {"IDS_MI_VIEW_CACHE_FILES", ":/res/view-cache.png"},
    };
    const QLatin1String name(key);
    for (const auto &[prefix, picture] : pictures)
        if (name.startsWith(QLatin1String(prefix)))
            return QLatin1String(picture);
    return QString();
}

QAction *WindowMenus::makeAction(const char *key, const QString &icon, std::function<void()> run)
{
    auto *action = new QAction(tr(key), m_window);
    action->setObjectName(QLatin1String(key));
    const QString picture = icon.isEmpty() ? menuIcon(key) : icon;
    if (!picture.isEmpty())
        action->setIcon(QIcon(picture));
    if (run)
        QObject::connect(action, &QAction::triggered, m_window, [run = std::move(run)] { run(); });
    return action;
}

QAction *WindowMenus::makeScoped(const char *key, WindowControllers::Scoped scoped)
{
    return makeAction(key, QString(), [c = m_c, scoped] { c.run(scoped, ActionScope::Toolbar); });
}

void WindowMenus::build(QMenuBar *menuBar, QToolBar *toolbar, QLineEdit *findField)
{
    using C = WindowControllers;
    m_actBackup = makeScoped(QT_TR_NOOP("IDS_MI_BACKUP_TOOLBAR"), C::Backup);
    m_actI2i = makeScoped(QT_TR_NOOP("IDS_MI_I2I_TOOLBAR"), C::Transfer);
    m_actDb2i = makeScoped(QT_TR_NOOP("IDS_MI_DB2I_TOOLBAR"), C::Transfer);
    m_actExtractMedia = makeScoped(QT_TR_NOOP("IDS_MI_EXTRACT_MEDIA_TOOLBAR"), C::ExtractMedia);
    m_actExport = makeScoped(QT_TR_NOOP("IDS_MI_EXPORT_TOOLBAR"), C::Export);
    m_actExportCall = makeScoped(QT_TR_NOOP("IDS_MI_EXPORT_CALL_TOOLBAR"), C::ExportCalls);
    m_actPrint = makeScoped(QT_TR_NOOP("IDS_MI_PRINT_TOOLBAR"), C::Print);
    m_actDelete = makeScoped(QT_TR_NOOP("IDS_MI_DELETE_TOOLBAR"), C::Delete);
    ImportController *imports = m_c.imports;
    m_actImportiTunes = makeAction(QT_TR_NOOP("IDS_MI_IMPORT_FROM_ITUNES"), QString(),
                                   [imports] { imports->importITunesBackup(false); });
    m_actOpenStore = makeAction(QT_TR_NOOP("IDS_MI_OPEN_STORE_FOLDER"), QString(),
                                [imports] { imports->openStoreFolder(); });

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

    QMenu *file = menuBar->addMenu(tr("IDS_MENU_FILE"));
    file->setObjectName(QStringLiteral("menuFile"));
    file->addActions({m_actBackup, m_actI2i, m_actDb2i});
    file->addSeparator();
    file->addActions({m_actExtractMedia, m_actExport, m_actExportCall, m_actPrint, m_actDelete});
    file->addSeparator();
    file->addActions({m_actImportiTunes, m_actOpenStore});
    file->addAction(makeAction(QT_TR_NOOP("IDS_MI_IMPORT_FROM_PC"), QString(),
                               [imports] { imports->importViberDesktop(false); }));
    LocalDbController *localDb = m_c.localDb;
    file->addAction(
        makeAction(QT_TR_NOOP("IDS_MI_OPEN_DB_FOLDER"), QString(), [localDb] { localDb->openFolder(); }));
    file->addSeparator();
    QMainWindow *window = m_window;
    QAction *exit = makeAction(QT_TR_NOOP("IDS_MI_EXIT"), QStringLiteral(":/res/exit.png"),
                               [window] { window->close(); });
    file->addAction(exit);

    ToolsController *tools = m_c.tools;
    QMenu *toolsMenu = menuBar->addMenu(tr("IDS_MENU_TOOLS"));
    toolsMenu->setObjectName(QStringLiteral("menuTools"));
    toolsMenu->addAction(makeAction(QT_TR_NOOP("IDS_MI_CHECK_UPDATE"),
                                    QStringLiteral(":/res/check-update.png"),
                                    [tools] { tools->checkUpdate(); }));
    SelectionController *selection = m_c.selection;
    toolsMenu->addMenu(tools->mapSiteMenu([selection] { selection->refresh(); }));
    toolsMenu->addAction(tools->automaticCheckAction());
    toolsMenu->setToolTipsVisible(true);
    toolsMenu->addAction(makeAction(QT_TR_NOOP("IDS_CLEAR_CACHE"), QStringLiteral(":/res/clear-cache.png"),
                                    [tools] { tools->clearCache(); }));

    QMenu *help = menuBar->addMenu(tr("IDS_MENU_HELP"));
    help->setObjectName(QStringLiteral("menuHelp"));
    QAction *helpPage =
        makeAction(QT_TR_NOOP("IDS_MI_HELP"), QStringLiteral(":/res/help.png"), [tools] { tools->help(); });
    help->addAction(helpPage);
    help->addAction(makeAction(QT_TR_NOOP("IDS_MI_FEEDBACK"), QStringLiteral(":/res/feedback.png"),
                               [tools] { tools->feedback(); }));
    help->addAction(makeAction(QT_TR_NOOP("IDS_MI_ABOUT"), QStringLiteral(":/res/about.png"),
                               [tools] { tools->about(); }));

    toolbar->addActions({m_actBackup, m_actI2i, m_actDb2i, m_actImportiTunes, m_actOpenStore});
    toolbar->addSeparator();
    toolbar->addActions({m_actExtractMedia, m_actExport, m_actExportCall, m_actPrint, m_actDelete});

    // The platform's standard keys where it has them; the menus show them beside the entries.
    m_actExport->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    m_actPrint->setShortcut(QKeySequence::Print);
    m_actDelete->setShortcut(QKeySequence::Delete);
    exit->setShortcut(QKeySequence::Quit);
    helpPage->setShortcut(QKeySequence::HelpContents);
    // Find goes to the message search, the field a reader looks in most.
    auto *find = new QAction(m_window);
    find->setObjectName(QStringLiteral("findMessages"));
    find->setShortcut(QKeySequence::Find);
    QObject::connect(find, &QAction::triggered, findField, [findField] {
        findField->setFocus(Qt::ShortcutFocusReason);
        findField->selectAll();
    });
    m_window->addAction(find);
}

void WindowMenus::updateActions()
{
    const _AbsDBItemNode *source = m_context.selectedSource();
    // An opened backup or folder is read like a phone: copied, exported, never written.
    const bool device = source && (source->kind == ItemNodeIOSDevice || source->kind == ItemNodeOpened);
    const bool localDb = source && source->kind == ItemNodeLocalDb;
    const int phones = m_context.treeModel()->attachedPhonesBesides(source);
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
