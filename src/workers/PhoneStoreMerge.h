#pragma once

#include "WorkSteps.h"

#include "viber/ViberData.h"

#include <QCoreApplication>
#include <QList>
#include <QSet>

class IOSViberDb;

// The selected records merged into a working copy of a phone's store, through the
// same merge as a copy into a local database (ViberMsgMerger). Both ways run inside
// one transaction they begin; the caller commits once the files are delivered.
class PhoneStoreMerge
{
    Q_DECLARE_TR_FUNCTIONS(PhoneStoreMerge)

public:
    struct Result
    {
        qint64 messages = 0; // records taken, calls apart
        qint64 calls = 0;
        QList<std::pair<qint64, const _ViberAtta *>> attachments; // new keys and their records
        qint64 phoneDuplicates = 0; // copies of one message among the phone's own rows
        bool anyCalls = false;
        // Conversations the merge wrote into; all of them when it rebuilt the store.
        QSet<qint64> chats;
        bool allChats = false;
    };

    // A current store's rows are referred to from places this program does not keep
    // (history, pinned messages, call logs): its rows stay where they are and the new
    // ones are added. An older store is rebuilt in date order, as its app lists by key,
    // each message once.
    static Result run(IOSViberDb &work, const QList<_ViberMsg *> &records, const WorkSteps &steps);

private:
    static Result rebuild(IOSViberDb &work, const QList<_ViberMsg *> &records, const WorkSteps &steps);
    static Result append(IOSViberDb &work, const QList<_ViberMsg *> &records, const WorkSteps &steps);
};
