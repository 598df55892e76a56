#include "ManifestDb.h"

#include "device/BinaryPlist.h"
#include "device/CFType.h"
#include "itunes/BackupCrypto.h"
#include "viber/Sqlite3DB.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QVarLengthArray>

#include <algorithm>
#include <cstring>
#include <thread>
#include <utility>

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

// The fields of an MBFile that a record takes, however they were read.
struct MbFileFields
{
    quint64 mode = 0, inode = 0, uid = 0, gid = 0, mtime = 0, ctime = 0, birth = 0, size = 0;
    quint64 protectionClass = 0;
    QByteArray target, encryptionKey, digest;
};

// The fields an MBFile's record takes, by their keys: numbers, texts and data (held
// as they are or wrapped in an NSData object).
struct FileField
{
    QLatin1StringView key;
    quint64 MbFileFields::*number = nullptr;
    QByteArray MbFileFields::*bytes = nullptr;
    bool isData = false;
};
const FileField kFileFields[] = {{"Mode"_L1, &MbFileFields::mode},
                                 {"InodeNumber"_L1, &MbFileFields::inode},
                                 {"UserID"_L1, &MbFileFields::uid},
                                 {"GroupID"_L1, &MbFileFields::gid},
                                 {"LastModified"_L1, &MbFileFields::mtime},
                                 {"LastStatusChange"_L1, &MbFileFields::ctime},
                                 {"Birth"_L1, &MbFileFields::birth},
                                 {"Size"_L1, &MbFileFields::size},
                                 {"ProtectionClass"_L1, &MbFileFields::protectionClass},
                                 {"Target"_L1, nullptr, &MbFileFields::target},
                                 {"EncryptionKey"_L1, nullptr, &MbFileFields::encryptionKey, true},
                                 {"Digest"_L1, nullptr, &MbFileFields::digest, true}};

// A keyed archive read straight from its binary bytes, for the shape iPhones and
// encodeFile write. libplist spends about 6 µs building and freeing the tree of
// one 500-byte archive, which for 300,000 files is more than the whole time a
// Manifest.db should take; it cannot read part of a list, and holding the archives
// to decode them later would cost as much memory as the records themselves.
// This reads only ASCII texts, integers of up to 8 bytes, data, UIDs, arrays and
// dictionaries, with no container reached twice and no key read twice; for an
// archive with anything else, or anything out of place, read() says no and the
// caller reads it through libplist, so that whatever it accepts reads as there.
class DirectArchive
{
public:
    explicit DirectArchive(const QByteArray &bytes) : m_plist(bytes) {}
    bool read(MbFileFields &fields);

private:
    using Object = BinaryPlist::Object;
    // Real archives hold a few dozen objects, three levels deep.
    static constexpr quint64 kMaxObjects = 4096;
    static constexpr int kMaxDepth = 16;
    static constexpr quint64 kMaxExpanded = 16 * 1024 * 1024;

    bool object(quint64 index, Object &out) const;
    quint64 ref(const Object &container, quint64 i) const { return m_plist.ref(container, i); }
    bool reachableIsPlain(quint64 top) const;
    // The value under an ASCII key of a dictionary; false when the key is there twice.
    bool lookup(const Object &dict, QLatin1StringView key, quint64 &value, bool &found) const;
    bool isText(const Object &o, QLatin1StringView text) const
    {
        return o.type == BinaryPlist::Ascii && o.count == quint64(text.size()) &&
               std::memcmp(m_plist.data() + o.pos, text.data(), size_t(o.count)) == 0;
    }
    QByteArray bytes(const Object &o) const
    {
        return QByteArray(reinterpret_cast<const char *>(m_plist.data() + o.pos), qsizetype(o.count));
    }
    // What a field's value names: itself, or the archive object of a UID.
    bool resolve(quint64 value, Object &out) const;
    bool readText(quint64 value, QByteArray &out) const;
    bool readData(quint64 value, QByteArray &out) const;

    BinaryPlist m_plist;
    Object m_objects; // the archive's $objects array
};

bool DirectArchive::object(quint64 index, Object &out) const
{
    if (!m_plist.object(index, out))
        return false;
    const uchar *payload = m_plist.data() + out.pos;
    switch (out.type) {
    case BinaryPlist::Integer:
        return out.info <= 3;
    case BinaryPlist::Uid:
        // libplist refuses a UID beyond 32 bits, wherever in the list it is.
        return (out.info == 0 || out.info == 1 || out.info == 3 || out.info == 7) &&
               m_plist.number(out.pos, int(out.count)) <= 0xFFFFFFFFu;
    case BinaryPlist::Ascii:
        for (quint64 i = 0; i < out.count; ++i) {
            if (payload[i] == 0 || payload[i] > 127)
                return false;
        }
        return true;
    case BinaryPlist::Data:
    case BinaryPlist::Array:
    case BinaryPlist::Dictionary:
        return true;
    default:
        return false;
    }
}

bool DirectArchive::reachableIsPlain(quint64 top) const
{
    enum : uchar { Unseen, Seen };
    QVarLengthArray<uchar, 256> state(static_cast<qsizetype>(m_plist.objectCount()));
    std::fill(state.begin(), state.end(), uchar(Unseen));
    struct Frame
    {
        Object container;
        quint64 next;
    };
    QVarLengthArray<Frame, kMaxDepth + 1> path;
    quint64 expanded = 0;
    Object o;
    if (!object(top, o) || (o.type != BinaryPlist::Array && o.type != BinaryPlist::Dictionary))
        return false;
    state[qsizetype(top)] = Seen;
    path.append({o, 0});
    while (!path.isEmpty()) {
        Frame &frame = path.last();
        const quint64 refs =
            frame.container.count * (frame.container.type == BinaryPlist::Dictionary ? 2 : 1);
        if (frame.next == refs) {
            path.removeLast();
            continue;
        }
        const quint64 child = ref(frame.container, frame.next);
        const bool isKey =
            frame.container.type == BinaryPlist::Dictionary && frame.next < frame.container.count;
        ++frame.next;
        if (!object(child, o) || (isKey && o.type != BinaryPlist::Ascii))
            return false;
        expanded += 96 + o.count;
        if (expanded > kMaxExpanded)
            return false;
        if (o.type != BinaryPlist::Array && o.type != BinaryPlist::Dictionary) {
            state[qsizetype(child)] = Seen;
            continue;
        }
        // A container reached twice is shared or part of a cycle: left to libplist's checks.
        if (state[qsizetype(child)] != Unseen || path.size() > kMaxDepth)
            return false;
        state[qsizetype(child)] = Seen;
        path.append({o, 0});
    }
    return true;
}

bool DirectArchive::lookup(const Object &dict, QLatin1StringView key, quint64 &value, bool &found) const
{
    found = false;
    for (quint64 i = 0; i < dict.count; ++i) {
        Object k;
        if (!object(ref(dict, i), k))
            return false;
        if (!isText(k, key))
            continue;
        if (found)
            return false;
        found = true;
        value = ref(dict, dict.count + i);
    }
    return true;
}

bool DirectArchive::resolve(quint64 value, Object &out) const
{
    if (!object(value, out))
        return false;
    if (out.type != BinaryPlist::Uid)
        return true;
    const quint64 index = m_plist.number(out.pos, int(out.count));
    return index < m_objects.count && object(ref(m_objects, index), out);
}

bool DirectArchive::readText(quint64 value, QByteArray &out) const
{
    Object o;
    if (!resolve(value, o) || o.type != BinaryPlist::Ascii)
        return false;
    out = isText(o, "$null"_L1) ? QByteArray() : bytes(o);
    return true;
}

bool DirectArchive::readData(quint64 value, QByteArray &out) const
{
    Object o;
    if (!resolve(value, o))
        return false;
    if (o.type == BinaryPlist::Dictionary) {
        bool found = false;
        if (!lookup(o, "NS.data"_L1, value, found))
            return false;
        if (!found) {
            out.clear();
            return true;
        }
        if (!object(value, o))
            return false;
    }
    if (isText(o, "$null"_L1)) {
        out.clear();
        return true;
    }
    if (o.type != BinaryPlist::Data)
        return false;
    out = bytes(o);
    return true;
}

bool DirectArchive::read(MbFileFields &fields)
{
    // iPhones write offsets and references of 1, 2, 4 or 8 bytes.
    const auto widthOk = [](int w) { return w == 1 || w == 2 || w == 4 || w == 8; };
    if (!m_plist.open() || !widthOk(m_plist.offsetSize()) || !widthOk(m_plist.refSize()) ||
        m_plist.objectCount() > kMaxObjects || !reachableIsPlain(m_plist.top()))
        return false;
    const quint64 top = m_plist.top();

    Object archive, topDict, file;
    quint64 objects = 0, topValue = 0, rootValue = 0;
    bool hasObjects = false, hasTop = false, hasRoot = false;
    if (!object(top, archive) || archive.type != BinaryPlist::Dictionary ||
        !lookup(archive, "$objects"_L1, objects, hasObjects) ||
        !lookup(archive, "$top"_L1, topValue, hasTop) || !hasObjects || !hasTop ||
        !object(objects, m_objects) || m_objects.type != BinaryPlist::Array || !object(topValue, topDict) ||
        topDict.type != BinaryPlist::Dictionary || !lookup(topDict, "root"_L1, rootValue, hasRoot) ||
        !hasRoot || !object(rootValue, file) || file.type != BinaryPlist::Uid || !resolve(rootValue, file) ||
        file.type != BinaryPlist::Dictionary)
        return false;

    // One pass over the file's entries; a field named twice is left to libplist.
    quint32 seen = 0;
    for (quint64 i = 0; i < file.count; ++i) {
        Object key;
        if (!object(ref(file, i), key))
            return false;
        const auto field = std::find_if(std::begin(kFileFields), std::end(kFileFields),
                                        [&](const FileField &f) { return isText(key, f.key); });
        if (field == std::end(kFileFields))
            continue;
        const quint32 bit = 1u << (field - std::begin(kFileFields));
        if (seen & bit)
            return false;
        seen |= bit;
        const quint64 value = ref(file, file.count + i);
        if (field->number) {
            Object o;
            if (!object(value, o) || o.type != BinaryPlist::Integer)
                return false;
            fields.*(field->number) = m_plist.number(o.pos, int(o.count));
        } else if (!(field->isData ? readData(value, fields.*(field->bytes))
                                   : readText(value, fields.*(field->bytes)))) {
            return false;
        }
    }
    return true;
}

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

namespace {

// What a record takes from an MBFile's fields, whichever way they were read.
void applyFields(const MbFileFields &f, MbdbRecord &record)
{
    record.mode = quint16(f.mode);
    record.inodeHigh = quint32(f.inode >> 32);
    record.inodeLow = quint32(f.inode);
    record.uid = quint32(f.uid);
    record.gid = quint32(f.gid);
    record.mtime = quint32(f.mtime);
    record.ctime = quint32(f.ctime);
    record.atime = quint32(f.birth);
    record.size = f.size;
    record.protectionClass = quint8(f.protectionClass);
    if (!f.target.isEmpty())
        record.linkTarget = MbdbString::fromBytes(f.target);
    if (!f.encryptionKey.isEmpty())
        record.encryptionKey = MbdbString::fromBytes(f.encryptionKey);
    if (!f.digest.isEmpty())
        record.dataHash = MbdbString::fromBytes(f.digest);
}

MbFileFields fieldsThroughTree(const QByteArray &archive, const MbdbRecord &record)
{
    const KeyedArchive in(archive, record.domain.text() + u'-' + record.path.text());
    const CFType file = in.root();
    MbFileFields f;
    for (const FileField &field : kFileFields) {
        const QString key(field.key);
        if (field.number)
            f.*(field.number) = in.number(file, key);
        else
            f.*(field.bytes) = field.isData ? in.data(file, key) : in.text(file, key);
    }
    return f;
}

} // namespace

void ManifestDb::decodeFile(const QByteArray &archive, MbdbRecord &record)
{
    MbFileFields f;
    if (!DirectArchive(archive).read(f))
        f = fieldsThroughTree(archive, record);
    applyFields(f, record);
}

void ManifestDb::decodeFileThroughTree(const QByteArray &archive, MbdbRecord &record)
{
    applyFields(fieldsThroughTree(archive, record), record);
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

namespace {

// A text column as the record keeps it: its UTF-8, with anything that is no valid
// UTF-8 replaced as a trip through QString does; ASCII, nearly every name, as it is.
MbdbString textOf(QByteArrayView stored)
{
    for (const char c : stored) {
        if (uchar(c) >= 0x80)
            return MbdbString::fromText(QString::fromUtf8(stored));
    }
    return MbdbString::fromBytes(stored.toByteArray());
}

} // namespace

namespace {

// Rows of the Files table from where a query stands, decoded in order.
void readFileRows(Sqlite3Cursor &c, QList<MbdbRecord> &records, QHash<QString, QByteArray> *archives)
{
    while (c.moveNext()) {
        MbdbRecord record;
        record.domain = textOf(c.textBytesAt(0));
        record.path = textOf(c.textBytesAt(1));
        const int flags = c.getIntAt(2);
        // Read where SQLite holds it; copied only when the caller keeps it.
        const QByteArrayView stored = c.blobBytesAt(3);
        const QByteArray archive = QByteArray::fromRawData(stored.data(), stored.size());
        if (archives)
            archives->insert(BackupManifest::backupFileName(record.domain.text(), record.path.text()),
                             stored.toByteArray());
        try {
            ManifestDb::decodeFile(archive, record);
        } catch (const std::exception &e) {
            qWarning("ManifestDb: %s", e.what());
        }
        // The column is the authority on what the row is; the archive may lack a mode.
        if ((record.mode & kTypeBits) == 0 || (flags == ManifestDb::Folder) != record.isFolder())
            record.mode = flags == ManifestDb::Folder ? 0040755
                          : flags == ManifestDb::Link ? 0120755
                                                      : 0100644;
        records.append(std::move(record));
    }
}

} // namespace

qint64 ManifestDb::s_splitRows = 100000;

qint64 ManifestDb::setSplitRows(qint64 rows)
{
    return std::exchange(s_splitRows, rows);
}

QList<MbdbRecord> ManifestDb::readRecords(const QString &dbPath, QHash<QString, QByteArray> *archives)
{
    static const QByteArray columns = "select domain, relativePath, flags, file from Files";
    const Sqlite3Sidecars sidecars(dbPath); // removes them after the connections below have closed
    Sqlite3DB db;
    QList<MbdbRecord> records;
    try {
        db.openThrow(dbPath, Sqlite3DB::ReadOnly);
        db.treatAsUntrusted();
        qint64 rows = 0;
        if (Sqlite3Cursor n = db.queryThrow(Sqlite3Sql("select count(*) from Files")); n.moveNext())
            rows = n.getInt64At(0);
        records.reserve(qsizetype(std::clamp<qint64>(rows, 0, 10000000)));
        // A long table is decoded in two halves side by side, the upper one over a
        // connection of its own; both read in the table's order, so the records come
        // out as from one read. Only rows with a row number can be split so.
        qint64 split = 0;
        bool halves = false;
        if (rows >= s_splitRows && !archives) {
            try {
                Sqlite3Cursor range = db.queryThrow(Sqlite3Sql("select min(rowid), max(rowid) from Files"));
                if (range.moveNext() && !range.isNullAt(0)) {
                    const qint64 low = range.getInt64At(0), high = range.getInt64At(1);
                    // Halfway, without overflow for keys as far apart as a hostile file's.
                    split = qint64(quint64(low) + (quint64(high) - quint64(low)) / 2);
                    halves = low < high;
                }
            } catch (const Sqlite3Exception &) {
                // A table without row numbers: read whole.
            }
        }
        if (!halves) {
            Sqlite3Cursor c = db.queryThrow(Sqlite3Sql(columns));
            readFileRows(c, records, archives);
            return records;
        }
        const QByteArray upperSql =
            columns + " where rowid > " + QByteArray::number(split) + " order by rowid";
        QList<MbdbRecord> upper;
        bool upperRead = false;
        std::thread second([&] {
            try {
                Sqlite3DB other;
                other.openThrow(dbPath, Sqlite3DB::ReadOnly);
                other.treatAsUntrusted();
                Sqlite3Cursor c = other.queryThrow(Sqlite3Sql(upperSql));
                readFileRows(c, upper, nullptr);
                upperRead = true;
            } catch (const std::exception &e) {
                // Read again below, on this connection, where a failure is told as any other.
                qWarning("ManifestDb: the second reader of %s stopped: %s", qUtf8Printable(dbPath), e.what());
            }
        });
        struct Join
        {
            std::thread &t;
            ~Join()
            {
                if (t.joinable())
                    t.join();
            }
        } join{second};
        Sqlite3Cursor c = db.queryThrow(
            Sqlite3Sql(columns + " where rowid <= " + QByteArray::number(split) + " order by rowid"));
        readFileRows(c, records, nullptr);
        second.join();
        if (!upperRead) {
            upper.clear();
            Sqlite3Cursor again = db.queryThrow(Sqlite3Sql(upperSql));
            readFileRows(again, upper, nullptr);
        }
        records.append(std::move(upper));
    } catch (const Sqlite3Exception &e) {
        BackupCrypto::fail(tr("IDS_MANIFESTDB_UNREADABLE_%1_%2")
                               .arg(BackupCrypto::shown(dbPath), e.message().toHtmlEscaped()));
    }
    return records;
}
