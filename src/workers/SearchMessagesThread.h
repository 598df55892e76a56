#pragma once

#include "WorkerThread.h"

#include "viber/ViberData.h"

#include <QList>
#include <QString>

#include <atomic>

// Finds the messages whose text (as the list shows it) holds a keyword, letter
// case ignored: a list of a million messages is searched off the window's thread.
class SearchMessagesThread : public WorkerThread
{
    Q_OBJECT
public:
    // messages are only read and must outlive the thread.
    SearchMessagesThread(const QList<_ViberMsg *> &messages, const QString &keyword,
                         QObject *parent = nullptr);
    ~SearchMessagesThread() override;

    // Positions in the list of the messages found, ascending; valid after success.
    const QList<qsizetype> &matches() const { return m_matches; }

protected:
    QString work() override;

private:
    // Positions in [from, to) that match; stops early once stop is set. Only the
    // reporting call checks for cancel and reports progress.
    QList<qsizetype> matchesIn(qsizetype from, qsizetype to, const std::atomic<bool> &stop, bool reports);

    QList<_ViberMsg *> m_messages;
    QString m_keyword;
    QList<qsizetype> m_matches;
};
