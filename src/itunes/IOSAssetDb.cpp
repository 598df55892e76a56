#include "IOSAssetDb.h"

#include "viber/ViberData.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

void IOSAssetDb::ensureOpen()
{
    if (isOpen())
        return;
    openThrow(m_path, ReadOnly);
    treatAsUntrusted();
}

bool IOSAssetDb::exists(const QString &uuid)
{
    ensureOpen();
    Sqlite3Cursor c =
        queryThrow(Sqlite3Sql("select 1 from ZGENERICASSET where ZUUID=? limit 1").addTextParam(uuid));
    return c.moveNext();
}

QString IOSAssetDb::mediaPath(const QString &uuid)
{
    ensureOpen();
    Sqlite3Cursor c = queryThrow(
        Sqlite3Sql("select '/'||ZDIRECTORY||'/'||ZFILENAME as path from ZGENERICASSET where ZUUID=? limit 1")
            .addTextParam(uuid));
    return c.moveNext() ? c.getText(u"path"_s) : QString();
}

QString IOSAssetDb::thumbnailPath(const QString &uuid)
{
    ensureOpen();
    Sqlite3Cursor c =
        queryThrow(Sqlite3Sql("select * from ZGENERICASSET where ZUUID=? limit 1").addTextParam(uuid));
    if (!c.moveNext())
        return QString();
    static const QRegularExpression cameraFolder(u"(\\d+APPLE)$"_s,
                                                 QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = cameraFolder.match(c.getText(u"ZDIRECTORY"_s));
    if (!match.hasMatch())
        return QString();
    const QString folder = match.captured(1);
    const QString fileName = c.getText(u"ZFILENAME"_s);
    const qint64 unixTime = c.getInt64(u"ZMODIFICATIONDATE"_s) + kStoreTimeEpochOffset;
    switch (c.getInt(u"ZKIND"_s)) {
    case 0: {
        // A time before 1970 would give a negative remainder and a "-1"-like folder.
        const qint64 bucket = ((unixTime % 100) + 100) % 100;
        return u"/DCIM/.THMB/%1/%2___%3.%4"_s.arg(bucket, 2, 10, QChar(u'0'))
            .arg(folder, fileName)
            .arg(unixTime);
    }
    case 1:
        return u"/PhotoData/Metadata/DCIM/%1/%2.THM"_s.arg(folder, fileName.section(u'.', 0, 0));
    default:
        return QString();
    }
}
