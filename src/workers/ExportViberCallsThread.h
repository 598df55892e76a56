#pragma once

#include "WorkerThread.h"

#include "viber/ViberData.h"

#include <QList>

// Writes calls, newest first, as a fixed-width text table: person, direction,
// date, duration. A failed or cancelled run leaves no file.
class ExportViberCallsThread : public WorkerThread
{
    Q_OBJECT
public:
    // calls are only read and must outlive the thread.
    ExportViberCallsThread(const QList<_ViberCall *> &calls, const QString &filePath,
                           QObject *parent = nullptr);
    ~ExportViberCallsThread() override;

    // "Incoming", "Outgoing", "Missed"; empty for a type the table does not name.
    static QString typeText(ViberCallType type);

protected:
    QString work() override;

private:
    QList<_ViberCall *> m_calls;
    QString m_filePath;
};
