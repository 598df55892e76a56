#include "BenchRegistry.h"

#include "app/Platform.h"

#include "support/StoreFixtures.h"
#include "viber/LocalDatabases.h"
#include "viber/StorePaths.h"
#include "workers/BackupViberMsgThread.h"
#include "workers/DeleteViberMsgThread.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace {

constexpr qint64 kDefaultMessages = 100000;
constexpr int kAttachmentEvery = 10; // every tenth message has an attachment with its files
constexpr int kCallEvery = 20;       // every twentieth entry is a call

// The run's counts, grown with its message count from 1,000 chats (100 of them
// groups) and 400 persons without a chat of their own at 100,000 messages.
struct Sizes
{
    explicit Sizes(qint64 n)
        : messages(n), chats(bench::scaled(1000, n, kDefaultMessages, 10)), groups(chats / 10),
          extraPersons(bench::scaled(400, n, kDefaultMessages))
    {
    }
    qint64 messages, chats, groups, extraPersons;
};

// What a source store loaded from a phone hands to the copy, built in memory, with
// the attachment files below root.
struct Source
{
    fixtures::Records records;
    QList<_ViberMsg *> messages;
};

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

bool generate(Source &s, const QString &root, const Sizes &n)
{
    QList<_ViberPerson *> persons;
    for (qint64 i = 0; i < n.chats - n.groups + n.extraPersons; ++i)
        persons << &s.records.person(QStringLiteral("+49151%1").arg(i, 8, 10, QLatin1Char('0')),
                                     QStringLiteral("Person %1").arg(i));
    QList<_ViberChat *> chats;
    for (qint64 i = 0; i < n.chats; ++i) {
        if (i < n.chats - n.groups) {
            chats << &s.records.chat({persons[i]});
        } else {
            QList<_ViberPerson *> members;
            for (int k = 0; k < 5; ++k)
                members << persons[(i * 7 + k * 131) % persons.size()];
            chats << &s.records.chat(members, QStringLiteral("group-%1").arg(i),
                                     QStringLiteral("Group %1").arg(i));
        }
    }
    const QByteArray content(2048, 'x');
    static const ViberMsgType types[] = {ViberMsgTypePicture, ViberMsgTypeVideo, ViberMsgTypeAudio,
                                         ViberMsgTypeSticker, ViberMsgTypeLocation};
    static const ViberCallType callTypes[] = {ViberCallTypeIncoming, ViberCallTypeOutgoing,
                                              ViberCallTypeMissed};
    for (qint64 i = 1; i <= n.messages; ++i) {
        _ViberChat &chat = *chats[i % n.chats];
        const double date = 710000000.0 + i * 13.5;
        if (i % kCallEvery == 0 && chat.groupId.isEmpty()) {
            s.records.call(chat, *chat.participants.constBegin().value(), callTypes[i % 3], 9000000000LL + i,
                           date, i % 600);
            continue;
        }
        const bool received = i % 3 != 0;
        _ViberPerson *sender =
            received ? chat.participants.values().value(i % chat.participants.size()) : nullptr;
        _ViberMsg &m =
            s.records.message(chat, sender, received ? ViberMsgStateReceived : ViberMsgStateDelivered,
                              QStringLiteral("Message %1: a line of ordinary length (smiley)").arg(i), date,
                              5860000000000000000LL + i);
        if (i % kAttachmentEvery != 0)
            continue;
        const ViberMsgType type = types[(i / kAttachmentEvery) % 5];
        if (type == ViberMsgTypeLocation) {
            m.type = ViberMsgTypeLocation;
            m.setPlace(48.0 + i / 1e6, 11.0 + i / 1e6);
        }
        _ViberAtta &a =
            s.records.attachment(m, type, QStringLiteral("file-%1.jpg").arg(i), QString::number(i));
        const QString file = QStringLiteral("%1/files/%2").arg(root).arg(i);
        switch (type) {
        case ViberMsgTypePicture:
        case ViberMsgTypeVideo:
            a.filePath = file;
            a.previewPath = file + QStringLiteral(".preview");
            if (!writeBytes(a.filePath, content) || !writeBytes(a.previewPath, content))
                return false;
            break;
        case ViberMsgTypeAudio:
            a.filePath = file;
            a.duration = 4;
            if (!writeBytes(a.filePath, content))
                return false;
            break;
        default:
            a.previewPath = file;
            if (!writeBytes(a.previewPath, content))
                return false;
            break;
        }
    }
    s.messages = s.records.messages();
    return true;
}

QString sqlText(const QString &text)
{
    QString quoted = text;
    return QLatin1Char('\'') + quoted.replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\'');
}

// The rows the copy writes for the source, as one SQL script in one transaction:
// what the sqlite3 shell runs as the anchor of the copy's database work.
bool writeAnchorScript(const Source &s, QFile &out)
{
    // Written in pieces: the whole script of a million rows would take more memory
    // than the copy it is compared with.
    QString sql = QStringLiteral("BEGIN;\n");
    auto flush = [&] {
        const QByteArray bytes = sql.toUtf8();
        sql.clear();
        return out.write(bytes) == bytes.size();
    };
    for (const _ViberPerson *p : std::as_const(s.records.data->persons))
        sql += QStringLiteral("insert into ZPHONENUMBERINDEX(Z_PK,ZCANONIZEDPHONENUM,ZNAME,ZPHONENUM) "
                              "values(%1,%2,%3,%4);\n")
                   .arg(p->id)
                   .arg(sqlText(phoneDigits(p->phone)), sqlText(p->name), sqlText(p->phone));
    for (const _ViberChat *c : std::as_const(s.records.data->chats)) {
        sql +=
            QStringLiteral("insert into ZCONVERSATION(Z_PK,ZDATE,ZGROUPID,ZNAME) values(%1,%2,%3,%4);\n")
                .arg(c->id)
                .arg(c->date, 0, 'f', 3)
                .arg(c->groupId.isEmpty() ? QStringLiteral("null") : sqlText(c->groupId), sqlText(c->name));
        for (const _ViberPerson *p : c->participants)
            sql += QStringLiteral("insert into Z_4PHONENUMINDEXES(Z_4CONVERSATIONS,Z_7PHONENUMINDEXES) "
                                  "values(%1,%2);\n")
                       .arg(c->id)
                       .arg(p->id);
    }
    qint64 key = 0, attachmentKey = 0, callKey = 0;
    for (const _ViberMsg *m : s.messages) {
        if (sql.size() > (1 << 20) && !flush())
            return false;
        if (m->type == ViberMsgTypeCall) {
            sql += QStringLiteral(
                       "insert into ZRECENTSLINE(Z_PK,Z_ENT,Z_OPT,ZCOUNT,ZPHONENUMINDEX,ZDATE,ZCALLTYPE) "
                       "values(%1,9,1,1,%2,%3,'%4');\n")
                       .arg(++callKey)
                       .arg(m->call->person->id)
                       .arg(m->date, 0, 'f', 3)
                       .arg(int(m->call->type));
            sql += QStringLiteral(
                       "insert into ZRECENT(Z_PK,Z_ENT,Z_OPT,ZCALLTOKEN,ZDURATION,ZREAD,ZRECENTSLINE,ZDATE,"
                       "ZCALLTYPE) values(%1,8,1,%2,%3,1,%1,%4,'%5');\n")
                       .arg(callKey)
                       .arg(m->call->callToken)
                       .arg(m->call->duration)
                       .arg(m->date, 0, 'f', 3)
                       .arg(int(m->call->type));
            continue;
        }
        sql += QStringLiteral("insert into ZVIBERMESSAGE(Z_PK,ZSEQ,ZTOKEN,ZCONVERSATION,ZPHONENUMINDEX,ZDATE,"
                              "ZSTATEDATE,ZSTATE,ZTEXT) values(%1,%1,%2,%3,%4,%5,%6,'%7',%8);\n")
                   .arg(++key)
                   .arg(m->token)
                   .arg(m->chat->id)
                   .arg(m->person ? m->person->id : 0)
                   .arg(m->date, 0, 'f', 3)
                   .arg(m->stateDate, 0, 'f', 3)
                   .arg(msgStateToStoreText(m->state), sqlText(m->text.toString()));
        if (const _ViberAtta *a = m->attachment)
            sql += QStringLiteral(
                       "insert into ZATTACHMENT(Z_PK,ZFILESIZE,ZSEQ,ZMESSAGE,ZDURATION,ZID,ZNAME,ZTYPE) "
                       "values(%1,%2,%1,%3,%4,%5,%6,'file');\n")
                       .arg(++attachmentKey)
                       .arg(a->fileSize)
                       .arg(key)
                       .arg(a->duration)
                       .arg(sqlText(a->attId), sqlText(a->fileName));
    }
    sql += QStringLiteral("COMMIT;\n");
    return flush();
}

// Seconds a program takes to run to its end, standard input from inputFile; -1 when it fails.
double runSeconds(const QString &program, const QStringList &arguments, const QString &inputFile = QString())
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    if (!inputFile.isEmpty())
        process.setStandardInputFile(inputFile);
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start();
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program),
                     process.readAllStandardError().constData());
        return -1;
    }
    return timer.nsecsElapsed() / 1e9;
}

// What the copy is measured against, in the same run: the sqlite3 shell writing the
// same rows into the same schema with the same indexes in one transaction, and cp
// copying the same attachment files. Seconds; -1 on failure.
double anchorSeconds(const Source &s, const QString &sourceFiles, const QString &folder)
{
    try {
        QDir().mkpath(QDir(folder).filePath(QStringLiteral("Documents")));
        const std::unique_ptr<IOSViberDb> store = LocalDatabases::store(folder);
        store->open();
        store->close();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return -1;
    }
    const QString script = QDir(folder).filePath(QStringLiteral("anchor.sql"));
    QFile file(script);
    if (!file.open(QIODevice::WriteOnly) || !writeAnchorScript(s, file))
        return -1;
    file.close();
    const double shell =
        runSeconds(QStringLiteral(CHATWHARF_SQLITE3_SHELL_PATH),
                   {QStringLiteral("-bail"), LocalDatabases::store(folder)->fullPath()}, script);
    const double cp =
        runSeconds(QStringLiteral("cp"), {QStringLiteral("-r"), QStringLiteral("--preserve=timestamps"),
                                          sourceFiles, QDir(folder).filePath(QStringLiteral("files"))});
    if (shell < 0 || cp < 0)
        return -1;
    // The copy ends with one flush of the file system; cp is given the same.
    QElapsedTimer timer;
    timer.start();
    syncFileSystem(folder);
    std::printf("anchor: sqlite3 %.2f s, cp %.2f s, sync %.2f s\n", shell, cp, timer.nsecsElapsed() / 1e9);
    return shell + cp + timer.nsecsElapsed() / 1e9;
}

// Runs a worker to its end in this thread's sight; its time in seconds, -1 on failure.
double timed(WorkerThread &worker)
{
    QElapsedTimer timer;
    timer.start();
    worker.start();
    worker.wait();
    if (worker.outcome() != WorkerThread::Outcome::Succeeded) {
        std::fprintf(stderr, "%s: %s\n", worker.metaObject()->className(), qPrintable(worker.errorText()));
        return -1;
    }
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

CHATWHARF_BENCH_SCENARIO(localdb, "Copies 100,000 messages into a local database, again, then deletes half")
{
    const qint64 messages = bench::messageCount(args, kDefaultMessages);
    if (messages < 0)
        return 2;
    QTemporaryDir dir;
    // The loaded phone the copy reads from; released before the delete, which is a
    // separate action on the database alone.
    auto owned = std::make_unique<Source>();
    Source &source = *owned;
    QElapsedTimer gen;
    gen.start();
    if (!generate(source, dir.filePath(QStringLiteral("source")), Sizes(messages))) {
        std::fprintf(stderr, "could not write the source files\n");
        return 1;
    }
    std::printf("generated %lld entries in %.2f s\n", qlonglong(source.messages.size()),
                gen.nsecsElapsed() / 1e9);

    const double sourcePeak = bench::peakResidentMb();
    const QString full = dir.filePath(QStringLiteral("full"));
    BackupViberMsgThread first(source.messages, QDir(full));
    const double copy = timed(first);
    BackupViberMsgThread again(source.messages, QDir(full));
    const double copyAgain = timed(again);
    // Half of the messages, spread over every chat as the whole set is.
    BackupViberMsgThread half(source.messages.mid(0, source.messages.size() / 2),
                              QDir(dir.filePath(QStringLiteral("half"))));
    const double copyHalf = timed(half);
    if (copy < 0 || copyAgain < 0 || copyHalf < 0)
        return 1;

    const double copyPeak = bench::peakResidentMb();
    const double anchor = anchorSeconds(source, dir.filePath(QStringLiteral("source/files")),
                                        dir.filePath(QStringLiteral("anchor")));
    if (anchor < 0)
        return 1;
    owned.reset();

    double remove = -1;
    qlonglong left = 0;
    try {
        const std::unique_ptr<IOSViberDb> store = LocalDatabases::store(full);
        const ViberDataPtr loaded = store->load();
        QList<_ViberMsg *> chosen;
        int n = 0;
        for (_ViberMsg *m : loaded->messages)
            if (n++ % 2 == 0)
                chosen << m;
        store->close();
        DeleteViberMsgThread deleting(store.get(), chosen);
        remove = timed(deleting);
        store->close();
        left = LocalDatabases::load(full)->messages.size();
        std::printf("copied %lld entries, deleted %lld, %lld left\n", qlonglong(loaded->messages.size()),
                    qlonglong(chosen.size()), left);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    if (remove < 0)
        return 1;

    bench::figure(QStringLiteral("copy_100k_s"), copy, QStringLiteral("s"));
    bench::figure(QStringLiteral("copy_again_s"), copyAgain, QStringLiteral("s"));
    bench::figure(QStringLiteral("copy_50k_s"), copyHalf, QStringLiteral("s"));
    bench::figure(QStringLiteral("copy_ratio"), copy / copyHalf, QStringLiteral("x"));
    bench::figure(QStringLiteral("copy_anchor_s"), anchor, QStringLiteral("s"));
    bench::figure(QStringLiteral("copy_anchor_ratio"), copy / anchor, QStringLiteral("x"));
    bench::figure(QStringLiteral("delete_s"), remove, QStringLiteral("s"));
    bench::figure(QStringLiteral("source_peak_mb"), sourcePeak, QStringLiteral("MB"));
    bench::figure(QStringLiteral("copy_peak_mb"), copyPeak, QStringLiteral("MB"));
    bench::figure(QStringLiteral("localdb_peak_mb"), bench::peakResidentMb(), QStringLiteral("MB"));
    return 0;
}
