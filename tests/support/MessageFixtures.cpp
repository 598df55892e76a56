#include "MessageFixtures.h"

namespace testsupport {

double storeTime(const QDateTime &local)
{
    return msecsToStoreTime(local.toMSecsSinceEpoch());
}

_ViberChat *MessageFixture::addChat(const QString &groupId)
{
    auto *chat = new _ViberChat;
    chat->id = m_nextId++;
    chat->groupId = groupId;
    data.chats.insert(chat->id, chat);
    return chat;
}

_ViberPerson *MessageFixture::addPerson(const QString &name, const QString &phone)
{
    auto *person = new _ViberPerson;
    person->id = m_nextId++;
    person->name = name;
    person->phone = phone;
    data.persons.insert(person->id, person);
    return person;
}

_ViberMsg *MessageFixture::addMessage(_ViberChat *chat, ViberMsgType type, const QDateTime &when,
                                      bool outgoing, const QString &text)
{
    auto *msg = new _ViberMsg;
    msg->id = m_nextId++;
    msg->type = type;
    msg->date = storeTime(when);
    msg->state = outgoing ? ViberMsgStateSend : ViberMsgStateReceived;
    msg->text = text;
    msg->chat = chat;
    if (chat)
        chat->messages.append(msg);
    data.messages.insert(msg->id, msg);
    m_messages.append(msg);
    return msg;
}

_ViberAtta *MessageFixture::addAttachment(_ViberMsg *msg, const QString &filePath, const QString &previewPath,
                                          double duration)
{
    auto *att = new _ViberAtta;
    att->id = m_nextId++;
    att->filePath = filePath;
    att->previewPath = previewPath;
    att->duration = duration;
    att->message = msg;
    msg->attachment = att;
    data.attachments.insert(att->id, att);
    return att;
}

_ViberCall *MessageFixture::addCall(_ViberMsg *msg, ViberCallType type, qint32 duration)
{
    auto *call = new _ViberCall;
    call->id = m_nextId++;
    call->type = type;
    call->duration = duration;
    call->date = msg->date;
    msg->call = call;
    data.calls.insert(call->id, call);
    return call;
}

ViberMsgList MessageFixture::addTexts(_ViberChat *chat, int count, const QDateTime &from)
{
    ViberMsgList added;
    for (int i = 0; i < count; ++i)
        added.append(addMessage(chat, ViberMsgTypeText, from.addSecs(60 * i), i % 2 == 0,
                                QStringLiteral("message %1").arg(i)));
    return added;
}

} // namespace testsupport
