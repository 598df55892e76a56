#pragma once

#include "viber/ViberData.h"
#include "viber/ViberMsgList.h"

#include <QDateTime>
#include <QList>
#include <QString>

namespace testsupport {

// Builds the records of one store in code, messages in display order. The records
// belong to data, which a test may hand on to a model and so outlive the fixture.
class MessageFixture
{
public:
    _ViberChat *addChat(const QString &groupId = QString(), const QList<_ViberPerson *> &participants = {},
                        double date = 0)
    {
        auto *chat = add(data->chats);
        chat->groupId = groupId;
        chat->date = date;
        for (_ViberPerson *p : participants)
            chat->participants.insert(p->id, p);
        return chat;
    }

    _ViberPerson *addPerson(const QString &name, const QString &phone)
    {
        auto *person = add(data->persons);
        person->name = name;
        person->phone = phone;
        return person;
    }

    // A message of the chat at a local time; outgoing ones are sent, the others received.
    _ViberMsg *addMessage(_ViberChat *chat, ViberMsgType type, const QDateTime &when, bool outgoing,
                          const QString &text = QString())
    {
        auto *msg = add(data->messages);
        msg->type = type;
        msg->date = msecsToStoreTime(when.toMSecsSinceEpoch());
        msg->state = outgoing ? ViberMsgStateSend : ViberMsgStateReceived;
        msg->text = text;
        msg->chat = chat;
        if (chat)
            chat->messages.append(msg);
        m_messages.append(msg);
        return msg;
    }

    _ViberAtta *addAttachment(_ViberMsg *msg, const QString &filePath, const QString &previewPath,
                              double duration = 0)
    {
        auto *att = add(data->attachments);
        att->filePath = filePath;
        att->previewPath = previewPath;
        att->duration = duration;
        att->message = msg;
        return msg->attachment = att;
    }

    _ViberCall *addCall(_ViberMsg *msg, ViberCallType type, qint32 duration)
    {
        auto *call = add(data->calls);
        call->type = type;
        call->duration = duration;
        call->date = msg->date;
        return msg->call = call;
    }

    // count text messages one minute apart from the given time, alternating out and in.
    ViberMsgList addTexts(_ViberChat *chat, int count, const QDateTime &from)
    {
        ViberMsgList added;
        for (int i = 0; i < count; ++i)
            added.append(addMessage(chat, ViberMsgTypeText, from.addSecs(60 * i), i % 2 == 0,
                                    QStringLiteral("message %1").arg(i)));
        return added;
    }

    const ViberMsgList &messages() const { return m_messages; }

    ViberDataPtr data = std::make_shared<ViberData>();

private:
    // A new record with the next id, owned by its table.
    template <typename T> T *add(QHash<qint64, T *> &table)
    {
        auto *record = new T;
        record->id = m_nextId++;
        table.insert(record->id, record);
        return record;
    }

    qint64 m_nextId = 1000;
    ViberMsgList m_messages;
};

} // namespace testsupport
