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

// The queries load() runs on such a store, for the shell to run on its own.
const char kReadingQueries[] = R"SQL(
select * from sqlite_master where type='table';
select * from Z_PRIMARYKEY;
select * from ZCONVERSATION;
select p.*, c.ZMAINNAME as person_name, c.ZRECORDID from ZPHONENUMBERINDEX as p left join ZABCONTACT as c on p.ZCONTACT=c.Z_PK;
select j.Z_5CONVERSATIONS as chat_id, j.Z_10PHONENUMINDEXES as person_id from Z_5PHONENUMINDEXES as j;
select m.*, l.ZLATITUDE, l.ZLONGITUDE, l.ZADDRESS as loc_address from ZVIBERMESSAGE as m left join ZVIBERLOCATION as l on m.Z_PK=l.ZMESSAGE;
select a.* from ZATTACHMENT as a;
select r.*, l.ZPHONENUMINDEX as line_person, l.ZPHONENUMBER as line_number from ZRECENT as r left join ZRECENTSLINE as l on r.ZRECENTSLINE=l.Z_PK;
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
    const fixtures::ScaledSizes n(messages);
    QTemporaryDir dir;
    try {
        QElapsedTimer gen;
        gen.start();
        fixtures::writeScaledStore(dir.path(), n);
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
                         "Transfers 10,000 messages and the calls beside them straight into a simulated "
                         "iPhone whose store holds 100,000 (--messages gives the store's size; a tenth "
                         "of it below 100,000)")
{
    const qint64 messages = bench::messageCount(args, 100000);
    if (messages < 0)
        return 2;
    // 10,000 whatever the store holds (fewer only into stores below 100,000): the time
    // to compare is that of a transfer of one size into stores of growing size.
    const qint64 added = std::clamp<qint64>(messages / 10, 1, 10000);
    QTemporaryDir dir;
    // The phone's cache goes into the run's folder, not the user's data folder.
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
    resetDataFolderForTests();
    const QString phoneFolder = dir.filePath(QStringLiteral("container"));
    const QString sourceFolder = dir.filePath(QStringLiteral("source"));
    try {
        QDir().mkpath(phoneFolder);
        QDir().mkpath(sourceFolder);
        fixtures::writeScaledStore(phoneFolder, fixtures::ScaledSizes(messages));
        fixtures::writeScaledStore(sourceFolder, fixtures::ScaledSizes(messages + added));
        const ViberDataPtr source =
            IOSViberDb(QDir(sourceFolder), QString::fromLatin1(fixtures::kStoreFileName)).load();
        // The messages and calls the phone does not have: keys, and so tokens, beyond its
        // own (a call's message has its call's key negated).
        const qint64 phoneCalls = fixtures::ScaledSizes(messages).calls;
        QList<_ViberMsg *> fresh;
        for (_ViberMsg *m : std::as_const(source->messages))
            if (m->call ? m->call->id > phoneCalls : m->id > messages)
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
        bench::figure(QStringLiteral("transferred_calls"), double(transfer.callCount()),
                      QStringLiteral("count"));
        bench::figure(QStringLiteral("transfer_10k_s"), seconds, QStringLiteral("s"));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
