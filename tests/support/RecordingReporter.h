#pragma once

#include "workers/ProgressReporter.h"

#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

#include <atomic>
#include <functional>

// Records what a worker reports, from whichever thread it comes, and can play the
// user pressing Cancel once the reports so far satisfy cancelWhen.
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
            m_cancelled = true;
    }
    void reportError(const QString &message) override
    {
        QMutexLocker lock(&m_mutex);
        errors << message;
    }
    void reportSuccess(const QString &message) override
    {
        QMutexLocker lock(&m_mutex);
        successes << message;
    }
    void tipsAndWait(const QString &) override {}
    bool isWaiting() const override { return false; }
    bool isCancelled() const override { return m_cancelled.load(); }

    std::function<bool(const RecordingReporter &)> cancelWhen;
    QStringList statuses, details, errors, successes;
    QList<int> percents;

private:
    QMutex m_mutex;
    std::atomic<bool> m_cancelled{false};
};
