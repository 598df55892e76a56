#include "SelectionActions.h"

#include "ItemModelSms.h"
#include "MessageBoxes.h"
#include "ScopeChoice.h"
#include "VBBubbleViewMgr.h"
#include "WindowContext.h"
#include "export/MessageText.h"
#include "viber/LocalDatabases.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QTextDocument>
#include <QTreeView>

#include <algorithm>

namespace {

constexpr int kChatPictureWidth = 32;

// Messages of one source by date, ties in the store's order; the two directions are
// exact mirrors.
void sortInOrder(QList<_ViberMsg *> &messages, Qt::SortOrder order)
{
    ::sortByDate(messages, order == Qt::DescendingOrder);
}

} // namespace

SelectionController::SelectionController(WindowContext &window, const Widgets &widgets, FileOpener opener,
                                         QObject *parent)
    : QObject(parent), m_window(window), m_w(widgets), m_opener(std::move(opener))
{
    m_w.sources->setModel(m_w.sourceModel);
    m_w.sources->setIconSize(QSize(18, 18));
    // The tree's roots stay readable in a narrow window.
    m_w.sources->setMinimumWidth(
        QFontMetrics(m_w.sources->font()).horizontalAdvance(m_w.sourceModel->rootOpened()->text) + 64);
    m_w.messages->setModel(m_w.messageModel);
    m_w.messages->setIconSize(QSize(18, 18));
    QHeaderView *header = m_w.messages->header();
    header->setSectionsMovable(false);
    header->setSortIndicatorShown(true);
    header->setStretchLastSection(true);
    m_w.messages->setColumnWidth(0, 160);
    m_w.messages->setColumnWidth(1, 50);
    m_w.messages->setColumnWidth(2, 120);
    header->setSortIndicator(0, Qt::AscendingOrder);
    connect(header, &QHeaderView::sortIndicatorChanged, this, &SelectionController::onSortChanged);
    // Titles come from stores: a group called "<b>x</b>" is shown as typed.
    m_w.chatName->setTextFormat(Qt::PlainText);
    m_w.messageCount->setTextFormat(Qt::PlainText);
    m_w.chatPicture->installEventFilter(this);
}

AbsTreeItemModel::_ItemNode *SelectionController::selectedNode() const
{
    const QModelIndexList rows = m_w.sources->selectionModel()->selectedIndexes();
    return rows.isEmpty() ? nullptr : m_w.sourceModel->nodeOf(rows.first());
}

_AbsDBItemNode *SelectionController::selectedSource() const
{
    return ItemModelMain::sourceOf(selectedNode());
}

_ChatSessionItemNode *SelectionController::selectedChat() const
{
    AbsTreeItemModel::_ItemNode *node = selectedNode();
    return node && node->kind == ItemNodeChatSession ? static_cast<_ChatSessionItemNode *>(node) : nullptr;
}

QList<_ViberMsg *> SelectionController::selectedMessages() const
{
    QList<int> rows;
    for (const QModelIndex &index : m_w.messages->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    QList<_ViberMsg *> out;
    for (int row : rows)
        if (_ViberMsg *msg = m_w.messageModel->message(row))
            out.append(msg);
    return out;
}

ActionScope SelectionController::resolvedScope() const
{
    if (m_w.messages->selectionModel()->hasSelection())
        return ActionScope::Selection;
    if (selectedChat())
        return ActionScope::Chat;
    return ActionScope::All;
}

QList<ScopeOption> SelectionController::scopeOptions() const
{
    QList<ScopeOption> options;
    const _AbsDBItemNode *source = selectedSource();
    if (!source || !source->data)
        return options;
    const qint64 selected = m_w.messages->selectionModel()->selectedRows().size();
    if (selected > 0)
        options.append({ActionScope::Selection, selected, ScopeChoice::selectionText(selected)});
    const _ChatSessionItemNode *chat = selectedChat();
    if (chat && chat->chat && !chat->chat->messages.isEmpty()) {
        const qint64 count = chat->chat->messages.size();
        options.append(
            {ActionScope::Chat, count, ScopeChoice::chatText(MessageText::chatTitle(chat->chat), count)});
    }
    const qint64 all = source->data->messages.size();
    if (all > 0)
        options.append({ActionScope::All, all, ScopeChoice::allText(source->text, all)});
    return options;
}

QList<_ViberMsg *> SelectionController::scopeMessages(ActionScope scope) const
{
    switch (scope) {
    case ActionScope::Selection:
        return selectedMessages();
    case ActionScope::Chat: {
        if (!m_shownChat)
            return m_w.messageModel->messages();
        // The chat's own messages: what the list shows of it may be sorted the other way.
        QList<_ViberMsg *> chat = m_shownChat->messages;
        sortInOrder(chat, Qt::AscendingOrder);
        return chat;
    }
    case ActionScope::All: {
        const _AbsDBItemNode *source = selectedSource();
        if (!source || !source->data)
            return {};
        QList<_ViberMsg *> all = source->data->messages.values();
        sortInOrder(all, Qt::AscendingOrder);
        return all;
    }
    case ActionScope::Toolbar:
        return scopeMessages(resolvedScope());
    }
    return {};
}

void SelectionController::onSourceSelected()
{
    m_window.updateActions();
    AbsTreeItemModel::_ItemNode *node = selectedNode();
    if (!node) {
        clearViews();
        return;
    }
    switch (node->kind) {
    case ItemNodeLocalDb: {
        auto *db = static_cast<_LocalDbItemNode *>(node);
        if (!db->loaded) {
            clearViews();
            const QString folder = LocalDatabases::folderOf(db->text);
            if (folder.isEmpty() ||
                !m_window.loadSource(db, QDir(folder), QLatin1String(LocalDatabases::kStoreFileName), true))
                return;
            db->loaded = true;
            expand(db);
        }
        showMessages(db->data, nullptr);
        break;
    }
    case ItemNodeIOSDevice:
    case ItemNodeOpened:
        showMessages(static_cast<_AbsDBItemNode *>(node)->data, nullptr);
        break;
    case ItemNodeChatSession: {
        _AbsDBItemNode *source = ItemModelMain::sourceOf(node);
        showMessages(source ? source->data : ViberDataPtr(), static_cast<_ChatSessionItemNode *>(node)->chat);
        break;
    }
    default:
        clearViews();
        break;
    }
}

void SelectionController::showMessages(const ViberDataPtr &data, _ViberChat *chat)
{
    m_shownChat = chat;
    m_shownData = data;
    QList<_ViberMsg *> messages;
    if (chat)
        messages = chat->messages;
    else if (data)
        messages = data->messages.values();
    sortInOrder(messages, m_w.messages->header()->sortIndicatorOrder());
    showList(messages);

    if (chat) {
        showChatPicture(chat);
        m_w.chatName->setText(headerTitle(MessageText::chatTitle(chat)));
        m_w.chatName->setToolTip(
            Qt::convertFromPlainText(MessageText::chatTitle(chat), Qt::WhiteSpaceNormal));
    } else {
        m_w.chatPicture->hide();
        m_w.chatName->clear();
        m_w.chatName->setToolTip(QString());
    }
}

void SelectionController::refresh()
{
    if (m_shownData)
        showMessages(m_shownData, m_shownChat);
}

void SelectionController::showList(const QList<_ViberMsg *> &messages)
{
    m_w.messageModel->setMessages(messages);
    fitDateColumn();
    // The bubbles start at their first page: so does the list.
    m_w.messages->scrollToTop();
    m_w.bubbles->showBubble(messages);
    m_w.messageCount->setText(tr("IDS_MESSAGES_COUNT_%1").arg(messages.size()));
}

void SelectionController::fitDateColumn()
{
    // Dates in the user's format differ in length only by their digits: the first and
    // the last row tell the width without measuring a million rows.
    const int rows = m_w.messageModel->rowCount();
    if (rows == 0)
        return;
    const QFontMetrics metrics(m_w.messages->font());
    int width = metrics.horizontalAdvance(m_w.messageModel->headerData(0, Qt::Horizontal).toString());
    for (int row : {0, rows - 1})
        width = std::max(width, metrics.horizontalAdvance(m_w.messageModel->index(row, 0).data().toString()));
    m_w.messages->setColumnWidth(0, width + m_w.messages->iconSize().width() + 24);
}

void SelectionController::showChatPicture(const _ViberChat *chat)
{
    const QPixmap picture = ItemModelMain::contactPicture(chat);
    if (picture.isNull()) {
        m_w.chatPicture->hide();
        return;
    }
    m_w.chatPicture->setPixmap(picture.scaledToWidth(kChatPictureWidth, Qt::SmoothTransformation));
    m_w.chatPicture->show();
}

QString SelectionController::headerTitle(const QString &title)
{
    if (title.size() > 20)
        return title.left(17) + QStringLiteral("...");
    return title;
}

void SelectionController::clearViews()
{
    m_shownChat = nullptr;
    m_shownData.reset();
    m_w.messageModel->clear();
    // Without any source yet the pane shows the ways in.
    const ItemModelMain *model = m_w.sourceModel;
    if (model->deviceNodes().isEmpty() && model->rootLocalDb()->children.isEmpty() &&
        model->rootOpened()->children.isEmpty())
        m_w.bubbles->showWelcome();
    else
        m_w.bubbles->showBubble(ViberMsgList());
    m_w.messageCount->setText(tr("IDS_MESSAGES_COUNT_%1").arg(0));
    m_w.chatPicture->hide();
    m_w.chatName->clear();
    m_w.chatName->setToolTip(QString());
}

void SelectionController::clearTreeSelection()
{
    m_w.sources->selectionModel()->clearSelection();
    m_w.sources->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    clearViews();
}

void SelectionController::selectNode(AbsTreeItemModel::_ItemNode *node)
{
    const QModelIndex index = m_w.sourceModel->indexOf(node);
    if (!index.isValid())
        return;
    if (node->parent)
        expand(node->parent);
    m_w.sources->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    m_w.sources->scrollTo(index);
}

void SelectionController::expand(AbsTreeItemModel::_ItemNode *node)
{
    m_w.sources->expand(m_w.sourceModel->indexOf(node));
}

void SelectionController::onMessagesSelected()
{
    const QModelIndexList rows = m_w.messages->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return;
    int first = rows.first().row();
    for (const QModelIndex &row : rows)
        first = std::min(first, row.row());
    m_w.bubbles->scrollToPos(first);
}

void SelectionController::onSortChanged(int logicalIndex, Qt::SortOrder order)
{
    if (logicalIndex != 0) {
        // Only the date sorts; the indicator goes back to it (which re-enters here).
        m_w.messages->header()->setSortIndicator(0, Qt::AscendingOrder);
        return;
    }
    QList<_ViberMsg *> messages = m_w.messageModel->messages();
    sortInOrder(messages, order);
    showList(messages);
}

void SelectionController::showAccount()
{
    const _AbsDBItemNode *source = selectedSource();
    if (!source || !source->data)
        return;
    // What was read and what was left out, as the log and the command line say it.
    showInfo(source->data->account.text().toHtmlEscaped().replace(u'\n', QStringLiteral("<br/>")),
             m_window.dialogParent());
}

bool SelectionController::eventFilter(QObject *watched, QEvent *event)
{
    // A click on a contact's picture opens the picture's file.
    if (watched == m_w.chatPicture && event->type() == QEvent::MouseButtonRelease) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && m_shownChat && m_shownChat->participants.size() == 1) {
            const _ViberPerson *person = m_shownChat->participants.cbegin().value();
            if (person && QFileInfo(person->contactIconPath).isFile())
                m_opener(person->contactIconPath);
        }
    }
    return QObject::eventFilter(watched, event);
}
