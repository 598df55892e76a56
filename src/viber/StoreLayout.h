#pragma once

#include "AbsViberDb.h"

#include <QHash>
#include <QString>

#include <utility>

// The tables of a store this program reads and writes, by name.
namespace StoreTables {
inline const QString kConversation = QStringLiteral("ZCONVERSATION");
inline const QString kPhoneNumberIndex = QStringLiteral("ZPHONENUMBERINDEX");
inline const QString kMember = QStringLiteral("ZMEMBER");
inline const QString kPhoneNumber = QStringLiteral("ZPHONENUMBER");
inline const QString kContact = QStringLiteral("ZABCONTACT");
inline const QString kViberMessage = QStringLiteral("ZVIBERMESSAGE");
inline const QString kViberLocation = QStringLiteral("ZVIBERLOCATION");
inline const QString kAttachment = QStringLiteral("ZATTACHMENT");
inline const QString kRecent = QStringLiteral("ZRECENT");
inline const QString kRecentsLine = QStringLiteral("ZRECENTSLINE");
} // namespace StoreTables

// What an iOS store's catalogue says about its layout, worked out once when the store
// is opened: where participants live and how they reach the address book, how
// attachments, locations and calls reach their messages, and which optional columns
// the writer may fill. Phones changed these over the years (a phone number index
// until about 2016, members with separate numbers after, message metadata from about
// 2020) and this program's own template differs again; the reader and the writer ask
// here instead of probing the catalogue themselves.
class StoreLayout
{
public:
    enum class Generation {
        Unknown,     // no participant table at all
        Local,       // this program's template: everything carried in _other columns
        NumberIndex, // a phone's, participants in ZPHONENUMBERINDEX
        Members,     // a phone's, participants in ZMEMBER with numbers in ZPHONENUMBER
        Current,     // members, and messages with metadata
    };
    // How a participant reaches its address-book contact.
    enum class ContactLink { None, Column, JoinTable };
    // Which side holds the link between an attachment (or a location) and its message.
    enum class MessageLink {
        None,
        Own,       // ZATTACHMENT.ZMESSAGE, ZVIBERLOCATION.ZMESSAGE
        Message,   // ZVIBERMESSAGE.ZATTACHMENT, ZVIBERMESSAGE.ZLOCATION
        JoinTable, // attachments of current stores: only the join table of the two entities
    };

    // A many-to-many table of two entities: the table and its column for each.
    struct Relation
    {
        QString table, first, second;
        bool exists() const { return !table.isEmpty(); }
    };

    StoreLayout() = default;
    // schema as AbsViberDb reads it (lower-case keys), entities from Z_PRIMARYKEY by name.
    StoreLayout(const QHash<QString, ViberDbTable> &schema, const QHash<QString, qint32> &entities);

    // Names are compared in lower case. The answers are kept: a writer asks per row.
    bool has(const QString &table) const;
    bool has(const QString &table, const QString &column) const;
    // Z_ENT of an entity name; 0 when the store has no such entity.
    qint32 entity(const QString &name) const { return m_entities.value(name, 0); }
    const QHash<QString, qint32> &entities() const { return m_entities; }

    Generation generation() const { return m_generation; }
    // This program's own layout (ZVIBERMESSAGE._other), whatever else it has.
    bool isLocal() const { return m_local; }
    // Participants are ZMEMBER rows, their numbers ZPHONENUMBER rows.
    bool membersAsParticipants() const { return m_members; }

    // The participant table ("ZPHONENUMBERINDEX", "ZMEMBER"); empty when there is none.
    const QString &personTable() const { return m_personTable; }
    // Its entity: "PhoneNumberIndex", or "Member" where that one is missing.
    qint32 personEntity() const { return m_personEntity; }
    // What person queries read "from": the participant table, or members with the
    // first number of each under the old column names. Empty without participants.
    const QString &personSource() const { return m_personSource; }
    // Selects the keys of the participants with a number's digits (one placeholder).
    QString personKeysSql() const;
    // Selects digits and participant key of every number, in key order.
    QString personNumbersSql() const;

    ContactLink contactLink() const { return m_contactLink; }
    // {table, contact column, participant column} of ContactLink::JoinTable, and where a
    // column links them too; empty when there is none.
    const Relation &contactJoin() const { return m_contactJoin; }
    // The contact's ZRECORDID is read with its column link.
    bool contactRecordId() const { return m_contactRecordId; }

    // "Z_<conversation>PHONENUMINDEXES" with its chat and person columns, named from
    // the entities whether or not the store has them.
    const Relation &participants() const { return m_participants; }
    bool hasParticipantLinks() const { return m_participantLinks; }

    // The first of the attachment's links that the store has, in the order Own,
    // Message, JoinTable; the join table may be there beside another link.
    MessageLink attachmentLink() const { return m_attachmentLink; }
    // {table, attachment column, message column}; empty when the store has none.
    const Relation &attachmentJoin() const { return m_attachmentJoin; }
    // The attachment key of the message aliased m (an SQL expression); "null" when unknown.
    QString attachmentOfMessageSql(const QString &m) const;
    // Own or Message (never JoinTable).
    MessageLink locationLink() const { return m_locationLink; }

    // ZRECENT with keys, and lines to name their parties.
    bool hasCalls() const { return m_calls; }
    bool callsHaveLines() const { return m_callLines; }
    // ZRECENT.ZCALLLOGMESSAGE: the message a call is also told by.
    bool callsNameMessages() const { return m_callLogLink; }
    // {table, participant column, recents line column}; empty when there is none.
    const Relation &recentsLineMembers() const { return m_lineMembers; }
    // An SQL expression giving the ViberCallType of a call-type column (0 for none known),
    // matching the reader's reading of the many spellings stores use.
    static QString callKindSql(const QString &column);

    bool hasMessageMetadata() const { return m_metadata; }
    bool hasMessageIndex() const { return m_messageIndex; }
    bool hasChangeHistory() const { return m_history; }

private:
    Relation relation(qint32 first, qint32 second) const;

    StoreSchema m_schema;
    QHash<QString, qint32> m_entities;

    Generation m_generation = Generation::Unknown;
    bool m_local = false;
    bool m_members = false;
    QString m_personTable, m_personSource;
    qint32 m_personEntity = 0;
    ContactLink m_contactLink = ContactLink::None;
    Relation m_contactJoin;
    bool m_contactRecordId = false;
    Relation m_participants;
    bool m_participantLinks = false;
    MessageLink m_attachmentLink = MessageLink::None;
    Relation m_attachmentJoin;
    MessageLink m_locationLink = MessageLink::None;
    bool m_calls = false, m_callLines = false, m_callLogLink = false;
    Relation m_lineMembers;
    bool m_metadata = false, m_messageIndex = false, m_history = false;
};
