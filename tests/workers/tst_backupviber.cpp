#include "support/StoreFixtures.h"

#include "support/RecordingReporter.h"
#include "viber/IOSViberDb.h"
#include "viber/LocalDatabases.h"
#include "viber/StorePaths.h"
#include "workers/BackupViberMsgThread.h"
#include "workers/ProgressReporter.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QMutex>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <limits>

#include <sys/resource.h>

using fixtures::Records;
using fixtures::StoreLayout;

Q_DECLARE_METATYPE(fixtures::StoreLayout)

namespace {

using Reporter = RecordingReporter;

struct Run
{
    WorkerThread::Outcome outcome;
    Reporter reporter;
};

std::unique_ptr<Run> backup(const QList<_ViberMsg *> &messages, const QString &folder, int cancelAfter = 0)
{
    auto run = std::make_unique<Run>();
    if (cancelAfter > 0)
        run->reporter.cancelWhen = [cancelAfter](const Reporter &r) {
            return r.details.size() >= cancelAfter;
        };
    BackupViberMsgThread worker(messages, QDir(folder));
    worker.setReporter(&run->reporter);
    worker.start();
    worker.wait();
    run->outcome = worker.outcome();
    return run;
}

QString storeOf(const QString &folder)
{
    return QDir(folder).filePath(QLatin1String(LocalDatabases::kStoreFileName));
}

QByteArray hashOf(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1).toHex();
}

// Every file below root with its content's hash, the store excepted.
QStringList filesOf(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith(QLatin1String(".data")))
            continue;
        out << QDir(root).relativeFilePath(path) + QLatin1Char(' ') + QString::fromLatin1(hashOf(path));
    }
    out.sort();
    return out;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

QList<_ViberMsg *> sorted(QList<_ViberMsg *> list)
{
    std::sort(list.begin(), list.end(), [](const _ViberMsg *a, const _ViberMsg *b) { return a->id < b->id; });
    return list;
}

} // namespace

class TestBackupViberMsgThread : public QObject
{
    Q_OBJECT

private slots:
    void copyLoadsBackAsTheSource_data();
    void copyLoadsBackAsTheSource();
    void copyingTwiceAddsNothing();
    void messagesGoChatByChatInDateOrder();
    void voiceFileIsNamedByTheNewKey();
    void recordsWithoutKeysStayApart();
    void datesOfAnySizeAreFoundAgain();
    void everyAttachmentKindIsCopied();
    void newerContactPictureReplacesTheOlder();
    void cancelLeavesStoreAndFilesAsBefore();
    void failedCopyRollsBackAndRemovesItsFiles();
    void fullDiskEndsTheRunNamingTheFile();
    void storeLackingATableIsRefusedUntouched();
    void namesLeadingOutOfTheFolderCopyNothing();
    void linksLeadingOutOfAStoreAreNotFollowed();

private:
    // The sample store below src, loaded.
    static ViberDataPtr sample(const QString &src, StoreLayout layout = StoreLayout::Phone);
};

ViberDataPtr TestBackupViberMsgThread::sample(const QString &src, StoreLayout layout)
{
    fixtures::writeStore(fixtures::sampleStore(), src, layout);
    IOSViberDb db(QDir(src), QString::fromLatin1(fixtures::kStoreFileName));
    return db.load();
}

void TestBackupViberMsgThread::copyLoadsBackAsTheSource_data()
{
    QTest::addColumn<StoreLayout>("layout");
    QTest::newRow("from a phone's store") << StoreLayout::Phone;
    QTest::newRow("from a local database") << StoreLayout::Template;
}

void TestBackupViberMsgThread::copyLoadsBackAsTheSource()
{
    QFETCH(StoreLayout, layout);
    QTemporaryDir src, dst;
    const ViberDataPtr source = sample(src.path(), layout);
    const QString folder = dst.filePath(QStringLiteral("Work"));
    const QList<_ViberMsg *> messages = source->messages.values();

    auto run = backup(messages, folder);
    QCOMPARE(run->outcome, WorkerThread::Outcome::Succeeded);
    QCOMPARE(run->reporter.successes,
             QStringList(QStringLiteral("Successfully backed up %1 messages.").arg(messages.size())));
    QCOMPARE(run->reporter.statuses.value(0), QStringLiteral("Backing up Viber messages..."));
    QCOMPARE(run->reporter.percents.value(0), 0);
    QCOMPARE(run->reporter.details.last(), QStringLiteral("Messages: %1/%1").arg(messages.size()));
    QCOMPARE(run->reporter.percents.last(), 100);
    QVERIFY(LocalDatabases::isDatabaseFolder(folder));

    const ViberDataPtr copy = LocalDatabases::load(folder);
    QCOMPARE(fixtures::messageContent(*copy), fixtures::messageContent(*source));

    // Every attachment file the source has is in the database, with the same content.
    int files = 0;
    for (const _ViberMsg *m : copy->messages) {
        if (!m->attachment)
            continue;
        const _ViberMsg *original = nullptr;
        for (const _ViberMsg *s : source->messages)
            if (s->token == m->token && s->type == m->type && s->call == nullptr)
                original = s;
        QVERIFY(original && original->attachment);
        const QString sourceFile = original->attachment->filePath;
        if (!sourceFile.isEmpty() && QFileInfo(sourceFile).isFile()) {
            QVERIFY2(m->attachment->filePath.startsWith(folder), qPrintable(m->attachment->filePath));
            QCOMPARE(hashOf(m->attachment->filePath), hashOf(sourceFile));
            ++files;
        }
        if (m->type == ViberMsgTypeSticker || m->type == ViberMsgTypeLocation) {
            QVERIFY2(QFileInfo(m->attachment->previewPath).isFile(), qPrintable(m->attachment->previewPath));
            QCOMPARE(hashOf(m->attachment->previewPath), hashOf(original->attachment->previewPath));
            ++files;
        }
        if (m->type == ViberMsgTypeAudio)
            QCOMPARE(QFileInfo(m->attachment->filePath).fileName(), QString::number(m->attachment->id));
    }
    // Pictures p1..p4, videos v1, v2, the voice message, the sticker and the map picture.
    QCOMPARE(files, 9);
    QVERIFY(QFileInfo(QDir(folder).filePath(QStringLiteral("Documents/AttachmentsPreview/p2.jpg"))).isFile());
    QVERIFY(
        QFileInfo(QDir(folder).filePath(QStringLiteral("Documents/BigAttachmentsPreview/v1.jpg"))).isFile());
}

void TestBackupViberMsgThread::copyingTwiceAddsNothing()
{
    QTemporaryDir src, dst;
    const ViberDataPtr source = sample(src.path());
    const QString folder = dst.filePath(QStringLiteral("Work"));
    const QList<_ViberMsg *> messages = source->messages.values();
    QCOMPARE(backup(messages, folder)->outcome, WorkerThread::Outcome::Succeeded);
    const QStringList rows = fixtures::storeRows(storeOf(folder));
    const QStringList files = filesOf(folder);

    auto again = backup(messages, folder);
    QCOMPARE(again->outcome, WorkerThread::Outcome::Succeeded);
    QCOMPARE(again->reporter.successes,
             QStringList(QStringLiteral("No new messages were backed up.<br/>%1 messages were already in the "
                                        "database.")
                             .arg(messages.size())));
    QCOMPARE(fixtures::storeRows(storeOf(folder)), rows);
    QCOMPARE(filesOf(folder), files);
    const ViberDataPtr copy = LocalDatabases::load(folder);
    QCOMPARE(copy->calls.size(), source->calls.size());
}

void TestBackupViberMsgThread::messagesGoChatByChatInDateOrder()
{
    Records r;
    _ViberPerson &ann = r.person(QStringLiteral("+1"));
    _ViberChat &a = r.chat({&ann});
    _ViberChat &b = r.chat({&ann}, QStringLiteral("G"));
    _ViberMsg &b2 = r.message(b, &ann, ViberMsgStateReceived, QString(), 300, 1);
    _ViberMsg &a2 = r.message(a, &ann, ViberMsgStateReceived, QString(), 200, 2);
    _ViberMsg &b1 = r.message(b, &ann, ViberMsgStateReceived, QString(), 100, 3);
    _ViberMsg &a1 = r.message(a, &ann, ViberMsgStateReceived, QString(), 150, 4);
    _ViberMsg orphan;
    orphan.date = 1;
    BackupViberMsgThread worker({&b2, &orphan, &a2, &b1, &a1}, QDir());
    QCOMPARE(worker.messages(), QList<_ViberMsg *>({&a1, &a2, &b1, &b2, &orphan}));
}

void TestBackupViberMsgThread::voiceFileIsNamedByTheNewKey()
{
    QTemporaryDir src, dst;
    const QString folder = dst.filePath(QStringLiteral("Work"));
    // A database whose largest attachment key is 41, with the voice file of a
    // deleted message 42 still lying about.
    {
        fixtures::StoreSpec plan;
        const qint64 p = plan.addPerson(QStringLiteral("p"), QStringLiteral("111")).pk;
        const qint64 c = plan.addChat(QStringLiteral("c"), {p}).pk;
        const qint64 m = plan.addMessage(QStringLiteral("m"), c, p, QStringLiteral("received"), QString()).pk;
        plan.addAttachment(QStringLiteral("a"), m, QStringLiteral("audio"), QStringLiteral("41")).pk = 41;
        QVERIFY(QDir().mkpath(folder));
        fixtures::writeStore(plan, folder, StoreLayout::Template,
                             QLatin1String(LocalDatabases::kStoreFileName));
    }
    writeFile(folder + QStringLiteral("/Documents/VoiceMessages/42"), "voice of a deleted message");
    writeFile(folder + QStringLiteral("/Documents/VoiceMessages/41"), "voice 41");

    Records r;
    _ViberPerson &ann = r.person(QStringLiteral("+222"));
    _ViberChat &chat = r.chat({&ann});
    _ViberMsg &voice = r.message(chat, &ann, ViberMsgStateReceived, QString(), 7e8, 77);
    _ViberAtta &a = r.attachment(voice, ViberMsgTypeAudio, QStringLiteral("a1.m4a"));
    a.filePath = src.filePath(QStringLiteral("a1.m4a"));
    writeFile(a.filePath, "new voice");

    QCOMPARE(backup(r.messages(), folder)->outcome, WorkerThread::Outcome::Succeeded);
    QFile file(folder + QStringLiteral("/Documents/VoiceMessages/42"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("new voice"));
    QCOMPARE(hashOf(folder + QStringLiteral("/Documents/VoiceMessages/41")),
             QCryptographicHash::hash("voice 41", QCryptographicHash::Sha1).toHex());
    const ViberDataPtr copy = LocalDatabases::load(folder);
    QCOMPARE(copy->attachments.value(42)->filePath, folder + QStringLiteral("/Documents/VoiceMessages/42"));

    // A new voice message without a recording of its own must not play the stale
    // file lying under its new key.
    writeFile(folder + QStringLiteral("/Documents/VoiceMessages/43"), "left by a killed run");
    _ViberMsg &silent = r.message(chat, &ann, ViberMsgStateReceived, QString(), 7e8 + 1, 78);
    r.attachment(silent, ViberMsgTypeAudio, QStringLiteral("gone.m4a"));
    QCOMPARE(backup({&silent}, folder)->outcome, WorkerThread::Outcome::Succeeded);
    QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/Documents/VoiceMessages/43")));

    // A second copy finds the message present and leaves its file alone.
    writeFile(a.filePath + QStringLiteral(".2"), "other");
    a.filePath += QStringLiteral(".2");
    QCOMPARE(backup(r.messages(), folder)->outcome, WorkerThread::Outcome::Succeeded);
    QVERIFY(file.seek(0));
    QCOMPARE(file.readAll(), QByteArray("new voice"));
}

void TestBackupViberMsgThread::recordsWithoutKeysStayApart()
{
    QTemporaryDir dst;
    const QString folder = dst.filePath(QStringLiteral("Work"));
    Records r;
    // People without a number: each keeps their own chat and messages.
    _ViberPerson &one = r.person(QString(), QStringLiteral("Nobody One"));
    _ViberPerson &two = r.person(QString(), QStringLiteral("Nobody Two"));
    r.message(r.chat({&one}), &one, ViberMsgStateReceived, QStringLiteral("from one"), 7e8, 11);
    r.message(r.chat({&two}), &two, ViberMsgStateReceived, QStringLiteral("from two"), 7e8 + 5, 12);
    // Token 0 is no token: messages and calls without one are told apart by the rest.
    _ViberPerson &ann = r.person(QStringLiteral("+111"), QStringLiteral("Ann"));
    _ViberPerson &bob = r.person(QStringLiteral("+222"), QStringLiteral("Bob"));
    _ViberChat &annChat = r.chat({&ann});
    _ViberChat &bobChat = r.chat({&bob});
    r.message(annChat, &ann, ViberMsgStateReceived, QStringLiteral("first"), 7e8 + 100, 0);
    r.message(annChat, &ann, ViberMsgStateReceived, QStringLiteral("second"), 7e8 + 130, 0);
    r.message(annChat, nullptr, ViberMsgStateDelivered, QStringLiteral("first"), 7e8 + 100, 0);
    r.message(bobChat, &bob, ViberMsgStateReceived, QStringLiteral("first"), 7e8 + 100, 0);
    r.call(annChat, ann, ViberCallTypeIncoming, 0, 7e8 + 200);
    r.call(annChat, ann, ViberCallTypeIncoming, 0, 7e8 + 230);
    r.call(annChat, ann, ViberCallTypeMissed, 0, 7e8 + 200);
    r.call(bobChat, bob, ViberCallTypeIncoming, 0, 7e8 + 200);
    // Not writable: counted as such, not as copied.
    _ViberChat &group = r.chat({&ann, &bob}, QStringLiteral("G1"), QStringLiteral("Group"));
    r.message(group, nullptr, ViberMsgStateReceived, QStringLiteral("who?"), 7e8 + 300, 99);

    const qint64 writable = r.messages().size() - 1;
    auto run = backup(r.messages(), folder);
    QCOMPARE(run->outcome, WorkerThread::Outcome::Succeeded);
    const QString skipped =
        QStringLiteral("<br/>1 messages could not be copied: group messages without a sender, "
                       "or messages without a delivery state.");
    QCOMPARE(run->reporter.successes,
             QStringList(QStringLiteral("Successfully backed up %1 messages.").arg(writable) + skipped));
    const ViberDataPtr copy = LocalDatabases::load(folder);
    QCOMPARE(copy->messages.size(), writable);
    QCOMPARE(copy->calls.size(), 4);
    for (const QString &text : {QStringLiteral("from one"), QStringLiteral("from two")}) {
        const auto it = std::find_if(copy->messages.cbegin(), copy->messages.cend(),
                                     [&](const _ViberMsg *m) { return m->text == text; });
        QVERIFY(it != copy->messages.cend());
        const _ViberMsg *m = *it;
        QCOMPARE(m->person->name, text == QLatin1String("from one") ? one.name : two.name);
        QCOMPARE(m->chat->participants.size(), 1);
        QCOMPARE(m->chat->participants.constBegin().value(), m->person);
        QCOMPARE(m->chat->messages.size(), 1);
    }

    // Nothing of it is added twice.
    const QStringList rows = fixtures::storeRows(storeOf(folder));
    auto again = backup(r.messages(), folder);
    QCOMPARE(again->reporter.successes,
             QStringList(QStringLiteral("No new messages were backed up.<br/>%1 messages were already in the "
                                        "database.")
                             .arg(writable) +
                         skipped));
    QCOMPARE(fixtures::storeRows(storeOf(folder)), rows);
}

void TestBackupViberMsgThread::datesOfAnySizeAreFoundAgain()
{
    QTemporaryDir dst;
    const QString folder = dst.filePath(QStringLiteral("Work"));
    Records r;
    _ViberPerson &ann = r.person(QStringLiteral("+111"));
    _ViberChat &chat = r.chat({&ann});
    const double inf = std::numeric_limits<double>::infinity();
    const double dates[] = {inf, -inf, 9.3e18, -9.3e18, 1e300, std::numeric_limits<double>::quiet_NaN(),
                            -0.5};
    qint64 token = 1;
    for (double date : dates) {
        r.message(chat, &ann, ViberMsgStateReceived, QStringLiteral("m"), date, token);
        r.call(chat, ann, ViberCallTypeIncoming, 1000 + token++, date);
    }
    QCOMPARE(backup(r.messages(), folder)->outcome, WorkerThread::Outcome::Succeeded);
    const QStringList rows = fixtures::storeRows(storeOf(folder));
    auto again = backup(r.messages(), folder);
    QCOMPARE(again->outcome, WorkerThread::Outcome::Succeeded);
    QCOMPARE(fixtures::storeRows(storeOf(folder)), rows);
    QVERIFY2(again->reporter.successes.value(0).startsWith(QStringLiteral("No new messages")),
             qPrintable(again->reporter.successes.value(0)));
}

void TestBackupViberMsgThread::everyAttachmentKindIsCopied()
{
    QTemporaryDir src, dst;
    const QString folder = dst.filePath(QStringLiteral("Work"));
    Records r;
    _ViberPerson &ann = r.person(QStringLiteral("+111"));
    _ViberChat &chat = r.chat({&ann});
    struct Kind
    {
        ViberMsgType type;
        const char *storeType;
        const char *name;
    };
    const Kind kinds[] = {{ViberMsgTypePicture, "picture", "p.jpg"},   {ViberMsgTypeVideo, "video", "v.mp4"},
                          {ViberMsgTypeAudio, "audio", "a.m4a"},       {ViberMsgTypeSticker, "sticker", ""},
                          {ViberMsgTypeFile, "file", "report.pdf"},    {ViberMsgTypeFile, "gif", "fun.gif"},
                          {ViberMsgTypeLocation, "customLocation", ""}};
    qint64 token = 1;
    for (const Kind &k : kinds) {
        _ViberMsg &m = r.message(chat, &ann, ViberMsgStateReceived, QString(), 7e8 + token, token);
        _ViberAtta &a = r.attachment(m, k.type, QString::fromLatin1(k.name),
                                     k.type == ViberMsgTypeSticker ? QStringLiteral("1234") : QString());
        a.type = QString::fromLatin1(k.storeType);
        ++token;
        if (k.type == ViberMsgTypeSticker || k.type == ViberMsgTypeLocation) {
            m.latitude = 48.1;
            m.longitude = 11.5;
            a.previewPath = src.filePath(QStringLiteral("preview%1.png").arg(token));
            writeFile(a.previewPath, QByteArray("preview ") + k.storeType);
        } else {
            a.filePath = src.filePath(QString::fromLatin1(k.name));
            writeFile(a.filePath, QByteArray("content of ") + k.name);
        }
    }
    QCOMPARE(backup(r.messages(), folder)->outcome, WorkerThread::Outcome::Succeeded);

    const ViberDataPtr copy = LocalDatabases::load(folder);
    QCOMPARE(fixtures::messageContent(*copy), fixtures::messageContent(*r.data));
    for (const _ViberMsg *m : copy->messages) {
        const _ViberAtta *a = m->attachment;
        QVERIFY(a);
        const _ViberAtta *original = r.data->messages.value(m->token)->attachment;
        const bool picture = m->type == ViberMsgTypeSticker || m->type == ViberMsgTypeLocation;
        QVERIFY2(QFileInfo(picture ? a->previewPath : a->filePath).isFile(), qPrintable(a->type));
        QCOMPARE(hashOf(picture ? a->previewPath : a->filePath),
                 hashOf(picture ? original->previewPath : original->filePath));
    }
}

void TestBackupViberMsgThread::newerContactPictureReplacesTheOlder()
{
    QTemporaryDir src, dst;
    const QString folder = dst.filePath(QStringLiteral("Work"));
    Records r;
    _ViberPerson &ann = r.person(QStringLiteral("+49 151 1"));
    ann.contactIconPath = src.filePath(QStringLiteral("ann.jpg"));
    _ViberChat &chat = r.chat({&ann});
    r.message(chat, &ann, ViberMsgStateReceived, QStringLiteral("hi"), 7e8, 1);
    writeFile(ann.contactIconPath, "old face");
    const QDateTime past = QDateTime::currentDateTime().addDays(-2);
    {
        QFile f(ann.contactIconPath);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(past, QFileDevice::FileModificationTime));
    }
    QCOMPARE(backup(r.messages(), folder)->outcome, WorkerThread::Outcome::Succeeded);
    const QString target = folder + QStringLiteral("/Documents/ContactIcons/491511.jpg");
    QCOMPARE(hashOf(target), QCryptographicHash::hash("old face", QCryptographicHash::Sha1).toHex());

    // Changed on the source since: the copy is replaced.
    writeFile(ann.contactIconPath, "new face");
    QCOMPARE(backup(r.messages(), folder)->outcome, WorkerThread::Outcome::Succeeded);
    QCOMPARE(hashOf(target), QCryptographicHash::hash("new face", QCryptographicHash::Sha1).toHex());
    QCOMPARE(QDir(folder + QStringLiteral("/Documents/ContactIcons")).entryList(QDir::Files | QDir::Hidden),
             QStringList(QStringLiteral("491511.jpg")));

    // An older source does not replace a newer copy.
    writeFile(ann.contactIconPath, "older face");
    {
        QFile f(ann.contactIconPath);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(past.addDays(-1), QFileDevice::FileModificationTime));
    }
    QCOMPARE(backup(r.messages(), folder)->outcome, WorkerThread::Outcome::Succeeded);
    QCOMPARE(hashOf(target), QCryptographicHash::hash("new face", QCryptographicHash::Sha1).toHex());
}

void TestBackupViberMsgThread::cancelLeavesStoreAndFilesAsBefore()
{
    QTemporaryDir src, dst;
    const ViberDataPtr source = sample(src.path());
    const QString folder = dst.filePath(QStringLiteral("Work"));
    const QList<_ViberMsg *> all = sorted(source->messages.values());
    // A database holding a few of the messages already.
    QCOMPARE(backup(all.mid(0, 5), folder)->outcome, WorkerThread::Outcome::Succeeded);
    writeFile(folder + QStringLiteral("/Documents/Attachments/p1.jpg"), "was there before");
    const QStringList rows = fixtures::storeRows(storeOf(folder));
    const QStringList files = filesOf(folder);

    auto run = backup(all, folder, 25);
    QCOMPARE(run->outcome, WorkerThread::Outcome::Cancelled);
    QVERIFY(run->reporter.errors.isEmpty() && run->reporter.successes.isEmpty());
    QCOMPARE(fixtures::storeRows(storeOf(folder)), rows);
    QCOMPARE(filesOf(folder), files);
    // No empty folders of the run are left either.
    QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/Documents/VoiceMessages")));
}

void TestBackupViberMsgThread::failedCopyRollsBackAndRemovesItsFiles()
{
    QTemporaryDir src, dst;
    const ViberDataPtr source = sample(src.path());
    const QString folder = dst.filePath(QStringLiteral("Work"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/Documents/Attachments")));
    writeFile(folder + QStringLiteral("/Documents/Attachments/p3.jpg"), "was there before");
    // The folder of the stickers cannot be made: a file has its name.
    writeFile(folder + QStringLiteral("/Documents/stickers"), "in the way");
    const QStringList files = filesOf(folder);

    auto run = backup(source->messages.values(), folder);
    QCOMPARE(run->outcome, WorkerThread::Outcome::Failed);
    QCOMPARE(run->reporter.errors.size(), 1);
    QVERIFY2(run->reporter.errors.first().contains(QDir::toNativeSeparators(folder + "/Documents/stickers")),
             qPrintable(run->reporter.errors.first()));
    QVERIFY(run->reporter.successes.isEmpty());
    // The store was created by the run and stays, empty.
    QVERIFY(LocalDatabases::isDatabaseFolder(folder));
    QVERIFY(LocalDatabases::load(folder)->messages.isEmpty());
    QCOMPARE(filesOf(folder), files);
}

void TestBackupViberMsgThread::fullDiskEndsTheRunNamingTheFile()
{
    QTemporaryDir src, dst;
    const QString folder = dst.filePath(QStringLiteral("Work"));
    Records r;
    _ViberPerson &ann = r.person(QStringLiteral("+1"));
    _ViberChat &chat = r.chat({&ann});
    _ViberMsg &small = r.message(chat, &ann, ViberMsgStateReceived, QString(), 7e8, 1);
    r.attachment(small, ViberMsgTypePicture, QStringLiteral("small.jpg")).filePath =
        src.filePath("small.jpg");
    writeFile(src.filePath("small.jpg"), "small");
    _ViberMsg &big = r.message(chat, &ann, ViberMsgStateReceived, QString(), 7e8 + 100, 2);
    r.attachment(big, ViberMsgTypeVideo, QStringLiteral("big.mp4")).filePath = src.filePath("big.mp4");
    writeFile(src.filePath("big.mp4"), QByteArray(4 << 20, 'x'));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/Documents")));
    LocalDatabases::load(folder); // the store exists before the limit

    // No file may grow beyond 2 MB: the big copy runs out of room.
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit old = {};
    getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit limit = old;
    limit.rlim_cur = 2 << 20;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    auto run = backup(r.messages(), folder);
    setrlimit(RLIMIT_FSIZE, &old);

    QCOMPARE(run->outcome, WorkerThread::Outcome::Failed);
    const QString error = run->reporter.errors.value(0);
    QVERIFY2(error.contains(QDir::toNativeSeparators(src.filePath("big.mp4"))), qPrintable(error));
    QVERIFY2(error.contains(QDir::toNativeSeparators(folder + "/Documents/Attachments/big.mp4")),
             qPrintable(error));
    QVERIFY(LocalDatabases::load(folder)->messages.isEmpty());
    QCOMPARE(filesOf(folder), QStringList());
}

void TestBackupViberMsgThread::storeLackingATableIsRefusedUntouched()
{
    QTemporaryDir src, dst;
    const ViberDataPtr source = sample(src.path());
    const QString folder = dst.filePath(QStringLiteral("Work"));
    QVERIFY(QDir().mkpath(folder));
    {
        fixtures::StoreWriter w(folder, StoreLayout::Phone, QLatin1String(LocalDatabases::kStoreFileName));
        w.finish();
        Sqlite3DB raw;
        raw.openThrow(storeOf(folder), Sqlite3DB::ReadWrite);
        raw.execThrow(QStringLiteral("drop table ZRECENTSLINE"));
    }
    const QStringList rows = fixtures::storeRows(storeOf(folder));
    auto run = backup(source->messages.values(), folder);
    QCOMPARE(run->outcome, WorkerThread::Outcome::Failed);
    const QString error = run->reporter.errors.value(0);
    QVERIFY2(error.contains(QDir::toNativeSeparators(storeOf(folder))), qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("ZRECENTSLINE")), qPrintable(error));
    QCOMPARE(fixtures::storeRows(storeOf(folder)), rows);
    QCOMPARE(filesOf(folder), QStringList());
}

void TestBackupViberMsgThread::namesLeadingOutOfTheFolderCopyNothing()
{
    QTemporaryDir src, dst;
    const QString folder = dst.filePath(QStringLiteral("db/Work"));
    Records r;
    _ViberPerson &ann = r.person(QStringLiteral("../../../evil"));
    ann.contactIconPath = src.filePath(QStringLiteral("face.jpg"));
    _ViberChat &chat = r.chat({&ann});
    writeFile(src.filePath("face.jpg"), "face");
    writeFile(src.filePath("p.jpg"), "picture");
    for (const char *name : {"../../../escaped.jpg", "/tmp/absolute.jpg", "..\\..\\..\\escaped2.jpg"}) {
        _ViberMsg &m = r.message(chat, &ann, ViberMsgStateReceived, QString(),
                                 7e8 + r.messages().size() * 100, r.messages().size() + 1);
        _ViberAtta &a = r.attachment(m, ViberMsgTypePicture, QString::fromLatin1(name));
        a.filePath = src.filePath("p.jpg");
        a.previewPath = src.filePath("p.jpg");
    }
    _ViberMsg &sticker = r.message(chat, &ann, ViberMsgStateReceived, QString(), 8e8, 99);
    r.attachment(sticker, ViberMsgTypeSticker, QString(), QStringLiteral("../../../../sticker")).previewPath =
        src.filePath("p.jpg");

    QCOMPARE(backup(r.messages(), folder)->outcome, WorkerThread::Outcome::Succeeded);
    QCOMPARE(filesOf(dst.path()), QStringList());
    QCOMPARE(LocalDatabases::load(folder)->messages.size(), 4);
    QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/absolute.jpg")) ||
            hashOf(QStringLiteral("/tmp/absolute.jpg")) != hashOf(src.filePath("p.jpg")));
}

void TestBackupViberMsgThread::linksLeadingOutOfAStoreAreNotFollowed()
{
    QTemporaryDir outer;
    const QString src = outer.filePath(QStringLiteral("store"));
    const QString secret = outer.filePath(QStringLiteral("secret.txt"));
    const QString elsewhere = outer.filePath(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkpath(elsewhere));
    writeFile(secret, "not the user's attachment");
    fixtures::StoreSpec plan;
    const qint64 p = plan.addPerson(QStringLiteral("p"), QStringLiteral("111")).pk;
    const qint64 c = plan.addChat(QStringLiteral("c"), {p}).pk;
    const qint64 m1 = plan.addMessage(QStringLiteral("evil"), c, p, QStringLiteral("received"), QString()).pk;
    plan.addAttachment(QStringLiteral("evil"), m1, QStringLiteral("picture"), QStringLiteral("evil.jpg"));
    const qint64 m2 = plan.addMessage(QStringLiteral("fine"), c, p, QStringLiteral("received"), QString()).pk;
    plan.addAttachment(QStringLiteral("fine"), m2, QStringLiteral("picture"), QStringLiteral("fine.jpg"));
    plan.addFile(QStringLiteral("Documents/Attachments/fine.jpg"), fixtures::FileKind::Jpeg);
    QVERIFY(QDir().mkpath(src));
    fixtures::writeStore(plan, src, StoreLayout::Phone);
    QVERIFY(QFile::link(secret, src + QStringLiteral("/Documents/Attachments/evil.jpg")));
    // Previews are made on loading: never into a folder outside the store.
    QVERIFY(QFile::link(elsewhere, src + QStringLiteral("/Documents/AttachmentsPreview")));

    const ViberDataPtr data = IOSViberDb(QDir(src), QString::fromLatin1(fixtures::kStoreFileName)).load();
    const _ViberAtta *evil = data->attachments.value(plan.attachment(QStringLiteral("evil")).pk);
    const _ViberAtta *fine = data->attachments.value(plan.attachment(QStringLiteral("fine")).pk);
    QVERIFY(evil->filePath.isEmpty());
    QVERIFY(fine->filePath.endsWith(QStringLiteral("/Documents/Attachments/fine.jpg")));
    QVERIFY(!fine->previewPath.startsWith(src + QStringLiteral("/Documents/AttachmentsPreview/")));
    QCOMPARE(QDir(elsewhere).entryList(QDir::Files), QStringList());

    // Nor does a copy write through a link in the database it copies into.
    const QString folder = outer.filePath(QStringLiteral("Work"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/Documents")));
    QVERIFY(QFile::link(elsewhere, folder + QStringLiteral("/Documents/Attachments")));
    QCOMPARE(backup(data->messages.values(), folder)->outcome, WorkerThread::Outcome::Succeeded);
    QCOMPARE(QDir(elsewhere).entryList(QDir::Files), QStringList());
    QCOMPARE(LocalDatabases::load(folder)->messages.size(), 2);
}

QTEST_GUILESS_MAIN(TestBackupViberMsgThread)
#include "tst_backupviber.moc"
