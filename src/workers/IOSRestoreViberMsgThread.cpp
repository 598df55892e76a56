#include "IOSRestoreViberMsgThread.h"

#include "IOSLoadViberFromiTunesThread.h"
#include "viber/AttachmentPreviews.h"
#include "viber/IOSViberDb.h"
#include "viber/Sqlite3DB.h"
#include "viber/StorePaths.h"
#include "viber/ViberMsgMerger.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtEndian>

#include <algorithm>
#include <future>
#include <stdexcept>

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

[[noreturn]] void fail(const QString &text)
{
    throw std::runtime_error(text.toStdString());
}

bool nonEmptyFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.size() > 0;
}

} // namespace

IOSRestoreViberMsgThread::IOSRestoreViberMsgThread(const QString &viberFolder,
                                                   const QList<_ViberMsg *> &messages, QObject *parent)
    : WorkerThread(parent), m_viberFolder(viberFolder), m_messages(messages)
{
}

IOSRestoreViberMsgThread::~IOSRestoreViberMsgThread()
{
    wait();
}

void IOSRestoreViberMsgThread::putFile(const QString &localPath, const QString &devicePath, bool overwrite)
{
    checkCancel();
    if (m_device) {
        upload(localPath, devicePath, overwrite);
        return;
    }
    BackupFileItem item;
    item.domain = QLatin1String(kViberDomain);
    item.sourcePath = localPath;
    item.backupPath = QString(devicePath).remove(QRegularExpression(u"^/"_s));
    item.overwrite = overwrite;
    m_files.append(item);
}

IOSRestoreViberMsgThread::Merge IOSRestoreViberMsgThread::rebuildInto(IOSViberDb &work)
{
    Merge merge;
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
    for (const _ViberMsg *m : std::as_const(m_messages)) {
        if (!m || !m->chat)
            continue;
        if (m->type == ViberMsgTypeCall) {
            if (m->call) {
                newCalls.append(m);
                ++m_callCount;
            }
            continue;
        }
        Entry e;
        e.token = m->token;
        e.date = m->date;
        e.message = m;
        messages.append(e);
        ++m_messageCount;
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
    merger.setCancelCheck([this] { checkCancel(); });
    merger.reserveZuidsUpTo(zuid);
    const qint64 n = messages.size();
    qint64 i = 0;
    for (const Entry &e : std::as_const(messages)) {
        reportProgress(int(double(++i) / double(n) * 99), tr("IDS_MERGING_VIBER_MESSAGES"));
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
        checkCancel();
    }

    const qint64 callTotal = calls.size();
    i = 0;
    for (const Entry &e : std::as_const(calls)) {
        reportProgress(int(double(++i) / double(callTotal) * 99), tr("IDS_MERGING_VIBER_CALLS"));
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
        checkCancel();
    }

    work.execThrow(u"DROP TABLE temp.phone_messages"_s);
    merge.anyCalls = !newCalls.isEmpty();
    merge.allChats = true;
    return merge;
}

IOSRestoreViberMsgThread::Merge IOSRestoreViberMsgThread::appendInto(IOSViberDb &work)
{
    Merge merge;
    QList<const _ViberMsg *> messages;
    for (const _ViberMsg *m : std::as_const(m_messages)) {
        if (!m || !m->chat || (m->type == ViberMsgTypeCall && !m->call))
            continue;
        messages.append(m);
        ++(m->type == ViberMsgTypeCall ? m_callCount : m_messageCount);
        merge.anyCalls = merge.anyCalls || m->type == ViberMsgTypeCall;
    }
    // By chat, then date: each conversation is looked up once.
    std::stable_sort(messages.begin(), messages.end(), [](const _ViberMsg *a, const _ViberMsg *b) {
        return a->chat != b->chat ? std::less<const _ViberChat *>()(a->chat, b->chat) : msgDateLess(a, b);
    });
    work.execThrow(u"BEGIN"_s);
    ViberMsgMerger merger(work);
    merger.setCancelCheck([this] { checkCancel(); });
    qint64 i = 0;
    for (const _ViberMsg *m : std::as_const(messages)) {
        reportProgress(int(double(++i) / double(messages.size()) * 99), tr("IDS_MERGING_VIBER_MESSAGES"));
        qint64 attachmentKey = 0, locationKey = 0;
        merger.mergeMessage(m, attachmentKey, locationKey);
        if (merger.chatKey() > 0)
            merge.chats.insert(merger.chatKey());
        // Files of a message that was there already go again: the phone may lack them.
        if (attachmentKey > 0 && m->attachment)
            merge.attachments.append({attachmentKey, m->attachment});
        checkCancel();
    }
    merger.dropEmptyInsertedChats();
    return merge;
}

QString IOSRestoreViberMsgThread::work()
{
    reportProgress(0, tr("IDS_RESTORING_VIBER_MSG_TO_IOS"));
    m_messageCount = m_callCount = 0;
    m_files.clear();
    if (m_device) {
        try {
            m_container = AfcConnection(m_device);
            afc_connect(m_container, u"com.viber"_s);
        } catch (const std::exception &e) {
            fail(tr("IDS_NOT_INSTALL_VIBER_ERR_%1").arg(QString::fromUtf8(e.what())));
        }
    }
    const QDir viber(m_viberFolder);
    const QString store = viber.filePath(kStoreName);
    if (!QFileInfo(store).isFile())
        fail(tr("IDS_NO_STORE_TO_MERGE_INTO_%1").arg(QDir::toNativeSeparators(store).toHtmlEscaped()));
    // Commits still in a write-ahead log belong to the store that is copied.
    IOSViberDb::foldWriteAheadLog(store);
    m_workingCopy = store + QDateTime::currentDateTime().toString(u"_yyyyMMdd-hhmmss"_s);
    QFile::remove(m_workingCopy);
    if (!QFile::copy(store, m_workingCopy))
        fail(u"IOSRestoreViberMsgThread, cant copy %1 to %2."_s.arg(store, m_workingCopy));
    QFile(m_workingCopy).setPermissions(QFile::ReadOwner | QFile::WriteOwner);

    // What the phone shows is read from the cached store, which nothing changes before the
    // delivery, while the merge writes the working copy: the two need not wait for each other.
    std::future<qint64> phoneLoaded = std::async(std::launch::async, [viber] {
        return qint64(IOSViberDb(viber, kStoreName, true).load()->messages.size());
    });
    IOSViberDb work(viber, QFileInfo(m_workingCopy).fileName().prepend(u"Documents/"_s));
    work.open();
    // A store that cannot be written safely is refused before any write, in a sentence
    // that names the store rather than the working copy no user has heard of.
    try {
        work.requireWriterTables();
    } catch (const Sqlite3Exception &e) {
        fail(QString::fromUtf8(e.what()).replace(QDir::toNativeSeparators(m_workingCopy),
                                                 QDir::toNativeSeparators(store)));
    }
    // A current store's rows are referred to from places this program does not keep
    // (history, pinned messages, call logs): its rows stay where they are and the new
    // ones are added. An older store is rebuilt in date order, as its app lists by key.
    const Merge merge = work.isMemberLayout() ? appendInto(work) : rebuildInto(work);

    qint64 highestVoiceKey = 0;
    qint64 i = 0;
    for (const auto &[key, attachment] : std::as_const(merge.attachments)) {
        reportProgress(int(double(++i) / double(merge.attachments.size()) * 99),
                       tr("IDS_SAVING_VIBER_ATTACHMENTS"));
        if (attachment->message && attachment->message->type == ViberMsgTypeAudio)
            highestVoiceKey = std::max(highestVoiceKey, key);
        deliverAttachment(key, *attachment);
    }
    writeVoiceCounter(highestVoiceKey);

    // Only the conversations the merge wrote into have a new last message.
    work.refreshLastMessages(merge.allChats ? nullptr : &merge.chats);
    if (merge.anyCalls)
        work.refreshRecentsLines();
    work.refreshPrimaryKeyMax();
    commitStarts();
    work.execThrow(u"COMMIT"_s);
    {
        // Nothing reaches the phone that is not whole: checked, and read back.
        if (!work.isWhole())
            fail(tr("IDS_MERGED_STORE_DAMAGED_%1")
                     .arg(QDir::toNativeSeparators(m_workingCopy).toHtmlEscaped()));
    }
    work.close();
    // Every message the phone showed is still there, but for copies of one message.
    const ViberDataPtr merged =
        IOSViberDb(viber, QFileInfo(m_workingCopy).fileName().prepend(u"Documents/"_s)).load();
    if (merged->messages.size() < phoneLoaded.get() - merge.phoneDuplicates)
        fail(tr("IDS_MERGED_STORE_DAMAGED_%1").arg(QDir::toNativeSeparators(m_workingCopy).toHtmlEscaped()));

    // Delivered first: a delivery that fails leaves the cache matching the phone.
    deliverStore(m_workingCopy);
    // The cache now holds what was delivered, and the store from before beside it.
    const QString previous = store + u".bak"_s;
    QFile::remove(previous);
    if (!QFile::rename(store, previous) || !QFile::rename(m_workingCopy, store))
        fail(u"IOSRestoreViberMsgThread, cant copy %1 to %2."_s.arg(m_workingCopy, store));
    // The backup's store item names the store under its lasting name.
    for (BackupFileItem &item : m_files)
        if (item.sourcePath == m_workingCopy)
            item.sourcePath = store;
    m_workingCopy.clear();
    return QString();
}

void IOSRestoreViberMsgThread::deliverStore(const QString &store)
{
    if (!m_device) {
        // A current phone keeps its store in the app group's container: it goes back
        // there, and the log and index beside it are emptied, or the app would replay
        // the old log into the new store.
        QFile origin(IOSLoadViberFromiTunesThread::storeOriginFile(QDir(m_viberFolder).filePath(kStoreName)));
        const QString where =
            origin.open(QIODevice::ReadOnly) ? QString::fromUtf8(origin.readAll()) : QString();
        const QString domain = where.section(u'/', 0, 0), path = where.section(u'/', 1);
        if (domain.isEmpty() || path.isEmpty()) {
            putFile(store, u"/Documents/Contacts.data"_s, true);
            return;
        }
        const QString empty = QDir(m_viberFolder).filePath(u"empty-sidecar"_s);
        QFile emptyFile(empty);
        if (!emptyFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
            fail(u"IOSRestoreViberMsgThread, cant write %1."_s.arg(empty));
        emptyFile.close();
        for (const auto &[source, target] :
             {std::pair(store, path), {empty, path + u"-wal"_s}, {empty, path + u"-shm"_s}}) {
            BackupFileItem item;
            item.domain = domain;
            item.sourcePath = source;
            item.backupPath = target;
            item.overwrite = true;
            m_files.append(item);
        }
        return;
    }
    // Up under another name first: a store cut off halfway must never be Viber's.
    const QString target = u"/Documents/Contacts.data"_s, staged = target + u".chatwharf-new"_s;
    upload(store, staged, true);
    // The phone's log and index would be replayed into the new store.
    afc_remove(m_container, target + u"-wal"_s);
    afc_remove(m_container, target + u"-shm"_s);
    // A file system that will not rename over a file gets the old store removed first.
    if (!afc_rename(m_container, staged, target) &&
        !(afc_remove(m_container, target) && afc_rename(m_container, staged, target)))
        fail(tr("IDS_PHONE_WRITE_FAILED_%1").arg(target.toHtmlEscaped()));
}

void IOSRestoreViberMsgThread::upload(const QString &localPath, const QString &devicePath, bool overwrite)
{
    const QString name = devicePath.section(u'/', -1);
    reportProgress(-1, QString(), tr("IDS_SENDING_%1").arg(name.toHtmlEscaped()));
    if (!QFileInfo::exists(localPath) || devicePath.isEmpty())
        return;
    if (!overwrite) {
        const AfcFileInfo there = afc_file_info(m_container, devicePath);
        if (there.isFile() && there.size > 0)
            return;
    }
    const QString folder = devicePath.left(devicePath.lastIndexOf(u'/'));
    if (!folder.isEmpty() && !afc_file_info(m_container, folder).isDir())
        afc_make_dir(m_container, folder);
    AfcFile out;
    if (!afc_open_write(m_container, devicePath, out))
        fail(tr("IDS_PHONE_CREATE_FAILED_%1").arg(devicePath.toHtmlEscaped()));
    QFile in(localPath);
    if (!in.open(QIODevice::ReadOnly))
        fail(tr("IDS_LOCAL_READ_FAILED_%1_%2")
                 .arg(QDir::toNativeSeparators(localPath).toHtmlEscaped(), in.errorString().toHtmlEscaped()));
    QByteArray buffer(131072, Qt::Uninitialized);
    qint64 sent = 0;
    for (;;) {
        checkCancel();
        const qint64 got = in.read(buffer.data(), buffer.size());
        if (got < 0)
            fail(tr("IDS_LOCAL_READ_FAILED_%1_%2")
                     .arg(QDir::toNativeSeparators(localPath).toHtmlEscaped(),
                          in.errorString().toHtmlEscaped()));
        if (got == 0)
            break;
        if (afc_write(out, buffer.constData(), got) != got)
            fail(tr("IDS_PHONE_WRITE_FAILED_%1").arg(devicePath.toHtmlEscaped()));
        sent += got;
        reportProgress(
            -1, QString(),
            tr("IDS_SENDING_%1_%2_%3").arg(name.toHtmlEscaped()).arg(sent / 1024).arg(in.size() / 1024));
    }
    // A close the phone did not confirm may have lost what was written.
    if (!out.close())
        fail(tr("IDS_PHONE_WRITE_FAILED_%1").arg(devicePath.toHtmlEscaped()));
}

void IOSRestoreViberMsgThread::deliverAttachment(qint64 key, const _ViberAtta &att)
{
    const _ViberMsg &msg = *att.message;
    const auto put = [&](const QString &local, const QString &device) {
        // A name without a preview name ends in the folder itself.
        if (nonEmptyFile(local) && !device.endsWith(u'/'))
            putFile(local, device, false);
    };
    switch (msg.type) {
    case ViberMsgTypeAudio:
        put(att.filePath, u"/Documents/VoiceMessages/"_s + QString::number(key));
        break;
    case ViberMsgTypePicture:
        put(att.filePath, u"/Documents/Attachments/"_s + att.fileName);
        put(att.previewPath,
            u"/Documents/AttachmentsPreview/"_s + AttachmentPreviews::previewName(msg.type, att.fileName));
        break;
    case ViberMsgTypeVideo:
        put(att.filePath, u"/Documents/Attachments/"_s + att.fileName);
        put(att.previewPath,
            u"/Documents/BigAttachmentsPreview/"_s + AttachmentPreviews::previewName(msg.type, att.fileName));
        break;
    case ViberMsgTypeLocation:
        put(att.previewPath, u"/Documents/CustomLocationImage/"_s +
                                 StorePaths::locationImageName(msg.latitude, msg.longitude));
        break;
    default:
        break;
    }
}

void IOSRestoreViberMsgThread::writeVoiceCounter(qint64 highestNewKey)
{
    // Viber numbers its voice files from this counter: it must pass every number in use,
    // the voice files sent in this run included.
    const QDir voice(QDir(m_viberFolder).filePath(u"Documents/VoiceMessages"_s));
    qint64 highest = highestNewKey;
    if (m_device) {
        static const QRegularExpression number(u"^[0-9]+$"_s);
        for (const AfcFileInfo &file : afc_list_dir(m_container, u"/Documents/VoiceMessages"_s)) {
            const QString name = file.path.section(u'/', -1);
            if (!file.isFile() || !number.match(name).hasMatch())
                continue;
            // An empty voice file is one the app failed to receive; it would take a number.
            if (file.size == 0)
                afc_remove(m_container, file.path);
            else
                highest = std::max(highest, name.toLongLong());
        }
    } else {
        for (const QString &name : voice.entryList(QDir::Files))
            highest = std::max(highest, name.toLongLong());
    }
    QDir().mkpath(voice.path());
    const QString counter = voice.filePath(u"_ptt_id_counter"_s);
    QFile file(counter);
    const quint32 value = quint32(std::min<qint64>(highest, 0xFFFFFFFF));
    char bytes[4];
    qToLittleEndian(value, bytes);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes, 4) != 4)
        fail(u"IOSRestoreViberMsgThread, cant write %1."_s.arg(counter));
    file.close();
    putFile(counter, u"/Documents/VoiceMessages/_ptt_id_counter"_s, true);
}

void IOSRestoreViberMsgThread::cleanUp(Outcome)
{
    // The cache keeps the store it had; the half-made copy goes.
    if (!m_workingCopy.isEmpty())
        QFile::remove(m_workingCopy);
    m_workingCopy.clear();
    m_files.clear();
}
