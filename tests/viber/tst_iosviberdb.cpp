#include "support/StoreFixtures.h"
#include "support/TestSupport.h"

#include "viber/IOSViberDb.h"
#include "viber/StorePaths.h"

#include <QCryptographicHash>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <algorithm>
#include <limits>

using fixtures::StoreLayout;

Q_DECLARE_METATYPE(fixtures::StoreLayout)

namespace {

QString errorOf(IOSViberDb &db)
{
    try {
        db.load();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}

QStringList filesBelow(const QString &root)
{
    QStringList out;
    QDir dir(root);
    for (const QFileInfo &fi : dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        out << fi.fileName();
        if (fi.isDir())
            for (const QString &sub : filesBelow(fi.filePath()))
                out << fi.fileName() + QLatin1Char('/') + sub;
    }
    return out;
}

QByteArray fileHash(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1);
}

void exec(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    QVERIFY(sqlite3_open(QFile::encodeName(path).constData(), &db) == SQLITE_OK);
    char *msg = nullptr;
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &msg);
    const QString error = QString::fromUtf8(msg ? msg : "");
    sqlite3_free(msg);
    sqlite3_close(db);
    QVERIFY2(rc == SQLITE_OK, qPrintable(error));
}

qint64 count(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &db);
    sqlite3_stmt *stmt = nullptr;
    qint64 n = -1;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
        n = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return n;
}

QString rel(const QString &root, const QString &path)
{
    return path.isEmpty() ? QStringLiteral("-") : QDir(root).relativeFilePath(path);
}

QString mapText(const QVariantMap &map)
{
    QStringList parts;
    for (auto it = map.begin(); it != map.end(); ++it)
        parts << it.key() + QLatin1Char('=') + QString::fromLatin1(it.value().typeName()) + QLatin1Char(':') +
                     (it.value().typeId() == QMetaType::QByteArray
                          ? QString::fromLatin1(it.value().toByteArray().toHex())
                          : it.value().toString());
    return parts.join(QLatin1Char(','));
}

// Everything a load produces, as sorted lines with paths relative to the store's
// root, so that two loads of the same content in different layouts compare equal.
// recordIconPath is left out: only a phone's layout has address-book record ids.
QStringList dump(const ViberData &data, const QString &root)
{
    QStringList lines;
    for (const _ViberChat *c : data.chats) {
        QList<qint64> members = c->participants.keys();
        std::sort(members.begin(), members.end());
        QStringList ids;
        for (qint64 id : members)
            ids << QString::number(id);
        QList<qint64> msgs;
        for (const _ViberMsg *m : c->messages)
            msgs << m->id;
        QStringList msgIds;
        for (qint64 id : msgs)
            msgIds << QString::number(id);
        lines << QStringLiteral("chat %1 date=%2 name=%3 group=%4 members=%5 messages=%6 other=%7")
                     .arg(c->id)
                     .arg(c->date, 0, 'f', 3)
                     .arg(c->name, c->groupId, ids.join(QLatin1Char('/')), msgIds.join(QLatin1Char('/')),
                          mapText(readExtraColumns(c)));
    }
    for (const _ViberPerson *p : data.persons)
        lines << QStringLiteral("person %1 phone=%2 name=%3 viberIcon=%4 contactIcon=%5 other=%6")
                     .arg(p->id)
                     .arg(p->phone, p->name, p->viberIconPath, rel(root, p->contactIconPath),
                          mapText(readExtraColumns(p)));
    for (const _ViberMsg *m : data.messages)
        lines << QStringLiteral("msg %1 token=%2 seq=%3 date=%4/%5 state=%6 type=%7 kind=%8 text=%9 chat=%10 "
                                "person=%11 att=%12 call=%13 loc=%14,%15,%16 other=%17")
                     .arg(m->id)
                     .arg(m->token)
                     .arg(m->seq)
                     .arg(m->date, 0, 'f', 3)
                     .arg(m->stateDate, 0, 'f', 3)
                     .arg(int(m->state))
                     .arg(int(m->type))
                     .arg(int(m->systemKind))
                     .arg(m->text)
                     .arg(m->chat ? m->chat->id : 0)
                     .arg(m->person ? m->person->id : 0)
                     .arg(m->attachment ? m->attachment->id : 0)
                     .arg(m->call ? m->call->id : 0)
                     .arg(m->latitude, 0, 'g', 12)
                     .arg(m->longitude, 0, 'g', 12)
                     .arg(m->address, mapText(readExtraColumns(m)));
    for (const _ViberAtta *a : data.attachments)
        lines << QStringLiteral(
                     "att %1 size=%2 seq=%3 dur=%4 id=%5 bucket=%6 name=%7 file=%8 preview=%9 msg=%10 "
                     "other=%11")
                     .arg(a->id)
                     .arg(a->fileSize)
                     .arg(a->seq)
                     .arg(a->duration)
                     .arg(a->attId, a->bucket, a->fileName, rel(root, a->filePath), rel(root, a->previewPath))
                     .arg(a->message ? a->message->id : 0)
                     .arg(mapText(readExtraColumns(a)));
    for (const _ViberCall *c : data.calls)
        lines << QStringLiteral("call %1 token=%2 dur=%3 date=%4 type=%5 person=%6 other=%7")
                     .arg(c->id)
                     .arg(c->callToken)
                     .arg(c->duration)
                     .arg(c->date, 0, 'f', 3)
                     .arg(int(c->type))
                     .arg(c->person ? c->person->id : 0)
                     .arg(mapText(readExtraColumns(c)));
    lines.sort();
    return lines;
}

} // namespace

class TestIOSViberDb : public QObject
{
    Q_OBJECT

private slots:
    void templateSchema();
    void missingStoreIsCreatedAndLoadsEmpty();
    void missingFolderIsAClearError();
    void notADatabaseIsAClearError();
    void missingTableIsAClearError();
    void sampleStore_data();
    void sampleStore();
    void bothLayoutsLoadTheSameRecords();
    void orphansAreDeletedOnOpen_data();
    void orphansAreDeletedOnOpen();
    void madeUpCallChatsCountDown();
    void callsWhoseEntryKeyIsTakenStay();
    void hostileNamesGiveNoPaths();
    void storeWithoutParticipantTables();
    void loadingLeavesTheStoreAsItWas_data();
    void loadingLeavesTheStoreAsItWas();
    void loadsWhileAnotherProgramWrites();
    void realStore();

private:
    static void addLayouts();
};

void TestIOSViberDb::addLayouts()
{
    QTest::addColumn<StoreLayout>("layout");
    QTest::newRow("template layout") << StoreLayout::Template;
    QTest::newRow("phone layout") << StoreLayout::Phone;
}

void TestIOSViberDb::templateSchema()
{
    // The embedded template store is built from the same script at build time.
    for (const QString &resource : {QStringLiteral(":/res/Contacts.data"), QString()}) {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Documents")));
        const QString path = dir.filePath(QString::fromLatin1(fixtures::kStoreFileName));
        if (!resource.isEmpty()) {
            QVERIFY(QFile::copy(resource, path));
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        }
        IOSViberDb db(QDir(dir.path()), QString::fromLatin1(fixtures::kStoreFileName));
        db.open();
        QStringList tables = db.schema().keys();
        tables.sort();
        QCOMPARE(tables, QStringList({"z_4phonenumindexes", "z_primarykey", "zattachment", "zconversation",
                                      "zphonenumberindex", "zrecent", "zrecentsline", "zviberlocation",
                                      "zvibermessage"}));
        for (const ViberDbTable &t : db.schema())
            QVERIFY2(db.hasColumn(t.name, QStringLiteral("_OTHER")), qPrintable(t.name));
        QVERIFY(db.hasColumn(QStringLiteral("ZViberMessage"), QStringLiteral("ztoken")));
        QVERIFY(!db.hasColumn(QStringLiteral("ZVIBERMESSAGE"), QStringLiteral("Z_OPT")));
        QCOMPARE(db.table(QStringLiteral("zrecent")).name, QStringLiteral("ZRECENT"));
        QVERIFY(db.table(QStringLiteral("ZABCONTACT")).name.isEmpty());

        QCOMPARE(db.entities().size(), 15);
        QCOMPARE(db.entity(QStringLiteral("ABContact")), 1);
        QCOMPARE(db.entity(QStringLiteral("ViberMessage")), 15);
        QCOMPARE(db.conversationEnt(), 4);
        QCOMPARE(db.phoneNumberIndexEnt(), 7);
        QCOMPARE(db.joinTable(), QStringLiteral("Z_4PHONENUMINDEXES"));
        QCOMPARE(db.joinChatColumn(), QStringLiteral("Z_4CONVERSATIONS"));
        QCOMPARE(db.joinPersonColumn(), QStringLiteral("Z_7PHONENUMINDEXES"));
        db.close();
        QCOMPARE(count(path, "select count(*) from Z_PRIMARYKEY where Z_SUPER=0 and Z_MAX=0"), 15);
        // The lookups of the reader and the writer are served by indexes.
        QCOMPARE(count(path, "select count(*) from sqlite_master where type='index' and tbl_name in "
                             "('ZVIBERMESSAGE','ZATTACHMENT','ZPHONENUMBERINDEX','ZCONVERSATION')"),
                 5);
    }
}

void TestIOSViberDb::missingStoreIsCreatedAndLoadsEmpty()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Documents")));
    IOSViberDb db(QDir(dir.path()), QStringLiteral("Documents/Contacts-corvanta.data"), true);
    QVERIFY(!db.isOpen());
    const ViberDataPtr data = db.load();
    QVERIFY(!db.isOpen()); // loading keeps nothing open
    QVERIFY(data->chats.isEmpty() && data->persons.isEmpty() && data->messages.isEmpty() &&
            data->attachments.isEmpty() && data->calls.isEmpty());
    QVERIFY(db.flag());
    QCOMPARE(db.fullPath(), dir.filePath(QStringLiteral("Documents/Contacts-corvanta.data")));
    // No half-built or temporary file stays beside the store.
    QCOMPARE(filesBelow(dir.path()), QStringList({"Documents", "Documents/Contacts-corvanta.data"}));
    db.close();

    // Opening it again finds the same empty store rather than building another.
    const QByteArray before = fileHash(db.fullPath());
    IOSViberDb again(QDir(dir.path()), QStringLiteral("Documents/Contacts-corvanta.data"));
    QVERIFY(again.load()->messages.isEmpty());
    QCOMPARE(again.entity(QStringLiteral("Conversation")), 4);
    again.close();
    QCOMPARE(fileHash(db.fullPath()), before);
}

void TestIOSViberDb::missingFolderIsAClearError()
{
    QTemporaryDir dir;
    IOSViberDb db(QDir(dir.path()), QString::fromLatin1(fixtures::kStoreFileName));
    const QString error = errorOf(db);
    QVERIFY2(error.contains(QDir::toNativeSeparators(dir.filePath(QStringLiteral("Documents")))) &&
                 error.contains(QStringLiteral("does not exist")),
             qPrintable(error));
    QVERIFY(!db.isOpen());
    QVERIFY(filesBelow(dir.path()).isEmpty());
}

void TestIOSViberDb::notADatabaseIsAClearError()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Documents")));
    const QString path = dir.filePath(QString::fromLatin1(fixtures::kStoreFileName));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("<html>This is a download error page, not a store.</html>\n").repeated(200));
    }
    const QByteArray before = fileHash(path);
    IOSViberDb db(QDir(dir.path()), QString::fromLatin1(fixtures::kStoreFileName));
    const QString error = errorOf(db);
    QVERIFY2(error.contains(QDir::toNativeSeparators(path)) &&
                 error.contains(QStringLiteral("not an SQLite database")),
             qPrintable(error));
    QVERIFY(!db.isOpen());
    QVERIFY(db.schema().isEmpty());
    QCOMPARE(fileHash(path), before);
    QCOMPARE(filesBelow(dir.path()), QStringList({"Documents", "Documents/Contacts.data"}));
    // A second attempt fails the same way instead of treating the file as open.
    QCOMPARE(errorOf(db), error);
}

void TestIOSViberDb::missingTableIsAClearError()
{
    for (const char *table : {"ZVIBERMESSAGE", "Z_PRIMARYKEY", "ZATTACHMENT"}) {
        QTemporaryDir dir;
        fixtures::writeStore(fixtures::sampleStore(), dir.path(), StoreLayout::Phone);
        const QString path = dir.filePath(QString::fromLatin1(fixtures::kStoreFileName));
        exec(path, QByteArray("DROP TABLE ") + table);
        const QByteArray before = fileHash(path);
        IOSViberDb db(QDir(dir.path()), QString::fromLatin1(fixtures::kStoreFileName));
        const QString error = errorOf(db);
        QVERIFY2(error.contains(QDir::toNativeSeparators(path)) &&
                     error.contains(QStringLiteral("the table %1 is missing").arg(QLatin1String(table))),
                 qPrintable(error));
        QVERIFY(!db.isOpen());
        QCOMPARE(fileHash(path), before);
    }
}

void TestIOSViberDb::sampleStore_data()
{
    addLayouts();
}

void TestIOSViberDb::sampleStore()
{
    QFETCH(StoreLayout, layout);
    QTemporaryDir dir;
    const fixtures::StoreSpec plan = fixtures::sampleStore();
    fixtures::writeStore(plan, dir.path(), layout);
    IOSViberDb db(QDir(dir.path()), QString::fromLatin1(fixtures::kStoreFileName));
    const ViberDataPtr data = db.load();
    const QString root = QDir(dir.path()).absolutePath();
    auto msg = [&](const QString &label) { return data->messages.value(plan.message(label).pk); };
    auto att = [&](const QString &label) { return data->attachments.value(plan.attachment(label).pk); };
    auto under = [&](const QString &relative) { return root + QLatin1Char('/') + relative; };

    // Persons: contact names win, digits-only numbers get a "+".
    QCOMPARE(data->persons.size(), 6);
    const _ViberPerson *ann = data->persons.value(plan.person(QStringLiteral("ann")).pk);
    QVERIFY(ann);
    QCOMPARE(ann->name, QStringLiteral("Ann Contact"));
    QCOMPARE(ann->phone, QStringLiteral("+4915111111111"));
    QCOMPARE(ann->viberIconPath, QStringLiteral("/Documents/ViberIcons/ann-icon.jpg"));
    QCOMPARE(ann->contactIconPath, under(QStringLiteral("Documents/ContactIcons/4915111111111.jpg")));
    QCOMPARE(ann->recordIconPath,
             layout == StoreLayout::Phone ? QStringLiteral("/Documents/ContactIcons/11.jpg") : QString());
    QCOMPARE(data->persons.value(plan.person(QStringLiteral("bob")).pk)->name, QStringLiteral("Bob"));
    QCOMPARE(data->persons.value(plan.person(QStringLiteral("cleo")).pk)->name, QStringLiteral("Cleo"));
    const _ViberPerson *fay = data->persons.value(plan.person(QStringLiteral("fay")).pk);
    QCOMPARE(fay->phone, QStringLiteral("fay.viber"));
    QCOMPARE(fay->contactIconPath, under(QStringLiteral("Documents/ContactIcons/fay.viber.jpg")));
    QVERIFY(fay->viberIconPath.isEmpty());

    // Chats and participants; the one made-up chat is for Dan's calls.
    QCOMPARE(data->chats.size(), 7);
    const _ViberChat *group = data->chats.value(plan.chat(QStringLiteral("group")).pk);
    QCOMPARE(group->name, QStringLiteral("Friends"));
    QCOMPARE(group->groupId, QStringLiteral("G-FRIENDS"));
    QList<qint64> members = group->participants.keys();
    std::sort(members.begin(), members.end());
    QCOMPARE(members, QList<qint64>({1, 2, 5}));
    QVERIFY(data->chats.value(plan.chat(QStringLiteral("empty")).pk)->participants.isEmpty());

    // Messages: what is not loaded, states and system types in any letter case.
    for (const char *skipped : {"failed", "memberAddedEmpty", "unknownSystem", "noChat"})
        QVERIFY2(!msg(QLatin1String(skipped)), skipped);
    const _ViberMsg *received = msg(QStringLiteral("received"));
    QCOMPARE(received->state, ViberMsgStateReceived);
    QCOMPARE(received->type, ViberMsgTypeText);
    QCOMPARE(received->text, QStringLiteral("Hello 😀"));
    QCOMPARE(received->person, ann);
    QCOMPARE(received->token, plan.message(QStringLiteral("received")).token);
    QCOMPARE(received->seq, plan.message(QStringLiteral("received")).seq);
    QCOMPARE(received->date, plan.message(QStringLiteral("received")).date);
    QCOMPARE(received->stateDate, plan.message(QStringLiteral("received")).stateDate);
    QCOMPARE(readExtraColumns(received).value(QStringLiteral("ZRANGES")).toByteArray(), QByteArray("ranges"));
    QCOMPARE(msg(QStringLiteral("sending"))->state, ViberMsgStateDelivered);
    QVERIFY(!msg(QStringLiteral("sending"))->person);
    QCOMPARE(msg(QStringLiteral("delivered"))->state, ViberMsgStateDelivered);
    QCOMPARE(msg(QStringLiteral("send"))->state, ViberMsgStateSend);
    QCOMPARE(msg(QStringLiteral("pending"))->state, ViberMsgStatePending);
    QCOMPARE(msg(QStringLiteral("pendingNotSent"))->state, ViberMsgStatePending);
    const _ViberMsg *renamed = msg(QStringLiteral("nameChanged"));
    QCOMPARE(renamed->type, ViberMsgTypeSystem);
    QCOMPARE(renamed->systemKind, ViberSystemKindNameChanged);
    QCOMPARE(renamed->state, ViberMsgStatePending);
    const _ViberMsg *added = msg(QStringLiteral("memberAdded"));
    QCOMPARE(added->type, ViberMsgTypeSystem);
    QCOMPARE(added->systemKind, ViberSystemKindMemberAdded);
    QCOMPARE(added->text, QStringLiteral("4915555555555"));
    const _ViberMsg *location = msg(QStringLiteral("location"));
    QCOMPARE(location->type, ViberMsgTypeLocation);
    QCOMPARE(location->systemKind, ViberSystemKindNone);
    QCOMPARE(location->latitude, 48.1);
    QCOMPARE(location->longitude, 11.58);
    QCOMPARE(location->address, QStringLiteral("Marienplatz, München"));
    QVERIFY(!location->attachment);
    QCOMPARE(msg(QStringLiteral("groupText"))->person,
             data->persons.value(plan.person(QStringLiteral("eve")).pk));
    QCOMPARE(msg(QStringLiteral("groupText"))->chat, group);

    // Attachments by type, their paths and the previews made on the way.
    const _ViberAtta *picture = att(QStringLiteral("picture"));
    QCOMPARE(picture->message, msg(QStringLiteral("picture")));
    QCOMPARE(picture->message->attachment, picture);
    QCOMPARE(picture->message->type, ViberMsgTypePicture);
    QCOMPARE(picture->fileName, QStringLiteral("p1.jpg"));
    QCOMPARE(picture->bucket, plan.attachment(QStringLiteral("picture")).bucket);
    QCOMPARE(picture->fileSize, plan.attachment(QStringLiteral("picture")).fileSize);
    QCOMPARE(picture->filePath, under(QStringLiteral("Documents/Attachments/p1.jpg")));
    QCOMPARE(picture->previewPath, under(QStringLiteral("Documents/BigAttachmentsPreview/p1.jpg")));
    QCOMPARE(QImage(picture->previewPath).size(), QSize(400, 300));
    QCOMPARE(photoAssetId(picture), QStringLiteral("AB12-CD34"));
    QCOMPARE(att(QStringLiteral("pictureSmall"))->previewPath,
             under(QStringLiteral("Documents/AttachmentsPreview/p2.jpg")));
    QCOMPARE(att(QStringLiteral("pictureBig"))->previewPath,
             under(QStringLiteral("Documents/BigAttachmentsPreview/p3.jpg")));
    QCOMPARE(QImage(att(QStringLiteral("pictureBig"))->previewPath).size(), QSize(40, 30)); // not remade
    const _ViberAtta *png = att(QStringLiteral("picturePng"));
    QCOMPARE(png->previewPath, under(QStringLiteral("Documents/BigAttachmentsPreview/p4.png")));
    QCOMPARE(QImage(png->previewPath).size(), QSize(200, 400));
    const _ViberAtta *video = att(QStringLiteral("video"));
    QCOMPARE(video->message->type, ViberMsgTypeVideo);
    QCOMPARE(video->duration, 61.5);
    QCOMPARE(video->filePath, under(QStringLiteral("Documents/Attachments/v1.mp4")));
    QCOMPARE(video->previewPath, under(QStringLiteral("Documents/BigAttachmentsPreview/v1.jpg")));
    const _ViberAtta *video2 = att(QStringLiteral("videoNoPreview"));
    QCOMPARE(video2->previewPath, under(QStringLiteral("Documents/AttachmentsPreview/v2.jpg")));
    QVERIFY(!QFile::exists(video2->previewPath)); // a video is no picture to scale
    const _ViberAtta *audio = att(QStringLiteral("audio"));
    QCOMPARE(audio->message->type, ViberMsgTypeAudio);
    QCOMPARE(audio->filePath, under(QStringLiteral("Documents/VoiceMessages/a1.m4a")));
    QVERIFY(audio->previewPath.isEmpty());
    const _ViberAtta *sticker = att(QStringLiteral("sticker"));
    QCOMPARE(sticker->message->type, ViberMsgTypeSticker);
    QCOMPARE(sticker->attId, QStringLiteral("1234"));
    QCOMPARE(sticker->previewPath, under(QStringLiteral("Documents/stickers/1200/100/00001234.png")));
    QVERIFY(QFile::exists(sticker->previewPath));
    const _ViberAtta *pin = att(QStringLiteral("locationAttachment"));
    QCOMPARE(pin->message->type, ViberMsgTypeLocation);
    QCOMPARE(pin->previewPath, under(QStringLiteral("Documents/CustomLocationImage/48.123457_11.jpg")));
    QVERIFY(QFile::exists(pin->previewPath));
    const _ViberAtta *other = att(QStringLiteral("other"));
    QCOMPARE(other->message->attachment, other);
    // A kind the reader has no bubble of its own for is a file, not a lost attachment.
    QCOMPARE(other->message->type, ViberMsgTypeFile);
    QCOMPARE(other->type, QStringLiteral("file"));
    QCOMPARE(other->filePath, under(QStringLiteral("Documents/Attachments/doc.pdf")));
    QVERIFY(other->previewPath.isEmpty());
    QVERIFY(!att(QStringLiteral("ofFailed")));
    QCOMPARE(data->attachments.size(), 10);

    // Calls, their entries and the chats they land in.
    QCOMPARE(data->calls.size(), 5);
    for (const char *skipped : {"unknownType", "nobody"}) {
        QVERIFY2(!data->calls.contains(plan.call(QLatin1String(skipped)).pk), skipped);
        QVERIFY(!data->messages.contains(-plan.call(QLatin1String(skipped)).pk));
    }
    auto call = [&](const QString &label) { return data->calls.value(plan.call(label).pk); };
    auto entry = [&](const QString &label) { return data->messages.value(-plan.call(label).pk); };
    QCOMPARE(call(QStringLiteral("annIncoming"))->type, ViberCallTypeIncoming);
    QCOMPARE(call(QStringLiteral("annIncoming"))->person, ann);
    QCOMPARE(call(QStringLiteral("annIncoming"))->duration,
             plan.call(QStringLiteral("annIncoming")).duration);
    QCOMPARE(call(QStringLiteral("annIncoming"))->callToken, plan.call(QStringLiteral("annIncoming")).token);
    QCOMPARE(entry(QStringLiteral("annIncoming"))->chat,
             data->chats.value(plan.chat(QStringLiteral("ann")).pk));
    QCOMPARE(entry(QStringLiteral("annIncoming"))->type, ViberMsgTypeCall);
    QCOMPARE(entry(QStringLiteral("annIncoming"))->call, call(QStringLiteral("annIncoming")));
    QCOMPARE(entry(QStringLiteral("annIncoming"))->date, plan.call(QStringLiteral("annIncoming")).date);
    QCOMPARE(call(QStringLiteral("bobOutgoing"))->type, ViberCallTypeOutgoing);
    QCOMPARE(call(QStringLiteral("danMissed"))->type, ViberCallTypeMissed);
    QCOMPARE(call(QStringLiteral("danIncoming"))->type, ViberCallTypeIncoming);
    const _ViberChat *danChat = entry(QStringLiteral("danMissed"))->chat;
    QCOMPARE(danChat->id, -6);
    QCOMPARE(danChat->name, QStringLiteral("Dan"));
    QCOMPARE(danChat->participants.keys(), QList<qint64>({plan.person(QStringLiteral("dan")).pk}));
    QCOMPARE(entry(QStringLiteral("danIncoming"))->chat, danChat);
    QCOMPARE(danChat->messages.size(), 2);
    QCOMPARE(danChat->date, plan.call(QStringLiteral("danIncoming")).date);
    const _ViberChat *cleoChat = data->chats.value(plan.chat(QStringLiteral("cleo")).pk);
    QCOMPARE(cleoChat->messages.size(), 1);
    QCOMPARE(cleoChat->date, plan.call(QStringLiteral("cleoMissed")).date); // raised to the call
    // Messages come first in store order, call entries after them.
    const _ViberChat *annChat = data->chats.value(plan.chat(QStringLiteral("ann")).pk);
    QCOMPARE(annChat->messages.first(), received);
    QCOMPARE(annChat->messages.last()->type, ViberMsgTypeCall);
}

void TestIOSViberDb::bothLayoutsLoadTheSameRecords()
{
    const fixtures::StoreSpec plan = fixtures::sampleStore();
    QTemporaryDir templateDir, phoneDir;
    fixtures::writeStore(plan, templateDir.path(), StoreLayout::Template);
    fixtures::writeStore(plan, phoneDir.path(), StoreLayout::Phone);
    IOSViberDb templateDb(QDir(templateDir.path()), QString::fromLatin1(fixtures::kStoreFileName));
    IOSViberDb phoneDb(QDir(phoneDir.path()), QString::fromLatin1(fixtures::kStoreFileName));
    const ViberDataPtr templateData = templateDb.load();
    const ViberDataPtr phoneData = phoneDb.load();
    const QStringList fromTemplate = dump(*templateData, templateDir.path());
    const QStringList fromPhone = dump(*phoneData, phoneDir.path());

    QCOMPARE(phoneDb.conversationEnt(), 5);
    QCOMPARE(phoneDb.joinTable(), QStringLiteral("Z_5PHONENUMINDEXES"));
    QCOMPARE(phoneDb.joinPersonColumn(), QStringLiteral("Z_10PHONENUMINDEXES"));
    QCOMPARE(fromTemplate.size(), fromPhone.size());
    for (int i = 0; i < fromTemplate.size(); ++i)
        QCOMPARE(fromTemplate[i], fromPhone[i]);

    // The phone's own columns arrived as carried values of their declared kinds.
    const QVariantMap group = readExtraColumns(phoneData->chats.value(plan.chat(QStringLiteral("group")).pk));
    QCOMPARE(
        group,
        QVariantMap(
            {{"Z_OPT", 4}, {"ZCONTEXT", qint64(77)}, {"ZSMARTNOTIFICATIONSHOWN", 1}, {"ZSMARTSTATE", 2}}));
    QCOMPARE(group.value(QStringLiteral("ZCONTEXT")).typeId(), QMetaType::LongLong);
    QCOMPARE(group.value(QStringLiteral("Z_OPT")).typeId(), QMetaType::Int);
    // ZSMARTNOTIFICATIONSHOWN is carried only when set.
    QVERIFY(!readExtraColumns(phoneData->chats.value(plan.chat(QStringLiteral("ann")).pk))
                 .contains(QStringLiteral("ZSMARTNOTIFICATIONSHOWN")));
    const QVariantMap picture =
        readExtraColumns(phoneData->attachments.value(plan.attachment(QStringLiteral("picture")).pk));
    QCOMPARE(picture.value(QStringLiteral("ZURL")).toString(),
             plan.attachment(QStringLiteral("picture")).url);
    QCOMPARE(picture.value(QStringLiteral("ZRANGE")).typeId(), QMetaType::LongLong);
    QCOMPARE(picture.value(QStringLiteral("ZSTATE")).toString(), QStringLiteral("complete"));
    // Empty range blobs are not carried.
    QCOMPARE(readExtraColumns(phoneData->messages.value(plan.message(QStringLiteral("sending")).pk)),
             QVariantMap({{"Z_OPT", 5}}));
    // A template store's _other is taken as it is.
    const _ViberMsg *received = templateData->messages.value(plan.message(QStringLiteral("received")).pk);
    QCOMPARE(readExtraColumns(received).value(QStringLiteral("ZEMOTICONSRANGES")).toByteArray(),
             QByteArray("\x01\x02\x03", 3));
}

void TestIOSViberDb::orphansAreDeletedOnOpen_data()
{
    addLayouts();
}

void TestIOSViberDb::orphansAreDeletedOnOpen()
{
    QFETCH(StoreLayout, layout);
    QTemporaryDir dir;
    const fixtures::StoreSpec plan = fixtures::sampleStore();
    fixtures::writeStore(plan, dir.path(), layout);
    const QString path = dir.filePath(QString::fromLatin1(fixtures::kStoreFileName));
    const bool phone = layout == StoreLayout::Phone;
    exec(path, phone ? "INSERT INTO Z_5PHONENUMINDEXES VALUES (500, 1)"
                     : "INSERT INTO Z_4PHONENUMINDEXES VALUES (500, 1, NULL)");
    exec(path,
         "INSERT INTO ZVIBERLOCATION (Z_PK, ZMESSAGE, ZLATITUDE, ZLONGITUDE) VALUES (900, 9999, 1.5, 2.5)");
    exec(path,
         "INSERT INTO ZATTACHMENT (Z_PK, ZMESSAGE, ZTYPE, ZNAME) VALUES (900, 9999, 'picture', 'x.jpg')");
    const char *joinCount =
        phone ? "select count(*) from Z_5PHONENUMINDEXES" : "select count(*) from Z_4PHONENUMINDEXES";
    const qint64 joinRows = count(path, joinCount);
    const qint64 attachmentRows = count(path, "select count(*) from ZATTACHMENT");

    IOSViberDb db(QDir(dir.path()), QString::fromLatin1(fixtures::kStoreFileName));
    db.open();
    db.close();
    QCOMPARE(count(path, joinCount), joinRows - 1);
    QCOMPARE(count(path, phone ? "select count(*) from Z_5PHONENUMINDEXES where Z_5CONVERSATIONS=500"
                               : "select count(*) from Z_4PHONENUMINDEXES where Z_4CONVERSATIONS=500"),
             0);
    QCOMPARE(count(path, "select count(*) from ZVIBERLOCATION where Z_PK=900"), 0);
    QCOMPARE(count(path, "select count(*) from ZVIBERLOCATION"), qint64(plan.locations.size()));
    QCOMPARE(count(path, "select count(*) from ZATTACHMENT"), attachmentRows - 1);
    // An attachment of a message that exists but is not loaded (state "failed") is no orphan.
    QCOMPARE(count(path, QStringLiteral("select count(*) from ZATTACHMENT where Z_PK=%1")
                             .arg(plan.attachment(QStringLiteral("ofFailed")).pk)
                             .toUtf8()
                             .constData()),
             1);
}

void TestIOSViberDb::madeUpCallChatsCountDown()
{
    fixtures::StoreSpec plan;
    const qint64 a = plan.addPerson(QStringLiteral("a"), QStringLiteral("111"), QStringLiteral("A")).pk;
    const qint64 b = plan.addPerson(QStringLiteral("b"), QStringLiteral("222"), QStringLiteral("B")).pk;
    const qint64 c = plan.addPerson(QStringLiteral("c"), QStringLiteral("333"), QStringLiteral("C")).pk;
    const qint64 d = plan.addPerson(QStringLiteral("d"), QStringLiteral("444"), QStringLiteral("D")).pk;
    plan.addChat(QStringLiteral("a"), {a});
    plan.addChat(QStringLiteral("group"), {a, b}, QStringLiteral("G1"));
    // A group with one member left does not take the calls of its member's own chat.
    plan.addChat(QStringLiteral("cOwn"), {c});
    plan.addChat(QStringLiteral("cGroup"), {c}, QStringLiteral("G2"));
    const qint64 e = plan.addPerson(QStringLiteral("e"), QStringLiteral("555"), QStringLiteral("E")).pk;
    plan.addCall(QStringLiteral("b1"), b, QStringLiteral("incoming"));
    // A call of no known type makes up no (empty) chat and takes no id.
    plan.addCall(QStringLiteral("e1"), e, QStringLiteral("conference"));
    plan.addCall(QStringLiteral("d1"), d, QStringLiteral("outgoing"));
    plan.addCall(QStringLiteral("b2"), b, QStringLiteral("missed"));
    plan.addCall(QStringLiteral("c1"), c, QStringLiteral("missed"));
    QTemporaryDir dir;
    fixtures::writeStore(plan, dir.path(), StoreLayout::Template);
    IOSViberDb db(QDir(dir.path()), QString::fromLatin1(fixtures::kStoreFileName));
    const ViberDataPtr data = db.load();

    QCOMPARE(data->chats.size(), 6);
    const _ViberChat *bChat = data->messages.value(-plan.call(QStringLiteral("b1")).pk)->chat;
    const _ViberChat *dChat = data->messages.value(-plan.call(QStringLiteral("d1")).pk)->chat;
    QCOMPARE(bChat->id, -4);
    QCOMPARE(dChat->id, -5);
    QCOMPARE(data->messages.value(-plan.call(QStringLiteral("b2")).pk)->chat, bChat);
    QCOMPARE(bChat->name, QStringLiteral("B"));
    QCOMPARE(bChat->date, plan.call(QStringLiteral("b2")).date);
    QCOMPARE(data->messages.value(-plan.call(QStringLiteral("c1")).pk)->chat->id,
             plan.chat(QStringLiteral("cOwn")).pk);
}

void TestIOSViberDb::callsWhoseEntryKeyIsTakenStay()
{
    fixtures::StoreSpec plan;
    const qint64 a = plan.addPerson(QStringLiteral("a"), QStringLiteral("111"), QStringLiteral("A")).pk;
    const qint64 chat = plan.addChat(QStringLiteral("a"), {a}).pk;
    plan.addMessage(QStringLiteral("m"), chat, a, QStringLiteral("received"), QStringLiteral("hi")).pk = 5;
    // Entries are keyed by the call's key negated: -5 would take the message's key,
    // and INT64_MIN has no negation.
    plan.addCall(QStringLiteral("negative"), a, QStringLiteral("incoming")).pk = -5;
    plan.addCall(QStringLiteral("lowest"), a, QStringLiteral("missed")).pk =
        std::numeric_limits<qint64>::min();
    plan.addCall(QStringLiteral("plain"), a, QStringLiteral("outgoing")).pk = 7;
    QTemporaryDir dir;
    fixtures::writeStore(plan, dir.path(), StoreLayout::Template);
    const ViberDataPtr data =
        IOSViberDb(QDir(dir.path()), QString::fromLatin1(fixtures::kStoreFileName)).load();

    QCOMPARE(data->calls.size(), 3);
    QCOMPARE(data->messages.value(5)->text, QStringLiteral("hi"));
    QCOMPARE(data->messages.value(-7)->call, data->calls.value(7));
    int entries = 0;
    for (const _ViberMsg *m : data->messages)
        entries += m->type == ViberMsgTypeCall && m->call && m->chat == data->chats.value(chat);
    QCOMPARE(entries, 3);
    QCOMPARE(data->chats.value(chat)->messages.size(), 4);
}

void TestIOSViberDb::hostileNamesGiveNoPaths()
{
    QTemporaryDir outer;
    const QString root = outer.filePath(QStringLiteral("store"));
    QVERIFY(QDir().mkpath(root));
    // A real picture outside the store, where a climbing name would lead a preview.
    const QString outside = outer.filePath(QStringLiteral("outside.jpg"));
    {
        QImage image(50, 20, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(outside, "JPG"));
    }
    const QByteArray outsideHash = fileHash(outside);

    fixtures::StoreSpec plan;
    fixtures::PersonSpec &evil =
        plan.addPerson(QStringLiteral("evil"), QStringLiteral("../../evil"), QStringLiteral("Evil"));
    evil.iconId = QStringLiteral("../../../../private/var/x");
    const qint64 person = evil.pk;
    const qint64 chat = plan.addChat(QStringLiteral("chat"), {person}).pk;
    const QStringList names = {QStringLiteral("../../../outside.jpg"), QStringLiteral("/etc/passwd"),
                               QStringLiteral("a\\..\\..\\..\\b"), QStringLiteral("../Contacts.data")};
    QList<qint64> hostile;
    for (const QString &name : names)
        for (const QString &type :
             {QStringLiteral("picture"), QStringLiteral("video"), QStringLiteral("audio")}) {
            const qint64 m =
                plan.addMessage(type + name, chat, person, QStringLiteral("received"), QString()).pk;
            hostile << plan.addAttachment(type + name, m, type, name).pk;
        }
    const qint64 stickerMsg =
        plan.addMessage(QStringLiteral("sticker"), chat, person, QStringLiteral("received"), {}).pk;
    hostile << plan.addAttachment(QStringLiteral("sticker"), stickerMsg, QStringLiteral("sticker"), QString(),
                                  QStringLiteral("../../../../../../x"))
                   .pk;
    const qint64 fine =
        plan.addMessage(QStringLiteral("fine"), chat, person, QStringLiteral("received"), {}).pk;
    const qint64 fineAtt =
        plan.addAttachment(QStringLiteral("fine"), fine, QStringLiteral("picture"), QStringLiteral("ok.jpg"))
            .pk;
    fixtures::writeStore(plan, root, StoreLayout::Phone);

    IOSViberDb db(QDir(root), QString::fromLatin1(fixtures::kStoreFileName));
    const ViberDataPtr data = db.load();
    QCOMPARE(data->messages.size(), int(plan.messages.size()));
    QCOMPARE(data->attachments.size(), int(plan.attachments.size()));
    for (qint64 id : hostile) {
        const _ViberAtta *a = data->attachments.value(id);
        QVERIFY(a && a->message && a->message->attachment == a);
        QVERIFY2(a->filePath.isEmpty() && a->previewPath.isEmpty(), qPrintable(a->fileName + " " + a->attId));
    }
    QCOMPARE(data->attachments.value(fineAtt)->filePath,
             QDir(root).absoluteFilePath("Documents/Attachments/ok.jpg"));
    const _ViberPerson *p = data->persons.value(person);
    QVERIFY(p->contactIconPath.isEmpty());
    QVERIFY(p->viberIconPath.isEmpty());
    QCOMPARE(fileHash(outside), outsideHash);
    QCOMPARE(filesBelow(outer.path()).filter(QStringLiteral("outside")), QStringList({"outside.jpg"}));
}

void TestIOSViberDb::storeWithoutParticipantTables()
{
    QTemporaryDir dir;
    const fixtures::StoreSpec plan = fixtures::sampleStore();
    fixtures::writeStore(plan, dir.path(), StoreLayout::Template);
    exec(dir.filePath(QString::fromLatin1(fixtures::kStoreFileName)),
         "DROP TABLE ZPHONENUMBERINDEX; DROP TABLE Z_4PHONENUMINDEXES");
    IOSViberDb db(QDir(dir.path()), QString::fromLatin1(fixtures::kStoreFileName));
    const ViberDataPtr data = db.load();
    QVERIFY(data->persons.isEmpty());
    QCOMPARE(data->chats.size(), int(plan.chats.size())); // no person, so no made-up call chats
    const _ViberMsg *m = data->messages.value(plan.message(QStringLiteral("received")).pk);
    QVERIFY(m && !m->person);
    QVERIFY(data->calls.isEmpty());
}

void TestIOSViberDb::loadingLeavesTheStoreAsItWas_data()
{
    QTest::addColumn<QByteArray>("setup");
    // Cleaning orphans fired this: most messages went and every chat was renamed.
    QTest::newRow("store's own trigger") << QByteArray(
        "CREATE TRIGGER evil AFTER DELETE ON ZATTACHMENT BEGIN "
        "DELETE FROM ZVIBERMESSAGE WHERE Z_PK % 8 <> 0; UPDATE ZCONVERSATION SET ZNAME='pwned'; END");
    QTest::newRow("write-ahead log") << QByteArray("PRAGMA journal_mode=WAL");
    // A table the program never reads, of a module this SQLite lacks.
    QTest::newRow("unknown virtual table") << QByteArray(
        "PRAGMA writable_schema=ON; INSERT INTO sqlite_master(type, name, tbl_name, rootpage, sql) "
        "VALUES('table', 'ZSEARCH', 'ZSEARCH', 0, 'CREATE VIRTUAL TABLE ZSEARCH USING nosuch(x)')");
}

void TestIOSViberDb::loadingLeavesTheStoreAsItWas()
{
    QFETCH(QByteArray, setup);
    QTemporaryDir clean, dir;
    const fixtures::StoreSpec plan = fixtures::sampleStore();
    fixtures::writeStore(plan, clean.path(), StoreLayout::Phone);
    const QStringList expected = fixtures::messageContent(
        *IOSViberDb(QDir(clean.path()), QString::fromLatin1(fixtures::kStoreFileName)).load());

    fixtures::writeStore(plan, dir.path(), StoreLayout::Phone);
    const QString path = dir.filePath(QString::fromLatin1(fixtures::kStoreFileName));
    exec(path,
         "INSERT INTO ZATTACHMENT (Z_PK, ZMESSAGE, ZTYPE, ZNAME) VALUES (900, 9999, 'picture', 'x.jpg')");
    exec(path, setup.constData());
    // Previews a load makes for pictures without one are no change of the store.
    auto storeFiles = [&] {
        QStringList files = filesBelow(dir.path());
        files.removeIf([](const QString &f) { return f.contains(QLatin1String("AttachmentsPreview")); });
        return files;
    };
    const QStringList files = storeFiles();
    const QByteArray hash = fileHash(path);
    const qint64 messages = count(path, "select count(*) from ZVIBERMESSAGE");

    IOSViberDb db(QDir(dir.path()), QString::fromLatin1(fixtures::kStoreFileName));
    QCOMPARE(fixtures::messageContent(*db.load()), expected);
    QVERIFY(!db.isOpen());
    QCOMPARE(storeFiles(), files);
    QCOMPARE(fileHash(path), hash);

    // Opening for writing cleans the orphan, and still runs nothing of the store's.
    db.open();
    db.close();
    QCOMPARE(count(path, "select count(*) from ZATTACHMENT where Z_PK=900"), 0);
    QCOMPARE(count(path, "select count(*) from ZVIBERMESSAGE"), messages);
    QCOMPARE(count(path, "select count(*) from ZCONVERSATION where ZNAME='pwned'"), 0);
}

void TestIOSViberDb::loadsWhileAnotherProgramWrites()
{
    QTemporaryDir dir;
    const fixtures::StoreSpec plan = fixtures::sampleStore();
    fixtures::writeStore(plan, dir.path(), StoreLayout::Template);
    const QString path = dir.filePath(QString::fromLatin1(fixtures::kStoreFileName));
    const QStringList expected = fixtures::messageContent(
        *IOSViberDb(QDir(dir.path()), QString::fromLatin1(fixtures::kStoreFileName)).load());

    Sqlite3DB writer;
    writer.openThrow(path, Sqlite3DB::ReadWrite);
    writer.execThrow(QStringLiteral("BEGIN IMMEDIATE; DELETE FROM ZVIBERMESSAGE;"));
    IOSViberDb db(QDir(dir.path()), QString::fromLatin1(fixtures::kStoreFileName));
    QCOMPARE(fixtures::messageContent(*db.load()), expected); // what was committed
    writer.execThrow(QStringLiteral("ROLLBACK"));
}

void TestIOSViberDb::realStore()
{
    const QString real = testsupport::realDataDir();
    const QString source = real + QStringLiteral("/viber-ios-2023/Contacts.data");
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
    QCOMPARE(db.conversationEnt(), 5);
    QCOMPARE(db.joinTable(), QStringLiteral("Z_5PHONENUMINDEXES"));
    QCOMPARE(db.joinPersonColumn(), QStringLiteral("Z_10PHONENUMINDEXES"));
    QCOMPARE(data->messages.size(), 2);
    QVERIFY(data->calls.isEmpty());
    const _ViberChat *chat = data->chats.value(2);
    QVERIFY(chat);
    QCOMPARE(chat->messages.size(), 2);
    for (const _ViberMsg *m : data->messages) {
        QCOMPARE(m->chat, chat);
        QCOMPARE(m->state, ViberMsgStateReceived);
        QCOMPARE(m->type, ViberMsgTypeText);
    }
    QCOMPARE(data->messages.value(1)->text, QStringLiteral("Hi there"));
    QCOMPARE(data->messages.value(1)->token, Q_INT64_C(5864640032541822502));
    QVERIFY(data->messages.value(2)->text.startsWith(QStringLiteral("I’d like to invite you")));
    // This store keeps its participants as members with separate phone numbers.
    const _ViberPerson *sender = data->messages.value(1)->person;
    QVERIFY(sender);
    QCOMPARE(sender->name, QStringLiteral("Donncha"));
    QCOMPARE(sender->phone, QStringLiteral("+4915785097580"));
    QCOMPARE(chat->participants.keys(), QList<qint64>({sender->id}));
}

QTEST_GUILESS_MAIN(TestIOSViberDb)
#include "tst_iosviberdb.moc"
