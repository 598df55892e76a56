#include "support/RecordingReporter.h"
#include "support/StoreFixtures.h"
#include "viber/AttachmentPreviews.h"
#include "viber/IOSViberDb.h"
#include "viber/LocalDatabases.h"
#include "workers/BackupViberMsgThread.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <limits>

#include <sys/resource.h>

using fixtures::Records;
using fixtures::StoreLayout;
using Outcome = WorkerThread::Outcome;
Q_DECLARE_METATYPE(fixtures::StoreLayout)

namespace {

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString hashOf(const QString &path)
{
    return QString::fromLatin1(QCryptographicHash::hash(contents(path), QCryptographicHash::Sha1).toHex());
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
}

// Every entry below root but the store, files with their content's hash.
QStringList treeOf(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!path.endsWith(QLatin1String(".data")))
            out << QDir(root).relativeFilePath(path) + u' ' + hashOf(path);
    }
    out.sort();
    return out;
}

// What the attachment files of loaded messages hold, wherever they lie.
QStringList attachmentFiles(const ViberData &data)
{
    QStringList out;
    for (const _ViberMsg *m : data.messages) {
        if (m->attachment) {
            // Contents, and what a copy keeps of the file: who may read it and its age.
            const QFileInfo file(m->attachment->filePath);
            out << QStringLiteral("%1 %2 %3 %4 %5")
                       .arg(m->type)
                       .arg(hashOf(m->attachment->filePath), hashOf(m->attachment->previewPath))
                       .arg(int(file.permissions()))
                       .arg(file.lastModified().toMSecsSinceEpoch());
        }
    }
    out.sort();
    return out;
}

// A source folder, a database folder to copy into and what the last run reported.
struct Bench
{
    Outcome backup(const QList<_ViberMsg *> &messages, int cancelAfter = 0)
    {
        reporter = std::make_unique<RecordingReporter>();
        reporter->cancelWhen = [=](const RecordingReporter &r) {
            return cancelAfter > 0 && r.details.size() >= cancelAfter;
        };
        BackupViberMsgThread worker(messages, QDir(folder));
        worker.setReporter(reporter.get());
        worker.start();
        worker.wait();
        return worker.outcome();
    }
    QString success() const { return reporter->successes.join(u'|'); }
    QString store() const { return QDir(folder).filePath(QLatin1String(LocalDatabases::kStoreFileName)); }
    // What a run that ends early must leave as it found it.
    QStringList state() const { return fixtures::storeRows(store()) + treeOf(folder); }
    QString source(const QString &name, const QByteArray &bytes) const
    {
        writeFile(src.filePath(name), bytes);
        return src.filePath(name);
    }
    ViberDataPtr sample(StoreLayout layout = StoreLayout::Phone) const
    {
        fixtures::writeStore(fixtures::sampleStore(), src.path(), layout);
        // Loaded as the program loads it, previews made.
        const ViberDataPtr data =
            IOSViberDb(QDir(src.path()), QString::fromLatin1(fixtures::kStoreFileName)).load();
        AttachmentPreviews::makeMissing(*data);
        return data;
    }

    QTemporaryDir src, dst;
    QString folder = dst.filePath(QStringLiteral("Work"));
    std::unique_ptr<RecordingReporter> reporter;
};

const QString kCopied = QStringLiteral("Successfully backed up %1 messages.");

} // namespace

class TestBackupViberMsgThread : public QObject
{
    Q_OBJECT

private slots:
    void copyLoadsBackAsTheSource_data();
    void copyLoadsBackAsTheSource();
    void oddRecordsAreCopiedOnce();
    void voiceFileIsNamedByTheNewKey();
    void newerContactPictureReplacesTheOlder();
    void endsEarlyLeavingEverythingAsItWas_data();
    void endsEarlyLeavingEverythingAsItWas();
    void nothingIsWrittenOutsideTheFolder();
};

void TestBackupViberMsgThread::copyLoadsBackAsTheSource_data()
{
    QTest::addColumn<StoreLayout>("layout");
    QTest::newRow("from a phone's store") << StoreLayout::Phone;
    QTest::newRow("from a local database") << StoreLayout::Template;
}

void TestBackupViberMsgThread::copyLoadsBackAsTheSource()
{
    QFETCH(StoreLayout, layout);
    Bench b;
    const ViberDataPtr source = b.sample(layout);
    const QList<_ViberMsg *> messages = source->messages.values();
    QCOMPARE(b.backup(messages), Outcome::Succeeded);
    QCOMPARE(b.success(), kCopied.arg(messages.size()));
    QCOMPARE(b.reporter->details.last(), QStringLiteral("Messages: %1/%1").arg(messages.size()));
    QCOMPARE(b.reporter->percents.last(), 100);
    const ViberDataPtr copy = LocalDatabases::load(b.folder);
    QCOMPARE(fixtures::messageContent(*copy), fixtures::messageContent(*source));
    QCOMPARE(attachmentFiles(*copy), attachmentFiles(*source));
}

void TestBackupViberMsgThread::oddRecordsAreCopiedOnce()
{
    Bench b;
    Records r;
    // People without a number: each keeps their own chat and messages.
    for (const char *name : {"Nobody One", "Nobody Two"}) {
        _ViberPerson &nobody = r.person(QString(), QString::fromLatin1(name));
        r.message(r.chat({&nobody}), &nobody, ViberMsgStateReceived, nobody.name, 7e8,
                  r.messages().size() + 1);
    }
    // Token 0 is no token: messages and calls without one are told apart by the rest.
    _ViberPerson &ann = r.person("+111", "Ann");
    _ViberPerson &bob = r.person("+222", "Bob");
    _ViberChat &annChat = r.chat({&ann}), &bobChat = r.chat({&bob});
    r.message(annChat, &ann, ViberMsgStateReceived, "first", 7e8 + 100, 0);
    r.message(annChat, &ann, ViberMsgStateReceived, "second", 7e8 + 130, 0);
    r.message(annChat, nullptr, ViberMsgStateDelivered, "first", 7e8 + 100, 0);
    r.message(bobChat, &bob, ViberMsgStateReceived, "first", 7e8 + 100, 0);
    r.call(annChat, ann, ViberCallTypeIncoming, 0, 7e8 + 200);
    r.call(annChat, ann, ViberCallTypeIncoming, 0, 7e8 + 230);
    r.call(annChat, ann, ViberCallTypeMissed, 0, 7e8 + 200);
    r.call(bobChat, bob, ViberCallTypeIncoming, 0, 7e8 + 200);
    // Dates far off, or none, in a chat of their own.
    _ViberPerson &cy = r.person("+333");
    _ViberChat &cyChat = r.chat({&cy});
    const double inf = std::numeric_limits<double>::infinity();
    qint64 token = 100;
    for (double date : {inf, -inf, 9.3e18, -9.3e18, 1e300, std::numeric_limits<double>::quiet_NaN(), -0.5}) {
        r.message(cyChat, &cy, ViberMsgStateReceived, "m", date, ++token);
        r.call(cyChat, cy, ViberCallTypeOutgoing, ++token, date);
    }
    // Every kind of attachment, with its file and its preview as far as it has them.
    const std::pair<ViberMsgType, const char *> kinds[] = {
        {ViberMsgTypePicture, "picture"},        {ViberMsgTypeVideo, "video"}, {ViberMsgTypeAudio, "audio"},
        {ViberMsgTypeSticker, "sticker"},        {ViberMsgTypeFile, "file"},   {ViberMsgTypeFile, "gif"},
        {ViberMsgTypeLocation, "customLocation"}};
    for (const auto &[type, kind] : kinds) {
        const QString name = QString::fromLatin1(kind);
        _ViberMsg &m = r.message(annChat, &ann, ViberMsgStateReceived, QString(), 8e8, ++token);
        std::tie(m.latitude, m.longitude) = std::pair(48.1 + token, 11.5);
        _ViberAtta &a = r.attachment(m, type, name + ".bin", "1234");
        a.type = name;
        if (type != ViberMsgTypeSticker && type != ViberMsgTypeLocation)
            a.filePath = b.source(a.fileName, "content of " + name.toUtf8());
        if (type != ViberMsgTypeAudio && type != ViberMsgTypeFile)
            a.previewPath = b.source(name + QStringLiteral(".png"), "preview of " + name.toUtf8());
    }
    // Not writable: counted as such, not as copied.
    r.message(r.chat({&ann, &bob}, "G1"), nullptr, ViberMsgStateReceived, "who?", 7e8, 99);
    const QString skipped = QStringLiteral("<br/>1 messages could not be copied: group messages without a "
                                           "sender, or messages without a delivery state.");
    // Neither a missing record nor one without a chat (which no reader makes) is copied.
    _ViberMsg orphan;
    const QList<_ViberMsg *> messages = r.messages() + QList<_ViberMsg *>{nullptr, &orphan};
    const qint64 writable = r.messages().size() - 1;

    QCOMPARE(b.backup(messages), Outcome::Succeeded);
    QCOMPARE(b.success(), kCopied.arg(writable) + skipped);
    const ViberDataPtr copy = LocalDatabases::load(b.folder);
    // Far-off dates are stored cut to what the store holds (that they are found again
    // is what counts, below); the message without a sender was not written.
    const QRegularExpression comparable(QStringLiteral("^(?!.*(\\+333|who\\?))"));
    QCOMPARE(fixtures::messageContent(*copy).filter(comparable),
             fixtures::messageContent(*r.data).filter(comparable));
    QCOMPARE(copy->messages.size(), writable);
    QCOMPARE(attachmentFiles(*copy), attachmentFiles(*r.data));
    int nobodies = 0;
    for (const _ViberMsg *m : copy->messages)
        if (m->person && m->person->phone.isEmpty() && ++nobodies)
            QVERIFY(m->person->name == m->text && m->chat->messages.size() == 1 &&
                    m->chat->participants.size() == 1);
    QCOMPARE(nobodies, 2);

    const QStringList state = b.state();
    QCOMPARE(b.backup(messages), Outcome::Succeeded);
    QCOMPARE(b.success(),
             QStringLiteral("No new messages were backed up.<br/>%1 messages were already in the database.")
                     .arg(writable) +
                 skipped);
    QCOMPARE(b.state(), state);
}

void TestBackupViberMsgThread::voiceFileIsNamedByTheNewKey()
{
    Bench b;
    // A database whose largest attachment key is 41, with the voice file of a
    // deleted message 42 still lying about.
    fixtures::StoreSpec plan;
    const qint64 p = plan.addPerson("p", "111").pk;
    const qint64 m = plan.addMessage("m", plan.addChat("c", {p}).pk, p, "received", QString()).pk;
    plan.addAttachment("a", m, "audio", "41").pk = 41;
    QVERIFY(QDir().mkpath(b.folder));
    fixtures::writeStore(plan, b.folder, StoreLayout::Template,
                         QLatin1String(LocalDatabases::kStoreFileName));
    const QString voice = b.folder + QStringLiteral("/Documents/VoiceMessages/");
    writeFile(voice + "41", "voice 41");
    writeFile(voice + "42", "voice of a deleted message");

    Records r;
    _ViberPerson &ann = r.person("+222");
    _ViberChat &chat = r.chat({&ann});
    _ViberAtta &a = r.attachment(r.message(chat, &ann, ViberMsgStateReceived, QString(), 7e8, 77),
                                 ViberMsgTypeAudio, "a1.m4a");
    a.filePath = b.source("a1.m4a", "new voice");
    QCOMPARE(b.backup(r.messages()), Outcome::Succeeded);
    QCOMPARE(contents(voice + "42"), "new voice");
    QCOMPARE(contents(voice + "41"), "voice 41");
    QCOMPARE(LocalDatabases::load(b.folder)->attachments.value(42)->filePath, voice + "42");

    // A new voice message without a recording of its own must not play the file
    // lying under its new key.
    writeFile(voice + "43", "left by a killed run");
    _ViberMsg &silent = r.message(chat, &ann, ViberMsgStateReceived, QString(), 7e8 + 1, 78);
    r.attachment(silent, ViberMsgTypeAudio, "gone.m4a");
    QCOMPARE(b.backup({&silent}), Outcome::Succeeded);
    QVERIFY(!QFileInfo::exists(voice + "43"));

    // A message already present keeps its file.
    a.filePath = b.source("other.m4a", "other");
    QCOMPARE(b.backup(r.messages()), Outcome::Succeeded);
    QCOMPARE(contents(voice + "42"), "new voice");
}

void TestBackupViberMsgThread::newerContactPictureReplacesTheOlder()
{
    Bench b;
    Records r;
    _ViberPerson &ann = r.person("+49 151 1");
    r.message(r.chat({&ann}), &ann, ViberMsgStateReceived, "hi", 7e8, 1);
    const QString copy = b.folder + QStringLiteral("/Documents/ContactIcons/491511.jpg");
    const QDateTime past = QDateTime::currentDateTime().addDays(-2);
    // Pictures of the contact and their ages, one run each; the copy keeps the newest.
    const std::tuple<const char *, QDateTime, const char *> runs[] = {
        {"old", past, "old"}, {"new", QDateTime(), "new"}, {"older", past.addDays(-1), "new"}};
    for (const auto &[face, time, kept] : runs) {
        ann.contactIconPath = b.source("ann.jpg", face);
        QFile f(ann.contactIconPath);
        QVERIFY(!time.isValid() ||
                (f.open(QIODevice::ReadWrite) && f.setFileTime(time, QFileDevice::FileModificationTime)));
        f.close();
        QCOMPARE(b.backup(r.messages()), Outcome::Succeeded);
        QCOMPARE(contents(copy), kept);
    }
    QCOMPARE(QDir(QFileInfo(copy).path()).entryList(QDir::Files | QDir::Hidden), QStringList{"491511.jpg"});
}

void TestBackupViberMsgThread::endsEarlyLeavingEverythingAsItWas_data()
{
    QTest::addColumn<QString>("named"); // what the error names; "" for a cancel
    QTest::newRow("cancelled") << "";
    QTest::newRow("folder blocked by a file") << "Documents/stickers";
    QTest::newRow("disk full") << "Documents/Attachments/v1.mp4";
    QTest::newRow("store lacks a table") << "ZRECENTSLINE";
}

void TestBackupViberMsgThread::endsEarlyLeavingEverythingAsItWas()
{
    QFETCH(QString, named);
    Bench b;
    const ViberDataPtr source = b.sample();
    QList<_ViberMsg *> all = source->messages.values();
    std::sort(all.begin(), all.end(), [](auto *x, auto *y) { return x->id < y->id; });
    // A database holding a few of the messages already, and a file of its own.
    QCOMPARE(b.backup(all.mid(0, 5)), Outcome::Succeeded);
    writeFile(b.folder + QStringLiteral("/Documents/Attachments/p1.jpg"), "was there before");
    if (named.endsWith(u"stickers"))
        writeFile(b.folder + u'/' + named, "in the way");
    const bool full = named.endsWith(u".mp4");
    for (const _ViberMsg *m : all) // too big for the limit set below
        if (full && m->attachment && m->attachment->fileName == u"v1.mp4")
            writeFile(m->attachment->filePath, QByteArray(4 << 20, 'x'));
    if (named == u"ZRECENTSLINE") {
        Sqlite3DB raw;
        raw.openThrow(b.store(), Sqlite3DB::ReadWrite);
        raw.execThrow(QStringLiteral("drop table ZRECENTSLINE"));
    }
    const QStringList state = b.state();

    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit old = {};
    getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit limit = old;
    limit.rlim_cur = full ? 2 << 20 : old.rlim_cur;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const Outcome outcome = b.backup(all, named.isEmpty() ? 25 : 0);
    setrlimit(RLIMIT_FSIZE, &old);

    QCOMPARE(outcome, named.isEmpty() ? Outcome::Cancelled : Outcome::Failed);
    QCOMPARE(b.reporter->successes + b.reporter->errors,
             named.isEmpty() ? QStringList() : b.reporter->errors);
    QCOMPARE(b.reporter->errors.size(), named.isEmpty() ? 0 : 1);
    const QString error = b.reporter->errors.value(0);
    QVERIFY2(error.contains(QDir::toNativeSeparators(named.contains(u'/') ? b.folder + u'/' + named : named)),
             qPrintable(error));
    QCOMPARE(b.state(), state);
}

void TestBackupViberMsgThread::nothingIsWrittenOutsideTheFolder()
{
    QTemporaryDir outer;
    const QString secret = outer.filePath(QStringLiteral("secret.txt"));
    const QString elsewhere = outer.filePath(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkpath(elsewhere));
    writeFile(secret, "not the user's attachment");

    // A store whose attachment, and whose preview folder, are links leading out of it:
    // the reader neither reads the one nor makes previews in the other.
    const QString src = outer.filePath(QStringLiteral("store"));
    fixtures::StoreSpec plan;
    const qint64 p = plan.addPerson("p", "111").pk;
    const qint64 c = plan.addChat("c", {p}).pk;
    for (const QString &name : {QStringLiteral("evil"), QStringLiteral("fine")})
        plan.addAttachment(name, plan.addMessage(name, c, p, "received", QString()).pk, "picture",
                           name + ".jpg");
    plan.addFile("Documents/Attachments/fine.jpg", fixtures::FileKind::Jpeg);
    QVERIFY(QDir().mkpath(src));
    fixtures::writeStore(plan, src, StoreLayout::Phone);
    QVERIFY(QFile::link(secret, src + QStringLiteral("/Documents/Attachments/evil.jpg")));
    QVERIFY(QFile::link(elsewhere, src + QStringLiteral("/Documents/AttachmentsPreview")));
    const ViberDataPtr data = IOSViberDb(QDir(src), QString::fromLatin1(fixtures::kStoreFileName)).load();
    QVERIFY(data->attachments.value(plan.attachment("evil").pk)->filePath.isEmpty());
    const QString fine = data->attachments.value(plan.attachment("fine").pk)->filePath;
    QVERIFY(QFileInfo(fine).isFile());

    // Names climbing out of the database, and a database folder linked elsewhere.
    Records r;
    _ViberPerson &ann = r.person("../../../evil");
    ann.contactIconPath = fine;
    _ViberChat &chat = r.chat({&ann});
    for (const char *name : {"../../../escaped.jpg", "/tmp/absolute.jpg", "..\\..\\..\\escaped2.jpg", ""}) {
        _ViberMsg &m = r.message(chat, &ann, ViberMsgStateReceived, QString(), 7e8 + r.messages().size(),
                                 r.messages().size() + 1);
        _ViberAtta &a = *name ? r.attachment(m, ViberMsgTypePicture, QString::fromLatin1(name))
                              : r.attachment(m, ViberMsgTypeSticker, QString(), "../../../../s");
        a.filePath = a.previewPath = fine;
    }
    const QString folder = outer.filePath(QStringLiteral("db/Work"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/Documents")));
    QVERIFY(QFile::link(elsewhere, folder + QStringLiteral("/Documents/Attachments")));
    for (const QList<_ViberMsg *> &messages : {data->messages.values(), r.messages()}) {
        BackupViberMsgThread worker(messages, QDir(folder));
        worker.start();
        worker.wait();
        QCOMPARE(worker.outcome(), Outcome::Succeeded);
    }
    QCOMPARE(LocalDatabases::load(folder)->messages.size(), 2 + 4);
    QCOMPARE(treeOf(elsewhere), QStringList());
    QCOMPARE(QDir(outer.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             (QStringList{"db", "elsewhere", "secret.txt", "store"}));
    QCOMPARE(QDir(outer.filePath(QStringLiteral("db"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"Work"});
    QVERIFY(hashOf(QStringLiteral("/tmp/absolute.jpg")) != hashOf(fine));
}

QTEST_GUILESS_MAIN(TestBackupViberMsgThread)
#include "tst_backupviber.moc"
