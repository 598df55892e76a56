#pragma once

#include "ActionScope.h"
#include "ItemModelMain.h"

#include <QList>

class QDir;
class QWidget;

// What the feature controllers use of the main window: its selection, its
// source tree and the refresh after a store changed. The window implements it.
class WindowContext
{
public:
    virtual ~WindowContext() = default;

    // Parent of the controllers' dialogs.
    virtual QWidget *dialogParent() = 0;
    virtual ItemModelMain *treeModel() const = 0;
    virtual AbsTreeItemModel::_ItemNode *selectedNode() const = 0;
    // The source of the selected node; null when none.
    virtual _AbsDBItemNode *selectedSource() const = 0;
    virtual const _ViberChat *shownChat() const = 0;
    // The messages of a scope, in date order; Toolbar resolves to resolvedScope().
    virtual QList<_ViberMsg *> scopeMessages(ActionScope scope) const = 0;
    // Selection when messages are chosen, else Chat when a chat is shown, else All.
    virtual ActionScope resolvedScope() const = 0;
    // The scopes on offer now, narrowest first, each with its count; only those
    // holding messages.
    virtual QList<ScopeOption> scopeOptions() const = 0;
    // Re-reads a local database after its store changed, keeping what was shown.
    virtual void reloadLocalDb(_LocalDbItemNode *node) = 0;
    // Removes a source node, first letting the views go of its records.
    virtual void removeSourceNode(_AbsDBItemNode *node) = 0;
    // Shows the store fileName below root as a source that is only read, and
    // selects it; a folder shown already is selected again.
    virtual void addStoreFolderSource(const QString &root, const QString &fileName) = 0;
    // Shows records read elsewhere (a backup, a Viber Desktop database) as a source
    // opened in place, and selects it; a path
    // shown already is selected again.
    virtual void addOpenedSource(_OpenedItemNode::What what, const QString &name, const QString &path,
                                 const ViberDataPtr &data) = 0;
    // Reads a connected phone afresh after its store changed on the phone.
    virtual void reloadDevice(_IOSDeviceItemNode *node) = 0;
    // Selects a source node, showing its messages.
    virtual void showSource(_AbsDBItemNode *node) = 0;
    // Opens and reads the store fileName below root into the node, behind a progress
    // dialog when it takes a while; false (the user told) on failure. Without
    // makePreviews nothing is written beside the store.
    virtual bool loadSource(_AbsDBItemNode *node, const QDir &root, const QString &fileName,
                            bool makePreviews) = 0;
    // Shows a node's children in the source tree.
    virtual void expand(AbsTreeItemModel::_ItemNode *node) = 0;
    // Enables the actions that the selection allows, each disabled one saying why.
    virtual void updateActions() = 0;
};
