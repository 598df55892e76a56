#pragma once

#include "WorkerThread.h"

#include "viber/ViberData.h"

#include <QList>

class IOSViberDb;

// Deletes messages and calls from a local database's store in one transaction,
// drops the conversations left without messages and compacts the file. A failure
// or a cancel rolls everything back. Attachment files stay in the folder.
class DeleteViberMsgThread : public WorkerThread
{
    Q_OBJECT
public:
    // store is the caller's and must outlive the thread; messages were loaded from
    // it (their ids are its keys) and are only read.
    DeleteViberMsgThread(IOSViberDb *store, const QList<_ViberMsg *> &messages, QObject *parent = nullptr);
    ~DeleteViberMsgThread() override;

protected:
    QString work() override;

private:
    IOSViberDb *m_store;
    QList<_ViberMsg *> m_messages;
};
