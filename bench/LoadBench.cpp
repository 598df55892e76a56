#include "BenchRegistry.h"

#include "app/DataFolder.h"
#include "support/SimulatedAfc.h"
#include "support/StoreFixtures.h"
#include "viber/IOSViberDb.h"
#include "workers/IOSLoadViberThread.h"
#include "workers/IOSRestoreViberMsgThread.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <exception>

namespace {

constexpr qint64 kDefaultMessages = 200000;

// The run's counts, grown with its message count from those of 200,000 messages.
struct Sizes
{
    explicit Sizes(qint64 n)
        : messages(n), chats(bench::scaled(2000, n, kDefaultMessages, 10)), groups(chats / 10),
          attachments(bench::scaled(20000, n, kDefaultMessages)),
          locations(bench::scaled(2000, n, kDefaultMessages)),
          calls(bench::scaled(5000, n, kDefaultMessages)),
          persons(chats - groups + bench::scaled(500, n, kDefaultMessages)) // 500 with calls or groups only
    {
    }
    qint64 messages, chats, groups, attachments, locations, calls, persons;
};

// A phone's layout: the store a first load from an iPhone reads, with every carried column.
void generate(const QString &root, const Sizes &n)
{
    using namespace fixtures;
    const qint64 kChats = n.chats, kGroups = n.groups, kMessages = n.messages, kAttachments = n.attachments,
                 kLocations = n.locations, kCalls = n.calls, kPersons = n.persons;
    StoreWriter w(root, StoreLayout::Phone);
    for (qint64 i = 1; i <= kPersons; ++i) {
        PersonPlan p;
        p.pk = i;
        p.canonPhone = QStringLiteral("49151%1").arg(i, 8, 10, QLatin1Char('0'));
        p.phone = QLatin1Char('+') + p.canonPhone;
        p.viberName = QStringLiteral("Viber user %1").arg(i);
        p.iconId = QStringLiteral("icon-%1").arg(i);
        if (i % 3 == 0) {
            p.contactName = QStringLiteral("Contact %1").arg(i);
            p.recordId = i;
        }
        w.writePerson(p);
    }
    for (qint64 i = 1; i <= kChats; ++i) {
        ChatPlan c;
        c.pk = i;
        c.date = 700000000.0 + i;
        if (i <= kChats - kGroups) {
            c.participants = {i};
        } else {
            c.groupId = QStringLiteral("group-%1").arg(i);
            c.name = QStringLiteral("Group %1").arg(i);
            for (int k = 0; k < 6; ++k)
                c.participants.append(1 + (i * 7 + k * 131) % kPersons);
            std::sort(c.participants.begin(), c.participants.end());
            c.participants.erase(std::unique(c.participants.begin(), c.participants.end()),
                                 c.participants.end());
        }
        w.writeChat(c);
    }
    static const char *const states[] = {"received", "delivered",      "send",
                                         "received", "pendingNotSent", "SENDING"};
    for (qint64 i = 1; i <= kMessages; ++i) {
        MessagePlan m;
        m.pk = i;
        m.chat = 1 + (i - 1) % kChats;
        m.state = QLatin1String(states[i % 6]);
        m.person = m.state == QLatin1String("received")
                       ? (m.chat <= kChats - kGroups ? m.chat : 1 + i % kPersons)
                       : 0;
        m.token = 5860000000000000000LL + i;
        m.seq = i;
        m.date = 710000000.0 + i * 13.5;
        m.stateDate = m.date + 1;
        m.text = QStringLiteral("Message %1 of chat %2: a line of ordinary length, with a few words 😀")
                     .arg(i)
                     .arg(m.chat);
        if (i % 10 == 0)
            m.emoticonsRanges = QByteArray("\x01\x00\x02\x00", 4);
        w.writeMessage(m);
    }
    for (qint64 i = 1; i <= kLocations; ++i) {
        LocationPlan l;
        l.pk = i;
        l.message = qint64(i) * 97;
        l.latitude = 48.0 + i / 10000.0;
        l.longitude = 11.0 + i / 10000.0;
        l.address = QStringLiteral("Street %1").arg(i);
        w.writeLocation(l);
    }
    static const char *const types[] = {"picture", "video", "audio", "sticker", "customLocation", "file"};
    for (qint64 i = 1; i <= kAttachments; ++i) {
        AttachmentPlan a;
        a.pk = i;
        a.message = qint64(i) * 9 + 1;
        a.type = QLatin1String(types[i % 6]);
        a.name = QStringLiteral("%1-%2.jpg").arg(a.type).arg(i);
        a.attId = QString::number(1000 + i);
        a.bucket = QStringLiteral("bucket");
        a.fileSize = 10000 + i;
        a.seq = i;
        a.duration = a.type == QLatin1String("audio") ? 12.5 : 0;
        a.range = a.fileSize;
        w.writeAttachment(a);
    }
    static const char *const callTypes[] = {"incoming", "outgoing_viber", "missed"};
    for (qint64 i = 1; i <= kCalls; ++i) {
        CallPlan c;
        c.pk = i;
        c.person = 1 + (qint64(i) * 37) % kPersons; // some have no one-to-one chat: made-up chats
        c.token = 9000000000LL + i;
        c.duration = i % 600;
        c.date = 720000000.0 + i * 60.0;
        c.callType = QLatin1String(callTypes[i % 3]);
        w.writeCall(c);
    }
    w.finish();
}

// The queries load() runs on such a store, for the shell to run on its own.
const char kReadingQueries[] = R"SQL(
select * from sqlite_master where type='table';
select * from Z_PRIMARYKEY;
select * from ZCONVERSATION;
select p.*, c.ZMAINNAME as person_name, c.ZRECORDID from ZPHONENUMBERINDEX as p left join ZABCONTACT as c on p.ZCONTACT=c.Z_PK;
select j.Z_5CONVERSATIONS as chat_id, j.Z_10PHONENUMINDEXES as person_id from Z_5PHONENUMINDEXES as j;
select m.*, l.ZLATITUDE, l.ZLONGITUDE, l.ZADDRESS as loc_address from ZVIBERMESSAGE as m left join ZVIBERLOCATION as l on m.Z_PK=l.ZMESSAGE;
select a.* from ZATTACHMENT as a;
select r.*, l.ZPHONENUMINDEX from ZRECENT as r inner join ZRECENTSLINE as l on r.ZRECENTSLINE=l.Z_PK;
)SQL";

double shellSeconds(const QString &storePath)
{
    QProcess shell;
    shell.setProgram(QStringLiteral(CHATWHARF_SQLITE3_SHELL_PATH));
    shell.setArguments({QStringLiteral("-batch"), storePath});
    shell.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    shell.start();
    if (!shell.waitForStarted())
        return -1;
    shell.write(kReadingQueries);
    shell.closeWriteChannel();
    if (!shell.waitForFinished(600000) || shell.exitCode() != 0) {
        std::fprintf(stderr, "sqlite3 shell failed: %s\n", shell.readAllStandardError().constData());
        return -1;
    }
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

CHATWHARF_BENCH_SCENARIO(load, "Loads an iOS store of 200,000 messages and compares with the sqlite3 shell")
{
    const qint64 messages = bench::messageCount(args, kDefaultMessages);
    if (messages < 0)
        return 2;
    const Sizes n(messages);
    QTemporaryDir dir;
    try {
        QElapsedTimer gen;
        gen.start();
        generate(dir.path(), n);
        // Writing the store must stay proportional to its size, or large runs never start.
        bench::figure(QStringLiteral("load_generate_s"), gen.nsecsElapsed() / 1e9, QStringLiteral("s"));

        const QString storePath = QDir(dir.path()).filePath(QString::fromLatin1(fixtures::kStoreFileName));
        // Best of three for both, so that neither pays for a cold cache.
        double loadBest = 1e9, shellBest = 1e9;
        for (int round = 0; round < 3; ++round) {
            const double shell = shellSeconds(storePath);
            if (shell < 0)
                return 1;
            shellBest = std::min(shellBest, shell);

            QElapsedTimer timer;
            timer.start();
            IOSViberDb db(QDir(dir.path()), QString::fromLatin1(fixtures::kStoreFileName));
            const ViberDataPtr data = db.load();
            loadBest = std::min(loadBest, timer.nsecsElapsed() / 1e9);
            if (data->messages.size() < n.messages * 5 / 6 || data->attachments.size() != n.attachments) {
                std::fprintf(stderr, "unexpected load: %lld messages, %lld attachments\n",
                             qlonglong(data->messages.size()), qlonglong(data->attachments.size()));
                return 1;
            }
        }
        bench::figure(QStringLiteral("load_s"), loadBest, QStringLiteral("s"));
        bench::figure(QStringLiteral("load_sqlite3_s"), shellBest, QStringLiteral("s"));
        bench::figure(QStringLiteral("load_ratio"), loadBest / shellBest, QStringLiteral("x"));
        bench::figure(QStringLiteral("load_peak_mb"), bench::peakResidentMb(), QStringLiteral("MB"));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}

CHATWHARF_BENCH_SCENARIO(transfer,
                         "Transfers 10,000 messages straight into a simulated iPhone whose store holds "
                         "100,000 (--messages gives the store's size)")
{
    const qint64 messages = bench::messageCount(args, 100000);
    if (messages < 0)
        return 2;
    const qint64 added = std::max<qint64>(1, messages / 10);
    QTemporaryDir dir;
    // The phone's cache goes into the run's folder, not the user's data folder.
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
    resetDataFolderForTests();
    const QString phoneFolder = dir.filePath(QStringLiteral("container"));
    const QString sourceFolder = dir.filePath(QStringLiteral("source"));
    try {
        QDir().mkpath(phoneFolder);
        QDir().mkpath(sourceFolder);
        generate(phoneFolder, Sizes(messages));
        generate(sourceFolder, Sizes(messages + added));
        const ViberDataPtr source =
            IOSViberDb(QDir(sourceFolder), QString::fromLatin1(fixtures::kStoreFileName)).load();
        // The messages the phone does not have: keys, and so tokens, beyond its own.
        QList<_ViberMsg *> fresh;
        for (_ViberMsg *m : std::as_const(source->messages))
            if (m->id > messages)
                fresh.append(m);
        SimulatedAfc phone(phoneFolder, dir.filePath(QStringLiteral("media")));
        QElapsedTimer wait;
        wait.start();
        while (!phone.device() && wait.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        const auto run = [](WorkerThread &worker) {
            worker.start();
            worker.wait();
            if (worker.outcome() != WorkerThread::Outcome::Succeeded)
                std::fprintf(stderr, "%s\n", qPrintable(worker.errorText()));
            return worker.outcome() == WorkerThread::Outcome::Succeeded;
        };
        IOSLoadViberThread load(phone.device(), QStringLiteral("bench"));
        if (!run(load))
            return 1;
        QElapsedTimer timer;
        timer.start();
        IOSRestoreViberMsgThread transfer(load.rootFolder(), fresh);
        transfer.setDirect(phone.device());
        if (!run(transfer))
            return 1;
        const double seconds = timer.nsecsElapsed() / 1e9;
        const qint64 after = IOSViberDb(QDir(phoneFolder), QString::fromLatin1(fixtures::kStoreFileName))
                                 .load()
                                 ->messages.size();
        if (after < load.data()->messages.size() + transfer.messageCount() * 9 / 10) {
            std::fprintf(stderr, "the phone holds %lld messages after the transfer\n", qlonglong(after));
            return 1;
        }
        bench::figure(QStringLiteral("transferred"), double(transfer.messageCount()),
                      QStringLiteral("count"));
        bench::figure(QStringLiteral("transfer_10k_s"), seconds, QStringLiteral("s"));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
