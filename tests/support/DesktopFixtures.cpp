#include "DesktopFixtures.h"

#include "viber/Sqlite3DB.h"

#include <QDir>
#include <QRegularExpression>

#include <stdexcept>

using namespace Qt::StringLiterals;

QString fixtures::sampleDesktopStore()
{
    return uR"(
INSERT INTO {OriginNumberInfo (rowid, Number, ClientName, AvatarPath)|Contact (ContactID, Number, ClientName)}
 VALUES (1, '447700900001', 'Ann'{, 'C:\Users\me\ann.jpg'|}), (2, '447700900002', 'Bob'{, NULL|}),
 (3, '447700900003', 'Cid'{, NULL|});
INSERT INTO ChatInfo (ChatId, TimeStamp, Name, Token) VALUES (10, #0, NULL, '447700900001'),
 (11, #60, 'Friends', '6012345678901'), (12, #120, 'Old group', '6012345678902');
INSERT INTO ChatRelation VALUES (10, @1), (11, @1), (11, @2), (11, @3);
INSERT INTO Events (EventId, TimeStamp, Direction, ChatID, {Number|ContactID}, Token, ContactLatitude,
 ContactLongitude) VALUES (100, #100, 0, 10, @1, 9001, 0, 0), (101, #101, 1, 10, @1, 9002, 0, 0),
 (102, #102, 0, 11, @2, 9003, 0, 0), (103, #103, 0, 11, @3, 0, 0, 0), (104, #104, 1, 11, NULL, 9005, 0, 0),
 (105, #105, 0, 10, @1, 9006, 0, 0), (106, #106, 0, 10, @1, 9007, 51507351, -127000),
 (107, #107, 0, 10, @1, 9008, 0, 0), (108, #108, 0, 10, @1, 9009, 0, 0), (109, #109, 0, 10, @1, 9010, 0, 0),
 (110, #110, 0, 10, @1, 9011, 0, 0), (200, #500, 0, 10, @1, 7001, 0, 0), (201, #510, 0, 10, @1, 7002, 0, 0),
 (202, #520, 1, 10, @1, 7003, 0, 0);
INSERT INTO Messages (EventId, Type, Body, Subject, PayloadPath, ThumbnailPath, Duration, PttID, StickerID)
 VALUES (100, {64|1}, 'Hello', NULL, NULL, NULL, NULL, NULL, 0), (101, {64|1}, 'Hi Ann', NULL, NULL, NULL, NULL,
 NULL, 0), (102, {128|2}, NULL, 'Beach', 'C:\Users\me\Pictures\IMG_1.JPG', 'C:\Users\me\Thumbs\IMG_1.jpg', NULL,
 NULL, 0), (103, {512|3}, NULL, NULL, '/home/me/clip.mp4', NULL, 12345, NULL, 0),
 (104, {2048|4}, NULL, NULL, NULL, NULL, NULL, NULL, 123456), (105, {65536|6}, NULL, NULL, NULL, NULL, 1999,
 'ptt-7f3a.m4a', 0), (106, {64|1}, 'Here', NULL, NULL, NULL, NULL, NULL, 0),
 (107, {192|15}, 'Both', NULL, NULL, NULL, NULL, NULL, 0), (108, {4096|9}, 'Link', NULL, NULL, NULL, NULL, NULL, 0),
 (109, {66048|11}, NULL, 'Song', '/home/me/song.mp3', NULL, NULL, 'ptt-9.m4a', 0),
 (110, {2|64}, 'Lost', NULL, NULL, NULL, NULL, NULL, 0);
INSERT INTO Calls VALUES (200, 5), (201, 0), (202, 0);
)"_s;
}

// No keys beyond Contact's, so that a test can write the NULL and repeated ids of a damaged file.
void fixtures::writeDesktopStore(const QString &rows, const QString &path, DesktopLayout layout)
{
    if (QFileInfo::exists(path) || !QDir().mkpath(QFileInfo(path).absolutePath()))
        throw std::runtime_error("the fixture file exists already or its folder cannot be made");
    QString sql = uR"(BEGIN;
CREATE TABLE {OriginNumberInfo (Number TEXT, ClientName TEXT, AvatarPath TEXT, Downloadid TEXT)|
  Contact (ContactID INTEGER PRIMARY KEY, Name TEXT, Number TEXT, ClientName TEXT)};
CREATE TABLE ChatInfo (ChatId INTEGER, TimeStamp INTEGER, Name TEXT, Token INTEGER, Flags INTEGER);
CREATE TABLE ChatRelation (ChatId INTEGER, {Number TEXT|ContactID INTEGER});
CREATE TABLE Events (EventId INTEGER, TimeStamp INTEGER, Direction INTEGER, Type INTEGER, ContactLongitude
  INTEGER, ContactLatitude INTEGER, ChatID INTEGER, {Number TEXT|ContactID INTEGER}, Token INTEGER);
CREATE TABLE Messages (EventId INTEGER, Type INTEGER, PayloadPath TEXT, ThumbnailPath TEXT, Subject TEXT,
  Body TEXT, Duration INTEGER, PttID TEXT, PttDuration INTEGER, StickerID INTEGER);
CREATE TABLE Calls (EventId INTEGER, Duration INTEGER);
)"_s + rows + u";COMMIT;"_s;
    const bool classic = layout == DesktopLayout::Classic;
    static const QRegularExpression token(uR"(\{([^|{}]*)\|([^{}]*)\}|@(\d+)|#(\d+))"_s);
    for (QRegularExpressionMatch m; (m = token.match(sql)).hasMatch();) {
        const qint64 n = m.captured(3).toLongLong() + m.captured(4).toLongLong();
        sql.replace(m.capturedStart(), m.capturedLength(),
                    m.hasCaptured(3)   ? (classic ? u"'%1'"_s.arg(447700900000 + n) : QString::number(n))
                    : m.hasCaptured(4) ? QString::number((1500000000 + n) * (classic ? 1 : 1000))
                                       : m.captured(classic ? 1 : 2));
    }
    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::ReadWrite | Sqlite3DB::Create);
    db.execThrow(sql);
}
