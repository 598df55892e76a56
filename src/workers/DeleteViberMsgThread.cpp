#include "DeleteViberMsgThread.h"

#include <QDir>

#include <algorithm>

#include "viber/IOSViberDb.h"

#include <QElapsedTimer>

#include <new>
#include <stdexcept>

namespace {

constexpr qint64 kProgressIntervalMs = 100;

} // namespace

DeleteViberMsgThread::DeleteViberMsgThread(IOSViberDb *store, const QList<_ViberMsg *> &messages,
                                           QObject *parent)
    : WorkerThread(parent), m_store(store), m_messages(messages)
{
    m_messages.removeAll(nullptr);
    // In key order, so that the deletes walk the store's pages in their order
    // instead of jumping about (the records come in a hash's order).
    auto key = [](const _ViberMsg *m) {
        const bool call = m->type == ViberMsgTypeCall;
        return std::pair(call ? 0 : 1, call ? (m->call ? m->call->id : 0) : m->id);
    };
    std::sort(m_messages.begin(), m_messages.end(),
              [&key](const _ViberMsg *a, const _ViberMsg *b) { return key(a) < key(b); });
}

DeleteViberMsgThread::~DeleteViberMsgThread()
{
    wait();
}

QString DeleteViberMsgThread::work()
{
    reportProgress(0, tr("IDS_DELETING_VIBER_MESSAGES"));
    IOSViberDb &db = *m_store;
    qint64 n = 0;
    qint64 deleted = 0; // rows that were there to delete: a stale record deletes nothing
    try {
        db.open();
        qInfo("Deleting %lld messages from %s", qint64(m_messages.size()), qUtf8Printable(db.path()));
        db.execThrow(QStringLiteral("BEGIN IMMEDIATE"));
        const bool hasRecents = db.layout().has(QStringLiteral("ZRECENT"));
        const qint64 total = m_messages.size();
        QElapsedTimer sinceReport;
        int lastPercent = -1;
        for (const _ViberMsg *msg : std::as_const(m_messages)) {
            ++n;
            const int percent = percentOf(n, total);
            if (percent != lastPercent || n == total || !sinceReport.isValid() ||
                sinceReport.elapsed() >= kProgressIntervalMs) {
                reportProgress(percent);
                lastPercent = percent;
                sinceReport.start();
            }
            // Rows are found by key and must still carry the record's token: records
            // of an older load must never take another message's row with them.
            if (msg->type == ViberMsgTypeCall) {
                if (msg->call && hasRecents) {
                    db.executeThrow(Sqlite3Sql("delete from ZRECENT where Z_PK=? and ZCALLTOKEN=?")
                                        .addInt64Param(msg->call->id)
                                        .addInt64Param(msg->call->callToken));
                    deleted += db.changes() > 0 ? 1 : 0;
                }
            } else {
                db.executeThrow(Sqlite3Sql("delete from ZVIBERMESSAGE where Z_PK=? and ZTOKEN=?")
                                    .addInt64Param(msg->id)
                                    .addInt64Param(msg->token));
                if (db.changes() > 0) {
                    db.executeThrow(
                        Sqlite3Sql("delete from ZATTACHMENT where ZMESSAGE=?").addInt64Param(msg->id));
                    db.executeThrow(
                        Sqlite3Sql("delete from ZVIBERLOCATION where ZMESSAGE=?").addInt64Param(msg->id));
                    ++deleted;
                }
            }
            checkCancel();
        }
        db.executeThrow("DELETE FROM ZCONVERSATION WHERE (SELECT 1 from ZVIBERMESSAGE WHERE "
                        "ZVIBERMESSAGE.ZCONVERSATION=ZCONVERSATION.Z_PK LIMIT 1) IS NULL");
        db.refreshConversationDates();
        commitStarts();
        db.execThrow(QStringLiteral("COMMIT"));
    } catch (const std::bad_alloc &) {
        if (db.inTransaction())
            db.rollbackTran();
        throw;
    } catch (const std::exception &e) {
        if (db.inTransaction())
            db.rollbackTran();
        // The whole deletion was undone: the sentence says so before the store's reason.
        throw std::runtime_error(tr("IDS_DELETE_FAILED_%1_%2")
                                     .arg(QDir::toNativeSeparators(db.path()).toHtmlEscaped(),
                                          QString::fromUtf8(e.what()).toHtmlEscaped())
                                     .toStdString());
    } catch (...) {
        if (db.inTransaction())
            db.rollbackTran();
        throw;
    }
    // Compacting is no part of the deletion, which is committed: a failure here
    // (VACUUM needs room for a second copy) must not report the deletion as failed.
    QString error;
    QElapsedTimer compacting;
    compacting.start();
    if (db.exec(QStringLiteral("VACUUM"), error) != 0)
        qWarning("Could not compact %s after deleting messages: %s", qPrintable(db.path()),
                 qPrintable(error));
    qInfo("Deleted %lld of %lld messages from %s, compacted in %.2f s", deleted, qint64(m_messages.size()),
          qUtf8Printable(db.path()), double(compacting.elapsed()) / 1000.0);
    return tr("IDS_SUC_DEL_%n_VIBER_MESSAGES", nullptr, int(deleted));
}
