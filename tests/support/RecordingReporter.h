#pragma once

#include "workers/ProgressReporter.h"

#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

#include <atomic>
#include <functional>

// Records what a worker reports, from any thread. It presses Cancel once the reports satisfy
// cancelWhen (or on cancel()), and with holdTips holds a worker at tipsAndWait until acknowledge().
class RecordingReporter : public ProgressReporter
{
public:
    void reportProgress(const QString &status, int percent, const QString &detail) override
    {
        QMutexLocker lock(&m_mutex);
        if (!status.isEmpty())
            statuses << status;
        if (!detail.isEmpty())
            details << detail;
        percents << percent;
        if (cancelWhen && cancelWhen(*this))
            cancel();
    }
    void reportError(const QString &message) override { record(errors, message); }
    void reportSuccess(const QString &message) override { record(successes, message); }
    void tipsAndWait(const QString &message) override
    {
        record(tips, message);
        m_waiting = holdTips.load();
    }
    bool isWaiting() const override { return m_waiting.load(); }
    bool isCancelled() const override { return m_cancelled.load(); }

    void cancel() { m_cancelled = true; }
    void acknowledge() { m_waiting = false; }

    std::function<bool(const RecordingReporter &)> cancelWhen;
    std::atomic<bool> holdTips{false};
    QStringList statuses, details, errors, successes, tips;
    QList<int> percents;

private:
    void record(QStringList &list, const QString &message)
    {
        QMutexLocker lock(&m_mutex);
        list << message;
    }

    mutable QMutex m_mutex;
    std::atomic<bool> m_cancelled{false}, m_waiting{false};
};
