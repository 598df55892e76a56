#include "BenchRegistry.h"

#include "support/StoreFixtures.h"
#include "viber/LocalDatabases.h"
#include "viber/StorePaths.h"
#include "workers/BackupViberMsgThread.h"
#include "workers/DeleteViberMsgThread.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

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
            m.latitude = 48.0 + i / 1e6;
            m.longitude = 11.0 + i / 1e6;
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
    Source source;
    QElapsedTimer gen;
    gen.start();
    if (!generate(source, dir.filePath(QStringLiteral("source")), Sizes(messages))) {
        std::fprintf(stderr, "could not write the source files\n");
        return 1;
    }
    std::printf("generated %lld entries in %.2f s\n", qlonglong(source.messages.size()),
                gen.nsecsElapsed() / 1e9);

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
    bench::figure(QStringLiteral("delete_s"), remove, QStringLiteral("s"));
    bench::figure(QStringLiteral("localdb_peak_mb"), bench::peakResidentMb(), QStringLiteral("MB"));
    return 0;
}
