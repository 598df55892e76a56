#include "support/StoreFixtures.h"
#include "support/TestSupport.h"

#include "viber/AttachmentPreviews.h"
#include "viber/IOSViberDb.h"

#include <QImage>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

using namespace Qt::StringLiterals;

namespace {

const QString kFile = QString::fromLatin1(fixtures::kStoreFileName);

// A plan written as a store in a folder of its own.
struct Store
{
    explicit Store(fixtures::StoreLayout layout, fixtures::StorePlan content = fixtures::sampleStore())
        : plan(std::move(content))
    {
        fixtures::writeStore(plan, dir.path(), layout);
    }
    QString root() const { return QDir(dir.path()).absolutePath(); }
    QString path() const { return dir.filePath(kFile); }
    ViberDataPtr load() const { return IOSViberDb(QDir(root()), kFile).load(); }
    QTemporaryDir dir;
    const fixtures::StorePlan plan;
};

} // namespace

class TestIOSViberDb : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_phone = std::make_unique<Store>(fixtures::StoreLayout::Phone);
        m_template = std::make_unique<Store>(fixtures::StoreLayout::Template);
        m_data = m_phone->load();
        m_templateData = m_template->load();
        AttachmentPreviews::makeMissing(*m_data);
        AttachmentPreviews::makeMissing(*m_templateData);
    }
    void brokenStoresAreRefusedUntouched_data()
    {
        QTest::addColumn<QString>("damage"); // "folder", "junk" or the table dropped
        QTest::addColumn<QString>("named");  // what the message names, below the root
        QTest::addColumn<QString>("says");
        QTest::newRow("missing folder") << u"folder"_s << u"Documents"_s << u"does not exist"_s;
        QTest::newRow("not a database") << u"junk"_s << kFile << u"not an SQLite database"_s;
        for (const QString &table : {u"ZVIBERMESSAGE"_s, u"Z_PRIMARYKEY"_s, u"ZATTACHMENT"_s})
            QTest::newRow(qPrintable(table)) << table << kFile << u"the table %1 is missing"_s.arg(table);
    }
    void brokenStoresAreRefusedUntouched()
    {
        QFETCH(QString, damage);
        QFETCH(QString, named);
        QFETCH(QString, says);
        QTemporaryDir dir;
        const QString path = dir.filePath(kFile);
        if (damage == u"junk") {
            const QByteArray page("<html>This is a download error page, not a store.</html>\n");
            QVERIFY(testsupport::writeFile(path, page.repeated(200)));
        } else if (damage != u"folder") {
            fixtures::writeStore(fixtures::sampleStore(), dir.path(), fixtures::StoreLayout::Phone);
            fixtures::exec(path, u"DROP TABLE "_s + damage);
        }
        const QStringList files = fixtures::filesBelow(dir.path());

        IOSViberDb db(QDir(dir.path()), kFile);
        const QString error = testsupport::errorOf([&] { db.load(); });
        QVERIFY2(error.contains(QDir::toNativeSeparators(dir.filePath(named))) && error.contains(says),
                 qPrintable(error));
        QVERIFY(!db.isOpen());
        QCOMPARE(fixtures::filesBelow(dir.path()), files);
        // A second attempt fails the same way instead of treating the file as open.
        QCOMPARE(testsupport::errorOf([&] { db.load(); }), error);
    }
    void missingStoreIsCreatedEmpty()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(u"Documents"_s));
        const QString name = u"Documents/Contacts-corvanta.data"_s;
        IOSViberDb db(QDir(dir.path()), name);
        const ViberDataPtr data = db.load();
        QVERIFY(!db.isOpen()); // loading keeps nothing open
        QVERIFY(data->chats.isEmpty() && data->persons.isEmpty() && data->messages.isEmpty() &&
                data->calls.isEmpty() && data->account.balances() && data->account.leftOutTotal() == 0);
        // No half-built or temporary file stays beside the store, and loading again finds
        // the same store instead of building another.
        const QStringList files = fixtures::filesBelow(dir.path());
        QCOMPARE(files.size(), 2);
        IOSViberDb again(QDir(dir.path()), name);
        QVERIFY(again.load()->messages.isEmpty());
        QCOMPARE(fixtures::filesBelow(dir.path()), files);
    }
    void sampleStore_data()
    {
        // A record of the sample and what a load makes of it; "-": not loaded. Persons:
        // name and number (contact names win, digits-only numbers get a "+"). Chats: name,
        // group id, participants, entries (-6 is made up for Dan's calls, -7 for the call of
        // nobody the store holds, under a made-up unknown party). Messages: type,
        // system kind, state, sender (system types match in any letter case). Attachments:
        // message type, file, preview (the first folder's, else where the second's belongs;
        // made from pictures when missing) and its width. Calls: type, chat, person.
        QTest::addColumn<QString>("loaded");
        const QString table = uR"(
            person ann = Ann Contact|+4915111111111; person bob = Bob|+4915222222222;
            person cleo = Cleo|+4915333333333; person fay = Fay|fay.viber; chat -6 = Dan||dan|2;
            chat ann = ||ann|20; chat group = Friends|G-FRIENDS|ann+bob+eve|5; chat cleo = ||cleo|1;
            chat empty = |||0; message received = 7|0|2|ann; message sending = 7|0|1|-;
            message delivered = 7|0|1|-; message send = 7|0|3|-; message pending = 7|0|4|-;
            message pendingNotSent = 7|0|4|-; message failed = -; message nameChanged = 4|1|4|ann;
            message memberAdded = 4|2|2|ann; message memberAddedEmpty = 4|2|2|ann; message unknownSystem = 4|10|2|ann;
            message noChat = -; message location = 3|0|2|ann; message groupText = 7|0|2|eve;
            message groupNoSender = 7|0|1|-; message fayText = 7|0|2|fay;
            attachment picture = 2|Attachments/p1.jpg|BigAttachmentsPreview/p1.jpg|400;
            attachment pictureSmall = 2|Attachments/p2.jpg|AttachmentsPreview/p2.jpg|40;
            attachment pictureBig = 2|Attachments/p3.jpg|BigAttachmentsPreview/p3.jpg|40;
            attachment picturePng = 2|Attachments/p4.png|BigAttachmentsPreview/p4.png|200;
            attachment video = 8|Attachments/v1.mp4|BigAttachmentsPreview/v1.jpg|40;
            attachment videoNoPreview = 8|Attachments/v2.mov|AttachmentsPreview/v2.jpg|0;
            attachment audio = 5|VoiceMessages/a1.m4a|-|0; attachment other = 9|Attachments/doc.pdf|-|0;
            attachment sticker = 6|-|stickers/1200/100/00001234.png|40; attachment ofFailed = -;
            attachment locationAttachment = 3|-|CustomLocationImage/48.123457_11.jpg|40;
            call annIncoming = 1|ann|ann; call bobOutgoing = 2|bob|bob; call danMissed = 3|-6|dan;
            call danIncoming = 4|-6|dan; call cleoMissed = 3|cleo|cleo; call unknownType = 0|ann|ann;
            call nobody = 1|-7|-1; chat -7 = Unknown||-1|1)"_s;
        const QStringList rows = table.split(u';');
        for (const QString &row : rows)
            QTest::newRow(row.section(u'=', 0, 0).trimmed().toUtf8()) << row.section(u'=', 1).trimmed();
    }
    void sampleStore()
    {
        QFETCH(QString, loaded);
        const fixtures::StorePlan &plan = m_phone->plan;
        const ViberData &data = *m_data;
        const QString kind = QString::fromUtf8(QTest::currentDataTag()).section(u' ', 0, 0);
        const QString label = QString::fromUtf8(QTest::currentDataTag()).section(u' ', 1);
        auto labelOf = [](const auto &records, const _ViberEntity *e) {
            for (const auto &r : records)
                if (e && r.pk == e->id)
                    return r.label;
            return e ? QString::number(e->id) : u"-"_s;
        };
        const QDir documents(m_phone->root() + u"/Documents"_s);
        auto rel = [&](const QString &path) {
            return path.isEmpty() ? u"-"_s : documents.relativeFilePath(path);
        };
        auto n = [](qint64 value) { return QString::number(value); };
        QStringList got{u"-"_s};
        if (kind == u"person") {
            const _ViberPerson *p = data.persons.value(plan.person(label).pk);
            got = QStringList{p->name, p->phone};
        } else if (kind == u"chat") {
            const _ViberChat *c =
                data.chats.value(label.startsWith(u'-') ? label.toLongLong() : plan.chat(label).pk);
            QStringList members;
            for (const _ViberPerson *p : c->participants)
                members << labelOf(plan.persons, p);
            members.sort();
            got = QStringList{c->name, c->groupId, members.join(u'+'), n(c->messages.size())};
        } else if (kind == u"message") {
            if (const _ViberMsg *m = data.messages.value(plan.message(label).pk))
                got =
                    QStringList{n(m->type), n(m->systemKind), n(m->state), labelOf(plan.persons, m->person)};
        } else if (kind == u"attachment") {
            if (const _ViberAtta *a = data.attachments.value(plan.attachment(label).pk)) {
                QCOMPARE(a->message->attachment, a);
                got = QStringList{n(a->message->type), rel(a->filePath), rel(a->previewPath),
                                  n(QImage(a->previewPath).width())};
            }
        } else {
            const fixtures::CallPlan &call = plan.call(label);
            const _ViberCall *c = data.calls.value(call.pk);
            const _ViberMsg *entry = data.messages.value(-call.pk); // a call's entry has its key negated
            QCOMPARE(!entry, !c);
            if (c) {
                QVERIFY(entry->call == c && entry->date == call.date && c->callToken == call.token &&
                        c->duration == call.duration && c->date == call.date);
                got = QStringList{n(c->type), labelOf(plan.chats, entry->chat),
                                  labelOf(plan.persons, c->person)};
            }
        }
        QCOMPARE(got.join(u'|'), loaded);
    }
    void sampleStoreDetails()
    {
        // Both layouts load the same records, keys, carried values and files.
        QCOMPARE(fixtures::messageContent(*m_data, fixtures::Detail::Everything),
                 fixtures::messageContent(*m_templateData, fixtures::Detail::Everything));
        const fixtures::StorePlan &plan = m_phone->plan;
        const ViberData &data = *m_data;
        // The phone's own columns arrive as carried values of their declared kinds.
        const QVariantMap group = readExtraColumns(data.chats.value(plan.chat(u"group"_s).pk));
        QCOMPARE(group, (QVariantMap{{u"Z_OPT"_s, 4},
                                     {u"ZCONTEXT"_s, 77},
                                     {u"ZSMARTNOTIFICATIONSHOWN"_s, 1},
                                     {u"ZSMARTSTATE"_s, 2}}));
        QCOMPARE(group.value(u"ZCONTEXT"_s).typeId(), QMetaType::LongLong);

        const fixtures::MessagePlan &want = plan.message(u"received"_s);
        const _ViberMsg *received = data.messages.value(want.pk);
        QVERIFY(received->text == want.text && received->token == want.token && received->seq == want.seq &&
                received->date == want.date && received->stateDate == want.stateDate);
        const _ViberMsg *location = data.messages.value(plan.message(u"location"_s).pk);
        QVERIFY(location->latitude() == 48.1 && location->longitude() == 11.58 && !location->attachment);
        QCOMPARE(location->address(), u"Marienplatz, München"_s);
        // Messages come first in store order, call entries after them.
        QVERIFY(received->chat->messages.first() == received && received->chat->messages.last()->call);
        const _ViberAtta *picture = data.attachments.value(plan.attachment(u"picture"_s).pk);
        QCOMPARE(photoAssetId(picture), u"AB12-CD34"_s);
        QCOMPARE(data.attachments.value(plan.attachment(u"video"_s).pk)->duration, 61.5);
        // A chat's date is raised to its latest call.
        QCOMPARE(data.chats.value(-6)->date, plan.call(u"danIncoming"_s).date);
        QCOMPARE(data.chats.value(plan.chat(u"cleo"_s).pk)->date, plan.call(u"cleoMissed"_s).date);
    }
    // Every record read is counted, a row counted is a record, and only the sample's
    // deliberately broken rows are left out.
    void accountOfBothLayouts()
    {
        for (const ViberDataPtr &data : {m_data, m_templateData}) {
            const LoadAccount &account = data->account;
            QVERIFY2(account.balances(), qPrintable(account.imbalances().join(u"; "_s)));
            qint64 messages = 0;
            for (const _ViberMsg *m : std::as_const(data->messages))
                messages += m->type != ViberMsgTypeCall;
            const auto read = [&](LoadAccount::Kind kind) { return account.count(kind).read; };
            QCOMPARE((QList<qint64>{read(LoadAccount::Messages) + read(LoadAccount::SystemEvents),
                                    read(LoadAccount::Chats), read(LoadAccount::People),
                                    read(LoadAccount::Attachments), read(LoadAccount::Calls)}),
                     (QList<qint64>{messages, data->chats.size(), data->persons.size(),
                                    data->attachments.size(), data->calls.size()}));
            QStringList got;
            const QStringList lines = account.lines();
            for (const QString &line : lines)
                if (line.contains(u"left out: "_s))
                    got << line.section(u": "_s, 0, 0) + u": "_s + line.section(u"left out: "_s, 1);
            QCOMPARE(got, (QStringList{u"messages: 1 belong to no chat the store holds; 1 have the state "
                                       "\"failed\", which is no state of a sent or received message"_s,
                                       u"attachments: 1 belong to no message that was read"_s}));
        }
    }
    void aGroupOfOneTakesNoCalls()
    {
        // A group with one member left does not take the calls of its member's own chat.
        fixtures::StorePlan plan;
        const qint64 c = plan.addPerson(u"c"_s, u"333"_s, u"C"_s).pk;
        const qint64 own = plan.addChat(u"cOwn"_s, {c}).pk;
        plan.addChat(u"cGroup"_s, {c}, u"G2"_s);
        const qint64 call = plan.addCall(u"c1"_s, c, u"missed"_s).pk;
        const ViberDataPtr data = Store(fixtures::StoreLayout::Template, plan).load();
        QCOMPARE(data->messages.value(-call)->chat->id, own);
    }
    void readInHalvesAlike()
    {
        // A large message table is read in two halves of its keys side by side: the
        // records, their order in each chat and the account are those of one read.
        const Store odd(fixtures::StoreLayout::Phone, oddKeysPlan());
        for (const Store *store :
             std::initializer_list<const Store *>{m_phone.get(), m_template.get(), &odd}) {
            const ViberDataPtr whole = store->load();
            const qint64 usual = IOSViberDb::setSplitMessageRows(1);
            const auto restore = qScopeGuard([usual] { IOSViberDb::setSplitMessageRows(usual); });
            const ViberDataPtr halves = store->load();
            QCOMPARE(fixtures::messageContent(*halves, fixtures::Detail::Everything),
                     fixtures::messageContent(*whole, fixtures::Detail::Everything));
            QCOMPARE(halves->account.lines(), whole->account.lines());
            for (const _ViberChat *chat : std::as_const(whole->chats)) {
                QList<qint64> keys, halvesKeys;
                for (const _ViberMsg *m : chat->messages)
                    keys << m->id;
                for (const _ViberMsg *m : halves->chats.value(chat->id)->messages)
                    halvesKeys << m->id;
                QCOMPARE(halvesKeys, keys);
            }
        }
    }
    void oddKeysLoseNothing()
    {
        // Records of odd keys are loaded and linked all the same.
        const Store store(fixtures::StoreLayout::Phone, oddKeysPlan());
        const ViberDataPtr data = store.load();
        const qint64 chat = store.plan.chat(u"a"_s).pk;
        for (const qint64 key : kOddKeys) {
            const _ViberMsg *m = data->messages.value(key);
            QVERIFY(m && m->chat && m->chat->id == key);
            QCOMPARE(m->person ? m->person->id : 0, key > 0 ? key : 0); // only a positive key names a sender
        }
        QStringList texts;
        QSet<const _ViberCall *> calls;
        for (const _ViberMsg *m : std::as_const(data->chats.value(chat)->messages)) {
            if (m->call)
                calls.insert(m->call);
            else
                texts << m->text.toString() + m->address();
        }
        texts.sort();
        QCOMPARE(texts, QStringList({u"-1"_s, u"-7"_s, u"5"_s, u"First"_s}));
        QCOMPARE(calls.size(), 3);
        QCOMPARE(data->messages.size(), 10);
    }
    void hostileNamesAndLinksGiveNoPaths()
    {
        QTemporaryDir outer;
        const QString root = outer.filePath(u"store"_s), elsewhere = outer.filePath(u"elsewhere"_s);
        QVERIFY(QDir().mkpath(root) && QDir().mkpath(elsewhere));
        // A real picture outside the store, where a climbing name or a link would lead.
        const QString outside = outer.filePath(u"outside.jpg"_s);
        QImage image(50, 20, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(outside, "JPG"));

        fixtures::StorePlan plan;
        fixtures::PersonPlan &evil = plan.addPerson(u"evil"_s, u"../../evil"_s, u"Evil"_s);
        evil.iconId = u"../../../../private/var/x"_s;
        const qint64 chat = plan.addChat(u"chat"_s, {evil.pk}).pk;
        auto add = [&](const QString &type, const QString &name, const QString &attId = QString()) {
            const qint64 m = plan.addMessage(type + name, chat, evil.pk, u"received"_s, QString()).pk;
            return plan.addAttachment(type + name, m, type, name, attId).pk;
        };
        QList<qint64> hostile;
        for (const QString &name : {u"../../../outside.jpg"_s, u"../Contacts.data"_s})
            for (const QString &type : {u"picture"_s, u"video"_s, u"audio"_s, u"file"_s})
                hostile << add(type, name);
        hostile << add(u"picture"_s, u"linked.jpg"_s);
        hostile << add(u"sticker"_s, QString(), u"../../../../../../x"_s);
        const qint64 fine = add(u"picture"_s, u"ok.jpg"_s);
        plan.addFile(u"Documents/Attachments/ok.jpg"_s, fixtures::FileKind::Jpeg);
        fixtures::writeStore(plan, root, fixtures::StoreLayout::Phone);
        // A file and a preview folder that are links leading out of the store.
        QVERIFY(QFile::link(outside, root + u"/Documents/Attachments/linked.jpg"_s));
        QVERIFY(QFile::link(elsewhere, root + u"/Documents/AttachmentsPreview"_s));
        const QStringList outsideBefore = fixtures::filesBelow(outer.path()).filter(u"outside"_s);

        const ViberDataPtr data = IOSViberDb(QDir(root), kFile).load();
        AttachmentPreviews::makeMissing(*data);
        QCOMPARE(data->attachments.size(), qsizetype(plan.attachments.size()));
        for (qint64 id : std::as_const(hostile)) {
            const _ViberAtta *a = data->attachments.value(id);
            QVERIFY(a && a->message->attachment == a);
            QVERIFY2(a->filePath.isEmpty() && a->previewPath.isEmpty(), qPrintable(a->fileName + a->attId));
        }
        const _ViberAtta *ok = data->attachments.value(fine);
        QCOMPARE(ok->filePath, QDir(root).absoluteFilePath(u"Documents/Attachments/ok.jpg"_s));
        // Its preview goes to the second folder: the first leads out.
        QVERIFY(ok->previewPath.startsWith(root) && QFileInfo(ok->previewPath).isFile());
        const _ViberPerson *p = data->persons.value(evil.pk);
        QVERIFY(p->contactIconPath.isEmpty() && p->viberIconPath.isEmpty());
        QCOMPARE(fixtures::filesBelow(outer.path()).filter(u"outside"_s), outsideBefore);
        QVERIFY(QDir(elsewhere).isEmpty());
    }
    void loadingChangesNothingOpeningCleansOrphans_data()
    {
        QTest::addColumn<QString>("setup");
        // Cleaning orphans fired this: most messages went and every chat was renamed.
        QTest::newRow("store's own trigger")
            << u"CREATE TRIGGER evil AFTER DELETE ON ZATTACHMENT BEGIN DELETE "
               u"FROM ZVIBERMESSAGE WHERE Z_PK % 8 <> 0; "
               u"UPDATE ZCONVERSATION SET ZNAME='pwned'; END"_s;
        QTest::newRow("write-ahead log") << u"PRAGMA journal_mode=WAL"_s;
        // A table the program never reads, of a module this SQLite lacks.
        QTest::newRow("unknown virtual table")
            << u"PRAGMA writable_schema=ON; INSERT INTO sqlite_master(type, name, tbl_name, rootpage, sql) "
               u"VALUES('table', 'ZSEARCH', 'ZSEARCH', 0, 'CREATE VIRTUAL TABLE ZSEARCH USING nosuch(x)')"_s;
    }
    void loadingChangesNothingOpeningCleansOrphans()
    {
        QFETCH(QString, setup);
        const Store clean(fixtures::StoreLayout::Phone), s(fixtures::StoreLayout::Phone);
        // Rows of a chat and of messages that do not exist.
        fixtures::exec(
            s.path(),
            u"INSERT INTO Z_5PHONENUMINDEXES (Z_5CONVERSATIONS, Z_10PHONENUMINDEXES) VALUES (500, 1);"
            u"INSERT INTO ZVIBERLOCATION (Z_PK, ZMESSAGE, ZLATITUDE, ZLONGITUDE) VALUES (900, 9999, 1, 2);"
            u"INSERT INTO ZATTACHMENT (Z_PK, ZMESSAGE, ZTYPE, ZNAME) VALUES (900, 9999, 'picture', 'x.jpg');"_s +
                setup);
        const QStringList files = fixtures::filesBelow(s.root());
        const QString joins = fixtures::rows(s.path(), u"select count(*) from Z_5PHONENUMINDEXES"_s);
        const QString messages = fixtures::rows(s.path(), u"select count(*) from ZVIBERMESSAGE"_s);

        IOSViberDb db(QDir(s.root()), kFile);
        QCOMPARE(fixtures::messageContent(*db.load()), fixtures::messageContent(*clean.load()));
        QVERIFY(!db.isOpen());
        QCOMPARE(fixtures::filesBelow(s.root()), files);

        // Opening for writing deletes exactly the orphans, and still runs nothing of the store's.
        db.open();
        db.close();
        // An attachment of a message that exists but is not loaded (state "failed") is no orphan.
        QCOMPARE(fixtures::rows(
                     s.path(), u"select (select count(*) from Z_5PHONENUMINDEXES), (select count(*) from "
                               "Z_5PHONENUMINDEXES where Z_5CONVERSATIONS=500), (select count(*) from "
                               "ZVIBERLOCATION), (select count(*) from ZATTACHMENT where Z_PK in (900, %1)), "
                               "(select count(*) from ZATTACHMENT), (select count(*) from ZVIBERMESSAGE), "
                               "(select count(*) from ZCONVERSATION where ZNAME='pwned')"_s.arg(
                                   s.plan.attachment(u"ofFailed"_s).pk)),
                 u"%1|0|%2|1|%3|%4|0"_s.arg(joins.toInt() - 1)
                     .arg(s.plan.locations.size())
                     .arg(s.plan.attachments.size())
                     .arg(messages));
    }

private:
    // Only a hostile store has keys of zero, below zero or far apart.
    static constexpr qint64 kOddKeys[] = {0, -3, qint64(1) << 40};
    static fixtures::StorePlan oddKeysPlan()
    {
        fixtures::StorePlan plan;
        const qint64 a = plan.addPerson(u"a"_s, u"111"_s, u"A"_s).pk;
        const qint64 chat = plan.addChat(u"a"_s, {a}).pk;
        for (const qint64 key : kOddKeys) {
            const QString label = QString::number(key);
            plan.addPerson(label, QString::number(1000 + std::abs(key) % 1000)).pk = key;
            plan.addChat(label, {key}).pk = key;
            plan.addMessage(label, key, key, u"received"_s, label).pk = key;
        }
        for (const qint64 key : {5, -7, -1})
            plan.addMessage(QString::number(key), chat, a, u"received"_s, QString::number(key)).pk = key;
        // A call's entry is keyed by the call's key negated: 7's would take message -7's
        // key, and -5 and INT64_MIN have no negative negation.
        plan.addCall(u"negative"_s, a, u"incoming"_s).pk = -5;
        plan.addCall(u"lowest"_s, a, u"missed"_s).pk = std::numeric_limits<qint64>::min();
        plan.addCall(u"plain"_s, a, u"outgoing"_s).pk = 7;
        // Two rows of the reading join for one message: the first location counts.
        const qint64 pin =
            plan.addMessage(u"pin"_s, chat, a, u"received"_s, QString(), u"customLocation"_s).pk;
        plan.addLocation(u"first"_s, pin, 48.1, 11.5, u"First"_s);
        plan.addLocation(u"second"_s, pin, 52.5, 13.4, u"Second"_s);
        // Rows left out, among the highest keys.
        plan.addMessage(u"noChat"_s, 999, a, u"received"_s, u"Nowhere"_s);
        plan.addMessage(u"failed"_s, chat, a, u"failed"_s, u"Lost"_s);
        return plan;
    }

    // The sample store in both layouts, loaded and with previews made.
    std::unique_ptr<Store> m_phone, m_template;
    ViberDataPtr m_data, m_templateData;
};

QTEST_GUILESS_MAIN(TestIOSViberDb)
#include "tst_iosviberdb.moc"
