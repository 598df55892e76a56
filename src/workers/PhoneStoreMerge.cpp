#include "PhoneStoreMerge.h"

#include "viber/IOSViberDb.h"
#include "viber/Sqlite3DB.h"
#include "viber/ViberMsgMerger.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

const QString kStoreName = u"Documents/Contacts.data"_s;

// One message or call of the rebuilt table: a row of the phone's store, or a selected record.
struct Entry
{
    qint64 token = 0;
    double date = 0;
    bool fromPhone = false;
    // A phone's message: its row in the waiting table, and its attachment and location.
    qint64 phoneRow = 0;
    qint64 attachment = 0;
    qint64 location = 0;
    Sqlite3Row row; // a phone's call, whole
    const _ViberMsg *message = nullptr;
};

// By date; the phone's own row first where a selected copy has the same date.
void sortEntries(QList<Entry> &entries)
{
    std::stable_sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        if (a.date != b.date)
            return a.date < b.date;
        return a.fromPhone && !b.fromPhone;
    });
}

} // namespace

PhoneStoreMerge::Result PhoneStoreMerge::run(IOSViberDb &work, const QList<_ViberMsg *> &records,
                                             const WorkSteps &steps)
{
    return work.isMemberLayout() ? append(work, records, steps) : rebuild(work, records, steps);
}

PhoneStoreMerge::Result PhoneStoreMerge::rebuild(IOSViberDb &work, const QList<_ViberMsg *> &records,
                                                 const WorkSteps &steps)
{
    Result merge;
    qint64 &phoneDuplicates = merge.phoneDuplicates;

    // The phone's rows as entries, whole.
    const auto readRows = [&work](const char *sql, const QString &tokenColumn, QList<Entry> &into) {
        Sqlite3Cursor c = work.queryThrow(Sqlite3Sql(sql));
        while (c.moveNext()) {
            Entry e;
            e.row = c.getRow();
            e.token = e.row.val(tokenColumn).toLongLong();
            e.date = e.row.val(u"ZDATE"_s).toDouble();
            e.fromPhone = true;
            into.append(e);
        }
    };
    // The phone's messages, with the keys of their attachment and location, wait in a
    // table of the connection's own while the store's table is emptied: read into
    // memory as rows, a million of them cost far more than the merge itself.
    work.execThrow(u"DROP TABLE IF EXISTS temp.phone_messages"_s);
    work.execThrow(
        u"CREATE TEMP TABLE phone_messages AS select m.*, a.Z_PK as atta_id, l.Z_PK as loc_id from "
        u"ZVIBERMESSAGE as m left join ZATTACHMENT as a on m.Z_PK=a.ZMESSAGE left join ZVIBERLOCATION as l "
        u"on "
        u"m.Z_PK=l.ZMESSAGE"_s);
    QList<Entry> messages, calls;
    {
        Sqlite3Cursor c = work.queryThrow(Sqlite3Sql(
            "select rowid, ZTOKEN, ZDATE, atta_id, loc_id from temp.phone_messages order by rowid"));
        while (c.moveNext()) {
            Entry e;
            e.phoneRow = c.getInt64At(0);
            e.token = c.getInt64At(1);
            e.date = c.getDoubleAt(2);
            e.attachment = c.getInt64At(3);
            e.location = c.getInt64At(4);
            e.fromPhone = true;
            messages.append(e);
        }
    }
    QStringList columns;
    for (const Sqlite3Column &column : work.tbCols(u"ZVIBERMESSAGE"_s))
        if (column.name.compare(u"Z_PK"_s, Qt::CaseInsensitive) != 0)
            columns << u"\""_s + QString(column.name).replace(u'"', u"\"\""_s) + u'"';
    const Sqlite3Sql putBack(
        u"insert into ZVIBERMESSAGE (%1) select %1 from temp.phone_messages where rowid=?"_s.arg(
            columns.join(u',')));
    QList<const _ViberMsg *> newCalls;
    for (const _ViberMsg *m : std::as_const(records)) {
        if (!m || !m->chat)
            continue;
        if (m->type == ViberMsgTypeCall) {
            if (m->call) {
                newCalls.append(m);
                ++merge.calls;
            }
            continue;
        }
        Entry e;
        e.token = m->token;
        e.date = m->date;
        e.message = m;
        messages.append(e);
        ++merge.messages;
    }
    sortEntries(messages);
    if (!newCalls.isEmpty()) {
        readRows("select r.*, l.ZPHONENUMINDEX from ZRECENT as r inner join ZRECENTSLINE as l on "
                 "r.ZRECENTSLINE=l.Z_PK",
                 u"ZCALLTOKEN"_s, calls);
        for (const _ViberMsg *m : std::as_const(newCalls)) {
            Entry e;
            e.token = m->call->callToken;
            e.date = m->call->date;
            e.message = m;
            calls.append(e);
        }
        sortEntries(calls);
    }

    // ZUID values of the rows put back stay theirs: new rows take values above them all.
    qint64 zuid = -1;
    work.nextZuid(zuid, false);
    work.execThrow(u"DELETE FROM [ZVIBERMESSAGE]"_s);
    if (!newCalls.isEmpty())
        work.execThrow(u"DELETE FROM [ZRECENT]; DELETE FROM [ZRECENTSLINE]"_s);
    work.execThrow(u"VACUUM"_s);
    work.execThrow(u"BEGIN"_s);

    ViberMsgMerger merger(work);
    merger.setCancelCheck(steps.checkCancel);
    merger.reserveZuidsUpTo(zuid);
    const qint64 n = messages.size();
    qint64 i = 0;
    for (const Entry &e : std::as_const(messages)) {
        steps.progress(int(double(++i) / double(n) * 99), tr("IDS_MERGING_VIBER_MESSAGES"), QString());
        qint64 attachmentKey = 0, locationKey = 0;
        if (!e.fromPhone) {
            merger.mergeChat(e.message);
            merger.mergeRecord(e.message, attachmentKey, locationKey);
            // Files of a message that was there already go again: the phone may lack them.
            if (attachmentKey > 0 && e.message->attachment)
                merge.attachments.append({attachmentKey, e.message->attachment});
        } else {
            const qint64 attachment = e.attachment;
            const qint64 location = e.location;
            qint64 found = 0;
            if (work.findDuplicateMessage(e.token, e.date, found) == 0) {
                work.executeThrow(Sqlite3Sql(putBack).addInt64Param(e.phoneRow));
                const qint64 key = work.lastInsertId();
                if (attachment > 0)
                    work.executeThrow(Sqlite3Sql("update ZATTACHMENT set ZMESSAGE=? where Z_PK=?")
                                          .addInt64Param(key)
                                          .addInt64Param(attachment));
                if (location > 0)
                    work.executeThrow(Sqlite3Sql("update ZVIBERLOCATION set ZMESSAGE=? where Z_PK=?")
                                          .addInt64Param(key)
                                          .addInt64Param(location));
            } else {
                // The copy that came first stays; this one's rows go with it.
                ++phoneDuplicates;
                if (attachment > 0)
                    work.executeThrow(
                        Sqlite3Sql("delete from ZATTACHMENT where Z_PK=?").addInt64Param(attachment));
                if (location > 0)
                    work.executeThrow(
                        Sqlite3Sql("delete from ZVIBERLOCATION where Z_PK=?").addInt64Param(location));
            }
        }
        steps.checkCancel();
    }

    const qint64 callTotal = calls.size();
    i = 0;
    for (const Entry &e : std::as_const(calls)) {
        steps.progress(int(double(++i) / double(callTotal) * 99), tr("IDS_MERGING_VIBER_CALLS"), QString());
        if (!e.fromPhone) {
            qint64 attachmentKey = 0, locationKey = 0;
            merger.mergeRecord(e.message, attachmentKey, locationKey);
        } else {
            if (work.findCallOfType(e.token, e.row.val(u"ZCALLTYPE"_s)) == 0) {
                const QVariant person = e.row.val(u"ZPHONENUMINDEX"_s);
                qint64 lineKey = work.findRecentsLine(person);
                if (lineKey == 0)
                    lineKey = work.insertRecentsLine(person);
                Sqlite3Row row = e.row;
                row.setVal(u"ZRECENTSLINE"_s, lineKey);
                QSet<QString> columns(row.columns().cbegin(), row.columns().cend());
                columns.remove(u"Z_PK"_s);
                columns.remove(u"ZPHONENUMINDEX"_s);
                work.insertCallRow(row, columns);
            }
        }
        steps.checkCancel();
    }

    work.execThrow(u"DROP TABLE temp.phone_messages"_s);
    merge.anyCalls = !newCalls.isEmpty();
    merge.allChats = true;
    return merge;
}

PhoneStoreMerge::Result PhoneStoreMerge::append(IOSViberDb &work, const QList<_ViberMsg *> &records,
                                                const WorkSteps &steps)
{
    Result merge;
    QList<const _ViberMsg *> messages;
    for (const _ViberMsg *m : std::as_const(records)) {
        if (!m || !m->chat || (m->type == ViberMsgTypeCall && !m->call))
            continue;
        messages.append(m);
        ++(m->type == ViberMsgTypeCall ? merge.calls : merge.messages);
        merge.anyCalls = merge.anyCalls || m->type == ViberMsgTypeCall;
    }
    // By chat, then date: each conversation is looked up once.
    std::stable_sort(messages.begin(), messages.end(), [](const _ViberMsg *a, const _ViberMsg *b) {
        return a->chat != b->chat ? std::less<const _ViberChat *>()(a->chat, b->chat) : msgDateLess(a, b);
    });
    work.execThrow(u"BEGIN"_s);
    ViberMsgMerger merger(work);
    merger.setCancelCheck(steps.checkCancel);
    qint64 i = 0;
    for (const _ViberMsg *m : std::as_const(messages)) {
        steps.progress(int(double(++i) / double(messages.size()) * 99), tr("IDS_MERGING_VIBER_MESSAGES"),
                       QString());
        qint64 attachmentKey = 0, locationKey = 0;
        merger.mergeMessage(m, attachmentKey, locationKey);
        if (merger.chatKey() > 0)
            merge.chats.insert(merger.chatKey());
        // Files of a message that was there already go again: the phone may lack them.
        if (attachmentKey > 0 && m->attachment)
            merge.attachments.append({attachmentKey, m->attachment});
        steps.checkCancel();
    }
    merger.dropEmptyInsertedChats();
    return merge;
}
