#include "ContextMenus.h"

#include "DeviceActions.h"
#include "ImportActions.h"
#include "LocalDbActions.h"
#include "SelectionActions.h"
#include "WindowContext.h"

#include <QCursor>
#include <QMenu>

void ContextMenus::add(QMenu &menu, const char *key, std::function<void()> run) const
{
    QAction *action = menu.addAction(tr(key));
    action->setObjectName(QLatin1String(key));
    action->setIcon(QIcon(WindowMenus::menuIcon(key)));
    QObject::connect(action, &QAction::triggered, &menu, [run = std::move(run)] { run(); });
}

void ContextMenus::addScoped(QMenu &menu, const char *key, WindowControllers::Scoped action,
                             ActionScope scope) const
{
    add(menu, key, [c = m_c, action, scope] { c.run(action, scope); });
}

std::unique_ptr<QMenu> ContextMenus::treeMenu(QWidget *parent) const
{
    using C = WindowControllers;
    const AbsTreeItemModel::_ItemNode *node = m_window.selectedNode();
    if (!node)
        return nullptr;
    const int phones = m_window.treeModel()->attachedPhonesBesides(m_window.selectedSource());
    auto menu = std::make_unique<QMenu>(parent);
    menu->setObjectName(QStringLiteral("menuSourceTree"));
    QMenu &m = *menu;
    const WindowControllers c = m_c;
    const ActionScope all = ActionScope::All, chat = ActionScope::Chat;
    switch (node->kind) {
    case ItemNodeIOSDevice:
    case ItemNodeOpened:
        addScoped(m, QT_TR_NOOP("IDS_MI_BACKUP_ALL"), C::Backup, all);
        if (phones > 0 && node->kind == ItemNodeIOSDevice)
            addScoped(m, QT_TR_NOOP("IDS_MI_I2I_ALL"), C::Transfer, all);
        addScoped(m, QT_TR_NOOP("IDS_MI_EXTRACT_MEDIA_All"), C::ExtractMedia, all);
        addScoped(m, QT_TR_NOOP("IDS_MI_EXPORT_ALL"), C::Export, all);
        addScoped(m, QT_TR_NOOP("IDS_MI_EXPORT_CALL_ALL"), C::ExportCalls, all);
        addScoped(m, QT_TR_NOOP("IDS_MI_PRINT_ALL"), C::Print, all);
        if (node->kind == ItemNodeIOSDevice) {
            add(m, QT_TR_NOOP("IDS_MI_UNMOUNT_DEVICE"), [c] { c.devices->closeSelected(); });
            add(m, QT_TR_NOOP("IDS_MI_VIEW_CACHE_FILES"), [c] { c.devices->viewCacheFiles(); });
        } else {
            add(m, QT_TR_NOOP("IDS_MI_CLOSE_SOURCE"), [c] { c.devices->closeSelected(); });
        }
        add(m, QT_TR_NOOP("IDS_MI_SHOW_ACCOUNT"), [c] { c.selection->showAccount(); });
        break;
    case ItemNodeRootOpened:
    case ItemNodeRootDevice:
    case ItemNodeRootLocalDb:
        add(m, QT_TR_NOOP("IDS_MI_OPEN_DB_FOLDER"), [c] { c.localDb->openFolder(); });
        add(m, QT_TR_NOOP("IDS_MI_IMPORT_FROM_ITUNES"), [c] { c.imports->importITunesBackup(false); });
        add(m, QT_TR_NOOP("IDS_MI_IMPORT_FROM_PC"), [c] { c.imports->importViberDesktop(false); });
        break;
    case ItemNodeLocalDb:
        if (phones > 0)
            addScoped(m, QT_TR_NOOP("IDS_MI_DB2I_ALL"), C::Transfer, all);
        addScoped(m, QT_TR_NOOP("IDS_MI_EXTRACT_MEDIA_All"), C::ExtractMedia, all);
        addScoped(m, QT_TR_NOOP("IDS_MI_EXPORT_ALL"), C::Export, all);
        addScoped(m, QT_TR_NOOP("IDS_MI_EXPORT_CALL_ALL"), C::ExportCalls, all);
        addScoped(m, QT_TR_NOOP("IDS_MI_PRINT_ALL"), C::Print, all);
        addScoped(m, QT_TR_NOOP("IDS_MI_DELETE_ALL"), C::Delete, all);
        // Brought in here, the messages go into this database.
        add(m, QT_TR_NOOP("IDS_MI_IMPORT_FROM_ITUNES"), [c] { c.imports->importITunesBackup(true); });
        add(m, QT_TR_NOOP("IDS_MI_IMPORT_FROM_PC"), [c] { c.imports->importViberDesktop(true); });
        addScoped(m, QT_TR_NOOP("IDS_MI_EXPORT_TO_ITUNES_ALL"), C::ExportToITunes, all);
        add(m, QT_TR_NOOP("IDS_MI_SHOW_ACCOUNT"), [c] { c.selection->showAccount(); });
        break;
    case ItemNodeChatSession:
        if (node->parent &&
            (node->parent->kind == ItemNodeIOSDevice || node->parent->kind == ItemNodeOpened)) {
            addScoped(m, QT_TR_NOOP("IDS_MI_BACKUP_CHAT"), C::Backup, chat);
            if (phones > 0 && node->parent->kind == ItemNodeIOSDevice)
                addScoped(m, QT_TR_NOOP("IDS_MI_I2I_CHAT"), C::Transfer, chat);
        } else if (phones > 0) {
            addScoped(m, QT_TR_NOOP("IDS_MI_DB2I_CHAT"), C::Transfer, chat);
        }
        addScoped(m, QT_TR_NOOP("IDS_MI_EXTRACT_MEDIA_CHAT"), C::ExtractMedia, chat);
        addScoped(m, QT_TR_NOOP("IDS_MI_EXPORT_CHAT"), C::Export, chat);
        addScoped(m, QT_TR_NOOP("IDS_MI_EXPORT_CALL_CHAT"), C::ExportCalls, chat);
        addScoped(m, QT_TR_NOOP("IDS_MI_PRINT_CHAT"), C::Print, chat);
        if (node->parent && node->parent->kind == ItemNodeLocalDb) {
            addScoped(m, QT_TR_NOOP("IDS_MI_DELETE_CHAT"), C::Delete, chat);
            addScoped(m, QT_TR_NOOP("IDS_MI_EXPORT_TO_ITUNES_CHAT"), C::ExportToITunes, chat);
        }
        break;
    default:
        return nullptr;
    }
    return menu;
}

std::unique_ptr<QMenu> ContextMenus::listMenu(QWidget *parent) const
{
    using C = WindowControllers;
    const _AbsDBItemNode *source = m_window.selectedSource();
    if (m_window.resolvedScope() != ActionScope::Selection || !source)
        return nullptr;
    const int phones = m_window.treeModel()->attachedPhonesBesides(source);
    auto menu = std::make_unique<QMenu>(parent);
    menu->setObjectName(QStringLiteral("menuMessageList"));
    QMenu &m = *menu;
    const ActionScope sel = ActionScope::Selection;
    const bool readOnly = source->kind == ItemNodeIOSDevice || source->kind == ItemNodeOpened;
    if (readOnly) {
        addScoped(m, QT_TR_NOOP("IDS_MI_BACKUP_SEL"), C::Backup, sel);
        if (phones > 0 && source->kind == ItemNodeIOSDevice)
            addScoped(m, QT_TR_NOOP("IDS_MI_I2I_SEL"), C::Transfer, sel);
    } else if (phones > 0) {
        addScoped(m, QT_TR_NOOP("IDS_MI_DB2I_SEL"), C::Transfer, sel);
    }
    addScoped(m, QT_TR_NOOP("IDS_MI_EXTRACT_MEDIA_SEL"), C::ExtractMedia, sel);
    addScoped(m, QT_TR_NOOP("IDS_MI_EXPORT_SEL"), C::Export, sel);
    addScoped(m, QT_TR_NOOP("IDS_MI_PRINT_SEL"), C::Print, sel);
    if (!readOnly) {
        addScoped(m, QT_TR_NOOP("IDS_MI_DELETE_SEL"), C::Delete, sel);
        addScoped(m, QT_TR_NOOP("IDS_MI_EXPORT_TO_ITUNES_SEL"), C::ExportToITunes, sel);
    }
    return menu;
}

void ContextMenus::showTreeMenu(QWidget *parent) const
{
    if (std::unique_ptr<QMenu> menu = treeMenu(parent))
        menu->exec(QCursor::pos());
}

void ContextMenus::showListMenu(QWidget *parent) const
{
    if (std::unique_ptr<QMenu> menu = listMenu(parent))
        menu->exec(QCursor::pos());
}
