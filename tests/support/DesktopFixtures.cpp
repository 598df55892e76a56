#include "DesktopFixtures.h"

#include "viber/Sqlite3DB.h"

#include <QDir>
#include <QRegularExpression>

#include <stdexcept>

using namespace Qt::StringLiterals;

QString fixtures::sampleDesktopStore(DesktopLayout layout)
{
    if (layout == DesktopLayout::Classic)
        return uR"(
INSERT INTO OriginNumberInfo (rowid, Number, ClientName, AvatarPath, DownloadID) VALUES
 (1, '447700900001', 'Ann', 'C:\Users\me\ann.jpg', NULL), (2, '447700900002', 'Bob', NULL, NULL),
 (3, '447700900003', 'Cid', NULL, NULL);
INSERT INTO Contact VALUES (7, 'Ann', 'Smith', NULL, NULL, 0), (8, 'Robert', NULL, NULL, NULL, 0);
INSERT INTO ContactRelation VALUES (7, '447700900001', 'mobile', 0), (8, '447700900009', 'mobile', 0);
INSERT INTO PhoneNumber VALUES ('447700900001', 1), ('447700900009', 0);
INSERT INTO ChatInfo (ChatID, Name, Token, Flags, TimeStamp) VALUES (10, '', '447700900001', 0, #0),
 (11, 'Friends', '6012345678901', 0, #60), (12, 'Old group', '6012345678902', 0, #120),
 (14, '', '441632960000', 0, #130);
INSERT INTO ChatRelation VALUES (10, @1), (11, @1), (11, @2), (11, @3);
INSERT INTO Events (EventID, TimeStamp, Direction, Type, ContactLongitude, ContactLatitude, ChatID, Number,
 IsSessionLifeTime, Flags, Token, IsRead) VALUES (100, #100, 0, 1, 0, 0, 10, @1, 0, 0, 9001, 1),
 (101, #101, 1, 1, 0, 0, 10, @1, 0, 0, 9002, 1), (102, #102, 0, 1, 0, 0, 11, @2, 0, 0, 9003, 1),
 (103, #103, 0, 1, 0, 0, 11, @3, 0, 0, 0, 1), (104, #104, 1, 1, 0, 0, 11, NULL, 0, 0, 9005, 1),
 (105, #105, 0, 1, 0, 0, 10, @1, 0, 0, 9006, 1), (106, #106, 0, 1, 30523400, 50450100, 10, @1, 0, 0, 9007, 1),
 (107, #107, 0, 1, -58381600, -34603700, 10, @1, 0, 0, 9008, 1), (108, #108, 0, 1, 0, 0, 10, @1, 0, 0, 9009, 1),
 (109, #109, 0, 1, 0, 0, 10, @1, 0, 0, 9010, 1), (110, #110, 0, 1, 305234000, 504501000, 10, @1, 0, 0, 9011, 1),
 (111, #111, 0, 1, 0, 0, 10, @1, 0, 0, 9012, 1), (200, #500, 0, 2, 0, 0, 10, @1, 0, 0, 7001, 1),
 (201, #510, 0, 2, 0, 0, 10, @1, 0, 0, 7002, 1), (202, #520, 1, 2, 0, 0, 10, @1, 0, 0, 7003, 1),
 (203, #530, 1, 2, 0, 0, 14, '441632960000', 0, 0, 7004, 1);
INSERT INTO Messages (EventID, Type, Status, Subject, Body, Flag, PayloadPath, ThumbnailPath, StickerID, PttID,
 PttStatus, PttDuration) VALUES (100, 64, 0, NULL, 'Hello', 0, NULL, NULL, 0, NULL, 0, 0),
 (101, 64, 0, NULL, 'Hi Ann', 0, NULL, NULL, 0, NULL, 0, 0),
 (102, 128, 0, 'Beach', NULL, 0, 'C:\Users\me\Pictures\IMG_1.JPG', 'C:\Users\me\Thumbs\IMG_1.jpg', 0, NULL, 0, 0),
 (103, 512, 0, NULL, NULL, 0, '/home/me/clip.mp4', NULL, 0, NULL, 0, 0),
 (104, 2048, 0, NULL, NULL, 0, NULL, NULL, 123456, NULL, 0, 0),
 (105, 65536, 0, NULL, NULL, 0, NULL, NULL, 0, 'ptt-7f3a.m4a', 0, 1999),
 (106, 4096, 0, NULL, 'Khreshchatyk, Kyiv', 0, NULL, NULL, 0, NULL, 0, 0),
 (107, 64, 0, NULL, 'Here', 0, NULL, NULL, 0, NULL, 0, 0), (108, 192, 0, NULL, 'Both', 0, NULL, NULL, 0, NULL, 0, 0),
 (109, 66048, 0, NULL, NULL, 0, '/home/me/song.mp3', NULL, 0, 'ptt-9.m4a', 0, 0),
 (110, 64, 0, NULL, 'Far', 0, NULL, NULL, 0, NULL, 0, 0), (111, 2, 0, NULL, 'Lost', 0, NULL, NULL, 0, NULL, 0, 0);
INSERT INTO Calls VALUES (200, 5), (201, 0), (202, 0), (203, 61);
)"_s;
    return uR"(
INSERT INTO Contact (ContactID, Name, ClientName, Number, MID) VALUES (1, NULL, 'Me', '447700900000', 'm0'),
 (2, 'Ann Smith', 'Ann', '447700900001', 'm1'), (3, NULL, 'Bob', '447700900002', 'm2'),
 (4, 'Cid', NULL, '447700900003', 'm3');
INSERT INTO ChatInfo (ChatID, Name, Flags, TimeStamp, PGType, PGTags) VALUES (10, NULL, 0, #0, 0, NULL),
 (11, 'Friends', 0, #60, 0, NULL), (12, 'Old group', 0, #120, 0, NULL), (13, 'Two of us', 0, #180, 0, NULL);
INSERT INTO ChatRelation (ChatID, ContactID, PGRole) VALUES (10, 1, NULL), (10, 2, NULL), (11, 1, 2), (11, 2, 1),
 (11, 3, 1), (11, 4, 1), (12, 1, 2), (13, 1, 2), (13, 3, 1);
INSERT INTO Events (EventID, TimeStamp, Direction, Type, ContactLongitude, ContactLatitude, ChatID, ContactID,
 Token) VALUES (100, #100, 0, 0, 0, 0, 10, 2, 9001), (101, #101, 1, 0, 0, 0, 10, 1, 9002),
 (102, #102, 0, 0, 0, 0, 11, 3, 9003), (103, #103, 0, 0, 0, 0, 11, 4, 0), (104, #104, 1, 0, 0, 0, 11, 1, 9005),
 (105, #105, 0, 0, 0, 0, 10, 2, 9006), (106, #106, 0, 0, -58381600, -34603700, 10, 2, 9007),
 (107, #107, 0, 0, 0, 0, 10, 2, 9008), (108, #108, 0, 0, 0, 0, 10, 2, 9009), (109, #109, 0, 0, 0, 0, 10, 2, 9010),
 (110, #110, 0, 0, 0, 0, 10, 2, 9011), (111, #111, 0, 0, 0, 0, 10, 2, 9012), (112, #112, 0, 0, 0, 0, 10, 2, 9013),
 (113, #113, 0, 0, 305234000, 504501000, 10, 2, 9014), (114, #114, 0, 0, 30523400, 50450100, 11, 3, 9015),
 (115, #115, 1, 0, 0, 0, 13, 1, 9016), (200, #500, 0, 1, 0, 0, 10, 2, 7001), (201, #510, 0, 1, 0, 0, 10, 2, 7002),
 (202, #520, 1, 1, 0, 0, 10, 1, 7003), (203, #530, 1, 1, 0, 0, 11, 1, 7004);
INSERT INTO Messages (EventID, Type, Status, Subject, Body, Flag, PayloadPath, ThumbnailPath, StickerID, PttID,
 Duration, PGIsLiked, Info, ClientFlag) VALUES (100, 1, 0, NULL, 'Hello', 0, NULL, NULL, 0, NULL, 0, 0, '{}', 0),
 (101, 0, 0, NULL, 'Hi Ann', 0, NULL, NULL, 0, NULL, 0, 0, '{}', 0),
 (102, 2, 0, NULL, 'Beach', 0, 'C:\Users\me\Pictures\IMG_1.JPG', 'C:\Users\me\Thumbs\IMG_1.jpg', 0, NULL, 0, 0,
  '{}', 0),
 (103, 3, 0, NULL, NULL, 0, '/home/me/clip.mp4', NULL, 0, NULL, 12345, 0, '{}', 0),
 (104, 4, 0, NULL, NULL, 0, NULL, NULL, 123456, NULL, 0, 0, '{}', 0),
 (105, 6, 0, NULL, NULL, 0, 'C:\Users\me\PTT\voice 1.m4a', NULL, 0, NULL, 1999, 0, '{}', 0),
 (106, 1, 0, NULL, 'Here', 0, NULL, NULL, 0, NULL, 0, 0, '{}', 0),
 (107, 15, 0, NULL, 'Formatted', 0, NULL, NULL, 0, NULL, 0, 0, '{}', 0),
 (108, 9, 0, NULL, 'https://example.com/', 0, NULL, NULL, 0, NULL, 0, 0, '{"Title": "Example"}', 0),
 (109, 11, 0, NULL, NULL, 0, '/home/me/Downloads/x1.pdf', NULL, 0, NULL, 0, 0,
  '{"fileInfo": {"FileName": "Report 2017.pdf", "FileSize": 52000}}', 0),
 (110, 64, 0, NULL, 'Lost', 0, NULL, NULL, 0, NULL, 0, 0, '{}', 0),
 (111, 7, 0, NULL, NULL, 0, 'C:\Users\me\ivm.mp4', NULL, 0, NULL, 4000, 0, '{"ivmInfo": {"Shape": "heart"}}', 0),
 (112, 1, 0, NULL, 'Fixed typo', 0, NULL, NULL, 0, NULL, 0, 0, '{}', 64),
 (113, 1, 0, NULL, 'Far', 0, NULL, NULL, 0, NULL, 0, 0, '{}', 0),
 (114, 1, 0, NULL, 'Kyiv', 0, NULL, NULL, 0, NULL, 0, 0, '{}', 0),
 (115, 1, 0, NULL, 'Just us', 0, NULL, NULL, 0, NULL, 0, 0, '{}', 0);
INSERT INTO Calls VALUES (200, 5), (201, 0), (202, 0), (203, 30);
)"_s;
}

void fixtures::writeDesktopStore(const QString &rows, const QString &path, DesktopLayout layout)
{
    if (QFileInfo::exists(path) || !QDir().mkpath(QFileInfo(path).absolutePath()))
        throw std::runtime_error("the fixture file exists already or its folder cannot be made");
    const QString classicTables = uR"(
CREATE TABLE ChatInfo (ChatID INTEGER, Name varchar(200), Token varchar(50), Flags INTEGER DEFAULT 0, TimeStamp);
CREATE TABLE ChatRelation (ChatID INTEGER, Number varchar(30));
CREATE TABLE Contact (ContactID INTEGER PRIMARY KEY, FirstName varchar(40), SecondName varchar(40),
  AvatarPath varchar(500), RingtonePath varchar(500), IsNotAdded DEFAULT 0);
CREATE TABLE ContactRelation (ContactID INTEGER, Number varchar(30), TypeName varchar(80), IsFavoriteNumber DEFAULT 0);
CREATE TABLE Events (EventID INTEGER, TimeStamp, Direction, Type, ContactLongitude DEFAULT 0,
  ContactLatitude DEFAULT 0, ChatID INTEGER, Number varchar(30), IsSessionLifeTime DEFAULT 0, Flags INTEGER DEFAULT 0,
  Token, IsRead DEFAULT 0);
CREATE TABLE Messages (EventID INTEGER, Type, Status INTEGER, Subject varchar(500), Body varchar(5000), Flag DEFAULT 0,
  PayloadPath varchar(1000), ThumbnailPath varchar(100), StickerID DEFAULT 0, PttID varchar(100), PttStatus DEFAULT 0,
  PttDuration DEFAULT 0);
CREATE TABLE OriginNumberInfo (Number varchar(30), ClientName varchar(1000), AvatarPath varchar(2000),
  DownloadID varchar(60));
CREATE TABLE PhoneNumber (Number varchar(30), IsViberNumber DEFAULT 0);
CREATE TABLE Calls (EventID INTEGER, Duration INTEGER);
)"_s;
    const QString contactsTables = uR"(
CREATE TABLE Contact (ContactID INTEGER PRIMARY KEY, Name TEXT, ClientName TEXT, Number TEXT, MID TEXT);
CREATE TABLE ChatInfo (ChatID INTEGER, Name varchar(200), Flags INTEGER DEFAULT 0, TimeStamp longint DEFAULT 0,
  PGType INTEGER, PGTags TEXT);
CREATE TABLE ChatRelation (ChatID INTEGER, ContactID INTEGER, PGRole INTEGER);
CREATE TABLE Events (EventID INTEGER, TimeStamp longint, Direction unsigned integer, Type smallint,
  ContactLongitude signed long DEFAULT 0, ContactLatitude signed long DEFAULT 0, ChatID INTEGER, ContactID INTEGER,
  Token unsigned long);
CREATE TABLE Messages (EventID INTEGER, Type unsigned integer, Status INTEGER DEFAULT 0, Subject varchar(500),
  Body varchar(5000), Flag unsigned integer DEFAULT 0, PayloadPath varchar(1000), ThumbnailPath varchar(100),
  StickerID unsigned long DEFAULT 0, PttID varchar(100), Duration signed DEFAULT 0, PGIsLiked INTEGER,
  Info varchar(7000), ClientFlag INTEGER DEFAULT 0);
CREATE TABLE Calls (EventID INTEGER, Duration INTEGER);
)"_s;
    QString sql = u"BEGIN;"_s + (layout == DesktopLayout::Classic ? classicTables : contactsTables) + rows +
                  u";COMMIT;"_s;
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
