#include "support/DesktopFixtures.h"
#include "support/TempHome.h"
#include "support/TestSupport.h"

#include "viber/PCViberDb.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;
using fixtures::DesktopLayout;

namespace {

QString when(double storeTime)
{
    return storeTimeToDateTime(storeTime).toUTC().toString(Qt::ISODate);
}

QString who(const _ViberPerson *person)
{
    return person ? personDisplayName(person) : u"-"_s;
}

QString typeName(ViberMsgType type)
{
    static const char *const names[] = {"?",     "call",    "picture", "location", "system",
                                        "audio", "sticker", "text",    "video",    "file"};
    return QString::fromLatin1(names[type >= 1 && type <= 9 ? type : 0]);
}

// One line per person, chat and message (with its attachment or call) by id: what a load
// made, compact enough to compare whole. The home folder shows as "~".
QStringList records(const ViberData &d)
{
    const auto sorted = [](QList<qint64> ids) {
        std::sort(ids.begin(), ids.end());
        return ids;
    };
    QStringList lines;
    for (qint64 id : sorted(d.persons.keys())) {
        const _ViberPerson *p = d.persons.value(id);
        lines << u"person %1 %2 %3 '%4'"_s.arg(id).arg(p->phone, p->name, p->contactIconPath);
    }
    for (qint64 id : sorted(d.chats.keys())) {
        const _ViberChat *chat = d.chats.value(id);
        QStringList members;
        for (const _ViberPerson *p : chat->participants)
            members << who(p);
        members.sort();
        lines << u"chat %1 '%2' group '%3' %4 [%5]"_s.arg(id).arg(chat->name, chat->groupId, when(chat->date),
                                                                  members.join(u", "_s));
    }
    for (qint64 id : sorted(d.messages.keys())) {
        const _ViberMsg *m = d.messages.value(id);
        QString line =
            u"msg %1 in %2 %3 %4 %5 %6 token %7 '%8'"_s.arg(id)
                .arg(m->chat->id)
                .arg(typeName(m->type), isOutgoing(m) ? u"out"_s : u"in"_s, who(m->person), when(m->date))
                .arg(m->token)
                .arg(m->text);
        if (m->latitude != 0 || m->longitude != 0)
            line += u" at %1,%2"_s.arg(m->latitude, 0, 'g', 10).arg(m->longitude, 0, 'g', 10);
        if (const _ViberAtta *a = m->attachment)
            line += u" | '%1' path '%2' preview '%3' id '%4' %5s"_s
                        .arg(a->fileName, a->filePath, a->previewPath, a->attId)
                        .arg(a->duration);
        if (const _ViberCall *c = m->call) {
            static const char *const types[] = {"?", "incoming", "outgoing", "missed"};
            line += u" | call %1 %2s %3"_s.arg(QLatin1String(types[c->type]))
                        .arg(c->duration)
                        .arg(who(c->person));
        }
        lines << line.replace(QDir::homePath(), u"~"_s);
    }
    return lines;
}

// SQL run on a file behind the reader's back.
void exec(const QString &path, const QString &sql)
{
    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::ReadWrite);
    db.execThrow(sql);
}

QString errorOf(const QString &path)
{
    try {
        PCViberDb(path).load();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}

} // namespace

class TestPCViberDb : public QObject
{
    Q_OBJECT

private slots:
    void bothLayoutsLoadTheSameRecords_data();
    void bothLayoutsLoadTheSameRecords();
    void messageTypes_data();
    void messageTypes();
    void accountDiscovery_data();
    void accountDiscovery();
    void refusedFiles_data();
    void refusedFiles();
    void hostileValuesLoadWithoutCrashing();

private:
    // A new file for the running test row.
    QString rowFile() const
    {
        return m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + u"/viber.db"_s);
    }
    QTemporaryDir m_dir;
};

void TestPCViberDb::bothLayoutsLoadTheSameRecords_data()
{
    QTest::addColumn<DesktopLayout>("layout");
    QTest::addColumn<QString>("journal");
    QTest::newRow("classic, rollback journal") << DesktopLayout::Classic << u"DELETE"_s;
    QTest::newRow("2017, write-ahead log") << DesktopLayout::Contacts << u"WAL"_s;
}

void TestPCViberDb::bothLayoutsLoadTheSameRecords()
{
    QFETCH(DesktopLayout, layout);
    QFETCH(QString, journal);
    TempHome home;
    const QString path = rowFile();
    fixtures::writeDesktopStore(fixtures::sampleDesktopStore(), path, layout);
    exec(path, u"PRAGMA journal_mode="_s + journal);
    const QByteArray before = testsupport::readFile(path);
    PCViberDb db(path);
    // A cancel raised from the progress callback ends the load and closes the file.
    db.setLoadProgress([](int percent) {
        if (percent > 0)
            throw -1;
    });
    QVERIFY_THROWS_EXCEPTION(int, db.load());
    QVERIFY(!db.isOpen());
    QList<int> seen;
    db.setLoadProgress([&](int percent) { seen << percent; });
    const ViberDataPtr data = db.load();
    QVERIFY(seen.first() == 0 && seen.last() == 100 && std::is_sorted(seen.cbegin(), seen.cend()));
    // Reading changed nothing and left nothing beside the file.
    QVERIFY(!db.isOpen());
    QCOMPARE(testsupport::readFile(path), before);
    QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"viber.db"_s});
    QCOMPARE(db.layout(),
             layout == DesktopLayout::Classic ? PCViberDb::Layout::Classic : PCViberDb::Layout::Contacts);
    const QString pictures = u"C:/Users/me/AppData/Roaming/ViberPC/447700900000/"_s;
    const QStringList expected = {
        u"person 1 447700900001 Ann '%1'"_s.arg(
            layout == DesktopLayout::Classic ? pictures + u"Avatars/ann.jpg"_s : QString()),
        u"person 2 447700900002 Bob ''"_s,
        u"person 3 447700900003 Cid ''"_s,
        u"chat 10 '' group '' 2017-07-14T02:40:00Z [Ann]"_s,
        u"chat 11 'Friends' group '6012345678901' 2017-07-14T02:41:00Z [Ann, Bob, Cid]"_s,
        u"chat 12 'Old group' group '6012345678902' 2017-07-14T02:42:00Z []"_s,
        u"msg 100 in 10 text in Ann 2017-07-14T02:41:40Z token 9001 'Hello'"_s,
        u"msg 101 in 10 text out - 2017-07-14T02:41:41Z token 9002 'Hi Ann'"_s,
        u"msg 102 in 11 picture in Bob 2017-07-14T02:41:42Z token 9003 'Beach' | '9003.JPG' path '"_s +
            pictures + u"Pictures/IMG_1.JPG' preview '"_s + pictures +
            u"Thumbnails/IMG_1.jpg' id '9003' 0s"_s,
        // Without a token a file is named by its date in milliseconds.
        u"msg 103 in 11 video in Cid 2017-07-14T02:41:43Z token 0 '' | '1500000103000.mp4' path "
        u"'/home/me/ViberDownloads/clip.mp4' preview '' id '0' 12s"_s,
        u"msg 104 in 11 sticker out - 2017-07-14T02:41:44Z token 9005 '' | '9005' path '' preview '' id "
        u"'123456' 0s"_s,
        u"msg 105 in 10 audio in Ann 2017-07-14T02:41:45Z token 9006 '' | 'ptt-7f3a.m4a' path "
        u"'~/Documents/ViberDownloads/PTT/ptt-7f3a.m4a' preview '' id 'ptt-7f3a.m4a' 1s"_s,
        u"msg 106 in 10 text in Ann 2017-07-14T02:41:46Z token 9007 'Here' at 51.507351,-127"_s,
        u"msg 200 in 10 call in - 2017-07-14T02:48:20Z token 7001 '' | call incoming 5s Ann"_s,
        u"msg 201 in 10 call in - 2017-07-14T02:48:30Z token 7002 '' | call missed 0s Ann"_s,
        u"msg 202 in 10 call out - 2017-07-14T02:48:40Z token 7003 '' | call outgoing 0s Ann"_s,
    };
    QCOMPARE(records(*data), expected);
}

void TestPCViberDb::messageTypes_data()
{
    QTest::addColumn<DesktopLayout>("layout");
    QTest::addColumn<qint64>("type");
    QTest::addColumn<QString>("loaded"); // type and text; "-": skipped
    const DesktopLayout classic = DesktopLayout::Classic, contacts = DesktopLayout::Contacts;
    // Bits are tested text first, so a text flag beside a picture flag wins.
    QTest::newRow("classic text and picture") << classic << qint64(0x40 | 0x80) << u"text body"_s;
    QTest::newRow("classic location") << classic << qint64(0x1000) << u"location "_s;
    QTest::newRow("classic voice over video") << classic << qint64(0x10200) << u"audio "_s;
    QTest::newRow("classic unknown bits") << classic << qint64(0x2) << u"-"_s;
    QTest::newRow("2017 text 15") << contacts << qint64(15) << u"text body"_s;
    QTest::newRow("2017 link") << contacts << qint64(9) << u"text body"_s;
    QTest::newRow("2017 audio file") << contacts << qint64(11) << u"file subject"_s;
    QTest::newRow("2017 unknown") << contacts << qint64(5) << u"-"_s;
    QTest::newRow("2017 flag value") << contacts << qint64(0x40) << u"-"_s;
}

void TestPCViberDb::messageTypes()
{
    QFETCH(DesktopLayout, layout);
    QFETCH(qint64, type);
    QFETCH(QString, loaded);
    const QString path = rowFile();
    fixtures::writeDesktopStore(u"INSERT INTO ChatInfo (ChatId) VALUES (1);"
                                u"INSERT INTO Events (EventId, ChatID, Token) VALUES (5, 1, 8);"
                                u"INSERT INTO Messages (EventId, Type, Body, Subject, PayloadPath)"
                                u" VALUES (5, %1, 'body', 'subject', '/f/a.mp3')"_s.arg(type),
                                path, layout);
    const ViberDataPtr data = PCViberDb(path).load();
    const _ViberMsg *msg = data->messages.value(5);
    QCOMPARE(msg ? typeName(msg->type) + u' ' + msg->text : u"-"_s, loaded);
    if (msg && msg->type == ViberMsgTypeFile) // kept as a file, not as a voice message
        QCOMPARE(msg->attachment->type, u"file"_s);
}
void TestPCViberDb::accountDiscovery_data()
{
    // Files made below the home folder ("name:empty" an empty one, "name/" a folder,
    // "link->target" a link); the data home is "xdg" in it.
    QTest::addColumn<QStringList>("made");
    QTest::addColumn<QStringList>("accounts"); // name and database, relative to home
    QTest::newRow("none") << QStringList{} << QStringList{};
    QTest::newRow("data home") << QStringList{u"xdg/ViberPC/111/viber.db"_s}
                               << QStringList{u"111 xdg/ViberPC/111/viber.db"_s};
    QTest::newRow("dot folder") << QStringList{u".ViberPC/222/viber.db"_s}
                                << QStringList{u"222 .ViberPC/222/viber.db"_s};
    QTest::newRow("both, data home first")
        << QStringList{u".ViberPC/111/viber.db"_s, u"xdg/ViberPC/333/viber.db"_s}
        << QStringList{u"333 xdg/ViberPC/333/viber.db"_s, u"111 .ViberPC/111/viber.db"_s};
    QTest::newRow("empty, missing or folder database")
        << QStringList{u"xdg/ViberPC/444/viber.db:empty"_s, u"xdg/ViberPC/555/other.db"_s,
                       u"xdg/ViberPC/666/viber.db/"_s, u"xdg/ViberPC/777/viber.db"_s}
        << QStringList{u"777 xdg/ViberPC/777/viber.db"_s};
    QTest::newRow("one folder under two names")
        << QStringList{u"xdg/ViberPC/888/viber.db"_s, u".ViberPC->xdg/ViberPC"_s}
        << QStringList{u"888 xdg/ViberPC/888/viber.db"_s};
}

void TestPCViberDb::accountDiscovery()
{
    QFETCH(QStringList, made);
    QFETCH(QStringList, accounts);
    TempHome home;
    const QDir root(home.path());
    for (const QString &item : std::as_const(made)) {
        if (item.contains(u"->"_s)) {
            const QStringList parts = item.split(u"->"_s);
            QVERIFY(QFile::link(root.filePath(parts[1]), root.filePath(parts[0])));
        } else if (item.endsWith(u'/')) {
            QVERIFY(root.mkpath(item));
        } else {
            const bool empty = item.endsWith(u":empty"_s);
            QVERIFY(testsupport::writeFile(root.filePath(item.chopped(empty ? 6 : 0)),
                                           empty ? QByteArray() : QByteArray("SQLite format 3")));
        }
    }
    QStringList found;
    for (const PCViberAccount &a : PCViberDb::findAccounts()) {
        found << a.name + u' ' + root.relativeFilePath(a.dbPath);
        QCOMPARE(a.sourceName(), u"ViberPC-"_s + a.name);
    }
    QCOMPARE(found, accounts);
}

void TestPCViberDb::refusedFiles_data()
{
    QTest::addColumn<QString>("breakage"); // SQL run on the sample, or how its bytes are spoilt
    QTest::addColumn<QString>("said");
    const QString encrypted = u"This Viber Desktop database is encrypted by Viber and cannot be read"_s;
    QTest::newRow("no header") << u"bytes 0"_s << encrypted;
    // Encrypted pages behind a plain header: SQLite finds no database.
    QTest::newRow("header kept") << u"bytes 16"_s << encrypted;
    QTest::newRow("no chats table") << u"DROP TABLE ChatInfo"_s << u"the table ChatInfo is missing"_s;
    QTest::newRow("no event ids") << u"ALTER TABLE Messages RENAME COLUMN EventId TO Id"_s
                                  << u"the column Messages.EventId is missing"_s;
    QTest::newRow("missing file") << u"remove"_s << u"does not exist"_s;
}

void TestPCViberDb::refusedFiles()
{
    QFETCH(QString, breakage);
    QFETCH(QString, said);
    const QString path = rowFile();
    fixtures::writeDesktopStore(fixtures::sampleDesktopStore(), path, DesktopLayout::Contacts);
    if (breakage == u"remove"_s) {
        QVERIFY(QFile::remove(path));
    } else if (breakage.startsWith(u"bytes"_s)) {
        QByteArray bytes = testsupport::readFile(path);
        for (qsizetype i = breakage.mid(6).toInt(); i < bytes.size(); ++i)
            bytes[i] = char((i * 37 + 11) & 0xff);
        QVERIFY(QFile::remove(path) && testsupport::writeFile(path, bytes));
    } else {
        exec(path, breakage);
    }
    const QByteArray before = testsupport::readFile(path);
    const QString error = errorOf(path);
    QVERIFY2(error.contains(said) && error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
    QVERIFY2(!error.contains(u"sqlite"_s, Qt::CaseInsensitive), qPrintable(error));
    QCOMPARE(testsupport::readFile(path), before);
    QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files),
             QFileInfo::exists(path) ? QStringList{u"viber.db"_s} : QStringList{});
}

void TestPCViberDb::hostileValuesLoadWithoutCrashing()
{
    const QString path = m_dir.filePath(u"hostile/viber.db"_s);
    fixtures::writeDesktopStore(fixtures::sampleDesktopStore(), path, DesktopLayout::Classic);
    // Without their keys the tables take NULL and repeated ids, as a damaged file may hold.
    for (const char *table : {"ChatInfo", "Events", "Messages", "Calls"})
        exec(path,
             u"ALTER TABLE %1 RENAME TO old; CREATE TABLE %1 AS SELECT * FROM old; DROP TABLE old"_s.arg(
                 QLatin1String(table)));
    exec(path,
         u"INSERT INTO OriginNumberInfo (rowid, Number) VALUES (9, NULL);"
         "INSERT INTO ChatInfo VALUES (NULL, 0, 'null id', 1, 0), ('abc', 0, 'text id', 2, 0),"
         " (10, 0, 'repeated', 3, 0), (-5, -1, NULL, NULL, NULL);"
         "INSERT INTO ChatRelation VALUES (999, '447700900002'), (10, 'nobody'), (-5, '447700900002');"
         // a NULL id, a repeated id, a dangling chat, wrong types, extremes, a path out of its folder
         "INSERT INTO Events (EventId, TimeStamp, Direction, ChatID, Number, Token, ContactLatitude,"
         " ContactLongitude) VALUES (NULL, 0, 0, 10, NULL, 0, 0, 0), (100, 0, 0, 10, NULL, 0, 0, 0),"
         " (300, 0, 0, 999, NULL, 0, 0, 0), (301, 'yesterday', x'01', '10', 447700900001, 'x', 'abc', 1.5),"
         " (302, 9223372036854775807, 0, 10, NULL, -9223372036854775808, -9223372036854775808,"
         " 9223372036854775807), (303, 0, 0, -5, '447700900002', 0, 0, 0), (-7, 0, 0, -5, NULL, 0, 0, 0),"
         " (400, 0, 0, 10, '447700900001', 0, 0, 0), (401, 0, 0, 10, '447700900001', 0, 0, 0);"
         "INSERT INTO Messages (EventId, Type, Body, PayloadPath, Duration, PttID) VALUES"
         " (NULL, 64, 'null id', NULL, NULL, NULL), (100, 64, 'repeated', NULL, NULL, NULL),"
         " (300, 64, 'dangling', NULL, NULL, NULL), (301, '64', x'414243', NULL, NULL, NULL),"
         " (302, 128, NULL, 'x.jpg', -5, NULL), (303, 65536, NULL, NULL, 'long', '../../../etc/passwd'),"
         " (-7, 64, 'negative', NULL, NULL, NULL), (101, 64, 'also a call', NULL, NULL, NULL);"
         "INSERT INTO Calls VALUES (101, 3), ('abc', 3), (400, 1e12), (401, -4), (300, 1);"_s);
    const ViberDataPtr data = PCViberDb(path).load();
    const ViberData &d = *data;
    QCOMPARE(d.chats.size(), 4);
    QCOMPARE(d.chats.value(10)->groupId, QString()); // the first row of an id counts
    QCOMPARE(d.chats.value(-5)->participants.keys(), QList<qint64>{2});
    QCOMPARE(d.messages.value(100)->text, u"Hello"_s);
    QCOMPARE(d.messages.value(101)->text, u"Hi Ann"_s);
    QVERIFY(!d.messages.contains(300) && !d.calls.contains(101));
    QCOMPARE(d.messages.size(), 7 + 3 + 4 + 2);
    QCOMPARE(d.messages.value(301)->text, u"ABC"_s);
    QCOMPARE(d.messages.value(301)->person, d.persons.value(1));
    QCOMPARE(d.messages.value(-7)->chat->id, -5);
    const _ViberMsg *extreme = d.messages.value(302);
    QCOMPARE(when(extreme->date), u"9999-12-31T23:59:59Z"_s);
    QCOMPARE(extreme->attachment->fileName, u"253402300799000.jpg"_s);
    // Nineteen digits: two and three of them before the point.
    QVERIFY(qFuzzyCompare(extreme->latitude, -92.23372036854775808));
    QVERIFY(qFuzzyCompare(extreme->longitude, 922.3372036854775807));
    QCOMPARE(extreme->attachment->duration, 0.0);
    QCOMPARE(d.messages.value(303)->attachment->filePath, QString());
    QCOMPARE(d.calls.value(400)->duration, std::numeric_limits<qint32>::max());
    QCOMPARE(d.calls.value(401)->type, ViberCallTypeMissed);

    // Without the tables a message can do without, the messages still load.
    exec(path, u"DROP TABLE Calls; DROP TABLE ChatRelation; DROP TABLE OriginNumberInfo"_s);
    const ViberDataPtr bare = PCViberDb(path).load();
    QCOMPARE(bare->messages.size(), 7 + 4);
    QVERIFY(bare->persons.isEmpty() && bare->calls.isEmpty());
}

QTEST_GUILESS_MAIN(TestPCViberDb)
#include "tst_pcviberdb.moc"
