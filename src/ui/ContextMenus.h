#pragma once

#include "WindowMenus.h"

#include <QCoreApplication>

#include <functional>
#include <memory>

class QMenu;
class QWidget;

// The context menus of the source tree and of the message list: what the node or
// the chosen messages allow, each entry running its controller on the scope its
// name says (the whole source, the chat, the selection).
class ContextMenus
{
    Q_DECLARE_TR_FUNCTIONS(ContextMenus)

public:
    ContextMenus(WindowContext &window, const WindowControllers &controllers)
        : m_window(window), m_c(controllers)
    {
    }

    // The menus for what is selected now; null when there is nothing to offer.
    std::unique_ptr<QMenu> treeMenu(QWidget *parent) const;
    std::unique_ptr<QMenu> listMenu(QWidget *parent) const;
    // Shows them at the pointer.
    void showTreeMenu(QWidget *parent) const;
    void showListMenu(QWidget *parent) const;

private:
    // Adds an entry with the picture its key names.
    void add(QMenu &menu, const char *key, std::function<void()> run) const;
    void addScoped(QMenu &menu, const char *key, WindowControllers::Scoped action, ActionScope scope) const;

    WindowContext &m_window;
    WindowControllers m_c;
};
