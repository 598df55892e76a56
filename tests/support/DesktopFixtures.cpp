#include "DesktopFixtures.h"

#include "viber/Sqlite3DB.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <stdexcept>

using namespace Qt::StringLiterals;

namespace fixtures {

QString sampleDesktopStore()
{
    return uR"(
INSERT INTO {OriginNumberInfo (rowid, Number, ClientName, AvatarPath)|Contact (ContactID, Number, ClientName)}
 VALUES (1, '447700900001', 'Ann'{, 'C:\Users\me\AppData\Roaming\ViberPC\447700900000\Avatars\ann.jpg'|}),
 (2, '447700900002', 'Bob'{, NULL|}), (3, '447700900003', 'Cid'{, NULL|});
INSERT INTO ChatInfo (ChatId, TimeStamp, Name, Token) VALUES (10, #0, NULL, '447700900001'),
 (11, #60, 'Friends', '6012345678901'), (12, #120, 'Old group', '6012345678902');
INSERT INTO ChatRelation VALUES (10, @1), (11, @1), (11, @2), (11, @3);
INSERT INTO Events (EventId, TimeStamp, Direction, ChatID, {Number|ContactID}, Token, ContactLatitude,
 ContactLongitude) VALUES (100, #100, 0, 10, @1, 9001, 0, 0), (101, #101, 1, 10, @1, 9002, 0, 0),
 (102, #102, 0, 11, @2, 9003, 0, 0), (103, #103, 0, 11, @3, 0, 0, 0), (104, #104, 1, 11, NULL, 9005, 0, 0),
 (105, #105, 0, 10, @1, 9006, 0, 0), (106, #106, 0, 10, @1, 9007, 51507351, -127000),
 (200, #500, 0, 10, @1, 7001, 0, 0), (201, #510, 0, 10, @1, 7002, 0, 0), (202, #520, 1, 10, @1, 7003, 0, 0);
INSERT INTO Messages (EventId, Type, Body, Subject, PayloadPath, ThumbnailPath, Duration, PttID, StickerID)
 VALUES (100, {64|1}, 'Hello', NULL, NULL, NULL, NULL, NULL, 0),
 (101, {64|1}, 'Hi Ann', NULL, NULL, NULL, NULL, NULL, 0),
 (102, {128|2}, NULL, 'Beach', 'C:\Users\me\AppData\Roaming\ViberPC\447700900000\Pictures\IMG_1.JPG',
  'C:\Users\me\AppData\Roaming\ViberPC\447700900000\Thumbnails\IMG_1.jpg', NULL, NULL, 0),
 (103, {512|3}, NULL, NULL, '/home/me/ViberDownloads/clip.mp4', NULL, 12345, NULL, 0),
 (104, {2048|4}, NULL, NULL, NULL, NULL, NULL, NULL, 123456),
 (105, {65536|6}, NULL, NULL, NULL, NULL, 1999, 'ptt-7f3a.m4a', 0),
 (106, {64|1}, 'Here', NULL, NULL, NULL, NULL, NULL, 0);
INSERT INTO Calls VALUES (200, 5), (201, 0), (202, 0);
)"_s;
}

void writeDesktopStore(const QString &rows, const QString &path, DesktopLayout layout)
{
    if (QFileInfo::exists(path) || !QDir().mkpath(QFileInfo(path).absolutePath()))
        throw std::runtime_error("the fixture file exists already or its folder cannot be made");
    const bool classic = layout == DesktopLayout::Classic;
    QString sql = uR"(BEGIN;
CREATE TABLE {OriginNumberInfo (Number TEXT, ClientName TEXT, AvatarPath TEXT, Downloadid TEXT)|
  Contact (ContactID INTEGER PRIMARY KEY, Name TEXT, Number TEXT, ClientName TEXT)};
CREATE TABLE ChatInfo (ChatId INTEGER PRIMARY KEY, TimeStamp INTEGER, Name TEXT, Token INTEGER, Flags INTEGER);
CREATE TABLE ChatRelation (ChatId INTEGER, {Number TEXT|ContactID INTEGER});
CREATE TABLE Events (EventId INTEGER PRIMARY KEY, TimeStamp INTEGER, Direction INTEGER, Type INTEGER,
  ContactLongitude INTEGER, ContactLatitude INTEGER, ChatID INTEGER, {Number TEXT|ContactID INTEGER}, Token INTEGER);
CREATE TABLE Messages (EventId INTEGER PRIMARY KEY, Type INTEGER, PayloadPath TEXT, ThumbnailPath TEXT,
  Subject TEXT, Body TEXT, Duration INTEGER, PttID TEXT, PttDuration INTEGER, StickerID INTEGER);
CREATE TABLE Calls (EventId INTEGER PRIMARY KEY, Duration INTEGER);
)"_s + rows + u";COMMIT;"_s;
    static const QRegularExpression token(uR"(\{([^|{}]*)\|([^{}]*)\}|@(\d+)|#(\d+))"_s);
    for (QRegularExpressionMatch m; (m = token.match(sql)).hasMatch();) {
        QString value;
        if (m.hasCaptured(3))
            value = classic ? u"'%1'"_s.arg(447700900000 + m.captured(3).toLongLong()) : m.captured(3);
        else if (m.hasCaptured(4))
            value = QString::number((1500000000 + m.captured(4).toLongLong()) * (classic ? 1 : 1000));
        else
            value = m.captured(classic ? 1 : 2);
        sql.replace(m.capturedStart(), m.capturedLength(), value);
    }
    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::ReadWrite | Sqlite3DB::Create);
    db.execThrow(sql);
}

} // namespace fixtures
