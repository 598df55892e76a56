#pragma once

#include "viber/ViberData.h"
#include "viber/ViberMsgList.h"

#include <QDateTime>
#include <QString>

namespace testsupport {

// Builds messages of one store in code, in display order. Records belong to the
// fixture's ViberData and die with it.
class MessageFixture
{
public:
    _ViberChat *addChat(const QString &groupId = QString());
    _ViberPerson *addPerson(const QString &name, const QString &phone);
    // A message of the chat at a local time; outgoing ones are sent, the others received.
    _ViberMsg *addMessage(_ViberChat *chat, ViberMsgType type, const QDateTime &when, bool outgoing,
                          const QString &text = QString());
    _ViberAtta *addAttachment(_ViberMsg *msg, const QString &filePath, const QString &previewPath,
                              double duration = 0);
    _ViberCall *addCall(_ViberMsg *msg, ViberCallType type, qint32 duration);

    // count text messages one minute apart from the given time, alternating out and in.
    ViberMsgList addTexts(_ViberChat *chat, int count, const QDateTime &from);

    const ViberMsgList &messages() const { return m_messages; }

    ViberData data;

private:
    qint64 m_nextId = 1000;
    ViberMsgList m_messages;
};

// Store time of a local date and time.
double storeTime(const QDateTime &local);

} // namespace testsupport
