#pragma once

#include <QCoreApplication>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class ItemModelMain;
class ItemModelSms;
class QLabel;
class QLineEdit;
class QTreeView;
class QWidget;
class VBBubbleViewMgr;

// The window's two searches. Messages: every match of the list is found at once
// (off the window's thread), counted, marked in the bubbles, and visited in turn,
// asking before it starts again from the top. Chats: the tree shows only the
// chats whose title holds the text, as it is typed.
class SearchController : public QObject
{
    Q_OBJECT
public:
    struct Widgets
    {
        QWidget *parent = nullptr;
        QTreeView *messages = nullptr;
        ItemModelSms *messageModel = nullptr;
        VBBubbleViewMgr *bubbles = nullptr;
        QLineEdit *messageKeyword = nullptr;
        QLabel *matchCount = nullptr;
        QTreeView *sources = nullptr;
        ItemModelMain *sourceModel = nullptr;
        QLineEdit *chatKeyword = nullptr;
    };

    explicit SearchController(const Widgets &widgets, QObject *parent = nullptr);

    // The next message holding the keyword after the current row.
    void findNextMessage();
    // Selects the next chat the filter shows after the selected one.
    void findNextChat();
    // Hides the chats whose title does not hold text (none hidden for "").
    void filterChats(const QString &text);

    // Positions of the messages found for the last search; empty before.
    const QList<qsizetype> &matches() const { return m_matches; }

private:
    void forgetMatches();
    void selectRow(qsizetype row);

    Widgets m_w;
    QString m_keyword; // that the matches are for
    bool m_searched = false;
    QList<qsizetype> m_matches;
};
