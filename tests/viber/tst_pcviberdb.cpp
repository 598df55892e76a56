#include "support/DesktopFixtures.h"
#include "support/StoreFixtures.h"
#include "support/TestSupport.h"

#include "viber/MessageMetadata.h"
#include "viber/PCViberDb.h"

#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using fixtures::DesktopLayout;

namespace {

// One line per chat and message (with its attachment or call), times in seconds: what a load
// made, compact enough to compare whole. The home folder shows as "~".
QStringList records(const ViberData &d, bool groupsOnly = false)
{
    static const QStringList types =
        u"? call picture location system audio sticker text video file"_s.split(u' ');
    static const char *const calls[] = {"?", "incoming", "outgoing", "missed"};
    const auto who = [](const _ViberPerson *p) { return p ? personDisplayName(p) : u"-"_s; };
    const auto secs = [](double t) { return QString::number(storeTimeToDateTime(t).toSecsSinceEpoch()); };
    QStringList lines;
    for (const _ViberChat *c : d.chats) {
        QStringList members;
        for (const _ViberPerson *p : c->participants)
            members << who(p);
        members.sort();
        // Ids made up for groups are checked apart; here only that there is one.
        const QString group = !groupsOnly            ? u"'%1'"_s.arg(c->groupId)
                              : c->groupId.isEmpty() ? u"''"_s
                                                     : u"group"_s;
        lines << u"chat %1 '%2' %3 %4 [%5]"_s.arg(QString::number(c->id), c->name, group, secs(c->date),
                                                  members.join(u' '));
    }
    for (const _ViberMsg *m : d.messages) {
        QString line = u"msg %1 c%2 %3 %4 %5 %6 #%7 '%8'"_s.arg(
            QString::number(m->id), QString::number(m->chat->id), types.value(m->type),
            isOutgoing(m) ? u"out"_s : u"in"_s, who(m->person), secs(m->date), QString::number(m->token),
            m->text.toString());
        if (MessageMetadata::of(m).edited)
            line += u" edited"_s;
        if (m->latitude() != 0 || m->longitude() != 0)
            line += u" at %1,%2"_s.arg(m->latitude(), 0, 'g', 10).arg(m->longitude(), 0, 'g', 10);
        if (const _ViberAtta *a = m->attachment)
            line += u" | %1 '%2' '%3' '%4' %5s %6 %7"_s.arg(
                a->fileName, a->filePath, a->previewPath, a->attId, QString::number(a->duration), a->type,
                a->fileSize > 0 ? QString::number(a->fileSize) + u'B' : QString());
        if (const _ViberCall *c = m->call)
            line += u" | %1 %2s %3"_s.arg(QLatin1String(calls[c->type]), QString::number(c->duration),
                                          who(c->person));
        lines << line.replace(QDir::homePath(), u"~"_s).trimmed();
    }
    lines.sort(); // ids of the same length sort by number
    return lines;
}

using fixtures::exec;

} // namespace

class TestPCViberDb : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString rowFile() const
    {
        return m_dir.filePath(QLatin1String(QTest::currentDataTag()) + u"/viber.db"_s);
    }

private slots:
    // Every type code of each layout, each row once with its kind, direction, party, chat,
    // caption, file name, time and place; what no record is made of is counted with its reason.
    void everyTypeCode_data()
    {
        QTest::addColumn<DesktopLayout>("layout");
        QTest::addColumn<QString>("journal");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("leftOut"); // kind: reason
        // Lines both layouts read alike; times are seconds, group ids of the 2017 layout made up.
        const QStringList common{
            u"chat 10 '' '' 1500000000 [Ann Smith]"_s,
            u"msg 100 c10 text in Ann Smith 1500000100 #9001 'Hello'"_s,
            u"msg 101 c10 text out - 1500000101 #9002 'Hi Ann'"_s,
            // The caption is the body.
            u"msg 102 c11 picture in Bob 1500000102 #9003 'Beach' | 9003.JPG "
            u"'C:/Users/me/Pictures/IMG_1.JPG' 'C:/Users/me/Thumbs/IMG_1.jpg' '9003' 0s"_s,
            u"msg 104 c11 sticker out - 1500000104 #9005 '' | 9005 '' '' '123456' 0s"_s,
            u"msg 200 c10 call in - 1500000500 #7001 '' | incoming 5s Ann Smith"_s,
            // The owner wrote the outgoing call; it is Ann's.
            u"msg 201 c10 call in - 1500000510 #7002 '' | missed 0s Ann Smith"_s,
            u"msg 202 c10 call out - 1500000520 #7003 '' | outgoing 0s Ann Smith"_s};
        QTest::newRow("classic, rollback journal")
            << DesktopLayout::Classic << u"DELETE"_s
            << common +
                   QStringList{
                       u"chat 11 'Friends' '6012345678901' 1500000060 [Ann Smith Bob Cid]"_s,
                       u"chat 12 'Old group' '6012345678902' 1500000120 []"_s,
                       // A phone outside Viber, called: no participant has the number.
                       u"chat 14 '' '' 1500000130 [441632960000]"_s,
                       // Without a token a file is named by its date in milliseconds.
                       u"msg 103 c11 video in Cid 1500000103 #0 '' | 1500000103000.mp4 '/home/me/clip.mp4' '' '0' 0s"_s,
                       u"msg 105 c10 audio in Ann Smith 1500000105 #9006 '' | ptt-7f3a.m4a "
                       u"'~/Documents/ViberDownloads/PTT/ptt-7f3a.m4a' '' 'ptt-7f3a.m4a' 1s"_s,
                       u"msg 106 c10 location in Ann Smith 1500000106 #9007 'Khreshchatyk, Kyiv' at "
                       u"50.4501,30.5234 | 9007 '' '' '' 0s"_s,
                       u"msg 107 c10 text in Ann Smith 1500000107 #9008 'Here' at -34.6037,-58.3816"_s,
                       // Bits are tested text first, then voice before video.
                       u"msg 108 c10 text in Ann Smith 1500000108 #9009 'Both'"_s,
                       u"msg 109 c10 audio in Ann Smith 1500000109 #9010 '' | ptt-9.m4a "
                       u"'/home/me/song.mp3' '' 'ptt-9.m4a' 0s"_s,
                       // Ten millionths of a degree are no place: no map point, the text kept.
                       u"msg 110 c10 text in Ann Smith 1500000110 #9011 'Far'"_s,
                       u"msg 203 c14 call out - 1500000530 #7004 '' | outgoing 61s 441632960000"_s}
            << QStringList{u"messages: are of a kind this version cannot read (2)"_s};
        QTest::newRow("2017, write-ahead log")
            << DesktopLayout::Contacts << u"WAL"_s
            << common +
                   QStringList{
                       // The owner is no member; more than one other member, or roles, make a group.
                       u"chat 11 'Friends' group 1500000060 [Ann Smith Bob Cid]"_s,
                       u"chat 12 'Old group' group 1500000120 []"_s,
                       u"chat 13 'Two of us' group 1500000180 [Bob]"_s,
                       u"msg 103 c11 video in Cid 1500000103 #0 '' | 1500000103000.mp4 '/home/me/clip.mp4' '' '0' 12s"_s,
                       // A voice message without an id is named by its file.
                       u"msg 105 c10 audio in Ann Smith 1500000105 #9006 '' | voice 1.m4a "
                       u"'C:/Users/me/PTT/voice 1.m4a' '' '' 1s"_s,
                       u"msg 106 c10 text in Ann Smith 1500000106 #9007 'Here' at -34.6037,-58.3816"_s,
                       u"msg 107 c10 text in Ann Smith 1500000107 #9008 'Formatted'"_s,
                       u"msg 108 c10 text in Ann Smith 1500000108 #9009 'https://example.com/'"_s,
                       // An audio file stays a file, not a voice message, under its own name.
                       u"msg 109 c10 file in Ann Smith 1500000109 #9010 '' | Report 2017.pdf "
                       u"'/home/me/Downloads/x1.pdf' '' '9010' 0s file 52000B"_s,
                       u"msg 111 c10 video in Ann Smith 1500000111 #9012 '' | 9012.mp4 "
                       u"'C:/Users/me/ivm.mp4' '' '9012' 4s"_s,
                       u"msg 112 c10 text in Ann Smith 1500000112 #9013 'Fixed typo' edited"_s,
                       u"msg 113 c10 text in Ann Smith 1500000113 #9014 'Far'"_s,
                       u"msg 114 c11 text in Bob 1500000114 #9015 'Kyiv' at 50.4501,30.5234"_s,
                       u"msg 115 c13 text out - 1500000115 #9016 'Just us'"_s}
            << QStringList{u"messages: are of a kind this version cannot read (64)"_s,
                           u"calls: name nobody the database holds"_s};
    }

    void everyTypeCode()
    {
        QFETCH(DesktopLayout, layout);
        QFETCH(QString, journal);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, leftOut);
        const QString path = rowFile();
        fixtures::writeDesktopStore(fixtures::sampleDesktopStore(layout), path, layout);
        exec(path, u"PRAGMA journal_mode="_s + journal);
        const QByteArray before = testsupport::readFile(path);
        PCViberDb db(path);
        // A cancel raised from the progress callback ends the load and closes the file.
        db.setLoadProgress([](int) { throw -1; });
        QVERIFY_THROWS_EXCEPTION(int, db.load());
        QVERIFY(!db.isOpen());
        db.setLoadProgress({});
        const ViberDataPtr data = db.load();
        // Reading changed nothing and left nothing beside the file.
        QVERIFY(!db.isOpen());
        QCOMPARE(testsupport::readFile(path), before);
        QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u"viber.db"_s});
        expected.sort();
        QCOMPARE(records(*data, layout != DesktopLayout::Classic), expected);

        // Every row is read or left out with its reason.
        const LoadAccount &account = data->account;
        QVERIFY2(account.balances(), qPrintable(account.imbalances().join(u"; "_s)));
        QStringList reasons;
        for (const LoadAccount::Kind kind : {LoadAccount::Chats, LoadAccount::People, LoadAccount::Messages,
                                             LoadAccount::Attachments, LoadAccount::Calls}) {
            const LoadAccount::Count &count = account.count(kind);
            for (auto it = count.leftOut.cbegin(); it != count.leftOut.cend(); ++it)
                reasons << LoadAccount::kindName(kind) + u": "_s + it.key();
        }
        QCOMPARE(reasons, leftOut);
        QCOMPARE(account.leftOutTotal(), leftOut.size());
    }

    // A group the file gives no id of its own keeps one account's chat apart from another's.
    void groupsWithoutTokens()
    {
        const QString a = m_dir.filePath(u"447700900000/viber.db"_s),
                      b = m_dir.filePath(u"447700900099/viber.db"_s);
        for (const QString &path : {a, b})
            fixtures::writeDesktopStore(fixtures::sampleDesktopStore(DesktopLayout::Contacts), path,
                                        DesktopLayout::Contacts);
        const ViberDataPtr first = PCViberDb(a).load(), again = PCViberDb(a).load(),
                           other = PCViberDb(b).load();
        QSet<QString> ids;
        for (const qint64 chat : {11, 12, 13}) {
            const QString id = first->chats.value(chat)->groupId;
            QVERIFY2(!id.isEmpty() && id.toLongLong() > 0, qPrintable(id));
            QCOMPARE(again->chats.value(chat)->groupId, id);
            ids << id << other->chats.value(chat)->groupId;
        }
        QCOMPARE(ids.size(), 6);
    }

    void refusedFiles_data()
    {
        QTest::addColumn<QString>("breakage"); // SQL run on the sample, or how its bytes are spoilt
        QTest::addColumn<QString>("said");
        const QString encrypted = u"This Viber Desktop database is encrypted by Viber and cannot be read"_s;
        QTest::newRow("no header") << u"bytes 0"_s << encrypted;
        // Encrypted pages behind a plain header: SQLite finds no database.
        QTest::newRow("header kept") << u"bytes 16"_s << encrypted;
        // Not random enough or not whole pages: no database at all, whatever its name.
        const QString notSqlite = u"is not a Viber Desktop database (it is not an SQLite file)"_s;
        QTest::newRow("empty file") << u"text 0"_s << notSqlite;
        QTest::newRow("a page of text") << u"text 4096"_s << notSqlite;
        QTest::newRow("random bytes, no page") << u"random 1000"_s << notSqlite;
        QTest::newRow("no chats table") << u"DROP TABLE ChatInfo"_s << u"the table ChatInfo is missing"_s;
        QTest::newRow("no event ids") << u"ALTER TABLE Messages RENAME COLUMN EventId TO Id"_s
                                      << u"the column Messages.EventId is missing"_s;
        QTest::newRow("missing file") << u"remove"_s << u"does not exist"_s;
    }

    void refusedFiles()
    {
        QFETCH(QString, breakage);
        QFETCH(QString, said);
        const QString path = rowFile();
        fixtures::writeDesktopStore(fixtures::sampleDesktopStore(DesktopLayout::Contacts), path,
                                    DesktopLayout::Contacts);
        // "bytes N": random-looking from byte N on; "random N", "text N": N such bytes, or of text.
        QByteArray bytes = testsupport::readFile(path);
        const QString kind = breakage.section(u' ', 0, 0);
        const int n = breakage.section(u' ', 1).toInt();
        if (kind == u"text"_s)
            bytes = QByteArray("some notes, not a database\n").repeated(200).left(n);
        if (kind == u"random"_s)
            bytes.resize(n);
        for (qsizetype i = kind == u"bytes"_s ? n : 0;
             (kind == u"bytes"_s || kind == u"random"_s) && i < bytes.size(); ++i)
            bytes[i] = char((i * 37 + 11) & 0xff);
        QVERIFY(QFile::remove(path) && (breakage == u"remove"_s || testsupport::writeFile(path, bytes)));
        if (breakage.startsWith(u"ALTER"_s) || breakage.startsWith(u"DROP"_s))
            exec(path, breakage);
        const QByteArray before = testsupport::readFile(path);
        const QString error = testsupport::errorOf([&] { PCViberDb(path).load(); });
        QVERIFY2(error.contains(said) && error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
        QCOMPARE(testsupport::readFile(path), before);
        QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files),
                 QFileInfo::exists(path) ? QStringList{u"viber.db"_s} : QStringList{});
    }

    // NULL, textual and repeated ids, dangling chats, wrong types, extremes and a path out of
    // its folder: no record of the sample is replaced or lost, and what is added holds no more.
    void hostileValuesLoadWithoutCrashing()
    {
        const QString clean = m_dir.filePath(u"clean/viber.db"_s),
                      path = m_dir.filePath(u"hostile/viber.db"_s);
        fixtures::writeDesktopStore(fixtures::sampleDesktopStore(DesktopLayout::Classic), clean,
                                    DesktopLayout::Classic);
        fixtures::writeDesktopStore(fixtures::sampleDesktopStore(DesktopLayout::Classic) +
                                        uR"(; INSERT INTO OriginNumberInfo (rowid, Number) VALUES (9, NULL);
INSERT INTO ChatInfo (ChatID, TimeStamp, Name, Token, Flags) VALUES (NULL, 0, 'null id', 1, 0),
 ('abc', 0, 'text id', 2, 0), (10, 0, 'repeated', 3, 0), (-5, -1, NULL, NULL, NULL);
INSERT INTO ChatRelation VALUES (999, '447700900002'), (10, 'nobody'), (-5, '447700900002');
INSERT INTO Events (EventId, TimeStamp, Direction, ChatID, Number, Token, ContactLatitude, ContactLongitude)
 VALUES (NULL, 0, 0, 10, NULL, 0, 0, 0), (100, #100, 0, 10, @1, 9001, 0, 0), (300, 0, 0, 999, NULL, 0, 0, 0),
 (301, 'yesterday', x'01', '10', 447700900001, 'x', 'abc', 1.5), (302, 9223372036854775807, 0, 10, NULL,
 -9223372036854775808, -9223372036854775808, 9223372036854775807), (303, 0, 0, -5, '447700900002', 0, 0, 0),
 (-7, 0, 0, -5, NULL, 0, 0, 0), (400, 0, 0, 10, @1, 0, 0, 0), (401, 0, 0, 10, @1, 0, 0, 0);
INSERT INTO Messages (EventId, Type, Body, PayloadPath, PttDuration, PttID) VALUES (NULL, 64, 'null id', NULL,
 NULL, NULL), (100, 64, 'repeated', NULL, NULL, NULL), (300, 64, 'dangling', NULL, NULL, NULL),
 (301, '64', x'414243', NULL, NULL, NULL), (302, 128, NULL, 'x.jpg', -5, NULL), (303, 65536, NULL, NULL,
 'long', '../../../etc/passwd'), (-7, 64, 'negative', NULL, NULL, NULL), (101, 64, 'also a call', NULL, NULL, NULL);
INSERT INTO Calls VALUES (101, 3), ('abc', 3), (400, 1e12), (401, -4), (300, 1))"_s,
                                    path, DesktopLayout::Classic);
        const ViberDataPtr data = PCViberDb(path).load();
        QVERIFY2(data->account.balances(), qPrintable(data->account.imbalances().join(u"; "_s)));
        QStringList added = records(*data);
        for (const QString &line : records(*PCViberDb(clean).load()))
            QVERIFY2(added.removeOne(line), qPrintable(line));
        QCOMPARE(
            added,
            (QStringList{
                u"chat -5 '' '' -1 [Bob]"_s, u"msg -7 c-5 text in - 0 #0 'negative'"_s,
                // No number is no place, and a place at no scale of the clients is none either.
                u"msg 301 c10 text in Ann Smith 0 #0 'ABC'"_s,
                // Times held at the end of 9999.
                u"msg 302 c10 picture in - 253402300799 #-9223372036854775808 '' | 253402300799000.jpg 'x.jpg' '' '-9223372036854775808' 0s"_s,
                u"msg 303 c-5 audio in Bob 0 #0 '' | ../../../etc/passwd '' '' '../../../etc/passwd' 0s"_s,
                u"msg 400 c10 call in - 0 #0 '' | incoming 2147483647s Ann Smith"_s,
                u"msg 401 c10 call in - 0 #0 '' | missed 0s Ann Smith"_s}));
        // Without the tables a message can do without, the messages still load.
        exec(path, u"DROP TABLE Calls; DROP TABLE ChatRelation; DROP TABLE OriginNumberInfo"_s);
        const ViberDataPtr bare = PCViberDb(path).load();
        QCOMPARE(bare->messages.size(), data->messages.size() - data->calls.size());
        // Chats of no name keep the number their token names, as a participant made up for it.
        QVERIFY(bare->calls.isEmpty());
        QCOMPARE(bare->account.count(LoadAccount::People).madeUp, bare->persons.size());
        QCOMPARE(bare->chats.value(10)->participants.cbegin().value()->phone, u"447700900001"_s);
    }
};

QTEST_GUILESS_MAIN(TestPCViberDb)
#include "tst_pcviberdb.moc"
