#include "support/StoreFixtures.h"
#include "support/TestSupport.h"

#include "viber/AttachmentPreviews.h"
#include "viber/IOSViberDb.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

using fixtures::StoreLayout;

Q_DECLARE_METATYPE(fixtures::StoreLayout)

namespace {

const QString kFile = QString::fromLatin1(fixtures::kStoreFileName);

QString errorOf(IOSViberDb &db)
{
    try {
        db.load();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}

// Every file and folder below root, relative to it.
QStringList filesBelow(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(root).relativeFilePath(it.next());
    out.sort();
    return out;
}

QByteArray fileHash(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1)
                                       : QByteArray();
}

// SQL run on a store file behind the reader's back, as another program would.
void exec(const QString &path, const QString &sql)
{
    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::ReadWrite);
    db.execThrow(sql);
}

qint64 count(const QString &path, const QString &from)
{
    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::ReadWrite);
    Sqlite3Cursor c = db.queryThrow(QStringLiteral("select count(*) from ") + from);
    return c.moveNext() ? c.getInt64At(0) : -1;
}

ViberDataPtr loadFrom(const QString &root)
{
    return IOSViberDb(QDir(root), kFile).load();
}

// The sample store, written in a folder of its own.
struct Sample
{
    explicit Sample(StoreLayout layout) { fixtures::writeStore(plan, dir.path(), layout); }
    QString path() const { return dir.filePath(kFile); }
    QString root() const { return QDir(dir.path()).absolutePath(); }
    QTemporaryDir dir;
    const fixtures::StoreSpec plan = fixtures::sampleStore();
};

// What a load produces beyond messageContent: keys, links, carried columns, names
// and paths relative to the root, so that loads of one content in two layouts
// compare equal. recordIconPath is left out: only a phone's layout has record ids.
QStringList dump(const ViberData &data, const QString &root)
{
    QStringList lines = fixtures::messageContent(data);
    auto add = [&](const char *kind, const _ViberEntity *e, const QStringList &fields) {
        lines << (QStringList{kind, QString::number(e->id), QString::fromLatin1(e->other.toHex())} + fields)
                     .join('|');
    };
    auto rel = [&](const QString &path) { return path.isEmpty() ? path : QDir(root).relativeFilePath(path); };
    auto id = [](const _ViberEntity *e) { return QString::number(e ? e->id : 0); };
    for (const _ViberPerson *p : data.persons)
        add("person", p, {p->phone, p->name, p->viberIconPath, rel(p->contactIconPath)});
    for (const _ViberChat *c : data.chats) {
        QStringList members, messages;
        for (const _ViberPerson *p : c->participants)
            members << id(p);
        for (const _ViberMsg *m : c->messages)
            messages << id(m);
        members.sort();
        add("chat", c,
            {QString::number(c->date, 'f', 3), c->name, c->groupId, members.join(','), messages.join(',')});
    }
    for (const _ViberMsg *m : data.messages)
        add("msg", m, {id(m->chat), id(m->person), id(m->attachment), id(m->call)});
    for (const _ViberAtta *a : data.attachments)
        add("att", a, {id(a->message), a->bucket, rel(a->filePath), rel(a->previewPath)});
    for (const _ViberCall *c : data.calls)
        add("call", c, {id(c->person)});
    lines.sort();
    return lines;
}

} // namespace

class TestIOSViberDb : public QObject
{
    Q_OBJECT

private slots:
    void brokenStoresAreClearErrors_data();
    void brokenStoresAreClearErrors();
    void missingStoreIsCreatedEmpty();
    void sampleStore();
    void madeUpCallChats();
    void callsWhoseEntryKeyIsTakenStay();
    void messageOfTwoLocationsLoadsOnce();
    void messagesFindTheirChatAndSender_data();
    void messagesFindTheirChatAndSender();
    void hostileNamesGiveNoPaths();
    void storeWithoutParticipantTables();
    void loadingChangesNothingOpeningCleansOrphans_data();
    void loadingChangesNothingOpeningCleansOrphans();
    void loadsWhileAnotherProgramWrites();
    void loadReportsProgressAndStopsWhenAsked();
    void realStore();
};

void TestIOSViberDb::brokenStoresAreClearErrors_data()
{
    QTest::addColumn<QString>("damage"); // "folder", "junk" or the table dropped
    QTest::addColumn<QString>("named");  // what the message names, below the root
    QTest::addColumn<QString>("says");
    QTest::newRow("missing folder") << "folder" << QStringLiteral("Documents") << "does not exist";
    QTest::newRow("not a database") << "junk" << kFile << "not an SQLite database";
    for (const char *table : {"ZVIBERMESSAGE", "Z_PRIMARYKEY", "ZATTACHMENT"})
        QTest::newRow(table) << table << kFile << QStringLiteral("the table %1 is missing").arg(table);
}

void TestIOSViberDb::brokenStoresAreClearErrors()
{
    QFETCH(QString, damage);
    QFETCH(QString, named);
    QFETCH(QString, says);
    QTemporaryDir dir;
    const QString path = dir.filePath(kFile);
    if (damage == "junk") {
        QVERIFY(QDir(dir.path()).mkdir("Documents"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("<html>This is a download error page, not a store.</html>\n").repeated(200));
    } else if (damage != "folder") {
        fixtures::writeStore(fixtures::sampleStore(), dir.path(), StoreLayout::Phone);
        exec(path, "DROP TABLE " + damage);
    }
    const QStringList files = filesBelow(dir.path());
    const QByteArray hash = fileHash(path);

    IOSViberDb db(QDir(dir.path()), kFile);
    const QString error = errorOf(db);
    QVERIFY2(error.contains(QDir::toNativeSeparators(dir.filePath(named))) && error.contains(says),
             qPrintable(error));
    QVERIFY(!db.isOpen());
    QCOMPARE(filesBelow(dir.path()), files);
    QCOMPARE(fileHash(path), hash);
    // A second attempt fails the same way instead of treating the file as open.
    QCOMPARE(errorOf(db), error);
}

void TestIOSViberDb::missingStoreIsCreatedEmpty()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("Documents"));
    const QString name = QStringLiteral("Documents/Contacts-corvanta.data");
    IOSViberDb db(QDir(dir.path()), name);
    const ViberDataPtr data = db.load();
    QVERIFY(!db.isOpen()); // loading keeps nothing open
    QVERIFY(data->chats.isEmpty() && data->persons.isEmpty() && data->messages.isEmpty() &&
            data->attachments.isEmpty() && data->calls.isEmpty());
    // No half-built or temporary file stays beside the store.
    QCOMPARE(filesBelow(dir.path()), QStringList({"Documents", name}));

    // Loading it again finds the same store, in this program's layout, instead of building another.
    const QByteArray before = fileHash(db.fullPath());
    IOSViberDb again(QDir(dir.path()), name);
    QVERIFY(again.load()->messages.isEmpty());
    QCOMPARE(again.joinTable(), "Z_4PHONENUMINDEXES");
    QCOMPARE(fileHash(db.fullPath()), before);
}

void TestIOSViberDb::loadReportsProgressAndStopsWhenAsked()
{
    const Sample s(StoreLayout::Template);
    IOSViberDb db(QDir(s.root()), kFile);
    QList<int> seen;
    db.setLoadProgress([&](int percent) { seen << percent; });
    const qint64 all = db.load()->messages.size();
    QVERIFY(all > 0);
    QCOMPARE(seen.first(), 0);
    QCOMPARE(seen.last(), 100);
    QVERIFY(std::is_sorted(seen.begin(), seen.end()));
    // A cancel raised from the callback ends the read; the store is not left open.
    db.setLoadProgress([](int percent) {
        if (percent > 0)
            throw -1;
    });
    bool stopped = false;
    try {
        db.load();
    } catch (int) {
        stopped = true;
    }
    QVERIFY(stopped && !db.isOpen());
    db.setLoadProgress({});
    QCOMPARE(db.load()->messages.size(), all);
}

void TestIOSViberDb::sampleStore()
{
    // Both layouts load the same records; the details are checked on the phone's.
    const Sample s(StoreLayout::Phone), inTemplate(StoreLayout::Template);
    const ViberDataPtr data = loadFrom(s.root());
    AttachmentPreviews::makeMissing(*data);
    QCOMPARE(dump(*data, s.root()), dump(*loadFrom(inTemplate.root()), inTemplate.root()));
    // The phone's own columns arrived as carried values of their declared kinds.
    const QVariantMap group = readExtraColumns(data->chats.value(s.plan.chat("group").pk));
    QCOMPARE(
        group,
        QVariantMap({{"Z_OPT", 4}, {"ZCONTEXT", 77}, {"ZSMARTNOTIFICATIONSHOWN", 1}, {"ZSMARTSTATE", 2}}));
    QCOMPARE(group.value("ZCONTEXT").typeId(), QMetaType::LongLong);

    const QDir documents(s.root() + "/Documents");
    auto rel = [&](const QString &path) { return path.isEmpty() ? "-" : documents.relativeFilePath(path); };
    QHash<qint64, QString> label, chatLabel;
    for (const fixtures::PersonSpec &p : s.plan.persons)
        label.insert(p.pk, p.label);
    for (const fixtures::ChatSpec &c : s.plan.chats)
        chatLabel.insert(c.pk, c.label);
    auto labelOf = [&](const _ViberPerson *p) { return p ? label.value(p->id) : QStringLiteral("-"); };
    auto chatOf = [&](const _ViberChat *c) { return chatLabel.value(c->id, QString::number(c->id)); };

    // Persons: contact names win, digits-only numbers get a "+".
    QStringList persons;
    for (const fixtures::PersonSpec &rec : s.plan.persons)
        persons << rec.label + ' ' + data->persons.value(rec.pk)->name + ' ' +
                       data->persons.value(rec.pk)->phone;
    QCOMPARE(data->persons.size(), persons.size());
    QCOMPARE(persons.join(", "),
             "ann Ann Contact +4915111111111, bob Bob +4915222222222, cleo Cleo +4915333333333, "
             "dan Dan +4915444444444, eve Eve Contact +4915555555555, fay Fay fay.viber");
    const _ViberPerson *ann = data->persons.value(s.plan.person("ann").pk);
    QCOMPARE(
        QStringList({ann->viberIconPath, rel(ann->contactIconPath), ann->recordIconPath}).join(' '),
        "/Documents/ViberIcons/ann-icon.jpg ContactIcons/4915111111111.jpg /Documents/ContactIcons/11.jpg");
    QCOMPARE(rel(data->persons.value(s.plan.person("fay").pk)->contactIconPath),
             "ContactIcons/fay.viber.jpg");

    // Chats: name, group id, participants and entries; the made-up chat -6 holds Dan's calls.
    QStringList chats;
    for (const _ViberChat *c : data->chats) {
        QStringList members;
        for (const _ViberPerson *p : c->participants)
            members << labelOf(p);
        members.sort();
        chats << QStringList{chatOf(c), c->name, c->groupId, members.join('+'),
                             QString::number(c->messages.size())}
                     .join('|');
    }
    chats.sort();
    QCOMPARE(chats.join(", "),
             "-6|Dan||dan|2, ann|||ann|18, bob|||bob|2, cleo|||cleo|1, empty||||0, fay|||fay|1, "
             "group|Friends|G-FRIENDS|ann+bob+eve|4");

    // Messages: type, system kind, state and sender; "-" when not loaded. System types
    // match in any letter case. Types: 2 picture, 3 location, 4 system, 5 audio,
    // 6 sticker, 7 text, 8 video, 9 file.
    QStringList messages;
    for (const fixtures::MessageSpec &rec : s.plan.messages) {
        const _ViberMsg *m = data->messages.value(rec.pk);
        messages << rec.label + (m ? QStringLiteral(" %1 %2 %3 %4")
                                         .arg(m->type)
                                         .arg(m->systemKind)
                                         .arg(m->state)
                                         .arg(labelOf(m->person))
                                   : QStringLiteral(" -"));
    }
    QCOMPARE(
        messages.join(", "),
        "received 7 0 2 ann, sending 7 0 1 -, delivered 7 0 1 -, send 7 0 3 -, pending 7 0 4 -, "
        "pendingNotSent 7 0 4 -, failed -, nameChanged 4 1 4 ann, memberAdded 4 2 2 ann, memberAddedEmpty -, "
        "unknownSystem -, noChat -, location 3 0 2 ann, picture 2 0 2 ann, pictureSmall 2 0 2 ann, "
        "pictureBig 2 0 2 ann, picturePng 2 0 2 ann, video 8 0 2 ann, videoNoPreview 8 0 2 ann, "
        "audio 5 0 2 ann, sticker 6 0 2 ann, locationAttachment 3 0 2 ann, other 9 0 2 ann, "
        "groupText 7 0 2 eve, groupNoSender 7 0 1 -, bobText 7 0 2 bob, fayText 7 0 2 fay");
    auto msg = [&](const char *l) { return data->messages.value(s.plan.message(l).pk); };
    const fixtures::MessageSpec &want = s.plan.message("received");
    const _ViberMsg *received = msg("received");
    QCOMPARE(received->text, "Hello 😀");
    QVERIFY(received->token == want.token && received->seq == want.seq && received->date == want.date &&
            received->stateDate == want.stateDate);
    QCOMPARE(msg("memberAdded")->text, "4915555555555");
    const _ViberMsg *location = msg("location");
    QCOMPARE(
        QStringLiteral("%1,%2 %3").arg(location->latitude).arg(location->longitude).arg(location->address),
        "48.1,11.58 Marienplatz, München");
    QVERIFY(!location->attachment);
    // Messages come first in store order, call entries after them.
    const QList<_ViberMsg *> &annChat = received->chat->messages;
    QVERIFY(annChat.first() == received && annChat.last()->type == ViberMsgTypeCall);

    // Attachments: message type, file and preview (one is made where the store has none).
    QStringList attachments;
    for (const fixtures::AttachmentSpec &rec : s.plan.attachments) {
        const _ViberAtta *a = data->attachments.value(rec.pk);
        QVERIFY(!a || a->message->attachment == a);
        attachments << rec.label + (a ? QStringLiteral(" %1 %2 %3")
                                            .arg(a->message->type)
                                            .arg(rel(a->filePath), rel(a->previewPath))
                                      : QStringLiteral(" -"));
    }
    QCOMPARE(attachments.join(", "),
             "picture 2 Attachments/p1.jpg BigAttachmentsPreview/p1.jpg, "
             "pictureSmall 2 Attachments/p2.jpg AttachmentsPreview/p2.jpg, "
             "pictureBig 2 Attachments/p3.jpg BigAttachmentsPreview/p3.jpg, "
             "picturePng 2 Attachments/p4.png BigAttachmentsPreview/p4.png, "
             "video 8 Attachments/v1.mp4 BigAttachmentsPreview/v1.jpg, "
             "videoNoPreview 8 Attachments/v2.mov AttachmentsPreview/v2.jpg, audio 5 VoiceMessages/a1.m4a -, "
             "sticker 6 - stickers/1200/100/00001234.png, locationAttachment 3 - "
             "CustomLocationImage/48.123457_11.jpg, "
             "other 9 Attachments/doc.pdf -, ofFailed -");
    auto att = [&](const char *l) { return data->attachments.value(s.plan.attachment(l).pk); };
    QCOMPARE(QImage(att("picture")->previewPath).size(), QSize(400, 300));
    QCOMPARE(QImage(att("pictureBig")->previewPath).size(), QSize(40, 30)); // not remade
    QCOMPARE(QImage(att("picturePng")->previewPath).size(), QSize(200, 400));
    QVERIFY(!QFile::exists(att("videoNoPreview")->previewPath)); // a video is no picture to scale
    QCOMPARE(photoAssetId(att("picture")), "AB12-CD34");
    QCOMPARE(att("video")->duration, 61.5);
    QCOMPARE(att("other")->type, "file");

    // Calls: type, chat and person; unknown types and unknown persons are not loaded.
    QStringList calls;
    for (const fixtures::CallSpec &rec : s.plan.calls) {
        const _ViberCall *c = data->calls.value(rec.pk);
        const _ViberMsg *entry = data->messages.value(-rec.pk);
        QCOMPARE(!entry, !c);
        if (!c) {
            calls << rec.label + " -";
            continue;
        }
        QVERIFY(entry->type == ViberMsgTypeCall && entry->call == c && entry->date == rec.date);
        QVERIFY(c->callToken == rec.token && c->duration == rec.duration && c->date == rec.date);
        calls << QStringLiteral("%1 %2 %3 %4")
                     .arg(rec.label)
                     .arg(c->type)
                     .arg(chatOf(entry->chat), labelOf(c->person));
    }
    QCOMPARE(calls.join(", "), "annIncoming 1 ann ann, bobOutgoing 2 bob bob, danMissed 3 -6 dan, "
                               "danIncoming 1 -6 dan, cleoMissed 3 cleo cleo, unknownType -, nobody -");
    // A chat's date is raised to its latest call.
    QCOMPARE(data->chats.value(-6)->date, s.plan.call("danIncoming").date);
    QCOMPARE(data->chats.value(s.plan.chat("cleo").pk)->date, s.plan.call("cleoMissed").date);
}

void TestIOSViberDb::madeUpCallChats()
{
    fixtures::StoreSpec plan; // persons 1 to 5: "a" to "e", numbers 111 to 555
    for (const char *name : {"a", "b", "c", "d", "e"})
        plan.addPerson(name, QString(3, QLatin1Char(name[0] - 'a' + '1')), QString(name).toUpper());
    plan.addChat("a", {1});
    plan.addChat("group", {1, 2}, "G1");
    // A group with one member left does not take the calls of its member's own chat.
    plan.addChat("cOwn", {3});
    plan.addChat("cGroup", {3}, "G2");
    plan.addCall("b1", 2, "incoming");
    // A call of no known type makes up no (empty) chat and takes no id.
    plan.addCall("e1", 5, "conference");
    plan.addCall("d1", 4, "outgoing");
    plan.addCall("b2", 2, "missed");
    plan.addCall("c1", 3, "missed");
    QTemporaryDir dir;
    fixtures::writeStore(plan, dir.path(), StoreLayout::Template);
    const ViberDataPtr data = loadFrom(dir.path());

    auto chatOf = [&](const char *call) { return data->messages.value(-plan.call(call).pk)->chat; };
    QCOMPARE(data->chats.size(), 6);
    QCOMPARE(chatOf("b1")->id, -4);
    QCOMPARE(chatOf("d1")->id, -5);
    QCOMPARE(chatOf("b2"), chatOf("b1"));
    QCOMPARE(chatOf("b1")->name, "B");
    QCOMPARE(chatOf("c1")->id, plan.chat("cOwn").pk);
}

void TestIOSViberDb::callsWhoseEntryKeyIsTakenStay()
{
    fixtures::StoreSpec plan;
    const qint64 a = plan.addPerson("a", "111", "A").pk;
    const qint64 chat = plan.addChat("a", {a}).pk;
    plan.addMessage("m", chat, a, "received", "five").pk = 5;
    // Only a hostile store has negative keys; its messages are loaded all the same.
    plan.addMessage("minusSeven", chat, a, "received", "minus seven").pk = -7;
    plan.addMessage("minusOne", chat, a, "received", "minus one").pk = -1;
    // A call's entry is keyed by the call's key negated: 7's would take message -7's
    // key, and -5 and INT64_MIN have no negative negation.
    plan.addCall("negative", a, "incoming").pk = -5;
    plan.addCall("lowest", a, "missed").pk = std::numeric_limits<qint64>::min();
    plan.addCall("plain", a, "outgoing").pk = 7;
    QTemporaryDir dir;
    fixtures::writeStore(plan, dir.path(), StoreLayout::Template);
    const ViberDataPtr data = loadFrom(dir.path());

    QCOMPARE(data->calls.size(), 3);
    QCOMPARE(data->messages.value(5)->text + ", " + data->messages.value(-7)->text + ", " +
                 data->messages.value(-1)->text,
             "five, minus seven, minus one");
    QSet<const _ViberCall *> entries;
    for (const _ViberMsg *m : data->chats.value(chat)->messages)
        if (m->type == ViberMsgTypeCall)
            entries.insert(m->call);
    QCOMPARE(entries.size(), 3);
    QCOMPARE(data->chats.value(chat)->messages.size(), 6);
}

void TestIOSViberDb::messageOfTwoLocationsLoadsOnce()
{
    fixtures::StoreSpec plan;
    const qint64 a = plan.addPerson("a", "111", "A").pk;
    const qint64 chat = plan.addChat("a", {a}).pk;
    const qint64 pin = plan.addMessage("pin", chat, a, "received", QString(), "customLocation").pk;
    plan.addMessage("after", chat, a, "received", "after");
    // Two rows of the reading join for one message: the first one counts.
    plan.addLocation("first", pin, 48.1, 11.5, "First");
    plan.addLocation("second", pin, 52.5, 13.4, "Second");
    QTemporaryDir dir;
    fixtures::writeStore(plan, dir.path(), StoreLayout::Phone);
    const ViberDataPtr data = loadFrom(dir.path());
    QCOMPARE(data->messages.size(), 2);
    QCOMPARE(data->chats.value(chat)->messages.size(), 2);
    QCOMPARE(data->messages.value(pin)->address, "First");
}

void TestIOSViberDb::messagesFindTheirChatAndSender_data()
{
    QTest::addColumn<QList<qint64>>("keys"); // of a person, its chat and their message each
    QTest::newRow("numbered from 1") << QList<qint64>{1, 2, 3};
    QTest::newRow("zero and negative") << QList<qint64>{0, -3, 2};
    QTest::newRow("far apart") << QList<qint64>{1, qint64(1) << 40, 7};
}

void TestIOSViberDb::messagesFindTheirChatAndSender()
{
    QFETCH(QList<qint64>, keys);
    fixtures::StoreSpec plan;
    for (qint64 key : keys) {
        const QString label = QString::number(key);
        plan.addPerson(label, QString::number(1000 + std::abs(key) % 1000)).pk = key;
        plan.addChat(label, {key}).pk = key;
        plan.addMessage(label, key, key, "received", label).pk = key;
    }
    QTemporaryDir dir;
    fixtures::writeStore(plan, dir.path(), StoreLayout::Template);
    const ViberDataPtr data = loadFrom(dir.path());
    for (qint64 key : keys) {
        const _ViberMsg *m = data->messages.value(key);
        QVERIFY(m && m->chat && m->chat->id == key);
        // Only a positive key names a sender.
        QCOMPARE(m->person ? m->person->id : 0, key > 0 ? key : 0);
    }
}

void TestIOSViberDb::hostileNamesGiveNoPaths()
{
    QTemporaryDir outer;
    const QString root = outer.filePath("store");
    QVERIFY(QDir().mkpath(root));
    // A real picture outside the store, where a climbing name would lead a preview.
    const QString outside = outer.filePath("outside.jpg");
    QImage image(50, 20, QImage::Format_RGB32);
    image.fill(Qt::red);
    QVERIFY(image.save(outside, "JPG"));
    const QByteArray outsideHash = fileHash(outside);

    fixtures::StoreSpec plan;
    fixtures::PersonSpec &evil = plan.addPerson("evil", "../../evil", "Evil");
    evil.iconId = QStringLiteral("../../../../private/var/x");
    const qint64 chat = plan.addChat("chat", {evil.pk}).pk;
    auto add = [&](const QString &type, const QString &name, const QString &attId = QString()) {
        const qint64 m = plan.addMessage(type + name, chat, evil.pk, "received", QString()).pk;
        return plan.addAttachment(type + name, m, type, name, attId).pk;
    };
    QList<qint64> hostile;
    for (const char *name : {"../../../outside.jpg", "../Contacts.data"})
        for (const char *type : {"picture", "video", "audio", "file"})
            hostile << add(type, name);
    hostile << add("sticker", QString(), "../../../../../../x");
    const qint64 fine = add("picture", "ok.jpg");
    fixtures::writeStore(plan, root, StoreLayout::Phone);

    const ViberDataPtr data = loadFrom(root);
    QCOMPARE(data->attachments.size(), int(plan.attachments.size()));
    for (qint64 id : hostile) {
        const _ViberAtta *a = data->attachments.value(id);
        QVERIFY(a && a->message->attachment == a);
        QVERIFY2(a->filePath.isEmpty() && a->previewPath.isEmpty(), qPrintable(a->fileName + " " + a->attId));
    }
    QCOMPARE(data->attachments.value(fine)->filePath,
             QDir(root).absoluteFilePath("Documents/Attachments/ok.jpg"));
    const _ViberPerson *p = data->persons.value(evil.pk);
    QVERIFY(p->contactIconPath.isEmpty() && p->viberIconPath.isEmpty());
    QCOMPARE(fileHash(outside), outsideHash);
    QCOMPARE(filesBelow(outer.path()).filter("outside"), QStringList({"outside.jpg"}));
}

void TestIOSViberDb::storeWithoutParticipantTables()
{
    const Sample s(StoreLayout::Template);
    exec(s.path(), "DROP TABLE ZPHONENUMBERINDEX; DROP TABLE Z_4PHONENUMINDEXES");
    const ViberDataPtr data = loadFrom(s.root());
    QVERIFY(data->persons.isEmpty() && data->calls.isEmpty());
    QCOMPARE(data->chats.size(), int(s.plan.chats.size())); // no person, so no made-up call chats
    const _ViberMsg *m = data->messages.value(s.plan.message("received").pk);
    QVERIFY(m && !m->person);
}

void TestIOSViberDb::loadingChangesNothingOpeningCleansOrphans_data()
{
    QTest::addColumn<QString>("setup");
    // Cleaning orphans fired this: most messages went and every chat was renamed.
    QTest::newRow("store's own trigger") << QStringLiteral(
        "CREATE TRIGGER evil AFTER DELETE ON ZATTACHMENT BEGIN "
        "DELETE FROM ZVIBERMESSAGE WHERE Z_PK % 8 <> 0; UPDATE ZCONVERSATION SET ZNAME='pwned'; END");
    QTest::newRow("write-ahead log") << QStringLiteral("PRAGMA journal_mode=WAL");
    // A table the program never reads, of a module this SQLite lacks.
    QTest::newRow("unknown virtual table") << QStringLiteral(
        "PRAGMA writable_schema=ON; INSERT INTO sqlite_master(type, name, tbl_name, rootpage, sql) "
        "VALUES('table', 'ZSEARCH', 'ZSEARCH', 0, 'CREATE VIRTUAL TABLE ZSEARCH USING nosuch(x)')");
}

void TestIOSViberDb::loadingChangesNothingOpeningCleansOrphans()
{
    QFETCH(QString, setup);
    const Sample clean(StoreLayout::Phone), s(StoreLayout::Phone);
    // Rows of a chat and of messages that do not exist.
    exec(s.path(),
         "INSERT INTO Z_5PHONENUMINDEXES (Z_5CONVERSATIONS, Z_10PHONENUMINDEXES) VALUES (500, 1);"
         "INSERT INTO ZVIBERLOCATION (Z_PK, ZMESSAGE, ZLATITUDE, ZLONGITUDE) VALUES (900, 9999, 1, 2);"
         "INSERT INTO ZATTACHMENT (Z_PK, ZMESSAGE, ZTYPE, ZNAME) VALUES (900, 9999, 'picture', 'x.jpg');" +
             setup);
    // Previews a load makes for pictures without one are no change of the store.
    auto storeFiles = [&] {
        QStringList files = filesBelow(s.root());
        files.removeIf([](const QString &f) { return f.contains("AttachmentsPreview"); });
        return files;
    };
    const QStringList files = storeFiles();
    const QByteArray hash = fileHash(s.path());
    const qint64 joins = count(s.path(), "Z_5PHONENUMINDEXES");
    const qint64 attachments = count(s.path(), "ZATTACHMENT");
    const qint64 messages = count(s.path(), "ZVIBERMESSAGE");

    IOSViberDb db(QDir(s.root()), kFile);
    QCOMPARE(fixtures::messageContent(*db.load()), fixtures::messageContent(*loadFrom(clean.root())));
    QVERIFY(!db.isOpen());
    QCOMPARE(storeFiles(), files);
    QCOMPARE(fileHash(s.path()), hash);

    // Opening for writing deletes exactly the orphans, and still runs nothing of the store's.
    db.open();
    db.close();
    QCOMPARE(count(s.path(), "Z_5PHONENUMINDEXES"), joins - 1);
    QCOMPARE(count(s.path(), "Z_5PHONENUMINDEXES where Z_5CONVERSATIONS=500"), 0);
    QCOMPARE(count(s.path(), "ZVIBERLOCATION"), qint64(s.plan.locations.size()));
    QCOMPARE(count(s.path(), "ZATTACHMENT"), attachments - 1);
    // An attachment of a message that exists but is not loaded (state "failed") is no orphan.
    QCOMPARE(
        count(s.path(),
              QStringLiteral("ZATTACHMENT where Z_PK in (900, %1)").arg(s.plan.attachment("ofFailed").pk)),
        1);
    QCOMPARE(count(s.path(), "ZVIBERMESSAGE"), messages);
    QCOMPARE(count(s.path(), "ZCONVERSATION where ZNAME='pwned'"), 0);
}

void TestIOSViberDb::loadsWhileAnotherProgramWrites()
{
    const Sample s(StoreLayout::Template);
    const QStringList expected = fixtures::messageContent(*loadFrom(s.root()));
    Sqlite3DB writer;
    writer.openThrow(s.path(), Sqlite3DB::ReadWrite);
    writer.execThrow("BEGIN IMMEDIATE; DELETE FROM ZVIBERMESSAGE;");
    QCOMPARE(fixtures::messageContent(*loadFrom(s.root())), expected); // what was committed
    writer.execThrow("ROLLBACK");
}

void TestIOSViberDb::realStore()
{
    const QString real = testsupport::realDataDir();
    const QString source = real + "/viber-ios-2023/Contacts.data";
    if (real.isEmpty() || !QFile::exists(source))
        QSKIP("the real store is not available here");
    // Read where it lies: a store nobody here wrote, in a folder meant to stay as it is.
    const QString folder = QFileInfo(source).absolutePath();
    const QStringList files = filesBelow(folder);
    const QByteArray hash = fileHash(source);
    IOSViberDb db(QDir(folder), QFileInfo(source).fileName());
    const ViberDataPtr data = db.load();
    QCOMPARE(filesBelow(folder), files);
    QCOMPARE(fileHash(source), hash);
    QCOMPARE(db.joinTable() + ' ' + db.joinPersonColumn(), "Z_5PHONENUMINDEXES Z_10PHONENUMINDEXES");
    QCOMPARE(data->messages.size(), 2);
    QVERIFY(data->calls.isEmpty());
    const _ViberChat *chat = data->chats.value(2);
    QVERIFY(chat);
    QCOMPARE(chat->messages.size(), 2);
    for (const _ViberMsg *m : data->messages)
        QVERIFY(m->chat == chat && m->state == ViberMsgStateReceived && m->type == ViberMsgTypeText);
    QCOMPARE(data->messages.value(1)->text, "Hi there");
    QCOMPARE(data->messages.value(1)->token, Q_INT64_C(5864640032541822502));
    QVERIFY(data->messages.value(2)->text.startsWith("I’d like to invite you"));
    // This store keeps its participants as members with separate phone numbers.
    const _ViberPerson *sender = data->messages.value(1)->person;
    QVERIFY(sender);
    QCOMPARE(sender->name + ' ' + sender->phone, "Donncha +4915785097580");
    QCOMPARE(chat->participants.keys(), QList<qint64>({sender->id}));
}

QTEST_GUILESS_MAIN(TestIOSViberDb)
#include "tst_iosviberdb.moc"
