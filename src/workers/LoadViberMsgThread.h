#pragma once

#include "WorkerThread.h"

#include "viber/ViberData.h"

#include <QDir>
#include <QString>

#include <memory>

class AbsViberDb;

// Reads a store into records off the GUI thread: a database of a million messages
// takes seconds, during which the window must keep painting.
class LoadViberMsgThread : public WorkerThread
{
    Q_OBJECT
public:
    // The store fileName (relative to root) is opened read-only when the run starts.
    LoadViberMsgThread(const QDir &root, const QString &fileName, QObject *parent = nullptr);
    // Any other store, opened when the run starts; shown by name in the progress.
    LoadViberMsgThread(std::unique_ptr<AbsViberDb> store, const QString &name, QObject *parent = nullptr);
    ~LoadViberMsgThread() override;

    // The records, once the run succeeded; null before and after a failure.
    ViberDataPtr data() const { return m_data; }
    // Whether pictures without a preview get one beside the store (default): a
    // folder that is only read must not be written to.
    void setMakePreviews(bool make) { m_makePreviews = make; }

protected:
    QString work() override;

private:
    std::unique_ptr<AbsViberDb> m_store;
    QString m_name;
    ViberDataPtr m_data;
    bool m_makePreviews = true;
};
