#pragma once

#include "viber/ViberData.h"
#include "viber/ViberMsgList.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <algorithm>

namespace testsupport {

// Records as a reader hands them out. Keys count up from 1 per kind; a call's message has the
// call's key negated. The records belong to data (which may outlive the fixture); messages()
// lists them in the order made.
class MessageFixture
{
public:
    // Display-minded: local times, direction, files.
    _ViberChat *addChat(const QString &groupId = QString(), const QList<_ViberPerson *> &participants = {},
                        double date = 0)
    {
        _ViberChat &c = chat(participants, groupId);
        c.date = date;
        return &c;
    }
    _ViberPerson *addPerson(const QString &name, const QString &phone) { return &person(phone, name); }

    // A message of the chat at a local time; outgoing ones are sent, the others received.
    _ViberMsg *addMessage(_ViberChat *chat, ViberMsgType type, const QDateTime &when, bool outgoing,
                          const QString &text = QString())
    {
        _ViberMsg &m = entry(chat, ++m_messageKey, msecsToStoreTime(when.toMSecsSinceEpoch()));
        m.type = type;
        m.state = outgoing ? ViberMsgStateSend : ViberMsgStateReceived;
        m.text = text;
        return &m;
    }
    _ViberAtta *addAttachment(_ViberMsg *msg, const QString &filePath, const QString &previewPath,
                              double duration = 0)
    {
        _ViberAtta &a = attachment(*msg, ViberMsgType(msg->type), QString());
        a.filePath = filePath;
        a.previewPath = previewPath;
        a.duration = duration;
        return &a;
    }
    _ViberCall *addCall(_ViberMsg *msg, ViberCallType type, qint32 duration)
    {
        return msg->call = newCall(type, 0, msg->date, duration);
    }
    // count text messages a minute apart from from, alternating out and in.
    ViberMsgList addTexts(_ViberChat *chat, int count, const QDateTime &from)
    {
        ViberMsgList added;
        for (int i = 0; i < count; ++i)
            added.append(addMessage(chat, ViberMsgTypeText, from.addSecs(60 * i), i % 2 == 0,
                                    QStringLiteral("message %1").arg(i)));
        return added;
    }

    // Store-minded: states, tokens and store times, as writers meet them.
    _ViberPerson &person(const QString &phone, const QString &name = QString())
    {
        _ViberPerson &p = add(data->persons, m_personKey);
        p.phone = phone;
        p.name = name;
        return p;
    }
    _ViberChat &chat(const QList<_ViberPerson *> &participants, const QString &groupId = QString(),
                     const QString &name = QString())
    {
        _ViberChat &c = add(data->chats, m_chatKey);
        c.groupId = groupId;
        c.name = name;
        for (_ViberPerson *p : participants)
            c.participants.insert(p->id, p);
        return c;
    }
    _ViberMsg &message(_ViberChat &chat, _ViberPerson *person, ViberMsgState state, const QString &text,
                       double date, qint64 token)
    {
        _ViberMsg &m = entry(&chat, ++m_messageKey, date);
        m.seq = m.id;
        m.person = person;
        m.state = state;
        m.type = ViberMsgTypeText;
        m.text = text;
        m.stateDate = date + 1;
        m.token = token;
        chat.date = std::max(chat.date, date);
        return m;
    }
    // Also sets the message's type.
    _ViberAtta &attachment(_ViberMsg &msg, ViberMsgType type, const QString &fileName,
                           const QString &attId = QString())
    {
        _ViberAtta &a = add(data->attachments, m_attachmentKey);
        a.seq = a.id;
        a.fileName = fileName;
        a.attId = attId;
        a.fileSize = 1000 + a.id;
        a.message = &msg;
        msg.attachment = &a;
        msg.type = type;
        return a;
    }
    _ViberMsg &call(_ViberChat &chat, _ViberPerson &person, ViberCallType type, qint64 token, double date,
                    qint32 duration = 30)
    {
        _ViberCall *c = newCall(type, token, date, duration);
        c->person = &person;
        _ViberMsg &m = entry(&chat, -c->id, date);
        m.type = ViberMsgTypeCall;
        m.call = c;
        return m;
    }

    const ViberMsgList &messages() const { return m_messages; }

    ViberDataPtr data = std::make_shared<ViberData>();

private:
    template <typename T> static T &add(QHash<qint64, T *> &table, qint64 &key)
    {
        auto *record = new T;
        record->id = ++key;
        return **table.insert(record->id, record);
    }
    _ViberMsg &entry(_ViberChat *chat, qint64 id, double date)
    {
        auto *m = new _ViberMsg;
        m->id = id;
        m->chat = chat;
        m->date = date;
        if (chat)
            chat->messages.append(m);
        m_messages.append(m);
        return **data->messages.insert(m->id, m);
    }
    _ViberCall *newCall(ViberCallType type, qint64 token, double date, qint32 duration)
    {
        _ViberCall &c = add(data->calls, m_callKey);
        c.type = type;
        c.callToken = token;
        c.date = date;
        c.duration = duration;
        return &c;
    }

    qint64 m_personKey = 0, m_chatKey = 0, m_messageKey = 0, m_attachmentKey = 0, m_callKey = 0;
    ViberMsgList m_messages;
};

} // namespace testsupport
