#pragma once

#include <algorithm>

#include "IOSViberDb.h"

#include <QList>

#include <functional>

// One run of merging records into a store: each chat's conversation is found or
// made and its participants linked, each message written unless the store holds it
// already, each call filed under its person. The run's state (ZUID counter, current
// chat, chats made, rows of persons without a number, counts) lives here, so the
// store's row operations stay usable alone. Callers hand over the records chat by
// chat and run the whole merge inside one transaction of the store, since a
// failure midway leaves rows that only a rollback removes.
class ViberMsgMerger
{
public:
    explicit ViberMsgMerger(IOSViberDb &db) : m_db(db) {}

    // Called within long steps (a message text of megabytes); may raise to stop.
    void setCancelCheck(std::function<void()> check) { m_checkCancel = std::move(check); }
    // New rows take ZUID values above zuid: for a run that puts back rows it removed
    // first, whose values the store no longer shows.
    void reserveZuidsUpTo(qint64 zuid) { m_zuid = std::max(m_zuid, zuid); }

    // The chat part of a merge: when msg's chat differs from the previous one, finds
    // or inserts its conversation and links its participants. True when it did.
    bool mergeChat(const _ViberMsg *msg);
    // The record part: a call goes to insertCall; any other message is inserted
    // unless a duplicate exists. attachmentKey is then the new attachment's key or
    // the duplicate's (0 for none), so that callers can still copy its files;
    // locationKey the new location's. Both are reset for every message. Returns the
    // new message's key, 0 when nothing was inserted.
    qint64 mergeRecord(const _ViberMsg *msg, qint64 &attachmentKey, qint64 &locationKey);
    // mergeChat, then mergeRecord.
    qint64 mergeMessage(const _ViberMsg *msg, qint64 &attachmentKey, qint64 &locationKey);
    // Deletes the conversations this run created that ended without any message
    // (chats whose messages were all present already or not writable), with their
    // participant links and the rows of persons without a number that nothing refers
    // to any more, so that a repeated merge adds no empty chats.
    void dropEmptyInsertedChats();

    // Conversation of the current chat; 0 before the first.
    qint64 chatKey() const { return m_chatKey; }
    // What became of the run's records (call entries count as messages).
    qint64 inserted() const { return m_inserted; } // written
    qint64 present() const { return m_present; }   // already in the store
    // Not writable: a received group message without sender, no state, no chat.
    qint64 skipped() const { return m_skipped; }
    // The calls among inserted() and present().
    qint64 callsInserted() const { return m_callsInserted; }
    qint64 callsPresent() const { return m_callsPresent; }

private:
    IOSViberDb &m_db;
    std::function<void()> m_checkCancel;
    qint64 m_zuid = -1;
    qint64 m_chatKey = 0;
    const _ViberChat *m_chat = nullptr; // the previous message's chat
    QList<qint64> m_insertedChats;
    IOSViberDb::NumberlessPersons m_numberless;
    qint64 m_inserted = 0;
    qint64 m_present = 0;
    qint64 m_skipped = 0;
    qint64 m_callsInserted = 0;
    qint64 m_callsPresent = 0;
};
