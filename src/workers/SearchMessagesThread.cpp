#include "SearchMessagesThread.h"

#include "export/MessageText.h"

#include <QStringMatcher>

#include <stdexcept>
#include <string>
#include <thread>

namespace {

// Messages between two looks at cancel and progress.
constexpr qsizetype kBatch = 8192;
// How many places ahead a message is fetched from memory.
constexpr qsizetype kAhead = 8;

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

QList<qsizetype> SearchMessagesThread::matchesIn(qsizetype from, qsizetype to, const std::atomic<bool> &stop,
                                                 bool reports)
{
    QList<qsizetype> found;
    const QStringMatcher matcher(m_keyword, Qt::CaseInsensitive);
    for (qsizetype i = from; i < to; ++i) {
        if ((i - from) % kBatch == 0) {
            if (stop.load(std::memory_order_relaxed))
                break;
            if (reports) {
                checkCancel();
                reportProgress(percentOf(i - from, to - from));
            }
        }
        // The record first, then (once it has arrived) the texts it points to.
        if (i + 2 * kAhead < to)
            fetchAhead(m_messages.at(i + 2 * kAhead));
        if (i + kAhead < to) {
            const _ViberMsg *soon = m_messages.at(i + kAhead);
            fetchAhead(soon->text.constData());
            fetchAhead(soon->other.constData());
        }
        if (matcher.indexIn(MessageText::plainText(m_messages.at(i))) >= 0)
            found.append(i);
    }
    return found;
}

QString SearchMessagesThread::work()
{
    m_matches.clear();
    const qsizetype count = m_messages.size();
    // A long list is read in two halves side by side; this thread takes the first,
    // reports for both (the halves move at one pace) and stops the other on cancel.
    const qsizetype half = count < 4 * kBatch ? count : count / 2;
    std::atomic<bool> stop{false};
    QList<qsizetype> later;
    std::string failure; // an exception may not leave a thread
    std::thread second;
    if (half < count)
        second = std::thread([&] {
            try {
                later = matchesIn(half, count, stop, false);
            } catch (const std::exception &e) {
                failure = e.what();
                stop = true;
            }
        });
    struct Join
    {
        std::thread &t;
        std::atomic<bool> &stop;
        ~Join()
        {
            stop = true;
            if (t.joinable())
                t.join();
        }
    } join{second, stop};
    QList<qsizetype> first = matchesIn(0, half, stop, true);
    if (second.joinable())
        second.join();
    if (!failure.empty())
        throw std::runtime_error(failure);
    first.append(later);
    m_matches = std::move(first);
    return QString();
}
