#pragma once

#include "ActionScope.h"
#include "ItemModelMain.h"

#include <QObject>

#include <functional>

class ItemModelSms;
class QLabel;
class QTreeView;
class VBBubbleViewMgr;
class WindowContext;

// What the window shows of its selection: the source tree's choice, the message
// list with its header (the chat's picture and title) and the bubbles, and the
// scopes the actions take from them.
class SelectionController : public QObject
{
    Q_OBJECT
public:
    struct Widgets
    {
        QTreeView *sources = nullptr;
        ItemModelMain *sourceModel = nullptr;
        QTreeView *messages = nullptr;
        ItemModelSms *messageModel = nullptr;
        VBBubbleViewMgr *bubbles = nullptr;
        QLabel *chatPicture = nullptr;
        QLabel *chatName = nullptr;
        QLabel *messageCount = nullptr;
    };
    // Hands a file to the desktop; false when that failed.
    using FileOpener = std::function<bool(const QString &path)>;

    SelectionController(WindowContext &window, const Widgets &widgets, FileOpener opener,
                        QObject *parent = nullptr);

    // The node selected in the source tree and its source; null when none.
    AbsTreeItemModel::_ItemNode *selectedNode() const;
    _AbsDBItemNode *selectedSource() const;
    _ChatSessionItemNode *selectedChat() const;
    const _ViberChat *shownChat() const { return m_shownChat; }
    // The messages of a scope, in date order; Toolbar resolves to resolvedScope().
    QList<_ViberMsg *> scopeMessages(ActionScope scope) const;
    ActionScope resolvedScope() const;
    QList<ScopeOption> scopeOptions() const;

    void selectNode(AbsTreeItemModel::_ItemNode *node);
    // Lets go of the selection and of the records the views show.
    void clearTreeSelection();
    void clearViews();
    void expand(AbsTreeItemModel::_ItemNode *node);
    // Shows again what is shown, after the way messages are written changed.
    void refresh();
    // What the selected source holds: its load's account.
    void showAccount();

    // The chat title as the header shows it: longer than 20 characters is cut
    // to 17 followed by "...".
    static QString headerTitle(const QString &title);

    void onSourceSelected();
    void onMessagesSelected();
    void onSortChanged(int logicalIndex, Qt::SortOrder order);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showMessages(const ViberDataPtr &data, _ViberChat *chat);
    void showList(const QList<_ViberMsg *> &messages);
    void fitDateColumn();
    void showChatPicture(const _ViberChat *chat);
    QList<_ViberMsg *> selectedMessages() const;

    WindowContext &m_window;
    Widgets m_w;
    FileOpener m_opener;
    _ViberChat *m_shownChat = nullptr;
    // The data of what is shown, kept so that the list never outlives its records.
    ViberDataPtr m_shownData;
};
