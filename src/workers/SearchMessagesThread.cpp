#include "SearchMessagesThread.h"

#include "export/MessageText.h"

#include <QStringMatcher>

namespace {

// Messages between two looks at cancel and progress.
constexpr qsizetype kBatch = 8192;

} // namespace

SearchMessagesThread::SearchMessagesThread(const QList<_ViberMsg *> &messages, const QString &keyword,
                                           QObject *parent)
    : WorkerThread(parent), m_messages(messages), m_keyword(keyword)
{
}

SearchMessagesThread::~SearchMessagesThread()
{
    wait();
}

QString SearchMessagesThread::work()
{
    m_matches.clear();
    // Prepared once: the same pattern is looked for in every message.
    const QStringMatcher matcher(m_keyword, Qt::CaseInsensitive);
    const qsizetype count = m_messages.size();
    for (qsizetype i = 0; i < count; ++i) {
        if (i % kBatch == 0) {
            checkCancel();
            reportProgress(percentOf(i, count));
        }
        if (matcher.indexIn(MessageText::plainText(m_messages.at(i))) >= 0)
            m_matches.append(i);
    }
    return QString();
}
