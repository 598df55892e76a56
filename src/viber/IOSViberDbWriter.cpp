// The writing half of IOSViberDb: the row operations that merge records into a
// store, in a phone's layout or in the template layout of local databases.

#include "IOSViberDb.h"

#include "Emoticons.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QRegularExpression>

#include <sqlite3.h>

#include <cmath>

using namespace StoreTables;

namespace {

const QString kOther = QStringLiteral("_other");
const QString kOpt = QStringLiteral("Z_OPT");

// Table names come from the store's own catalogue; quoted all the same.
QString quoted(const QString &name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QLatin1String("\"\"")) +
           QLatin1Char('"');
}

QVariant blobOrNull(const QByteArray &bytes)
{
    return bytes.isEmpty() ? QVariant() : QVariant(bytes);
}

// A carried Z_OPT when it is positive, else Core Data's value for a fresh row.
qint64 carriedOpt(const QVariantMap &carried)
{
    const qint64 opt = carried.value(kOpt).toLongLong();
    return opt > 0 ? opt : 2;
}

// NaN cannot be stored (SQLite keeps it as NULL, read back as 0), so it is written
// and looked up as 0.
double storableDate(double date)
{
    return std::isnan(date) ? 0.0 : date;
}

// The window of a duplicate check around date, in doubles: a date of any size, and
// infinity, finds the row a copy wrote for it (an integer cast would make it 0).
std::pair<double, double> dateWindow(double date, double seconds)
{
    const double t = std::trunc(storableDate(date));
    return {t - seconds, t + seconds};
}

// The condition that column lies in the same second as a date (or equals it:
// infinity has no second), for telling records without a token apart.
QString sameSecond(const QString &column)
{
    return QStringLiteral("((%1>=? and %1<?) or %1=?)").arg(column);
}

// Binds the three values of sameSecond.
void bindSameSecond(Sqlite3Sql &sql, double date)
{
    const double d = storableDate(date);
    const double second = std::floor(d);
    sql.addDoubleParam(second).addDoubleParam(second + 1).addDoubleParam(d);
}

// The spelling the record was read with when it is one of its kind (a kind this
// version does not know included), else the phone app's.
template <typename SameKind>
QString carriedSpelling(const _ViberEntity *record, const char *column, SameKind sameKind)
{
    if (!record->other.isEmpty()) {
        const QString raw = readExtraColumns(record).value(QLatin1String(column)).toString();
        if (!raw.isEmpty() && sameKind(raw))
            return raw;
    }
    return QString();
}

QString callTypeText(const _ViberCall *call)
{
    const QString raw = carriedSpelling(
        call, "ZCALLTYPE", [call](const QString &t) { return callTypeFromStoreText(t) == call->type; });
    return raw.isEmpty() ? callTypeToStoreText(call->type) : raw;
}

} // namespace

// --- Helpers ---------------------------------------------------------------------

qint64 IOSViberDb::insertRow(const QString &table, const Sqlite3Row &row)
{
    if (!m_layout.membersAsParticipants()) {
        executeThrow(row.insertSql(table));
        return lastInsertId();
    }
    Sqlite3Row keyed = row;
    const qint64 key = nextPrimaryKey(table);
    keyed.setVal(QStringLiteral("Z_PK"), key);
    executeThrow(keyed.insertSql(table));
    return key;
}

qint64 IOSViberDb::nextPrimaryKey(const QString &table)
{
    auto it = m_nextKeys.find(table);
    if (it == m_nextKeys.end()) {
        // The entity whose table this is, or the root of those sharing it.
        qint64 max = 0;
        Sqlite3Cursor c =
            queryThrow(Sqlite3Sql("select max(Z_MAX) from Z_PRIMARYKEY where upper('Z' || Z_NAME)=? "
                                  "and coalesce(Z_SUPER, 0)=0")
                           .addTextParam(table.toUpper()));
        if (c.moveNext())
            max = c.getInt64At(0);
        Sqlite3Cursor m = queryThrow(QStringLiteral("select max(Z_PK) from %1").arg(quoted(table)));
        if (m.moveNext())
            max = std::max(max, m.getInt64At(0));
        it = m_nextKeys.insert(table, max);
    }
    return ++it.value();
}

IOSViberDb::Lookups *IOSViberDb::currentLookups()
{
    if (!inTransaction())
        return nullptr;
    if (m_lookups.transaction != transactionSerial()) {
        m_lookups = Lookups();
        m_lookups.transaction = transactionSerial();
    }
    return &m_lookups;
}

IOSViberDb::Lookups *IOSViberDb::personLookups()
{
    Lookups *l = currentLookups();
    if (!l || l->persons)
        return l;
    l->personsByNumber.clear();
    Sqlite3Cursor c = queryThrow(m_layout.personNumbersSql());
    while (c.moveNext()) {
        const QString digits = c.getTextAt(0);
        if (!digits.isEmpty())
            l->personsByNumber[digits].append(c.getInt64At(1));
    }
    l->persons = true;
    return l;
}

IOSViberDb::Lookups *IOSViberDb::chatLookups()
{
    Lookups *l = currentLookups();
    if (!l || l->chats)
        return l;
    l->chatByGroup.clear();
    l->groupChats.clear();
    l->chatByPerson.clear();
    Sqlite3Cursor g = queryThrow("select Z_PK, ZGROUPID from ZCONVERSATION where ZGROUPID is not null and "
                                 "ZGROUPID<>'' order by Z_PK");
    while (g.moveNext()) {
        const qint64 key = g.getInt64At(0);
        l->groupChats.insert(key);
        l->chatByGroup.insert(g.getTextAt(1), std::min(key, l->chatByGroup.value(g.getTextAt(1), key)));
    }
    Sqlite3Cursor j = queryThrow(
        QStringLiteral("select j.%2, j.%3 from %1 as j inner join ZCONVERSATION as c on c.Z_PK=j.%2 where "
                       "c.ZGROUPID is null or c.ZGROUPID=''")
            .arg(quoted(m_layout.participants().table), quoted(m_layout.participants().first),
                 quoted(m_layout.participants().second)));
    while (j.moveNext()) {
        const qint64 chat = j.getInt64At(0), person = j.getInt64At(1);
        l->chatByPerson.insert(person, std::min(chat, l->chatByPerson.value(person, chat)));
    }
    l->chats = true;
    return l;
}

namespace {

// Rows of a table by the one integer a statement's "column=?" finds them by, if any:
// the value cast to an integer, when the two compare equal as a bound integer would
// (the unary plus takes the cast's affinity away, as a parameter has none).
QString rowsByIntegerSql(const QString &table, const QString &column)
{
    return QStringLiteral("select Z_PK, cast(%2 as integer) from %1 where %2=+cast(%2 as integer)")
        .arg(table, column);
}

void addRows(QHash<qint64, QList<qint64>> &byValue, Sqlite3Cursor &rows)
{
    while (rows.moveNext()) {
        QList<qint64> &same = byValue[rows.getInt64At(1)];
        const qint64 key = rows.getInt64At(0);
        same.insert(std::upper_bound(same.begin(), same.end(), key), key);
    }
}

// Keys, not text from outside: written into a statement as numbers.
QString keyList(const QList<qint64> &keys)
{
    QStringList list;
    for (const qint64 key : keys)
        list << QString::number(key);
    return list.join(QLatin1Char(','));
}

} // namespace

IOSViberDb::Lookups *IOSViberDb::recentLookups()
{
    Lookups *l = currentLookups();
    if (!l || l->recents)
        return l;
    l->callsByToken.clear();
    l->linesByPerson.clear();
    Sqlite3Cursor calls = queryThrow(rowsByIntegerSql(kRecent, QStringLiteral("ZCALLTOKEN")));
    addRows(l->callsByToken, calls);
    Sqlite3Cursor lines = queryThrow(rowsByIntegerSql(kRecentsLine, QStringLiteral("ZPHONENUMINDEX")));
    addRows(l->linesByPerson, lines);
    l->recents = true;
    return l;
}

void IOSViberDb::noteRecentWritten(const QString &table, qint64 key)
{
    if (Lookups *l = currentLookups(); l && l->recents) {
        const bool line = table == kRecentsLine;
        Sqlite3Cursor c =
            queryThrow(Sqlite3Sql(rowsByIntegerSql(table, line ? QStringLiteral("ZPHONENUMINDEX")
                                                               : QStringLiteral("ZCALLTOKEN")) +
                                  QStringLiteral(" and Z_PK=?"))
                           .addInt64Param(key));
        addRows(line ? l->linesByPerson : l->callsByToken, c);
    }
}

qint64 IOSViberDb::firstRecent(qint64 token, const QString &condition, const QVariant &value)
{
    if (const Lookups *l = recentLookups()) {
        // Recents of one token are few: SQLite tells for each whether it is the one.
        const Sqlite3Sql one(QStringLiteral("select Z_PK from ZRECENT where Z_PK=? and %1=?").arg(condition));
        for (const qint64 key : l->callsByToken.value(token)) {
            Sqlite3Cursor r = queryThrow(Sqlite3Sql(one).addInt64Param(key).addParam(value));
            if (r.moveNext())
                return key;
        }
        return 0;
    }
    Sqlite3Cursor c = queryThrow(
        Sqlite3Sql(QStringLiteral("select Z_PK from ZRECENT where ZCALLTOKEN=? and %1=?").arg(condition))
            .addInt64Param(token)
            .addParam(value));
    return c.moveNext() ? c.getInt64At(0) : 0;
}

qint64 IOSViberDb::findCallOfType(qint64 token, const QVariant &type)
{
    open();
    return firstRecent(token, QStringLiteral("ZCALLTYPE"), type);
}

qint64 IOSViberDb::insertCallRow(const Sqlite3Row &row, const QSet<QString> &columns)
{
    open();
    executeThrow(row.insertSql(kRecent, columns));
    const qint64 key = lastInsertId();
    noteRecentWritten(kRecent, key);
    return key;
}

qint64 IOSViberDb::latestRecentsLine(const QList<qint64> &persons)
{
    const QString sql =
        QStringLiteral("select Z_PK from ZRECENTSLINE where ZPHONENUMINDEX in (%1)%2 order by "
                       "ZDATE desc limit 1");
    if (persons.isEmpty())
        return 0;
    QString only;
    if (const Lookups *l = recentLookups()) {
        // The lines of these persons, and SQLite picks the latest among them as among all.
        QList<qint64> lines;
        for (const qint64 person : persons)
            lines << l->linesByPerson.value(person);
        if (lines.isEmpty())
            return 0;
        std::sort(lines.begin(), lines.end());
        only = QStringLiteral(" and Z_PK in (%1)").arg(keyList(lines));
    }
    Sqlite3Cursor c = queryThrow(Sqlite3Sql(sql.arg(keyList(persons), only)));
    return c.moveNext() ? c.getInt64At(0) : 0;
}

qint64 IOSViberDb::findRecentsLine(const QVariant &person)
{
    open();
    if (person.typeId() == QMetaType::LongLong || person.typeId() == QMetaType::Int)
        return latestRecentsLine({person.toLongLong()});
    Sqlite3Cursor c = queryThrow(
        Sqlite3Sql("select Z_PK from ZRECENTSLINE where ZPHONENUMINDEX=? order by ZDATE desc limit 1")
            .addParam(person));
    return c.moveNext() ? c.getInt64At(0) : 0;
}

qint64 IOSViberDb::insertRecentsLine(const QVariant &person)
{
    open();
    executeThrow(Sqlite3Sql("insert into ZRECENTSLINE(Z_ENT, Z_OPT, ZPHONENUMINDEX) values(?, 1, ?)")
                     .addIntParam(entity(QStringLiteral("RecentsLine")))
                     .addParam(person));
    const qint64 key = lastInsertId();
    noteRecentWritten(kRecentsLine, key);
    return key;
}

qint64 IOSViberDb::recentsLineOfNumber(const QString &digits)
{
    if (const Lookups *l = personLookups())
        return latestRecentsLine(l->personsByNumber.value(digits));
    Sqlite3Cursor c =
        queryThrow(Sqlite3Sql(QStringLiteral("select Z_PK from ZRECENTSLINE where ZPHONENUMINDEX in "
                                             "(%1) order by ZDATE desc limit 1")
                                  .arg(m_layout.personKeysSql()))
                       .addTextParam(digits));
    return c.moveNext() ? c.getInt64At(0) : 0;
}

qint64 IOSViberDb::knownPersonKey(const _ViberPerson *person, const NumberlessPersons *numberless)
{
    if (person && phoneDigits(person->phone).isEmpty()) {
        if (const qint64 key = numberless ? numberless->value(person) : 0)
            return key;
        return findNumberlessPersonKey(person);
    }
    return findPersonKey(person);
}

qint64 IOSViberDb::findNumberlessPersonKey(const _ViberPerson *person)
{
    // Without a number a person is known by name alone, where the store keeps the
    // names this program writes: else every import of the same history would add
    // its messages again, under a new row for the same person.
    if (!person || person->name.trimmed().isEmpty())
        return 0;
    Sqlite3Cursor c;
    if (m_layout.membersAsParticipants()) {
        if (!m_layout.has(kMember, QStringLiteral("ZNAME")))
            return 0;
        c = queryThrow(
            Sqlite3Sql("select m.Z_PK from ZMEMBER as m where m.ZNAME=? and not exists (select 1 from "
                       "ZPHONENUMBER as n where n.ZMEMBER=m.Z_PK and coalesce(n.ZCANONIZEDPHONENUM, "
                       "'')<>'') order by m.Z_PK limit 1")
                .addTextParam(person->name));
    } else {
        if (!m_layout.has(kPhoneNumberIndex, kOther))
            return 0;
        c = queryThrow(Sqlite3Sql("select Z_PK from ZPHONENUMBERINDEX where ZNAME=? and "
                                  "coalesce(ZCANONIZEDPHONENUM, '')='' order by Z_PK limit 1")
                           .addTextParam(person->name));
    }
    return c.moveNext() ? c.getInt64At(0) : 0;
}

qint64 IOSViberDb::findOrInsertPerson(qint64 &counter, const _ViberPerson *person,
                                      NumberlessPersons *numberless)
{
    qint64 key = knownPersonKey(person, numberless);
    if (key < 1)
        key = insertPerson(counter, person);
    if (numberless && key > 0 && person && phoneDigits(person->phone).isEmpty())
        numberless->insert(person, key);
    return key;
}

QString IOSViberDb::attachmentTypeText(const _ViberMsg *msg)
{
    switch (msg->type) {
    case ViberMsgTypePicture:
        return QStringLiteral("picture");
    case ViberMsgTypeLocation:
        return QStringLiteral("customLocation");
    case ViberMsgTypeAudio:
        return QStringLiteral("audio");
    case ViberMsgTypeSticker:
        return QStringLiteral("sticker");
    case ViberMsgTypeVideo:
        return QStringLiteral("video");
    case ViberMsgTypeFile:
        // The store's own word for it, kept for the phone's app.
        if (msg->attachment && !msg->attachment->type.isEmpty())
            return msg->attachment->type;
        return QStringLiteral("file");
    default:
        return QString();
    }
}

QString IOSViberDb::systemTypeText(const _ViberMsg *msg)
{
    if (msg->systemKind == ViberSystemKindNone)
        return msg->type == ViberMsgTypeLocation ? QStringLiteral("customLocation") : QString();
    const QString raw = carriedSpelling(msg, "ZSYSTEMTYPE", [msg](const QString &t) {
        return systemKindFromStoreText(t) == msg->systemKind;
    });
    return raw.isEmpty() ? systemKindToStoreText(msg->systemKind) : raw;
}

void IOSViberDb::requireWriterTables()
{
    open();
    QStringList persons{kPhoneNumberIndex};
    if (m_layout.membersAsParticipants())
        persons = {kMember, kPhoneNumber};
    requireTables(persons + QStringList{m_layout.participants().table, kConversation, kViberMessage,
                                        kViberLocation, kAttachment, kRecent, kRecentsLine});
    // The sentence names the file, then the table or trigger, then the column.
    const auto refuse = [this](const char *key, const QString &first, const QString &second = QString()) {
        const QString text = QCoreApplication::translate("IOSViberDbWriter", key);
        const QString file = QDir::toNativeSeparators(path());
        throw Sqlite3Exception(second.isNull() ? text.arg(file, first) : text.arg(file, first, second),
                               path(), SQLITE_ERROR);
    };
    for (const QString &column : {m_layout.participants().first, m_layout.participants().second})
        if (!m_layout.has(m_layout.participants().table, column))
            refuse("IDS_STORE_COLUMN_MISSING", m_layout.participants().table, column);
    if (!m_layout.membersAsParticipants())
        return;
    for (const char *column : {"ZMEMBER", "ZCANONIZEDPHONENUM"})
        if (!m_layout.has(kPhoneNumber, QLatin1String(column)))
            refuse("IDS_STORE_COLUMN_MISSING", kPhoneNumber, QLatin1String(column));

    // The app's own record of changes: rows written beside changes it has not yet taken
    // in could be missed or undone by it, which nothing here can rule out.
    for (const char *history : {"ACHANGE", "ATRANSACTION"}) {
        if (!m_layout.has(QLatin1String(history)))
            continue;
        Sqlite3Cursor c = queryThrow(QStringLiteral("select 1 from %1 limit 1").arg(QLatin1String(history)));
        if (c.moveNext())
            refuse("IDS_STORE_HISTORY_PENDING", QLatin1String(history));
    }
    // Only the message index's own triggers may run: they keep the index whole as
    // rows arrive. Any other code of the store's is not run, so its store is refused.
    static const QRegularExpression indexTrigger(
        QStringLiteral("^CREATE TRIGGER ZVIBERMESSAGE_(BU|BD|AU|AI) (BEFORE|AFTER) (UPDATE|DELETE|INSERT) ON "
                       "ZVIBERMESSAGE BEGIN (DELETE FROM MESSAGEINDEX WHERE docid=old\\.rowid|INSERT INTO "
                       "MESSAGEINDEX\\(docid, ZTEXT\\) VALUES\\(new\\.rowid, new\\.ZTEXT\\)); END$"),
        QRegularExpression::CaseInsensitiveOption);
    Sqlite3Cursor t = queryThrow("select name, sql from sqlite_master where type='trigger'");
    bool indexTriggers = false;
    while (t.moveNext()) {
        const QString sql = t.getTextAt(1).simplified();
        if (!indexTrigger.match(sql).hasMatch())
            refuse("IDS_STORE_UNKNOWN_TRIGGER", t.getTextAt(0));
        indexTriggers = true;
    }
    if (indexTriggers) {
        // The index must be usable here, or every insert would fail halfway.
        try {
            queryThrow("select count(*) from MESSAGEINDEX where docid=0").moveNext();
        } catch (const std::exception &e) {
            refuse("IDS_STORE_INDEX_UNUSABLE", QString::fromUtf8(e.what()));
        }
        // The store's triggers stay off, as all its code does: the writer does what
        // they would, now that they are known to do no more.
        m_indexMessages = true;
    }
}

bool IOSViberDb::isWhole()
{
    open();
    Sqlite3Cursor check = queryThrow("PRAGMA integrity_check");
    if (!check.moveNext() || check.getTextAt(0) != QLatin1String("ok"))
        return false;
    check = Sqlite3Cursor();
    if (!m_layout.has(QStringLiteral("MESSAGEINDEX")))
        return true;
    // The index compares itself with the rows it was made from; a mismatch is an error.
    QString error;
    return exec(QStringLiteral("INSERT INTO MESSAGEINDEX(MESSAGEINDEX) VALUES('integrity-check')"), error) ==
           SQLITE_OK;
}

void IOSViberDb::setInterlocutor(qint64 chatKey, qint64 personKey)
{
    open();
    if (personKey > 0 && m_layout.has(kConversation, QStringLiteral("ZINTERLOCUTOR")))
        executeThrow(
            Sqlite3Sql("update ZCONVERSATION set ZINTERLOCUTOR=? where Z_PK=? and ZINTERLOCUTOR is null")
                .addInt64Param(personKey)
                .addInt64Param(chatKey));
}

// --- ZUID ------------------------------------------------------------------------

void IOSViberDb::nextZuid(qint64 &counter, bool advance)
{
    open();
    if (counter < 0) {
        qint64 max = 0;
        for (const ViberDbTable &t : schema()) {
            if (!t.columns.contains(QStringLiteral("zuid")))
                continue;
            Sqlite3Cursor c =
                queryThrow(QStringLiteral("select max(ZUID) as mzuid from %1").arg(quoted(t.name)));
            if (c.moveNext())
                max = std::max(max, c.getInt64(QStringLiteral("mzuid")));
        }
        counter = max;
    }
    if (advance)
        ++counter;
}

// --- Persons ---------------------------------------------------------------------

qint64 IOSViberDb::findPersonKey(const _ViberPerson *person)
{
    open();
    if (!person)
        return 0;
    // An empty number is no key: it would file everybody without one under the first.
    const QString digits = phoneDigits(person->phone);
    if (digits.isEmpty())
        return 0;
    if (const Lookups *l = personLookups())
        return l->personsByNumber.value(digits).value(0);
    Sqlite3Cursor c =
        queryThrow(Sqlite3Sql(m_layout.personKeysSql() + QStringLiteral(" limit 1")).addTextParam(digits));
    return c.moveNext() ? c.getInt64At(0) : 0;
}

qint64 IOSViberDb::insertPerson(qint64 &counter, const _ViberPerson *person)
{
    open();
    if (!person)
        return 0;
    const QVariantMap carried = readExtraColumns(person);
    if (m_layout.membersAsParticipants()) {
        // A member with its number as a separate row, as the app keeps them.
        Sqlite3Row member;
        const auto optional = [&](Sqlite3Row &row, const QString &table, const char *column,
                                  const QVariant &value) {
            if (m_layout.has(table, QLatin1String(column)))
                row.setVal(QLatin1String(column), value);
        };
        optional(member, kMember, "Z_ENT", entity(QStringLiteral("Member")));
        optional(member, kMember, "Z_OPT", 1);
        if (m_layout.has(kMember, QStringLiteral("ZUID"))) {
            nextZuid(counter, true);
            member.setVal(QStringLiteral("ZUID"), counter);
        }
        if (!person->name.isEmpty()) {
            optional(member, kMember, "ZNAME", person->name);
            optional(member, kMember, "ZDISPLAYFULLNAME", person->name);
        }
        const qint64 key = insertRow(kMember, member);
        const QString digits = phoneDigits(person->phone);
        if (!digits.isEmpty()) {
            Sqlite3Row number;
            optional(number, kPhoneNumber, "Z_ENT", entity(QStringLiteral("PhoneNumber")));
            optional(number, kPhoneNumber, "Z_OPT", 1);
            number.setVal(QStringLiteral("ZMEMBER"), key);
            number.setVal(QStringLiteral("ZCANONIZEDPHONENUM"), digits);
            optional(number, kPhoneNumber, "ZPHONE", person->phone);
            optional(number, kPhoneNumber, "ZPHONETYPE", QStringLiteral("Viber"));
            insertRow(kPhoneNumber, number);
            if (Lookups *l = currentLookups(); l && l->persons)
                l->personsByNumber[digits].append(key);
        }
        return key;
    }
    const QString &t = kPhoneNumberIndex;
    Sqlite3Row row;
    auto optional = [&](const char *column, const QVariant &value) {
        const QString name = QString::fromLatin1(column);
        if (m_layout.has(t, name))
            row.setVal(name, value);
    };
    optional("Z_ENT", entity(QStringLiteral("PhoneNumberIndex")));
    optional("Z_OPT", carriedOpt(carried));
    for (const char *column : {"ZAPPID", "ZGROUPID", "ZISBLOCKED", "ZISSYSTEM"})
        optional(column, 0);
    optional("ZISVIBER", 1);
    if (m_layout.has(t, QStringLiteral("ZUID"))) {
        nextZuid(counter, true);
        row.setVal(QStringLiteral("ZUID"), counter);
    }
    row.setVal(QStringLiteral("ZCANONIZEDPHONENUM"), phoneDigits(person->phone));
    row.setVal(QStringLiteral("ZPHONENUM"), person->phone);
    optional("ZPHONETYPE", QStringLiteral("mobile"));
    // Only this program's own layout keeps the name here: a phone takes it from
    // the address book.
    if (m_layout.has(t, kOther)) {
        row.setVal(QStringLiteral("ZNAME"), person->name);
        row.setVal(kOther, blobOrNull(person->other));
    }
    const qint64 key = insertRow(t, row);
    const QString digits = phoneDigits(person->phone);
    if (Lookups *l = currentLookups(); l && l->persons && !digits.isEmpty())
        l->personsByNumber[digits].append(key);
    return key;
}

void IOSViberDb::linkParticipants(qint64 &counter, qint64 chatKey, const QList<_ViberPerson *> &persons,
                                  NumberlessPersons *numberless)
{
    open();
    const QString sql = QStringLiteral("replace into %1(%2, %3) values(?, ?)")
                            .arg(quoted(m_layout.participants().table), quoted(m_layout.participants().first),
                                 quoted(m_layout.participants().second));
    for (const _ViberPerson *person : persons) {
        if (!person)
            continue;
        const qint64 key = findOrInsertPerson(counter, person, numberless);
        executeThrow(Sqlite3Sql(sql).addInt64Param(chatKey).addInt64Param(key));
        if (Lookups *l = currentLookups(); l && l->chats && !l->groupChats.contains(chatKey))
            l->chatByPerson.insert(key, std::min(chatKey, l->chatByPerson.value(key, chatKey)));
    }
}

// --- Conversations ---------------------------------------------------------------

qint64 IOSViberDb::findChatKey(const _ViberChat *chat)
{
    open();
    if (!chat)
        return 0;
    // Of several conversations that match, the first made.
    Sqlite3Cursor c;
    if (!chat->groupId.isEmpty()) {
        if (const Lookups *l = chatLookups())
            return l->chatByGroup.value(chat->groupId);
        c = queryThrow(Sqlite3Sql("select Z_PK from ZCONVERSATION where ZGROUPID=? order by Z_PK limit 1")
                           .addTextParam(chat->groupId));
    } else if (chat->participants.size() == 1 &&
               !phoneDigits(chat->participants.constBegin().value()->phone).isEmpty()) {
        const QString digits = phoneDigits(chat->participants.constBegin().value()->phone);
        if (chatLookups() && personLookups()) {
            qint64 first = 0;
            for (const qint64 person : m_lookups.personsByNumber.value(digits))
                if (const qint64 key = m_lookups.chatByPerson.value(person); key && (!first || key < first))
                    first = key;
            return first;
        }
        // The group test is one alternative: without the parentheses a conversation
        // with an empty group id would match whatever its number.
        const QString sql =
            QStringLiteral("select c.Z_PK from ZCONVERSATION as c inner join %1 as j on c.Z_PK=j.%2 "
                           "where j.%3 in (%4) and (c.ZGROUPID is null or c.ZGROUPID='') order by c.Z_PK "
                           "limit 1")
                .arg(quoted(m_layout.participants().table), quoted(m_layout.participants().first),
                     quoted(m_layout.participants().second), m_layout.personKeysSql());
        c = queryThrow(Sqlite3Sql(sql).addTextParam(digits));
    } else {
        return 0;
    }
    return c.moveNext() ? c.getInt64At(0) : 0;
}

qint64 IOSViberDb::insertChat(qint64 &counter, const _ViberChat *chat)
{
    open();
    if (!chat)
        return 0;
    const QVariantMap carried = readExtraColumns(chat);
    const QString &t = kConversation;
    Sqlite3Row row;
    auto optional = [&](const char *column, const QVariant &value) {
        const QString name = QString::fromLatin1(column);
        if (m_layout.has(t, name))
            row.setVal(name, value);
    };
    optional("Z_ENT", entity(QStringLiteral("Conversation")));
    optional("Z_OPT", carriedOpt(carried));
    const qint64 context = carried.value(QStringLiteral("ZCONTEXT")).toLongLong();
    if (context > 0)
        optional("ZCONTEXT", context);
    optional("ZISLOCATION", 0);
    optional("ZISMUTED", 0);
    optional("ZSMARTNOTIFICATIONSHOWN", carried.value(QStringLiteral("ZSMARTNOTIFICATIONSHOWN")).toInt());
    optional("ZSMARTSTATE", carried.value(QStringLiteral("ZSMARTSTATE")).toInt());
    if (m_layout.has(t, QStringLiteral("ZUID"))) {
        nextZuid(counter, true);
        row.setVal(QStringLiteral("ZUID"), counter);
    }
    optional("ZUNREADCOUNT", 0);
    optional("ZLASTGENERALNOTIFICATIONDATE", 0.0);
    if (const qint64 subtype = carried.value(QStringLiteral("ZSUBTYPE")).toLongLong())
        optional("ZSUBTYPE", subtype);
    if (!chat->groupId.isEmpty())
        row.setVal(QStringLiteral("ZGROUPID"), chat->groupId);
    if (!chat->name.isEmpty())
        optional("ZNAME", chat->name);
    optional("_other", blobOrNull(chat->other));
    const qint64 key = insertRow(t, row);
    if (Lookups *l = currentLookups(); l && l->chats && !chat->groupId.isEmpty()) {
        l->groupChats.insert(key);
        if (!l->chatByGroup.contains(chat->groupId))
            l->chatByGroup.insert(chat->groupId, key);
    }
    return key;
}

// --- Messages --------------------------------------------------------------------

qint64 IOSViberDb::findDuplicateMessage(qint64 token, double date, qint64 &attachmentKey)
{
    open();
    const auto [from, to] = dateWindow(date, 60);
    // Served by the (ZTOKEN, ZDATE) index of the template and the token index of a
    // phone's store: each check is a lookup, not a scan. The message and its attachment
    // come in one statement: a copy again runs this for every message it is given.
    if (m_duplicateByTokenSql.isEmpty())
        m_duplicateByTokenSql =
            QStringLiteral("select m.Z_PK, %1 from ZVIBERMESSAGE as m where m.ZTOKEN=? and "
                           "m.ZDATE between ? and ?")
                .arg(m_layout.attachmentOfMessageSql(QStringLiteral("m")));
    Sqlite3Cursor c = queryThrow(
        Sqlite3Sql(m_duplicateByTokenSql).addInt64Param(token).addDoubleParam(from).addDoubleParam(to));
    if (!c.moveNext())
        return 0;
    attachmentKey = c.getInt64At(1);
    return c.getInt64At(0);
}

qint64 IOSViberDb::duplicateFound(const Sqlite3Sql &query, qint64 &attachmentKey)
{
    Sqlite3Cursor c = queryThrow(query);
    if (!c.moveNext())
        return 0;
    const qint64 key = c.getInt64At(0);
    Sqlite3Cursor a = queryThrow(Sqlite3Sql(QStringLiteral("select %1 from ZVIBERMESSAGE as m where m.Z_PK=?")
                                                .arg(m_layout.attachmentOfMessageSql(QStringLiteral("m"))))
                                     .addInt64Param(key));
    attachmentKey = a.moveNext() ? a.getInt64At(0) : 0;
    return key;
}

qint64 IOSViberDb::findTokenlessDuplicate(qint64 chatKey, const _ViberMsg *msg, qint64 &attachmentKey,
                                          const NumberlessPersons *numberless)
{
    open();
    if (!msg)
        return 0;
    // A sender that is not in the store yet has sent nothing there.
    const qint64 sender = msg->person ? knownPersonKey(msg->person, numberless) : 0;
    if (msg->person && sender == 0)
        return 0;
    const QString attachmentOf = QStringLiteral("(select a.ZTYPE from ZATTACHMENT as a where a.Z_PK=%1)")
                                     .arg(m_layout.attachmentOfMessageSql(QStringLiteral("m")));
    Sqlite3Sql sql(
        QStringLiteral("select m.Z_PK from ZVIBERMESSAGE as m where m.ZTOKEN=0 and %1 and "
                       "m.ZCONVERSATION=? and coalesce(m.ZPHONENUMINDEX, 0)=? and coalesce(m.ZTEXT, '')=? "
                       "and coalesce(m.ZSYSTEMTYPE, '')=? and coalesce(%2, '')=? limit 1")
            .arg(sameSecond(QStringLiteral("m.ZDATE")), attachmentOf));
    bindSameSecond(sql, msg->date);
    sql.addInt64Param(chatKey)
        .addInt64Param(sender)
        .addTextParam(msg->text.toString())
        .addTextParam(systemTypeText(msg))
        .addTextParam(msg->attachment ? attachmentTypeText(msg) : QString());
    return duplicateFound(sql, attachmentKey);
}

qint64 IOSViberDb::insertMessage(qint64 &counter, qint64 chatKey, const _ViberMsg *msg, qint64 &attachmentKey,
                                 qint64 &locationKey, NumberlessPersons *numberless,
                                 const std::function<void()> &checkCancel)
{
    open();
    if (!msg)
        return 0;

    // Checked before anything is collected: collecting may insert the sender, and a
    // message that is not written must leave nothing behind.
    if (!msg->person && msg->chat && !msg->chat->groupId.isEmpty() && msg->state == ViberMsgStateReceived &&
        msg->type != ViberMsgTypeSystem) {
        qDebug("skip group message %lld without sender", static_cast<long long>(msg->id));
        return 0;
    }
    const QString stateText = msgStateToStoreText(msg->state);
    if (stateText.isEmpty())
        return 0;

    const QVariantMap carried = readExtraColumns(msg);
    const QString &t = kViberMessage;
    Sqlite3Row row;
    auto optional = [&](const QString &table, Sqlite3Row &r, const QString &name, const QVariant &value) {
        if (m_layout.has(table, name))
            r.setVal(name, value);
    };
    auto opt = [&](const char *column, const QVariant &value) {
        optional(t, row, QString::fromLatin1(column), value);
    };
    opt("Z_ENT", entity(QStringLiteral("ViberMessage")));
    opt("Z_OPT", carriedOpt(carried));
    opt("ZDELIVEREDCOUNT", 0);
    opt("ZFORWARDTYPE", 0);
    opt("ZMESSAGEID", 0);
    row.setVal(QStringLiteral("ZSEQ"), msg->seq);
    row.setVal(QStringLiteral("ZTOKEN"), msg->token);
    if (m_layout.has(t, QStringLiteral("ZUID"))) {
        nextZuid(counter, true);
        row.setVal(QStringLiteral("ZUID"), counter);
    }
    row.setVal(QStringLiteral("ZCONVERSATION"), chatKey);
    // Core Data's entity column of the relationship.
    const qint32 conversationEnt = entity(QStringLiteral("Conversation"));
    optional(t, row, QStringLiteral("Z%1_CONVERSATION").arg(conversationEnt), conversationEnt);
    if (msg->person)
        row.setVal(QStringLiteral("ZPHONENUMINDEX"), findOrInsertPerson(counter, msg->person, numberless));
    row.setVal(QStringLiteral("ZDATE"), storableDate(msg->date));
    row.setVal(QStringLiteral("ZSTATEDATE"), storableDate(msg->stateDate));
    row.setVal(QStringLiteral("ZSTATE"), stateText);
    const QString systemType = systemTypeText(msg);
    if (!systemType.isEmpty())
        row.setVal(QStringLiteral("ZSYSTEMTYPE"), systemType);
    const QString text = msg->text.toString();
    row.setVal(QStringLiteral("ZTEXT"), text);
    QByteArray emoticons = carried.value(QStringLiteral("ZEMOTICONSRANGES")).toByteArray();
    if (emoticons.isEmpty())
        emoticons = checkCancel ? Emoticons::ranges(text, checkCancel) : Emoticons::ranges(text);
    if (!emoticons.isEmpty())
        opt("ZEMOTICONSRANGES", emoticons);
    const QByteArray ranges = carried.value(QStringLiteral("ZRANGES")).toByteArray();
    if (!ranges.isEmpty())
        opt("ZRANGES", ranges);
    // What current stores keep beside the text goes back as it came.
    for (const char *column : {"ZMETADATA", "ZCALLTYPE", "ZCALLDURATION"}) {
        const QVariant value = carried.value(QLatin1String(column));
        if (!value.isNull())
            opt(column, value);
    }
    opt("_other", blobOrNull(msg->other));

    const qint64 messageKey = insertRow(t, row);
    if (m_indexMessages)
        executeThrow(
            Sqlite3Sql("INSERT INTO MESSAGEINDEX(docid, ZTEXT) SELECT Z_PK, ZTEXT FROM ZVIBERMESSAGE WHERE "
                       "Z_PK=?")
                .addInt64Param(messageKey));
    attachmentKey = 0;
    locationKey = 0;

    if (msg->latitude() != 0 && msg->longitude() != 0) {
        Sqlite3Row loc;
        const QString &lt = kViberLocation;
        optional(lt, loc, QStringLiteral("Z_ENT"), entity(QStringLiteral("ViberLocation")));
        optional(lt, loc, kOpt, 2);
        if (m_layout.has(lt, QStringLiteral("ZUID"))) {
            nextZuid(counter, true);
            loc.setVal(QStringLiteral("ZUID"), counter);
        }
        optional(lt, loc, QStringLiteral("ZMESSAGE"), messageKey);
        loc.setVal(QStringLiteral("ZLATITUDE"), msg->latitude());
        loc.setVal(QStringLiteral("ZLONGITUDE"), msg->longitude());
        if (!msg->address().isEmpty())
            loc.setVal(QStringLiteral("ZADDRESS"), msg->address());
        locationKey = insertRow(lt, loc);
    }

    if (const _ViberAtta *att = msg->attachment) {
        const QVariantMap attCarried = readExtraColumns(att);
        const QString &at = kAttachment;
        Sqlite3Row a;
        auto aopt = [&](const char *column, const QVariant &value) {
            optional(at, a, QString::fromLatin1(column), value);
        };
        aopt("Z_ENT", entity(QStringLiteral("Attachment")));
        aopt("Z_OPT", carriedOpt(attCarried));
        aopt("ZCACHEPOLICY", 0);
        aopt("ZMEDIADOWNLOADTYPE", 0);
        a.setVal(QStringLiteral("ZFILESIZE"), att->fileSize);
        const qint64 range = attCarried.value(QStringLiteral("ZRANGE")).toLongLong();
        aopt("ZRANGE", range > 0 ? range : att->fileSize);
        a.setVal(QStringLiteral("ZSEQ"), att->seq);
        if (m_layout.has(at, QStringLiteral("ZUID"))) {
            nextZuid(counter, true);
            a.setVal(QStringLiteral("ZUID"), counter);
        }
        aopt("ZMESSAGE", messageKey);
        if (!att->attId.isEmpty())
            a.setVal(QStringLiteral("ZID"), att->attId);
        if (!att->fileName.isEmpty())
            a.setVal(QStringLiteral("ZNAME"), att->fileName);
        const QString state = attCarried.value(QStringLiteral("ZSTATE")).toString();
        // The phone's app spells it so.
        aopt("ZSTATE", state.isEmpty() ? QStringLiteral("complite") : state);
        const QString url = attCarried.value(QStringLiteral("ZURL")).toString();
        if (!url.isEmpty())
            aopt("ZURL", url);
        const QString metadata = attCarried.value(QStringLiteral("ZMETADATA")).toString();
        if (!metadata.isEmpty())
            aopt("ZMETADATA", metadata);
        aopt("_other", blobOrNull(att->other));
        const QString type = attachmentTypeText(msg);
        if (!type.isEmpty())
            a.setVal(QStringLiteral("ZTYPE"), type);
        if (msg->type == ViberMsgTypePicture)
            a.setVal(QStringLiteral("ZBUCKET"),
                     QStringLiteral("Share") +
                         storeTimeToDateTime(msg->date).toLocalTime().toString(QStringLiteral("yyyy-MM-dd")));
        if (msg->type == ViberMsgTypeAudio || msg->type == ViberMsgTypeVideo)
            a.setVal(QStringLiteral("ZDURATION"), att->duration);
        attachmentKey = insertRow(at, a);
        if (msg->type == ViberMsgTypeAudio) {
            // The voice file in the store is named by this key.
            const QString key = QString::number(attachmentKey);
            executeThrow(Sqlite3Sql("update ZATTACHMENT set ZNAME=?, ZID=? where Z_PK=?")
                             .addTextParam(key)
                             .addTextParam(key)
                             .addInt64Param(attachmentKey));
        }
    }

    QStringList links;
    if (locationKey > 0 && m_layout.has(t, QStringLiteral("ZLOCATION")))
        links << QStringLiteral("ZLOCATION=%1").arg(locationKey);
    if (attachmentKey > 0 && m_layout.has(t, QStringLiteral("ZATTACHMENT")))
        links << QStringLiteral("ZATTACHMENT=%1").arg(attachmentKey);
    if (!links.isEmpty())
        executeThrow(QStringLiteral("update ZVIBERMESSAGE set %1 where Z_PK=%2")
                         .arg(links.join(QLatin1Char(',')))
                         .arg(messageKey));
    // Current stores also link the two through a join table of their entities.
    if (const StoreLayout::Relation &join = m_layout.attachmentJoin(); attachmentKey > 0 && join.exists()) {
        Sqlite3Row link;
        link.setVal(join.first, attachmentKey);
        link.setVal(join.second, messageKey);
        const QString order = QStringLiteral("Z_FOK_%1").arg(join.first.mid(2));
        if (m_layout.has(join.table, order))
            link.setVal(order, 1);
        executeThrow(link.insertSql(join.table));
    }
    return messageKey;
}

// --- Calls -----------------------------------------------------------------------

qint64 IOSViberDb::insertCall(qint64 &counter, const _ViberCall *call, bool *alreadyPresent,
                              NumberlessPersons *numberless)
{
    open();
    if (alreadyPresent)
        *alreadyPresent = false;
    if (!call || !call->person)
        return 0;
    // Stores spell a type in many ways ("MISSED", "incoming_video"): the same call is one
    // of the same kind, as the reader tells kinds apart. A call with a token is found
    // without its line, which a copy again then never looks up.
    static const QString kindOfType = StoreLayout::callKindSql(QStringLiteral("ZCALLTYPE"));
    if (call->callToken != 0) {
        if (const qint64 key = firstRecent(call->callToken, kindOfType, call->type)) {
            if (alreadyPresent)
                *alreadyPresent = true;
            return key;
        }
    }
    // The person's recents line: by number, or, for a person without one, the line
    // made for this run's record.
    const QString digits = phoneDigits(call->person->phone);
    qint64 lineKey = 0;
    if (!digits.isEmpty())
        lineKey = recentsLineOfNumber(digits);
    else if (const qint64 person = knownPersonKey(call->person, numberless); person > 0)
        lineKey = latestRecentsLine({person});

    const QString type = callTypeText(call);
    Sqlite3Sql same;
    if (call->callToken == 0 && lineKey > 0) {
        // Token 0 is no token: the same call is the one of the person's line with
        // the same date to the second and type.
        same = Sqlite3Sql(
            QStringLiteral("select r.Z_PK from ZRECENT as r inner join ZRECENTSLINE as l on "
                           "r.ZRECENTSLINE=l.Z_PK where r.ZCALLTOKEN=0 and %2=? and %1 and "
                           "l.ZPHONENUMINDEX=(select ZPHONENUMINDEX from ZRECENTSLINE where Z_PK=?) "
                           "limit 1")
                .arg(sameSecond(QStringLiteral("r.ZDATE")),
                     StoreLayout::callKindSql(QStringLiteral("r.ZCALLTYPE"))));
        same.addIntParam(call->type);
        bindSameSecond(same, call->date);
        same.addInt64Param(lineKey);
    }
    if (!same.sql().isEmpty()) {
        Sqlite3Cursor r = queryThrow(same);
        if (r.moveNext()) {
            if (alreadyPresent)
                *alreadyPresent = true;
            return r.getInt64At(0);
        }
    }

    if (lineKey == 0) {
        Sqlite3Row line;
        line.setVal(QStringLiteral("Z_ENT"), entity(QStringLiteral("RecentsLine")));
        line.setVal(kOpt, 1);
        const qint64 personKey = findOrInsertPerson(counter, call->person, numberless);
        line.setVal(QStringLiteral("ZPHONENUMINDEX"), personKey);
        lineKey = insertRow(kRecentsLine, line);
        noteRecentWritten(kRecentsLine, lineKey);
        // Current stores link members and recents lines through a join table as well.
        const StoreLayout::Relation &members = m_layout.recentsLineMembers();
        if (m_layout.membersAsParticipants() && members.exists()) {
            Sqlite3Row link;
            link.setVal(members.first, personKey);
            link.setVal(members.second, lineKey);
            executeThrow(link.insertSql(members.table));
        }
    }

    Sqlite3Row row;
    row.setVal(QStringLiteral("Z_ENT"), entity(QStringLiteral("Recent")));
    row.setVal(kOpt, 1);
    row.setVal(QStringLiteral("ZCALLTOKEN"), call->callToken);
    row.setVal(QStringLiteral("ZDURATION"), call->duration);
    if (m_layout.has(kRecent, QStringLiteral("ZREAD")))
        row.setVal(QStringLiteral("ZREAD"), 1);
    row.setVal(QStringLiteral("ZRECENTSLINE"), lineKey);
    row.setVal(QStringLiteral("ZDATE"), storableDate(call->date));
    row.setVal(QStringLiteral("ZCALLTYPE"), type);
    if (m_layout.has(kRecent, kOther))
        row.setVal(kOther, blobOrNull(call->other));
    const qint64 key = insertRow(kRecent, row);
    noteRecentWritten(kRecent, key);
    return key;
}

// --- Summary columns -------------------------------------------------------------

void IOSViberDb::refreshRecentsLines()
{
    open();
    const Sqlite3Sql update("update ZRECENTSLINE set ZCOUNT=?, ZDATE=?, ZCALLTYPE=? where Z_PK=?");
    Sqlite3Cursor c =
        queryThrow("select Z_PK,ZRECENTSLINE,ZDATE,ZCALLTYPE from ZRECENT order by ZRECENTSLINE asc");
    bool any = false;
    qint64 line = 0;
    qint64 count = 0;
    double date = 0.0;
    QString type;
    auto flush = [&] {
        executeThrow(
            Sqlite3Sql(update).addInt64Param(count).addDoubleParam(date).addTextParam(type).addInt64Param(
                line));
    };
    while (c.moveNext()) {
        const qint64 rowLine = c.getInt64At(1);
        if (any && rowLine != line) {
            flush();
            count = 0;
            date = 0.0;
            type.clear();
        }
        any = true;
        line = rowLine;
        ++count;
        const double rowDate = c.getDoubleAt(2);
        if (rowDate > date) {
            date = rowDate;
            type = c.getTextAt(3);
        }
    }
    if (any)
        flush();
}

void IOSViberDb::refreshLastMessages(const QSet<qint64> *chats)
{
    open();
    // The latest message of each conversation from one pass over keys and dates; its
    // columns and attachment are then looked up for it alone. Joining every message
    // with its attachment instead costs a scan of the attachments per message where
    // the store has no index on that link, which made a transfer into a large store
    // grow with the square of its size.
    struct Latest
    {
        qint64 key = 0;
        double date = 0.0;
    };
    QHash<qint64, Latest> latest;
    {
        Sqlite3Cursor c = queryThrow("select ZCONVERSATION, Z_PK, ZDATE from ZVIBERMESSAGE");
        while (c.moveNext()) {
            const qint64 conversation = c.getInt64At(0);
            if (chats && !chats->contains(conversation))
                continue;
            Latest &l = latest[conversation];
            const qint64 key = c.getInt64At(1);
            const double date = c.getDoubleAt(2);
            // The later message wins, of two at one time the one with the lower key.
            if (date > l.date || (date == l.date && date > 0 && key < l.key)) {
                l.key = key;
                l.date = date;
            }
        }
    }
    QSet<qint64> winners;
    for (const Latest &l : std::as_const(latest))
        if (l.key != 0)
            winners.insert(l.key);
    const QHash<qint64, qint64> attachmentOf = attachmentsOfMessages(winners);

    const Sqlite3Sql update(
        "update ZCONVERSATION set ZLASTMESSAGETOKEN=?, ZLASTMESSAGESENDER=?, ZDATE=?, ZLASTMESSAGETEXT=?, "
        "ZLASTMESSAGETYPE=?, ZLASTMESSAGEEMOTICONSRANGES=?, ZLASTMESSAGERANGES=? where Z_PK=?");
    const Sqlite3Sql message(
        "select ZTOKEN, ZPHONENUMINDEX, ZDATE, ZTEXT, ZSYSTEMTYPE, ZEMOTICONSRANGES, ZRANGES "
        "from ZVIBERMESSAGE where Z_PK=?");
    const Sqlite3Sql attachmentType("select ZTYPE from ZATTACHMENT where Z_PK=?");
    for (auto it = latest.cbegin(); it != latest.cend(); ++it) {
        qint64 token = 0, sender = 0;
        double date = 0.0;
        QString text, type;
        QByteArray emoticons, ranges;
        if (it.value().key != 0) {
            Sqlite3Cursor m = queryThrow(Sqlite3Sql(message).addInt64Param(it.value().key));
            if (m.moveNext()) {
                token = m.getInt64At(0);
                sender = m.getInt64At(1);
                date = m.getDoubleAt(2);
                text = m.getTextAt(3);
                type = m.getTextAt(4);
                emoticons = m.getBlobAt(5);
                ranges = m.getBlobAt(6);
            }
            if (type.isEmpty()) {
                if (const qint64 attachment = attachmentOf.value(it.value().key)) {
                    Sqlite3Cursor a = queryThrow(Sqlite3Sql(attachmentType).addInt64Param(attachment));
                    if (a.moveNext())
                        type = a.getTextAt(0);
                }
            }
            if (type.isEmpty())
                type = QStringLiteral("text");
        }
        Sqlite3Sql sql(update);
        sql.addInt64Param(token);
        if (sender < 1)
            sql.addNullParam();
        else
            sql.addInt64Param(sender);
        sql.addDoubleParam(date).addTextParam(text).addTextParam(type);
        for (const QByteArray *bytes : {&emoticons, &ranges}) {
            if (bytes->isEmpty())
                sql.addNullParam();
            else
                sql.addBlobParam(*bytes);
        }
        sql.addInt64Param(it.key());
        executeThrow(sql);
    }
}

QHash<qint64, qint64> IOSViberDb::attachmentsOfMessages(const QSet<qint64> &messages)
{
    // Whichever link the store has, in the order attachmentOfMessageSql follows; the
    // first attachment by key where a message has several.
    QHash<qint64, qint64> out;
    if (messages.isEmpty())
        return out;
    auto scan = [&](const QString &sql) {
        Sqlite3Cursor c = queryThrow(sql);
        while (c.moveNext()) {
            const qint64 msg = c.getInt64At(0), attachment = c.getInt64At(1);
            if (attachment != 0 && messages.contains(msg) && !out.contains(msg))
                out.insert(msg, attachment);
        }
    };
    switch (m_layout.attachmentLink()) {
    case StoreLayout::MessageLink::Own:
        scan(QStringLiteral("select ZMESSAGE, Z_PK from ZATTACHMENT order by Z_PK"));
        break;
    case StoreLayout::MessageLink::Message: {
        const Sqlite3Sql sql("select ZATTACHMENT from ZVIBERMESSAGE where Z_PK=?");
        for (const qint64 msg : messages) {
            Sqlite3Cursor c = queryThrow(Sqlite3Sql(sql).addInt64Param(msg));
            if (c.moveNext() && c.getInt64At(0) != 0)
                out.insert(msg, c.getInt64At(0));
        }
        break;
    }
    case StoreLayout::MessageLink::JoinTable: {
        const StoreLayout::Relation &join = m_layout.attachmentJoin();
        scan(QStringLiteral("select %1, %2 from %3 order by %2").arg(join.second, join.first, join.table));
        break;
    }
    case StoreLayout::MessageLink::None:
        break;
    }
    return out;
}

void IOSViberDb::refreshPrimaryKeyMax()
{
    open();
    static const char *const kTables[][2] = {{"ZATTACHMENT", "Attachment"},
                                             {"ZCONVERSATION", "Conversation"},
                                             {"ZPHONENUMBERINDEX", "PhoneNumberIndex"},
                                             {"ZMEMBER", "Member"},
                                             {"ZPHONENUMBER", "PhoneNumber"},
                                             {"ZRECENT", "Recent"},
                                             {"ZRECENTSLINE", "RecentsLine"},
                                             {"ZVIBERLOCATION", "ViberLocation"},
                                             {"ZVIBERMESSAGE", "ViberMessage"}};
    for (const auto &entry : kTables) {
        const QString table = QString::fromLatin1(entry[0]);
        if (!m_layout.has(table))
            continue;
        // Never lowered: keys up to Z_MAX may have been handed out by the app already.
        executeThrow(
            QStringLiteral(
                "update Z_PRIMARYKEY set Z_MAX=(select coalesce(max(Z_MAX, m), m, Z_MAX) from (select "
                "max(Z_PK) as m from %1)) where Z_NAME='%2'")
                .arg(table, QLatin1String(entry[1])));
    }
}

void IOSViberDb::refreshConversationDates(const QSet<qint64> *chats)
{
    open();
    const QByteArray update("update ZCONVERSATION set ZDATE=(select max(ZDATE) from ZVIBERMESSAGE as m where "
                            "m.ZCONVERSATION=ZCONVERSATION.Z_PK)");
    if (!chats) {
        executeThrow(Sqlite3Sql(update));
        return;
    }
    for (const qint64 chat : *chats)
        executeThrow(Sqlite3Sql(update + " where Z_PK=?").addInt64Param(chat));
}

void IOSViberDb::clearAttachmentUrl(qint64 attachmentKey)
{
    open();
    if (m_layout.has(kAttachment, QStringLiteral("ZURL")))
        executeThrow(
            Sqlite3Sql("update ZATTACHMENT set ZURL=null where Z_PK=?").addInt64Param(attachmentKey));
}

// --- Deleting what a run left empty ----------------------------------------------

bool IOSViberDb::deleteChatWithoutMessages(qint64 chatKey)
{
    open();
    Sqlite3Cursor c = queryThrow(
        Sqlite3Sql("select 1 from ZVIBERMESSAGE where ZCONVERSATION=? limit 1").addInt64Param(chatKey));
    if (c.moveNext())
        return false;
    executeThrow(
        Sqlite3Sql(QStringLiteral("delete from %1 where %2=?")
                       .arg(quoted(m_layout.participants().table), quoted(m_layout.participants().first)))
            .addInt64Param(chatKey));
    executeThrow(Sqlite3Sql("delete from ZCONVERSATION where Z_PK=?").addInt64Param(chatKey));
    m_lookups.chats = false;
    return true;
}

void IOSViberDb::deleteUnreferencedPerson(qint64 personKey)
{
    open();
    m_lookups.persons = false;
    m_lookups.chats = false;
    if (m_layout.membersAsParticipants()) {
        // The member's numbers go with it; a member still referred to keeps both.
        const QString referred =
            QStringLiteral("exists (select 1 from %1 where %2=?1) or exists (select 1 from "
                           "ZVIBERMESSAGE where ZPHONENUMINDEX=?1) or exists (select 1 from "
                           "ZRECENTSLINE where ZPHONENUMINDEX=?1)")
                .arg(quoted(m_layout.participants().table), quoted(m_layout.participants().second));
        executeThrow(
            Sqlite3Sql(QStringLiteral("delete from ZPHONENUMBER where ZMEMBER=?1 and not (%1)").arg(referred))
                .addInt64Param(personKey));
        executeThrow(
            Sqlite3Sql(QStringLiteral("delete from ZMEMBER where Z_PK=?1 and not (%1)").arg(referred))
                .addInt64Param(personKey));
        return;
    }
    const QString sql =
        QStringLiteral(
            "delete from ZPHONENUMBERINDEX where Z_PK=? and not exists (select 1 from %1 where %2=?) "
            "and not exists (select 1 from ZVIBERMESSAGE where ZPHONENUMINDEX=?) and not exists "
            "(select 1 from ZRECENTSLINE where ZPHONENUMINDEX=?)")
            .arg(quoted(m_layout.participants().table), quoted(m_layout.participants().second));
    executeThrow(Sqlite3Sql(sql)
                     .addInt64Param(personKey)
                     .addInt64Param(personKey)
                     .addInt64Param(personKey)
                     .addInt64Param(personKey));
}
