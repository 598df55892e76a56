#include "ViberMsgMerger.h"

bool ViberMsgMerger::mergeChat(const _ViberMsg *msg)
{
    m_db.open();
    if (!msg || msg->chat == m_chat)
        return false;
    const _ViberChat *chat = msg->chat;
    m_chat = chat;
    m_chatKey = 0;
    if (!chat)
        return true;
    m_chatKey = m_db.findChatKey(chat);
    if (m_chatKey == 0) {
        m_chatKey = m_db.insertChat(m_zuid, chat);
        m_insertedChats.append(m_chatKey);
    }
    m_db.linkParticipants(m_zuid, m_chatKey, chat->participants.values(), &m_numberless);
    if (chat->groupId.isEmpty() && chat->participants.size() == 1)
        m_db.setInterlocutor(m_chatKey, m_db.findPersonKey(chat->participants.constBegin().value()));
    return true;
}

qint64 ViberMsgMerger::mergeRecord(const _ViberMsg *msg, qint64 &attachmentKey, qint64 &locationKey)
{
    m_db.open();
    // Keys of an earlier message must never reach this one's files: a voice file
    // copied under another message's key would play the wrong message.
    attachmentKey = 0;
    locationKey = 0;
    if (!msg || !msg->chat) {
        ++m_skipped;
        return 0;
    }
    if (msg->type == ViberMsgTypeCall) {
        bool present = false;
        if (msg->call && m_db.insertCall(m_zuid, msg->call, &present, &m_numberless) > 0) {
            ++(present ? m_present : m_inserted);
            ++(present ? m_callsPresent : m_callsInserted);
        } else
            ++m_skipped;
        return 0;
    }
    const qint64 duplicate = msg->token != 0
                                 ? m_db.findDuplicateMessage(msg->token, msg->date, attachmentKey)
                                 : m_db.findTokenlessDuplicate(m_chatKey, msg, attachmentKey, &m_numberless);
    if (duplicate != 0) {
        ++m_present;
        return 0;
    }
    const qint64 key =
        m_db.insertMessage(m_zuid, m_chatKey, msg, attachmentKey, locationKey, &m_numberless, m_checkCancel);
    ++(key > 0 ? m_inserted : m_skipped);
    return key;
}

qint64 ViberMsgMerger::mergeMessage(const _ViberMsg *msg, qint64 &attachmentKey, qint64 &locationKey)
{
    mergeChat(msg);
    return mergeRecord(msg, attachmentKey, locationKey);
}

void ViberMsgMerger::dropEmptyInsertedChats()
{
    m_db.open();
    for (qint64 key : std::as_const(m_insertedChats))
        m_db.deleteChatWithoutMessages(key);
    // Rows made for persons without a number whose chat held only messages present
    // already: a repeated merge adds nothing.
    for (qint64 key : std::as_const(m_numberless))
        m_db.deleteUnreferencedPerson(key);
}
