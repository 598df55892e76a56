#include "SearchActions.h"

#include "ItemModelMain.h"
#include "ItemModelSms.h"
#include "MessageBoxes.h"
#include "RunWorker.h"
#include "VBBubbleViewMgr.h"
#include "workers/SearchMessagesThread.h"

#include <QLabel>
#include <QLineEdit>
#include <QTreeView>

#include <algorithm>

namespace {

// Short searches show no progress dialog.
constexpr int kSearchDialogDelayMs = 300;

} // namespace

SearchController::SearchController(const Widgets &widgets, QObject *parent) : QObject(parent), m_w(widgets)
{
    // A new list or a new keyword makes the matches found stale.
    connect(m_w.messageModel, &QAbstractItemModel::modelReset, this, &SearchController::forgetMatches);
    connect(m_w.messageKeyword, &QLineEdit::textChanged, this, &SearchController::forgetMatches);
    connect(m_w.chatKeyword, &QLineEdit::textChanged, this, &SearchController::filterChats);
    // Sources read again bring their chats back: the filter applies to them too.
    connect(m_w.sourceModel, &QAbstractItemModel::rowsInserted, this,
            [this] { filterChats(m_w.chatKeyword->text()); });
    m_w.matchCount->clear();
}

void SearchController::forgetMatches()
{
    m_searched = false;
    m_matches.clear();
    m_w.matchCount->clear();
    m_w.bubbles->setHighlight(QString());
}

void SearchController::findNextMessage()
{
    const QString keyword = m_w.messageKeyword->text().trimmed();
    if (keyword.isEmpty()) {
        forgetMatches();
        return;
    }
    const QList<_ViberMsg *> messages = m_w.messageModel->messages();
    if (messages.isEmpty()) {
        showInfo(tr("IDS_CAN_NOT_FOUND_AND_MESSAGES"), m_w.parent);
        return;
    }
    // A new search may find the row the user is on; the next one goes past it.
    bool fresh = false;
    if (!m_searched || keyword != m_keyword) {
        fresh = true;
        SearchMessagesThread worker(messages, keyword);
        if (!runWorker(m_w.parent, &worker, tr("IDS_SEARCHING_MESSAGES"), true, kSearchDialogDelayMs))
            return;
        m_matches = worker.matches();
        m_keyword = keyword;
        m_searched = true;
        m_w.bubbles->setHighlight(keyword);
    }
    if (m_matches.isEmpty()) {
        m_w.matchCount->setText(tr("IDS_SEARCH_NO_MATCH"));
        showInfo(tr("IDS_CAN_NOT_FOUNDSMS_KEYWORD_%0").arg(keyword.toHtmlEscaped()), m_w.parent);
        return;
    }
    const QModelIndex current = m_w.messages->currentIndex();
    const qsizetype from = current.isValid() ? current.row() : -1;
    auto next = fresh ? std::lower_bound(m_matches.cbegin(), m_matches.cend(), from)
                      : std::upper_bound(m_matches.cbegin(), m_matches.cend(), from);
    if (next == m_matches.cend()) {
        // Going round silently hides that every match was seen: the user decides.
        if (!askYesNo(tr("IDS_SEARCH_START_OVER_%1").arg(keyword.toHtmlEscaped()), m_w.parent))
            return;
        next = m_matches.cbegin();
    }
    selectRow(*next);
    m_w.matchCount->setText(
        tr("IDS_SEARCH_MATCH_%1_OF_%n", nullptr, int(m_matches.size())).arg(next - m_matches.cbegin() + 1));
}

void SearchController::selectRow(qsizetype row)
{
    const QModelIndex index = m_w.messageModel->index(int(row), 0);
    m_w.messages->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                               QItemSelectionModel::Rows);
    m_w.messages->scrollTo(index);
}

void SearchController::filterChats(const QString &text)
{
    const QString keyword = text.trimmed();
    for (AbsTreeItemModel::_ItemNode *root : m_w.sourceModel->topLevelNodes()) {
        for (AbsTreeItemModel::_ItemNode *source : root->children) {
            const QModelIndex parent = m_w.sourceModel->indexOf(source);
            for (qsizetype row = 0; row < source->children.size(); ++row) {
                const bool shown = keyword.isEmpty() ||
                                   source->children.at(row)->text.contains(keyword, Qt::CaseInsensitive);
                m_w.sources->setRowHidden(int(row), parent, !shown);
            }
            if (!keyword.isEmpty() && !source->children.isEmpty())
                m_w.sources->expand(parent);
        }
    }
}

void SearchController::findNextChat()
{
    const QString keyword = m_w.chatKeyword->text().trimmed();
    if (keyword.isEmpty())
        return;
    filterChats(keyword);
    // The chats of the chosen source; with nothing chosen, those of every source
    // from the top of the tree.
    const QModelIndexList selected = m_w.sources->selectionModel()->selectedIndexes();
    AbsTreeItemModel::_ItemNode *node =
        selected.isEmpty() ? nullptr : m_w.sourceModel->nodeOf(selected.first());
    QList<AbsTreeItemModel::_ItemNode *> chats;
    if (_AbsDBItemNode *source = ItemModelMain::sourceOf(node)) {
        chats = source->children;
    } else {
        for (AbsTreeItemModel::_ItemNode *root : m_w.sourceModel->topLevelNodes())
            for (AbsTreeItemModel::_ItemNode *sourceNode : root->children)
                chats += sourceNode->children;
    }
    const qsizetype count = chats.size();
    const qsizetype start = node && node->kind == ItemNodeChatSession ? chats.indexOf(node) + 1 : 0;
    for (qsizetype i = 0; i < count; ++i) {
        AbsTreeItemModel::_ItemNode *chat = chats.at((start + i) % count);
        if (chat->text.contains(keyword, Qt::CaseInsensitive)) {
            const QModelIndex index = m_w.sourceModel->indexOf(chat);
            m_w.sources->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
            m_w.sources->scrollTo(index);
            return;
        }
    }
    showInfo(tr("IDS_CAN_NOT_FOUNDCONTACT_KEYWORD_%0").arg(keyword.toHtmlEscaped()), m_w.parent);
}
