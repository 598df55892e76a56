#include "BackupManifest.h"

#include "BackupWriteJournal.h"

#include "BackupCrypto.h"
#include "BackupKeyBag.h"
#include "ManifestDb.h"

#include "app/FileHelpers.h"
#include "app/PrivateSaveFile.h"
#include "device/CFType.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QStringView>
#include <QTemporaryFile>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

constexpr char kMbdbHeader[] = {'m', 'b', 'd', 'b', 5, 0};
constexpr qint64 kMbdbHeaderSize = 6;
constexpr quint16 kAbsentLength = 0xFFFF;
constexpr qint64 kMaxStringBytes = 0xFFFE;
constexpr qint64 kMaxProperties = 0xFF;
constexpr qint64 kCopyChunk = 8192;
// Real manifests hold device values and a key bag, a few megabytes at most; a
// larger file is no manifest and would only be read into memory.
constexpr qint64 kMaxPlistBytes = 64 * 1024 * 1024;
// The reader's window onto the file: larger than any one field.
constexpr qint64 kReadBuffer = 1024 * 1024;

const QString kAppDomainPrefix = u"AppDomain"_s;

[[noreturn]] void fail(const QString &text)
{
    throw std::runtime_error(text.toUtf8().toStdString());
}

// A path inside an error, which the dialogs show as rich text.
QString native(const QString &path)
{
    return QDir::toNativeSeparators(path).toHtmlEscaped();
}

bool isSystemDomain(const QString &domain)
{
    static const QSet<QString> domains = {u"Domain"_s,
                                          u"MediaDomain"_s,
                                          u"RootDomain"_s,
                                          u"HomeDomain"_s,
                                          u"SystemPreferencesDomain"_s,
                                          u"MobileDeviceDomain"_s,
                                          u"WirelessDomain"_s,
                                          u"DatabaseDomain"_s,
                                          u"CameraRollDomain"_s,
                                          u"HealthDomain"_s,
                                          u"KeychainDomain"_s,
                                          u"KeyboardDomain"_s,
                                          u"ManagedPreferencesDomain"_s};
    return domains.contains(domain);
}

// Where a record sits in the tree: app domains under "Applications" (or
// "AppDomain<kind>") and their bundle identifier, the system domains together as
// on the device below the user's home, any other domain under its own name.
// Empty for the root record of a system domain.
QString virtualPathOf(const QString &domain, const QString &path)
{
    if (domain.startsWith(kAppDomainPrefix)) {
        const qsizetype dash = domain.indexOf(u'-', kAppDomainPrefix.size());
        if (dash >= 0 && dash + 1 < domain.size()) {
            const QStringView kind =
                QStringView(domain).mid(kAppDomainPrefix.size(), dash - kAppDomainPrefix.size());
            // Sized once: three appends would move the text up to three times.
            QString result;
            result.reserve(kAppDomainPrefix.size() + domain.size() + path.size() + 2);
            result += kind.isEmpty() ? QStringView(u"Applications") : QStringView(kAppDomainPrefix);
            result += kind;
            result += u'/';
            result += QStringView(domain).mid(dash + 1);
            if (!path.isEmpty()) {
                result += u'/';
                result += path;
            }
            return result;
        }
    }
    if (isSystemDomain(domain))
        return path;
    return domain + u'/' + path;
}

QString parentPathOf(const QString &virtualPath)
{
    const qsizetype slash = virtualPath.lastIndexOf(u'/');
    return slash < 0 ? QString() : virtualPath.left(slash);
}

QString nameOf(const QString &virtualPath)
{
    return virtualPath.mid(virtualPath.lastIndexOf(u'/') + 1);
}

// Reads Manifest.mbdb through a window of the file, checking every length
// against what is left of the file before taking or allocating anything.
class MbdbReader
{
public:
    MbdbReader(QFile &file, const QString &path)
        : m_file(file), m_path(path), m_size(file.size()), m_buffer(kReadBuffer, Qt::Uninitialized)
    {
    }

    bool atEnd() const { return m_pos >= m_size; }
    qint64 pos() const { return m_pos; }
    void startRecord() { m_recordStart = m_pos; }

    const char *take(qint64 count)
    {
        if (count > m_size - m_pos)
            truncated();
        if (m_end - m_next < count)
            refill(count);
        const char *at = m_buffer.constData() + m_next;
        m_next += count;
        m_pos += count;
        return at;
    }

    template <typename T> T number() { return qFromBigEndian<T>(take(sizeof(T))); }

    MbdbString string()
    {
        const quint16 length = number<quint16>();
        if (length == kAbsentLength)
            return MbdbString();
        return MbdbString::fromBytes(QByteArray(take(length), length));
    }

    [[noreturn]] void truncated() const
    {
        fail(BackupManifest::tr("IDS_MBDB_TRUNCATED_%1_%2").arg(native(m_path)).arg(m_recordStart));
    }

private:
    void refill(qint64 count)
    {
        const qint64 kept = m_end - m_next;
        std::memmove(m_buffer.data(), m_buffer.constData() + m_next, size_t(kept));
        m_next = 0;
        m_end = kept;
        while (m_end < count) {
            const qint64 got = m_file.read(m_buffer.data() + m_end, m_buffer.size() - m_end);
            if (got < 0)
                fail(BackupManifest::tr("IDS_BACKUP_FILE_READ_FAILED_%1_%2")
                         .arg(native(m_path), m_file.errorString().toHtmlEscaped()));
            if (got == 0) // the file shrank while being read
                truncated();
            m_end += got;
        }
    }

    QFile &m_file;
    QString m_path;
    qint64 m_size;
    qint64 m_pos = 0;
    qint64 m_recordStart = 0;
    QByteArray m_buffer;
    qint64 m_next = 0;
    qint64 m_end = 0;
};

MbdbRecord readRecord(MbdbReader &in)
{
    MbdbRecord r;
    r.domain = in.string();
    r.path = in.string();
    r.linkTarget = in.string();
    r.dataHash = in.string();
    r.encryptionKey = in.string();
    r.mode = in.number<quint16>();
    r.inodeHigh = in.number<quint32>();
    r.inodeLow = in.number<quint32>();
    r.uid = in.number<quint32>();
    r.gid = in.number<quint32>();
    r.mtime = in.number<quint32>();
    r.atime = in.number<quint32>();
    r.ctime = in.number<quint32>();
    r.size = in.number<quint64>();
    r.protectionClass = in.number<quint8>();
    const quint8 count = in.number<quint8>();
    r.properties.reserve(count);
    for (int i = 0; i < count; ++i) {
        MbdbProperty property;
        property.name = in.string();
        property.value = in.string();
        r.properties.append(property);
    }
    return r;
}

template <typename T> void putNumber(QByteArray &out, T value)
{
    char bytes[sizeof(T)];
    qToBigEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

// False when the text cannot be written: longer than a length the format can hold.
bool putString(QByteArray &out, const MbdbString &s)
{
    if (s.absent) {
        putNumber<quint16>(out, kAbsentLength);
        return true;
    }
    if (s.bytes.size() > kMaxStringBytes)
        return false;
    putNumber<quint16>(out, quint16(s.bytes.size()));
    out += s.bytes;
    return true;
}

bool putRecord(QByteArray &out, const MbdbRecord &r)
{
    bool ok = putString(out, r.domain) && putString(out, r.path) && putString(out, r.linkTarget) &&
              putString(out, r.dataHash) && putString(out, r.encryptionKey);
    putNumber(out, r.mode);
    for (quint32 word : {r.inodeHigh, r.inodeLow, r.uid, r.gid, r.mtime, r.atime, r.ctime})
        putNumber(out, word);
    putNumber(out, r.size);
    putNumber(out, r.protectionClass);
    if (r.properties.size() > kMaxProperties)
        return false;
    putNumber(out, quint8(r.properties.size()));
    for (const MbdbProperty &p : r.properties)
        ok = putString(out, p.name) && putString(out, p.value) && ok;
    return ok;
}

bool isSafeRecord(const QString &domain, const QString &path, const QString &virtualPath)
{
    if (domain.contains(u'/') || !BackupManifest::isSafeRelativePath(domain))
        return false;
    if (!path.isEmpty() && !BackupManifest::isSafeRelativePath(path))
        return false;
    return virtualPath.isEmpty() || BackupManifest::isSafeRelativePath(virtualPath);
}

// A record's texts, decoded once for sorting.
struct SortKey
{
    QString domain;
    QString path;
    qsizetype index;
};

// The positions of the records in record order; equal records keep file order.
std::vector<SortKey> sortedKeys(const QList<MbdbRecord> &records)
{
    std::vector<SortKey> keys;
    keys.reserve(size_t(records.size()));
    for (qsizetype i = 0; i < records.size(); ++i) {
        const MbdbRecord &r = records.at(i);
        // Neighbours mostly share their domain: one text for the run, not one each.
        const bool sameDomain = i > 0 && r.domain.bytes == records.at(i - 1).domain.bytes;
        keys.push_back({sameDomain ? keys.back().domain : r.domain.text(), r.path.text(), i});
    }
    std::stable_sort(keys.begin(), keys.end(), [](const SortKey &a, const SortKey &b) {
        const int byDomain = QString::compare(a.domain, b.domain, Qt::CaseSensitive);
        return byDomain != 0 ? byDomain < 0 : QString::compare(a.path, b.path, Qt::CaseSensitive) < 0;
    });
    return keys;
}

QString sha1Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex());
}

// The phone names a data file after the bytes it stored, valid UTF-8 or not.
QString dataFileNameOf(const MbdbRecord &record)
{
    return sha1Hex(record.domain.bytes + '-' + record.path.bytes);
}

} // namespace

bool MbdbRecord::isSafe() const
{
    const QString d = domain.text();
    const QString p = path.text();
    return isSafeRecord(d, p, virtualPathOf(d, p));
}

bool MbdbRecord::isFolder() const
{
    constexpr quint16 kTypeBits = 0170000;
    constexpr quint16 kFolderType = 0040000;
    if ((mode & kTypeBits) != 0)
        return (mode & kTypeBits) == kFolderType;
    return size == 0 && linkTarget.bytes.isEmpty();
}

const BackupManifest::FileNode *BackupManifest::FileNode::child(QStringView name) const
{
    for (const std::unique_ptr<FileNode> &c : m_children) {
        if (c->m_name == name)
            return c.get();
    }
    return nullptr;
}

QString BackupManifest::FileNode::virtualPath() const
{
    QStringList names;
    for (const FileNode *n = this; n != nullptr && n->m_parent != nullptr; n = n->m_parent)
        names.prepend(n->m_name);
    return names.join(u'/');
}

BackupManifest::BackupManifest(const QString &backupFolder, QObject *parent)
    : QObject(parent), m_folder(QFileInfo(backupFolder).absoluteFilePath())
{
}

BackupManifest::~BackupManifest() = default;

void BackupManifest::loadManifestPlist()
{
    const QString path = m_folder.filePath(u"Manifest.plist"_s);
    QFile file(path);
    if (!file.exists())
        fail(tr("IDS_CANNOT_FIND_%1").arg(native(path)));
    if (!file.open(QIODevice::ReadOnly))
        fail(tr("IDS_BACKUP_FILE_OPEN_FAILED_%1_%2").arg(native(path), file.errorString().toHtmlEscaped()));
    if (file.size() > kMaxPlistBytes)
        fail(tr("IDS_BACKUP_PLIST_TOO_LARGE_%1").arg(native(path)));
    // Read no more than the bound even if the file grows meanwhile.
    const QByteArray bytes = file.read(kMaxPlistBytes + 1);
    if (file.error() != QFileDevice::NoError)
        fail(tr("IDS_BACKUP_FILE_READ_FAILED_%1_%2").arg(native(path), file.errorString().toHtmlEscaped()));
    if (bytes.size() > kMaxPlistBytes)
        fail(tr("IDS_BACKUP_PLIST_TOO_LARGE_%1").arg(native(path)));
    const CFType plist = CFType::fromData(bytes);
    if (!plist.isDictionary())
        fail(tr("IDS_BACKUP_PLIST_INVALID_%1").arg(native(path)));

    const CFType lockdown = plist.value(u"Lockdown"_s);
    m_uniqueDeviceId = lockdown.value(u"UniqueDeviceID"_s).toString();
    m_deviceName = lockdown.value(u"DeviceName"_s).toString();
    m_productType = lockdown.value(u"ProductType"_s).toString();
    m_productVersion = lockdown.value(u"ProductVersion"_s).toString();
    m_serialNumber = lockdown.value(u"SerialNumber"_s).toString();
    // The list's dates are GMT; keep the instant, not the wall-clock fields.
    const QDateTime date = plist.value(u"Date"_s).toDateTime();
    m_date = date.isValid() ? QDateTime(date.date(), date.time(), Qt::UTC) : QDateTime();
    m_isEncrypted = plist.value(u"IsEncrypted"_s).toBool();
    m_backupKeyBag = plist.value(u"BackupKeyBag"_s).toByteArray();
    m_manifestKey = plist.value(u"ManifestKey"_s).toByteArray();
    m_layout.reset();

    // An empty identifier would be "found" in every name and spliced between its letters.
    const QString folderName = m_folder.dirName();
    if (!m_uniqueDeviceId.isEmpty() && folderName.contains(m_uniqueDeviceId))
        m_displayName = QString(folderName).replace(m_uniqueDeviceId, m_deviceName);
    else if (!m_deviceName.isEmpty())
        m_displayName = m_deviceName + u'-' + folderName;
    else
        m_displayName = folderName;
}

void BackupManifest::loadFileTree(const QString &scratchFolder)
{
    if (!m_root.m_children.empty())
        return;
    // The index must describe the files: an interrupted write first ends one way or the other.
    m_recoveredText = BackupWriteJournal::recover(m_folder);
    if (!m_recoveredText.isEmpty())
        qWarning("%s", qUtf8Printable(m_recoveredText));
    buildFileTree(layout() == Layout::ManifestDb ? readManifestDb(scratchFolder)
                                                 : readMbdbRecords(m_folder.filePath(u"Manifest.mbdb"_s)));
}

QList<MbdbRecord> BackupManifest::readManifestDb(const QString &scratchFolder) const
{
    const QString path = m_folder.filePath(u"Manifest.db"_s);
    if (!m_isEncrypted)
        return ManifestDb::readRecords(path);
    if (!m_keyBag)
        fail(tr("IDS_BACKUP_LOCKED_%1").arg(native(m_folder.path())));
    if (m_manifestKey.size() < 4)
        fail(tr("IDS_BACKUP_NO_MANIFEST_KEY_%1").arg(native(m_folder.filePath(u"Manifest.plist"_s))));
    const int protectionClass = int(qFromLittleEndian<quint32>(m_manifestKey.constData()));
    QByteArray key = m_keyBag->fileKey(protectionClass, m_manifestKey.mid(4), path);
    const BackupCrypto::WipeGuard wipeKey{&key};

    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        fail(tr("IDS_BACKUP_FILE_OPEN_FAILED_%1_%2").arg(native(path), in.errorString().toHtmlEscaped()));
    const QString folder = scratchFolder.isEmpty() ? QDir::tempPath() : scratchFolder;
    makePrivatePath(folder);
    // The index in clear, only while it is read.
    QTemporaryFile out(QDir(folder).filePath(u"Manifest-XXXXXX.db"_s));
    if (!out.open())
        fail(tr("IDS_BACKUP_COPY_WRITE_FAILED_%1_%2")
                 .arg(native(out.fileTemplate()), out.errorString().toHtmlEscaped()));
    decryptBackupData(in, out, key, in.size(), path);
    // The padding after the last page is dropped: an SQLite file is whole pages of at least 512 bytes.
    if (out.size() >= 16 && out.seek(out.size() - 1)) {
        char last = 0;
        const qint64 size = out.size();
        const int pad = out.getChar(&last) ? int(quint8(last)) : 0;
        if (pad >= 1 && pad <= 16 && (size - pad) % 512 == 0)
            out.resize(size - pad);
    }
    out.close();
    return ManifestDb::readRecords(out.fileName());
}

BackupManifest::Layout BackupManifest::layout() const
{
    if (!m_layout)
        m_layout =
            QFileInfo(m_folder.filePath(u"Manifest.db"_s)).isFile() ? Layout::ManifestDb : Layout::Mbdb;
    return *m_layout;
}

bool BackupManifest::holdsBackup(const QDir &folder)
{
    return QFileInfo(folder.filePath(u"Manifest.plist"_s)).isFile() &&
           (QFileInfo(folder.filePath(u"Manifest.mbdb"_s)).isFile() ||
            QFileInfo(folder.filePath(u"Manifest.db"_s)).isFile());
}

void BackupManifest::buildFileTree(QList<MbdbRecord> records)
{
    m_root.m_children.clear();
    const std::vector<SortKey> keys = sortedKeys(records);

    QHash<QString, FileNode *> nodes;
    nodes.reserve(records.size());
    // Folders made for records whose folder record is missing: a record for
    // that path coming later still fills them.
    QSet<FileNode *> madeUp;

    const std::function<FileNode *(const QString &)> folderAt =
        [&](const QString &virtualPath) -> FileNode * {
        if (virtualPath.isEmpty())
            return &m_root;
        if (FileNode *found = nodes.value(virtualPath))
            return found;
        FileNode *parent = folderAt(parentPathOf(virtualPath));
        auto node = std::make_unique<FileNode>();
        node->m_name = nameOf(virtualPath);
        node->m_parent = parent;
        FileNode *made = node.get();
        parent->m_children.push_back(std::move(node));
        nodes.insert(virtualPath, made);
        madeUp.insert(made);
        return made;
    };

    QString lastParentPath;
    FileNode *lastParent = nullptr;
    for (size_t i = 0; i < keys.size(); ++i) {
        const SortKey &key = keys[i];
        // A later record of the same domain and path replaces the earlier one, as in readMbdb.
        if (i + 1 < keys.size() && keys[i + 1].domain == key.domain && keys[i + 1].path == key.path)
            continue;
        const QString virtualPath = virtualPathOf(key.domain, key.path);
        if (!isSafeRecord(key.domain, key.path, virtualPath))
            continue;
        const QString name = nameOf(virtualPath);
        if (name.isEmpty())
            continue;
        MbdbRecord &record = records[key.index];
        // Records in order come folder by folder: the last parent is most often the next one's too.
        const qsizetype parentLength = virtualPath.size() - name.size() - 1;
        const QStringView parentPath =
            parentLength > 0 ? QStringView(virtualPath).first(parentLength) : QStringView();
        if (!lastParent || parentPath != lastParentPath) {
            lastParentPath = parentPath.toString();
            lastParent = folderAt(lastParentPath);
        }
        FileNode *&slot = nodes[virtualPath]; // after folderAt, which may add to the hash
        if (FileNode *existing = slot) {
            // Where two system domains hold one path, the first in record order stays.
            if (madeUp.remove(existing))
                existing->m_record = std::move(record);
            continue;
        }
        auto node = std::make_unique<FileNode>();
        node->m_name = name;
        node->m_record = std::move(record);
        node->m_parent = lastParent;
        slot = node.get();
        lastParent->m_children.push_back(std::move(node));
    }
}

QList<MbdbRecord> BackupManifest::readMbdbRecords(const QString &filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        fail(tr("IDS_BACKUP_FILE_OPEN_FAILED_%1_%2")
                 .arg(native(filePath), file.errorString().toHtmlEscaped()));
    MbdbReader in(file, filePath);
    // The header's content is not checked, as the phone's own tools do not.
    in.take(kMbdbHeaderSize);
    QList<MbdbRecord> records;
    while (!in.atEnd()) {
        in.startRecord();
        records.append(readRecord(in));
    }
    return records;
}

QHash<QString, MbdbRecord> BackupManifest::readMbdb(const QString &filePath)
{
    const QList<MbdbRecord> records = readMbdbRecords(filePath);
    QHash<QString, MbdbRecord> byName;
    byName.reserve(records.size());
    for (const MbdbRecord &record : records)
        byName.insert(dataFileNameOf(record), record);
    return byName;
}

void BackupManifest::writeMbdb(QList<MbdbRecord> &records, const QString &filePath)
{
    {
        const std::vector<SortKey> keys = sortedKeys(records);
        QList<MbdbRecord> sorted;
        sorted.reserve(records.size());
        for (const SortKey &key : keys)
            sorted.append(records.at(key.index));
        records.swap(sorted);
    }
    // The manifest is the backup's index: the old one stays until the new one is whole.
    QSaveFile file(filePath);
    const auto writeFailed = [&]() {
        const QString reason =
            file.error() != QFileDevice::NoError ? file.errorString() : tr("IDS_BACKUP_SHORT_WRITE");
        fail(tr("IDS_MBDB_WRITE_FAILED_%1_%2").arg(native(filePath), reason.toHtmlEscaped()));
    };
    if (!file.open(QIODevice::WriteOnly))
        writeFailed();
    QByteArray out(kMbdbHeader, kMbdbHeaderSize);
    out.reserve(kReadBuffer + 2 * 0x10000);
    const auto writeOut = [&]() {
        if (file.write(out) != out.size())
            writeFailed();
        out.clear();
    };
    for (const MbdbRecord &record : records) {
        if (!putRecord(out, record)) {
            file.cancelWriting();
            fail(tr("IDS_MBDB_FIELD_TOO_LONG_%1_%2_%3")
                     .arg(native(filePath), record.domain.text().toHtmlEscaped(),
                          record.path.text().toHtmlEscaped()));
        }
        if (out.size() >= kReadBuffer)
            writeOut();
    }
    writeOut();
    if (!file.commit())
        writeFailed();
}

QString BackupManifest::backupFileName(const QString &domain, const QString &path)
{
    return sha1Hex(domain.toUtf8() + '-' + path.toUtf8());
}

QByteArray BackupManifest::fileSha1(const QString &filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!hash.addData(&file))
        return QByteArray();
    return hash.result();
}

bool BackupManifest::isSafeRelativePath(const QString &path)
{
    if (path.isEmpty() || path.contains(u'\\') || path.contains(QChar(u'\0')))
        return false;
    // Part by part without making a list: this runs for every record of a backup.
    for (qsizetype from = 0; from <= path.size();) {
        qsizetype to = path.indexOf(u'/', from);
        if (to < 0)
            to = path.size();
        const QStringView part = QStringView(path).mid(from, to - from);
        if (part.isEmpty() || part == u"." || part == u"..")
            return false;
        from = to + 1;
    }
    return true;
}

QString BackupManifest::dataFilePath(const MbdbRecord &record) const
{
    const QString name = dataFileNameOf(record);
    return m_folder.filePath(layout() == Layout::ManifestDb ? ManifestDb::dataFileName(name) : name);
}

const BackupManifest::FileNode *BackupManifest::findNode(const QString &virtualPath) const
{
    const FileNode *node = &m_root;
    for (QStringView part : QStringView(virtualPath).split(u'/', Qt::SkipEmptyParts)) {
        node = node->child(part);
        if (node == nullptr)
            return nullptr;
    }
    return node == &m_root ? nullptr : node;
}

void BackupManifest::copyBackupFile(const FileNode &node, const QString &destinationPath,
                                    const ProgressCallback &progress) const
{
    const MbdbRecord &record = node.record();
    const QString recordName = (record.domain.text() + u'-' + record.path.text()).toHtmlEscaped();
    if (!record.isSafe())
        fail(tr("IDS_BACKUP_RECORD_UNSAFE_%1").arg(recordName));
    if (m_isEncrypted && !m_decryptor)
        fail(tr("IDS_BACKUP_LOCKED_%1").arg(native(m_folder.path())));

    const QString sourcePath = dataFilePath(record);
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly))
        fail(tr("IDS_BACKUP_DATA_FILE_OPEN_FAILED_%1_%2_%3")
                 .arg(native(sourcePath), recordName, source.errorString().toHtmlEscaped()));
    // A failed or cancelled copy leaves no file that looks whole: the destination
    // appears under its name only at the commit. What an encrypted backup holds is
    // decrypted into a file only the user may read from its first byte on.
    QSaveFile plainDestination(destinationPath);
    PrivateSaveFile privateDestination(destinationPath);
    QFileDevice &destination =
        m_isEncrypted ? static_cast<QFileDevice &>(privateDestination) : plainDestination;
    const auto writeFailed = [&]() {
        const QString reason = destination.error() != QFileDevice::NoError ? destination.errorString()
                                                                           : tr("IDS_BACKUP_SHORT_WRITE");
        fail(tr("IDS_BACKUP_COPY_WRITE_FAILED_%1_%2").arg(native(destinationPath), reason.toHtmlEscaped()));
    };
    if (m_isEncrypted ? !privateDestination.create() : !plainDestination.open(QIODevice::WriteOnly))
        writeFailed();

    if (m_isEncrypted) {
        m_decryptor(source, destination, record, progress);
    } else {
        const qint64 total = source.size();
        qint64 done = 0;
        QByteArray chunk(kCopyChunk, Qt::Uninitialized);
        for (;;) {
            const qint64 got = source.read(chunk.data(), kCopyChunk);
            if (got < 0)
                fail(tr("IDS_BACKUP_FILE_READ_FAILED_%1_%2")
                         .arg(native(sourcePath), source.errorString().toHtmlEscaped()));
            if (got == 0)
                break;
            if (destination.write(chunk.constData(), got) != got)
                writeFailed();
            done += got;
            if (progress)
                progress(total, done);
        }
    }
    if (!destination.flush())
        writeFailed();
    // Set on the temporary file, which the commit renames without touching its times.
    const QDateTime mtime = QDateTime::fromSecsSinceEpoch(qint64(record.mtime), Qt::UTC);
    destination.setFileTime(mtime, QFileDevice::FileModificationTime);
    destination.setFileTime(mtime, QFileDevice::FileAccessTime);
    if (m_isEncrypted ? !privateDestination.commit() : !plainDestination.commit())
        writeFailed();
}

QString BackupManifest::cacheKey() const
{
    return md5Hex(m_folder.absolutePath());
}

bool BackupManifest::unlockWithPassword(const QString &password,
                                        const std::function<void(qint64, qint64)> &progress)
{
    auto bag =
        std::make_unique<BackupKeyBag>(m_backupKeyBag, m_folder.filePath(QStringLiteral("Manifest.plist")));
    QByteArray bytes = password.toUtf8();
    const BackupCrypto::WipeGuard wipe{&bytes};
    if (!bag->unlock(bytes, progress))
        return false;
    m_keyBag = std::move(bag);
    const BackupKeyBag *keys = m_keyBag.get();
    m_decryptor = [keys](QIODevice &source, QIODevice &destination, const MbdbRecord &record,
                         const ProgressCallback &copied) {
        const auto *file = qobject_cast<const QFileDevice *>(&source);
        const QString name = file ? file->fileName() : record.path.text();
        QByteArray key = keys->fileKey(record.protectionClass,
                                       BackupKeyBag::wrappedFileKey(record.encryptionKey.bytes), name);
        const BackupCrypto::WipeGuard wipeKey{&key};
        decryptBackupData(source, destination, key, qint64(record.size), name,
                          [&](qint64 done, qint64 total) {
                              if (copied)
                                  copied(total, done);
                          });
    };
    return true;
}
