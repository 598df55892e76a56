#include "support/RecordingReporter.h"
#include "support/StoreFixtures.h"
#include "support/TestSupport.h"
#include "viber/AttachmentPreviews.h"
#include "viber/IOSViberDb.h"
#include "viber/LocalDatabases.h"
#include "workers/BackupViberMsgThread.h"
#include "workers/DeleteViberMsgThread.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include <csignal>

#include <sys/resource.h>

using namespace Qt::StringLiterals;
using fixtures::Records;
using Outcome = WorkerThread::Outcome;

namespace {

using testsupport::readFile;

void writeFile(const QString &path, const QByteArray &bytes)
{
    QVERIFY(testsupport::writeFile(path, bytes));
}

// What the attachment files of loaded messages hold, wherever they lie.
QStringList attachmentFiles(const ViberData &data)
{
    QStringList out;
    for (const _ViberMsg *m : data.messages) {
        if (m->attachment)
            out << u"%1 %2 %3"_s.arg(m->type)
                       .arg(qHash(readFile(m->attachment->filePath)))
                       .arg(qHash(readFile(m->attachment->previewPath)));
    }
    out.sort();
    return out;
}

// A source folder, a database folder to copy into and what the last run reported.
struct Bench
{
    Outcome run(WorkerThread &worker, const std::function<bool(const RecordingReporter &)> &cancel)
    {
        reporter = std::make_unique<RecordingReporter>();
        reporter->cancelWhen = cancel;
        worker.setReporter(reporter.get());
        worker.start();
        worker.wait();
        return worker.outcome();
    }
    Outcome backup(const QList<_ViberMsg *> &messages, int cancelAfter = 0)
    {
        BackupViberMsgThread worker(messages, QDir(folder));
        return run(worker, [=](const RecordingReporter &r) {
            return cancelAfter > 0 && r.details.size() >= cancelAfter;
        });
    }
    // Deletes from the local database; a store left inside the worker's transaction counts as
    // a run that never ended.
    Outcome remove(const QList<_ViberMsg *> &messages, int cancelAfter = 0)
    {
        DeleteViberMsgThread worker(local.get(), messages);
        const Outcome outcome = run(worker, [=](const RecordingReporter &r) {
            return cancelAfter && r.percents.size() > cancelAfter;
        });
        const bool inTransaction = local->inTransaction();
        local->close();
        return inTransaction ? Outcome::NotFinished : outcome;
    }
    // The sample store as the local database, loaded.
    void localSample()
    {
        QDir().mkpath(folder);
        fixtures::writeStore(plan, folder, fixtures::StoreLayout::Template,
                             QLatin1String(LocalDatabases::kStoreFileName));
        local = LocalDatabases::store(folder);
        data = local->load();
        local->close();
    }
    qint64 count(const QString &table, const QString &where = u"1"_s) const
    {
        return fixtures::rows(store(), u"select count(*) from %1 where %2"_s.arg(table, where)).toLongLong();
    }
    // The local sample's messages and calls by their labels.
    QList<_ViberMsg *> messages(const QStringList &labels, const QStringList &callLabels = {}) const
    {
        QList<_ViberMsg *> out;
        for (const QString &label : labels)
            out << data->messages.value(plan.message(label).pk);
        for (const QString &label : callLabels)
            out << data->messages.value(-plan.call(label).pk);
        return out;
    }
    QString store() const { return QDir(folder).filePath(QLatin1String(LocalDatabases::kStoreFileName)); }
    // What a run that ends early must leave as it found it.
    QStringList state() const
    {
        return fixtures::storeRows(store()) +
               fixtures::filesBelow(folder).filter(QRegularExpression(u"^(?!.*\\.data )"_s));
    }
    QString source(const QString &name, const QByteArray &bytes) const
    {
        writeFile(src.filePath(name), bytes);
        return src.filePath(name);
    }
    // The sample store and five messages of one second, which the store orders by their
    // sequence numbers first and their keys after.
    ViberDataPtr sample() const
    {
        fixtures::StorePlan plan = fixtures::sampleStore();
        for (const auto &[text, seq] :
             {std::pair(u"c"_s, 30), {u"a"_s, 10}, {u"b"_s, 20}, {u"d"_s, 0}, {u"e"_s, 0}}) {
            fixtures::MessagePlan &m = plan.addMessage(text, plan.chat(u"ann"_s).pk, plan.person(u"ann"_s).pk,
                                                       u"received"_s, u"tie "_s + text);
            m.date = 7e8;
            m.seq = seq;
        }
        fixtures::writeStore(plan, src.path(), fixtures::StoreLayout::Phone);
        // Loaded as the program loads it, previews made.
        const ViberDataPtr data =
            IOSViberDb(QDir(src.path()), QString::fromLatin1(fixtures::kStoreFileName)).load();
        AttachmentPreviews::makeMissing(*data);
        return data;
    }

    QTemporaryDir src, dst;
    QString folder = dst.filePath(u"Work"_s);
    std::unique_ptr<RecordingReporter> reporter;
    const fixtures::StorePlan plan = fixtures::sampleStore();
    std::unique_ptr<IOSViberDb> local;
    ViberDataPtr data;
};

// Conversations whose date is not that of their newest message.
const QString kStaleDates = u"select count(*) from ZCONVERSATION as c where c.ZDATE is not (select "
                            u"max(ZDATE) from ZVIBERMESSAGE as m where m.ZCONVERSATION=c.Z_PK)"_s;

} // namespace

class TestBackupViberMsgThread : public QObject
{
    Q_OBJECT

private slots:
    void copyLoadsBackAsTheSource()
    {
        Bench b;
        const ViberDataPtr source = b.sample();
        // Not writable: counted as such, not as copied; neither a missing record nor one
        // without a chat (which no reader makes) is copied.
        Records r;
        _ViberPerson &ann = r.person(u"+111"_s, u"Ann"_s);
        r.message(r.chat({&ann}, u"G1"_s), nullptr, ViberMsgStateReceived, u"who?"_s, 7e8, 99);
        _ViberMsg orphan;
        const QList<_ViberMsg *> messages =
            source->messages.values() + r.messages() + QList<_ViberMsg *>{nullptr, &orphan};
        const qint64 writable = source->messages.size();
        const QString skipped =
            u"<br/>1 message could not be copied: a group message without a sender, or a message "
            u"without a delivery state."_s;

        QCOMPARE(b.backup(messages), Outcome::Succeeded);
        QCOMPARE(b.reporter->successes.join(u'|'),
                 u"Successfully backed up %1 messages."_s.arg(writable) + skipped);
        const ViberDataPtr copy = LocalDatabases::load(b.folder);
        QCOMPARE(fixtures::messageContent(*copy), fixtures::messageContent(*source));
        QCOMPARE(attachmentFiles(*copy), attachmentFiles(*source));

        // A repeated copy adds nothing and says so.
        const QStringList state = b.state();
        QCOMPARE(b.backup(messages), Outcome::Succeeded);
        QCOMPARE(b.state(), state);
        QCOMPARE(fixtures::rows(b.store(), kStaleDates), u"0"_s);
        // Messages of one second keep the store's order in the copy.
        const auto ties = [](const ViberData &data) {
            QList<_ViberMsg *> messages = data.messages.values();
            std::sort(messages.begin(), messages.end(), msgDateLess);
            QString texts;
            for (const _ViberMsg *m : std::as_const(messages))
                if (m->text.toString().startsWith(u"tie "_s))
                    texts += m->text.toString().back();
            return texts;
        };
        QCOMPARE(ties(*source), u"deabc"_s);
        QCOMPARE(ties(*copy), u"deabc"_s);
    }
    void voiceFileIsNamedByTheNewKey()
    {
        Bench b;
        // A database whose largest attachment key is 41, with the voice file of a
        // deleted message 42 still lying about.
        fixtures::StorePlan plan;
        const qint64 p = plan.addPerson(u"p"_s, u"111"_s).pk;
        const qint64 m =
            plan.addMessage(u"m"_s, plan.addChat(u"c"_s, {p}).pk, p, u"received"_s, QString()).pk;
        plan.addAttachment(u"a"_s, m, u"audio"_s, u"41"_s).pk = 41;
        QVERIFY(QDir().mkpath(b.folder));
        fixtures::writeStore(plan, b.folder, fixtures::StoreLayout::Template,
                             QLatin1String(LocalDatabases::kStoreFileName));
        const QString voice = b.folder + u"/Documents/VoiceMessages/"_s;
        writeFile(voice + u"41"_s, "voice 41");
        writeFile(voice + u"42"_s, "voice of a deleted message");

        Records r;
        _ViberPerson &ann = r.person(u"+222"_s);
        _ViberChat &chat = r.chat({&ann});
        _ViberAtta &a = r.attachment(r.message(chat, &ann, ViberMsgStateReceived, QString(), 7e8, 77),
                                     ViberMsgTypeAudio, u"a1.m4a"_s);
        a.filePath = b.source(u"a1.m4a"_s, "new voice");
        QCOMPARE(b.backup(r.messages()), Outcome::Succeeded);
        QCOMPARE(readFile(voice + u"42"_s), QByteArray("new voice"));
        QCOMPARE(readFile(voice + u"41"_s), QByteArray("voice 41"));
        QCOMPARE(LocalDatabases::load(b.folder)->attachments.value(42)->filePath, voice + u"42"_s);

        // A new voice message without a recording of its own must not play the file
        // lying under its new key.
        writeFile(voice + u"43"_s, "left by a killed run");
        _ViberMsg &silent = r.message(chat, &ann, ViberMsgStateReceived, QString(), 7e8 + 1, 78);
        r.attachment(silent, ViberMsgTypeAudio, u"gone.m4a"_s);
        QCOMPARE(b.backup({&silent}), Outcome::Succeeded);
        QVERIFY(!QFileInfo::exists(voice + u"43"_s));
        // The conversation's date moved to its new newest message.
        QCOMPARE(fixtures::rows(b.store(), kStaleDates), u"0"_s);

        // A message already present keeps its file.
        a.filePath = b.source(u"other.m4a"_s, "other");
        QCOMPARE(b.backup(r.messages()), Outcome::Succeeded);
        QCOMPARE(readFile(voice + u"42"_s), QByteArray("new voice"));
    }
    // Different files of one name from two sources each keep their own (picture and
    // preview follow the name); the same file is shared; a repeated copy adds no file.
    void namesakesKeepTheirOwnFiles_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("numbered");
        QTest::addColumn<QString>("preview"); // where the numbered one's preview goes, "" for none
        QTest::newRow("picture") << int(ViberMsgTypePicture) << u"IMG_1.JPG"_s << u"IMG_1 (2).JPG"_s
                                 << u"AttachmentsPreview/IMG_1 (2).JPG"_s;
        QTest::newRow("video, dotted") << int(ViberMsgTypeVideo) << u"clip.v1.mov"_s << u"clip (2).v1.mov"_s
                                       << u"BigAttachmentsPreview/clip (2).jpg"_s;
        QTest::newRow("file") << int(ViberMsgTypeFile) << u"doc.pdf"_s << u"doc (2).pdf"_s << QString();
    }
    void namesakesKeepTheirOwnFiles()
    {
        QFETCH(int, type);
        QFETCH(QString, name);
        QFETCH(QString, numbered);
        QFETCH(QString, preview);
        Bench b;
        Records r;
        // Ann's and Cid's files are the same bytes, Bob's differ; Dan's is missing at the source.
        const auto send = [&](const QString &who, const QByteArray &bytes) -> _ViberMsg * {
            _ViberPerson &p = r.person(u"+1"_s + QString::number(who.at(0).unicode()), who);
            _ViberMsg &m = r.message(r.chat({&p}), &p, ViberMsgStateReceived, u"from "_s + who,
                                     7e8 + r.messages().size(), 100 + r.messages().size());
            _ViberAtta &a = r.attachment(m, ViberMsgType(type), name);
            if (!bytes.isEmpty()) {
                a.filePath = b.source(who + u'/' + name, bytes);
                a.previewPath = b.source(who + u"/preview.jpg"_s, "preview of " + bytes);
            }
            return &m;
        };
        _ViberMsg *ann = send(u"Ann"_s, "picture A");
        QCOMPARE(b.backup({ann}), Outcome::Succeeded);
        const QList<_ViberMsg *> second{send(u"Bob"_s, "picture B"), send(u"Cid"_s, "picture A"),
                                        send(u"Dan"_s, QByteArray())};
        QCOMPARE(b.backup(second), Outcome::Succeeded);

        // Each message's file by name and content, and its preview's content; without a file of
        // its own, a message names none of the others'.
        QStringList got;
        const ViberDataPtr copy = LocalDatabases::load(b.folder);
        for (const _ViberMsg *m : std::as_const(copy->messages))
            got << u"%1: %2 %3|%4"_s.arg(m->text.toString(),
                                         QFileInfo::exists(m->attachment->filePath) ? m->attachment->fileName
                                                                                    : u"-"_s,
                                         QString::fromUtf8(readFile(m->attachment->filePath)),
                                         QString::fromUtf8(readFile(m->attachment->previewPath)));
        got.sort();
        const QString a = preview.isEmpty() ? QString() : u"preview of picture A"_s;
        QCOMPARE(got, (QStringList{u"from Ann: %1 picture A|%2"_s.arg(name, a),
                                   u"from Bob: %1 picture B|%2"_s.arg(
                                       numbered, preview.isEmpty() ? QString() : u"preview of picture B"_s),
                                   u"from Cid: %1 picture A|%2"_s.arg(name, a), u"from Dan: - |"_s}));
        const QString documents = b.folder + u"/Documents/"_s;
        QCOMPARE(QDir(documents + u"Attachments"_s).entryList(QDir::Files, QDir::Name | QDir::Reversed),
                 QStringList({name, numbered}));
        if (!preview.isEmpty())
            QCOMPARE(readFile(documents + preview), "preview of picture B"_ba);

        const QStringList state = b.state();
        QCOMPARE(b.backup(second), Outcome::Succeeded);
        QCOMPARE(b.state(), state);
    }
    void endsEarlyLeavingEverythingAsItWas_data()
    {
        QTest::addColumn<QString>("named"); // what the error names; "" for a cancel
        QTest::newRow("cancelled") << u""_s;
        QTest::newRow("folder blocked by a file") << u"Documents/stickers"_s;
        QTest::newRow("disk full") << u"Documents/Attachments/v1.mp4"_s;
        QTest::newRow("store lacks a table") << u"ZRECENTSLINE"_s;
    }
    void endsEarlyLeavingEverythingAsItWas()
    {
        QFETCH(QString, named);
        Bench b;
        const ViberDataPtr source = b.sample();
        QList<_ViberMsg *> all = source->messages.values();
        std::sort(all.begin(), all.end(), [](auto *x, auto *y) { return x->id < y->id; });
        // A database holding a few of the messages already, and a file of its own.
        QCOMPARE(b.backup(all.mid(0, 5)), Outcome::Succeeded);
        writeFile(b.folder + u"/Documents/Attachments/p1.jpg"_s, "was there before");
        if (named.endsWith(u"stickers"))
            writeFile(b.folder + u'/' + named, "in the way");
        const bool full = named.endsWith(u".mp4");
        for (const _ViberMsg *m : all) // too big for the limit set below
            if (full && m->attachment && m->attachment->fileName == u"v1.mp4")
                writeFile(m->attachment->filePath, QByteArray(4 << 20, 'x'));
        if (named == u"ZRECENTSLINE")
            fixtures::exec(b.store(), u"drop table ZRECENTSLINE"_s);
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
        QVERIFY(b.reporter->successes.isEmpty());
        QCOMPARE(b.reporter->errors.size(), named.isEmpty() ? 0 : 1);
        const QString error = b.reporter->errors.value(0);
        QVERIFY2(
            error.contains(QDir::toNativeSeparators(named.contains(u'/') ? b.folder + u'/' + named : named)),
            qPrintable(error));
        QCOMPARE(b.state(), state);
    }
    void nothingIsWrittenOutsideTheFolder()
    {
        QTemporaryDir outer;
        const QString fine = outer.filePath(u"fine.jpg"_s);
        writeFile(outer.filePath(u"secret.txt"_s), "not the user's attachment");
        writeFile(fine, "a picture");
        // A database folder whose attachments folder links elsewhere.
        const QString folder = outer.filePath(u"db/Work"_s);
        QVERIFY(QDir().mkpath(outer.filePath(u"elsewhere"_s)) && QDir().mkpath(folder + u"/Documents"_s));
        QVERIFY(QFile::link(outer.filePath(u"elsewhere"_s), folder + u"/Documents/Attachments"_s));
        const QRegularExpression outsideTheFolder(u"^(?!db/Work/)"_s);
        const QStringList outside = fixtures::filesBelow(outer.path()).filter(outsideTheFolder);

        // Names climbing out of the database.
        Records r;
        _ViberPerson &ann = r.person(u"../../../evil"_s);
        ann.contactIconPath = fine;
        _ViberChat &chat = r.chat({&ann});
        for (const QString &name :
             {u"../../../escaped.jpg"_s, u"/tmp/absolute.jpg"_s, u"..\\..\\..\\escaped2.jpg"_s, QString()}) {
            _ViberMsg &m = r.message(chat, &ann, ViberMsgStateReceived, QString(), 7e8 + r.messages().size(),
                                     r.messages().size() + 1);
            _ViberAtta &a = !name.isEmpty()
                                ? r.attachment(m, ViberMsgTypePicture, name)
                                : r.attachment(m, ViberMsgTypeSticker, QString(), u"../../../../s"_s);
            a.filePath = a.previewPath = fine;
        }
        BackupViberMsgThread worker(r.messages(), QDir(folder));
        QVERIFY(testsupport::runToEnd(worker));
        QCOMPARE(LocalDatabases::load(folder)->messages.size(), 4);
        QCOMPARE(fixtures::filesBelow(outer.path()).filter(outsideTheFolder), outside);
        QVERIFY(readFile(u"/tmp/absolute.jpg"_s) != readFile(fine));
    }
    void deletesRowsButNoFiles_data()
    {
        QTest::addColumn<QString>("end");
        for (const char *end : {"deleted", "cancelled", "failed"})
            QTest::newRow(end) << QString::fromLatin1(end);
    }
    // What goes goes whole; a cancelled or failing run, the failure coming after other rows
    // went, keeps every row.
    void deletesRowsButNoFiles()
    {
        QFETCH(QString, end);
        Bench db;
        db.localSample();
        if (end == u"failed"_s) {
            fixtures::exec(db.store(), u"create trigger refuse before delete on ZVIBERLOCATION begin "
                                       "select raise(abort, 'location rows are kept'); end"_s);
            // The program runs no store's triggers; this one is switched on as the fault.
            db.local->open();
            db.local->setTriggersEnabled(true);
        }
        // Fay's only message, Bob's text but not his call, a picture, both locations,
        // Ann's newest message and one call.
        const QList<_ViberMsg *> selection = db.messages(
            {u"fayText"_s, u"bobText"_s, u"picture"_s, u"location"_s, u"locationAttachment"_s, u"other"_s},
            {u"annIncoming"_s});
        QVERIFY(!selection.contains(nullptr));
        const QString picture = selection[2]->attachment->filePath;
        QStringList keys;
        for (const _ViberMsg *m : selection)
            keys << QString::number(m->id);
        if (end != u"deleted"_s) {
            const QStringList rows = fixtures::storeRows(db.store());
            QCOMPARE(db.remove(selection, end == u"cancelled"_s ? 2 : 0),
                     end == u"cancelled"_s ? Outcome::Cancelled : Outcome::Failed);
            const QString error = db.reporter->errors.join(u'|');
            QVERIFY(db.reporter->successes.isEmpty());
            QVERIFY2(end == u"cancelled"_s ? error.isEmpty() : error.contains(u"location rows are kept"_s),
                     qPrintable(error));
            QCOMPARE(fixtures::storeRows(db.store()), rows);
            return;
        }
        const qint64 messages = db.count(u"ZVIBERMESSAGE"_s), calls = db.count(u"ZRECENT"_s);

        QCOMPARE(db.remove(selection), Outcome::Succeeded);
        QCOMPARE(db.reporter->successes, QStringList(u"Successfully deleted 7 messages."_s));
        QCOMPARE(db.count(u"ZVIBERMESSAGE"_s), messages - 6);
        QCOMPARE(db.count(u"ZRECENT"_s), calls - 1);
        QCOMPARE(db.count(u"ZRECENT"_s, u"Z_PK=%1"_s.arg(selection[6]->call->id)), 0);
        QCOMPARE(
            db.count(QStringLiteral("(select Z_PK as k from ZVIBERMESSAGE union all select ZMESSAGE from "
                                    "ZATTACHMENT union all select ZMESSAGE from ZVIBERLOCATION)"),
                     u"k in (%1)"_s.arg(keys.join(u','))),
            0);
        QVERIFY(QFileInfo(picture).isFile());
        // Every conversation left has messages, and the date of its newest; Fay's and Bob's went.
        QCOMPARE(fixtures::rows(db.store(), kStaleDates), u"0"_s);
        QCOMPARE(db.count(u"ZCONVERSATION"_s,
                          u"Z_PK in (%1,%2)"_s.arg(db.plan.chat(u"fay"_s).pk).arg(db.plan.chat(u"bob"_s).pk)),
                 0);

        // Again, with records of the older load whose keys now hold other rows: nothing goes.
        db.local->open(); // drops the participant links of the conversations that went
        db.local->close();
        const QStringList rows = fixtures::storeRows(db.store());
        _ViberMsg staleMessage = *db.messages({u"received"_s}).value(0);
        ++staleMessage.token;
        _ViberCall staleCall = *db.messages({}, {u"bobOutgoing"_s}).value(0)->call;
        ++staleCall.callToken;
        _ViberMsg staleCallEntry;
        staleCallEntry.type = ViberMsgTypeCall;
        staleCallEntry.call = &staleCall;
        QCOMPARE(db.remove(selection + QList<_ViberMsg *>{&staleMessage, &staleCallEntry}),
                 Outcome::Succeeded);
        QCOMPARE(db.reporter->successes, QStringList(u"Successfully deleted 0 messages."_s));
        QCOMPARE(fixtures::storeRows(db.store()), rows);
    }
};

QTEST_GUILESS_MAIN(TestBackupViberMsgThread)
#include "tst_backupviber.moc"
