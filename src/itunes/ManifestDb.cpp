#include "ManifestDb.h"

#include "device/CFType.h"
#include "itunes/BackupCrypto.h"
#include "viber/Sqlite3DB.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr quint16 kTypeBits = 0170000;
constexpr quint16 kLinkType = 0120000;

// The archive's objects and the reading of references between them; every step
// checks type and range, since the bytes come from outside.
class KeyedArchive
{
public:
    KeyedArchive(const QByteArray &bytes, const QString &name) : m_name(name)
    {
        m_plist = CFType::fromData(bytes);
        m_objects = m_plist.value(u"$objects"_s);
        if (!m_plist.isDictionary() || !m_objects.isArray())
            damaged();
    }
    CFType root() const
    {
        const CFType object = deref(m_plist.value(u"$top"_s).value(u"root"_s));
        if (!object.isDictionary())
            damaged();
        return object;
    }
    // The object a reference names; a value that is no reference stands for itself.
    CFType deref(const CFType &value) const
    {
        if (!value.isUid())
            return value;
        const qint64 index = value.toUid();
        if (index < 0 || index >= m_objects.size())
            damaged();
        return m_objects.at(int(index));
    }
    // An integer field; 0 when absent.
    quint64 number(const CFType &object, const QString &key) const
    {
        const CFType value = object.value(key);
        if (value.isNull())
            return 0;
        if (!value.isInteger())
            damaged();
        return quint64(value.toLongLong());
    }
    QByteArray text(const CFType &object, const QString &key) const
    {
        const CFType value = deref(object.value(key));
        if (value.isNull() || (value.isString() && value.toString() == u"$null"_s))
            return QByteArray();
        if (!value.isString())
            damaged();
        return value.toString().toUtf8();
    }
    // Data held as it is or wrapped in an NSData object.
    QByteArray data(const CFType &object, const QString &key) const
    {
        CFType value = deref(object.value(key));
        if (value.isDictionary())
            value = value.value(u"NS.data"_s);
        if (value.isNull() || (value.isString() && value.toString() == u"$null"_s))
            return QByteArray();
        if (!value.isData())
            damaged();
        return value.toByteArray();
    }
    [[noreturn]] void damaged() const
    {
        BackupCrypto::fail(ManifestDb::tr("IDS_MANIFESTDB_RECORD_DAMAGED_%1").arg(m_name.toHtmlEscaped()));
    }

private:
    QString m_name;
    CFType m_plist;
    CFType m_objects;
};

CFType className(const char *name, std::initializer_list<const char *> classes)
{
    CFType list = CFType::array();
    for (const char *c : classes)
        list.append(CFType::fromString(QString::fromLatin1(c)));
    CFType object = CFType::dictionary();
    object.setValue(u"$classname"_s, CFType::fromString(QString::fromLatin1(name)));
    object.setValue(u"$classes"_s, list);
    return object;
}

} // namespace

void ManifestDb::decodeFile(const QByteArray &archive, MbdbRecord &record)
{
    const KeyedArchive in(archive, record.domain.text() + u'-' + record.path.text());
    const CFType file = in.root();
    record.mode = quint16(in.number(file, u"Mode"_s));
    const quint64 inode = in.number(file, u"InodeNumber"_s);
    record.inodeHigh = quint32(inode >> 32);
    record.inodeLow = quint32(inode);
    record.uid = quint32(in.number(file, u"UserID"_s));
    record.gid = quint32(in.number(file, u"GroupID"_s));
    record.mtime = quint32(in.number(file, u"LastModified"_s));
    record.ctime = quint32(in.number(file, u"LastStatusChange"_s));
    record.atime = quint32(in.number(file, u"Birth"_s));
    record.size = in.number(file, u"Size"_s);
    record.protectionClass = quint8(in.number(file, u"ProtectionClass"_s));
    if (const QByteArray target = in.text(file, u"Target"_s); !target.isEmpty())
        record.linkTarget = MbdbString::fromBytes(target);
    if (const QByteArray key = in.data(file, u"EncryptionKey"_s); !key.isEmpty())
        record.encryptionKey = MbdbString::fromBytes(key);
    if (const QByteArray digest = in.data(file, u"Digest"_s); !digest.isEmpty())
        record.dataHash = MbdbString::fromBytes(digest);
}

QByteArray ManifestDb::encodeFile(const MbdbRecord &record)
{
    CFType objects = CFType::array();
    objects.append(CFType::fromString(u"$null"_s));
    CFType file = CFType::dictionary();
    const auto put = [&](const char *key, quint64 value) {
        file.setValue(QString::fromLatin1(key), CFType::fromInt64(qint64(value)));
    };
    put("Mode", record.mode);
    put("InodeNumber", (quint64(record.inodeHigh) << 32) | record.inodeLow);
    put("UserID", record.uid);
    put("GroupID", record.gid);
    put("LastModified", record.mtime);
    put("LastStatusChange", record.ctime);
    put("Birth", record.atime);
    put("Size", record.size);
    put("ProtectionClass", record.protectionClass);
    put("Flags", 0);
    // Objects after the file: its path, link target and key, then the class names.
    qint64 next = 2;
    const auto reference = [&](const char *key, const CFType &object) {
        file.setValue(QString::fromLatin1(key), CFType::fromUid(quint64(next++)));
        return object;
    };
    QList<CFType> more;
    more << reference("RelativePath", CFType::fromString(record.path.text()));
    if (!record.linkTarget.bytes.isEmpty())
        more << reference("Target", CFType::fromString(record.linkTarget.text()));
    const qint64 dataClass = next + (record.encryptionKey.bytes.isEmpty() ? 0 : 1);
    if (!record.encryptionKey.bytes.isEmpty()) {
        CFType key = CFType::dictionary();
        key.setValue(u"NS.data"_s, CFType::fromBytes(record.encryptionKey.bytes));
        key.setValue(u"$class"_s, CFType::fromUid(quint64(dataClass)));
        more << reference("EncryptionKey", key);
        more << className("NSMutableData", {"NSMutableData", "NSData", "NSObject"});
        ++next;
    }
    file.setValue(u"$class"_s, CFType::fromUid(quint64(next)));
    more << className("MBFile", {"MBFile", "NSObject"});
    objects.append(file);
    for (const CFType &object : std::as_const(more))
        objects.append(object);

    CFType top = CFType::dictionary();
    top.setValue(u"root"_s, CFType::fromUid(1));
    CFType archive = CFType::dictionary();
    archive.setValue(u"$version"_s, CFType::fromInt64(100000));
    archive.setValue(u"$archiver"_s, CFType::fromString(u"NSKeyedArchiver"_s));
    archive.setValue(u"$top"_s, top);
    archive.setValue(u"$objects"_s, objects);
    return archive.toBinaryData();
}

void ManifestDb::createTables(Sqlite3DB &db)
{
    db.execThrow(
        u"CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT, flags INTEGER, "
        "file BLOB); CREATE TABLE Properties (key TEXT PRIMARY KEY, value BLOB)"_s);
}

void ManifestDb::writeRecord(Sqlite3DB &db, const MbdbRecord &record, const QByteArray &archive)
{
    db.executeThrow(
        Sqlite3Sql("insert or replace into Files(fileID, domain, relativePath, flags, file) "
                   "values(?, ?, ?, ?, ?)")
            .addTextParam(BackupManifest::backupFileName(record.domain.text(), record.path.text()))
            .addTextParam(record.domain.text())
            .addTextParam(record.path.text())
            .addIntParam(flagsOf(record))
            .addBlobParam(archive.isEmpty() ? encodeFile(record) : archive));
}

int ManifestDb::flagsOf(const MbdbRecord &record)
{
    if ((record.mode & kTypeBits) == kLinkType || !record.linkTarget.bytes.isEmpty())
        return Link;
    return record.isFolder() ? Folder : File;
}

QByteArray ManifestDb::updatedFile(const QByteArray &archive, const MbdbRecord &record)
{
    CFType plist = CFType::fromData(archive);
    const CFType objects = plist.value(u"$objects"_s);
    const qint64 root = plist.value(u"$top"_s).value(u"root"_s).toUid();
    CFType file = root >= 0 && root < objects.size() ? objects.at(int(root)) : CFType();
    if (!file.isDictionary())
        return encodeFile(record);
    const auto put = [&](const char *key, quint64 value) {
        file.setValue(QString::fromLatin1(key), CFType::fromInt64(qint64(value)));
    };
    put("Size", record.size);
    put("LastModified", record.mtime);
    put("LastStatusChange", record.ctime);
    put("Mode", record.mode);
    const QByteArray bytes = plist.toBinaryData();
    return bytes.isEmpty() ? encodeFile(record) : bytes;
}

QList<MbdbRecord> ManifestDb::readRecords(const QString &dbPath, QHash<QString, QByteArray> *archives)
{
    const Sqlite3Sidecars sidecars(dbPath); // removes them after the connection below has closed
    Sqlite3DB db;
    QList<MbdbRecord> records;
    try {
        db.openThrow(dbPath, Sqlite3DB::ReadOnly);
        db.treatAsUntrusted();
        if (Sqlite3Cursor n = db.queryThrow(Sqlite3Sql("select count(*) from Files")); n.moveNext())
            records.reserve(qsizetype(std::clamp<qint64>(n.getInt64At(0), 0, 10000000)));
        Sqlite3Cursor c = db.queryThrow(Sqlite3Sql("select domain, relativePath, flags, file from Files"));
        while (c.moveNext()) {
            MbdbRecord record;
            record.domain = MbdbString::fromText(c.getTextAt(0));
            record.path = MbdbString::fromText(c.getTextAt(1));
            const int flags = c.getIntAt(2);
            const QByteArray archive = c.getBlobAt(3);
            if (archives)
                archives->insert(BackupManifest::backupFileName(record.domain.text(), record.path.text()),
                                 archive);
            try {
                MbdbRecord decoded = record;
                decodeFile(archive, decoded);
                record = std::move(decoded);
            } catch (const std::exception &e) {
                qWarning("ManifestDb: %s", e.what());
            }
            // The column is the authority on what the row is; the archive may lack a mode.
            if ((record.mode & kTypeBits) == 0 || (flags == Folder) != record.isFolder())
                record.mode = flags == Folder ? 0040755 : flags == Link ? 0120755 : 0100644;
            records.append(std::move(record));
        }
    } catch (const Sqlite3Exception &e) {
        BackupCrypto::fail(tr("IDS_MANIFESTDB_UNREADABLE_%1_%2")
                               .arg(BackupCrypto::shown(dbPath), e.message().toHtmlEscaped()));
    }
    return records;
}
