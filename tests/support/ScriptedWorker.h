#pragma once

#include "workers/WorkerThread.h"

#include <QList>

#include <functional>

// A worker whose body is given by the test; it sees the protected helpers.
class ScriptedWorker : public WorkerThread
{
public:
    using Body = std::function<QString(ScriptedWorker &)>;
    explicit ScriptedWorker(Body body) : m_body(std::move(body)) {}
    ~ScriptedWorker() override { wait(); }

    using WorkerThread::checkCancel;
    using WorkerThread::commitStarts;
    using WorkerThread::reportDetail;
    using WorkerThread::reportProgress;
    using WorkerThread::reportStatus;
    using WorkerThread::tipsAndWait;

    std::function<void(Outcome)> onCleanUp;
    QList<Outcome> cleanUps;

protected:
    QString work() override { return m_body(*this); }
    void cleanUp(Outcome outcome) override
    {
        cleanUps.append(outcome);
        if (onCleanUp)
            onCleanUp(outcome);
    }

private:
    Body m_body;
};
