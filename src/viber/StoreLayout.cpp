#include "StoreLayout.h"

#include <QRegularExpression>
#include <QStringList>

using namespace StoreTables;

namespace {

const QString kKey = QStringLiteral("Z_PK");

} // namespace

StoreLayout::StoreLayout(const QHash<QString, ViberDbTable> &schema, const QHash<QString, qint32> &entities)
    : m_schema(schema), m_entities(entities)
{
    m_local = has(kViberMessage, QStringLiteral("_other"));
    m_metadata = has(kViberMessage, QStringLiteral("ZMETADATA"));
    m_messageIndex = has(QStringLiteral("MESSAGEINDEX"));
    m_history = has(QStringLiteral("ACHANGE"));

    // Newer stores renamed the participant entity; its relationship kept the name.
    m_personEntity = entity(QStringLiteral("PhoneNumberIndex"));
    if (has(kPhoneNumberIndex)) {
        m_personTable = m_personSource = kPhoneNumberIndex;
    } else if (has(kMember)) {
        m_members = true;
        m_personTable = kMember;
        if (m_personEntity == 0)
            m_personEntity = entity(QStringLiteral("Member"));
        m_personSource = kMember;
        if (has(kPhoneNumber, kMember) && has(kPhoneNumber, QStringLiteral("ZCANONIZEDPHONENUM")) &&
            has(kPhoneNumber, QStringLiteral("ZPHONE")))
            m_personSource =
                QStringLiteral("(select m.*, "
                               "(select n.ZCANONIZEDPHONENUM from ZPHONENUMBER as n where n.ZMEMBER=m.Z_PK "
                               "order by n.Z_PK limit 1) as ZCANONIZEDPHONENUM, "
                               "(select n.ZPHONE from ZPHONENUMBER as n where n.ZMEMBER=m.Z_PK "
                               "order by n.Z_PK limit 1) as ZPHONENUM "
                               "from ZMEMBER as m)");
    }
    if (m_local)
        m_generation = Generation::Local;
    else if (m_members)
        m_generation = m_metadata ? Generation::Current : Generation::Members;
    else if (!m_personTable.isEmpty())
        m_generation = Generation::NumberIndex;

    const bool contacts = has(kContact, QStringLiteral("ZMAINNAME")) && has(kContact, kKey);
    if (contacts)
        m_contactJoin = relation(entity(QStringLiteral("ABContact")), m_personEntity);
    if (contacts && !m_members && has(kPhoneNumberIndex, QStringLiteral("ZCONTACT"))) {
        m_contactLink = ContactLink::Column;
        m_contactRecordId = has(kContact, QStringLiteral("ZRECORDID"));
    } else if (m_contactJoin.exists()) {
        m_contactLink = ContactLink::JoinTable;
    }

    const qint32 conversation = entity(QStringLiteral("Conversation"));
    m_participants = {QStringLiteral("Z_%1PHONENUMINDEXES").arg(conversation),
                      QStringLiteral("Z_%1CONVERSATIONS").arg(conversation),
                      QStringLiteral("Z_%1PHONENUMINDEXES").arg(m_personEntity)};
    m_participantLinks =
        has(m_participants.table, m_participants.first) && has(m_participants.table, m_participants.second);

    const qint32 attachment = entity(QStringLiteral("Attachment"));
    const Relation join{QStringLiteral("Z_%1MESSAGES").arg(attachment),
                        QStringLiteral("Z_%1ATTACHMENTS").arg(attachment),
                        QStringLiteral("Z_%1MESSAGES").arg(entity(QStringLiteral("ViberMessage")))};
    if (has(join.table, join.first) && has(join.table, join.second))
        m_attachmentJoin = join;
    if (has(kAttachment, QStringLiteral("ZMESSAGE")))
        m_attachmentLink = MessageLink::Own;
    else if (has(kViberMessage, QStringLiteral("ZATTACHMENT")))
        m_attachmentLink = MessageLink::Message;
    else if (m_attachmentJoin.exists())
        m_attachmentLink = MessageLink::JoinTable;
    if (has(kViberLocation, QStringLiteral("ZMESSAGE")))
        m_locationLink = MessageLink::Own;
    else if (has(kViberMessage, QStringLiteral("ZLOCATION")))
        m_locationLink = MessageLink::Message;

    m_calls = has(kRecent, kKey);
    m_callLines = has(kRecent, QStringLiteral("ZRECENTSLINE")) && has(QStringLiteral("ZRECENTSLINE"), kKey);
    m_callLogLink = has(kRecent, QStringLiteral("ZCALLLOGMESSAGE"));
    m_lineMembers = relation(m_personEntity, entity(QStringLiteral("RecentsLine")));
}

bool StoreLayout::has(const QString &table) const
{
    return m_schema.has(table);
}

bool StoreLayout::has(const QString &table, const QString &column) const
{
    return m_schema.has(table, column);
}

StoreLayout::Relation StoreLayout::relation(qint32 first, qint32 second) const
{
    if (first <= 0 || second <= 0)
        return {};
    // Core Data names a many-to-many table and its columns "Z_<entity><RELATION>":
    // the number must be whole, as Z_1… is no column of entity 10.
    static const QRegularExpression name(QStringLiteral("^z_(\\d+)[a-z]"));
    auto entityOf = [&](const QString &text) {
        const QRegularExpressionMatch m = name.match(text);
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    };
    QStringList names = m_schema.tables().keys();
    names.sort(); // one answer whatever the hash's order
    for (const QString &tableName : std::as_const(names)) {
        const int owner = entityOf(tableName);
        if (owner != first && owner != second)
            continue;
        const ViberDbTable &t = *m_schema.tables().constFind(tableName);
        QString firstColumn, secondColumn;
        for (const ViberDbColumn &column : t.columns) {
            const int e = entityOf(column.name.toLower());
            if (e == first && firstColumn.isEmpty())
                firstColumn = column.name;
            else if (e == second && secondColumn.isEmpty())
                secondColumn = column.name;
        }
        if (!firstColumn.isEmpty() && !secondColumn.isEmpty() && t.columns.size() <= 4)
            return {t.name, firstColumn, secondColumn};
    }
    return {};
}

QString StoreLayout::personKeysSql() const
{
    // A number that belongs to no member names nobody.
    return m_members ? QStringLiteral("select ZMEMBER from ZPHONENUMBER where ZCANONIZEDPHONENUM=? and "
                                      "ZMEMBER is not null")
                     : QStringLiteral("select Z_PK from ZPHONENUMBERINDEX where ZCANONIZEDPHONENUM=?");
}

QString StoreLayout::personNumbersSql() const
{
    return m_members ? QStringLiteral("select ZCANONIZEDPHONENUM, ZMEMBER from ZPHONENUMBER where ZMEMBER is "
                                      "not null order by Z_PK")
                     : QStringLiteral("select ZCANONIZEDPHONENUM, Z_PK from ZPHONENUMBERINDEX order by Z_PK");
}

QString StoreLayout::attachmentOfMessageSql(const QString &m) const
{
    switch (m_attachmentLink) {
    case MessageLink::Own:
        return QStringLiteral(
                   "(select a.Z_PK from ZATTACHMENT as a where a.ZMESSAGE=%1.Z_PK order by a.Z_PK limit 1)")
            .arg(m);
    case MessageLink::Message:
        return QStringLiteral("nullif(%1.ZATTACHMENT, 0)").arg(m);
    case MessageLink::JoinTable:
        return QStringLiteral("(select j.%1 from %2 as j where j.%3=%4.Z_PK order by j.%1 limit 1)")
            .arg(m_attachmentJoin.first, m_attachmentJoin.table, m_attachmentJoin.second, m);
    case MessageLink::None:
        break;
    }
    return QStringLiteral("null");
}

QString StoreLayout::callKindSql(const QString &column)
{
    // LIKE ignores ASCII letter case, as the reader's test does; the order is the reader's
    // (callTypeFromStoreText).
    return QStringLiteral(
               "(case when %1 like '%incoming%' then (case when %1 like '%video%' then 4 else 1 end) "
               "when %1 like '%outgoing%' then (case when %1 like '%viber\\_out%' escape '\\' then 7 "
               "when %1 like '%video%' then 5 else 2 end) "
               "when %1 like '%missed%' then (case when %1 like '%video%' then 6 else 3 end) "
               "else 0 end)")
        .arg(column);
}
