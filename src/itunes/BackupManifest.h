#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringView>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QIODevice;

// One text field of a Manifest.mbdb record. The file tells an absent value
// (length 0xFFFF, no bytes) from an empty one (length 0); both read as the
// empty text, and a rewrite keeps the difference.
struct MbdbString
{
    QByteArray bytes;
    bool absent = true;

    static MbdbString fromText(const QString &text) { return {text.toUtf8(), false}; }
    static MbdbString fromBytes(const QByteArray &bytes) { return {bytes, false}; }
    QString text() const { return QString::fromUtf8(bytes); }
    bool operator==(const MbdbString &other) const { return absent == other.absent && bytes == other.bytes; }
    bool operator!=(const MbdbString &other) const { return !(*this == other); }
};
// Lists of hundreds of thousands of records grow by moving their memory, not each record.
Q_DECLARE_TYPEINFO(MbdbString, Q_RELOCATABLE_TYPE);

// One extended attribute of a record.
struct MbdbProperty
{
    MbdbString name;
    MbdbString value;
    bool operator==(const MbdbProperty &other) const { return name == other.name && value == other.value; }
};
Q_DECLARE_TYPEINFO(MbdbProperty, Q_RELOCATABLE_TYPE);

// One record of Manifest.mbdb: a backed-up file, folder or link, fields in file order.
struct MbdbRecord
{
    MbdbString domain;
    MbdbString path;
    MbdbString linkTarget;
    MbdbString dataHash;      // SHA-1 of the contents, 20 raw bytes
    MbdbString encryptionKey; // the wrapped per-file key of an encrypted backup
    quint16 mode = 0;
    quint32 inodeHigh = 0;
    quint32 inodeLow = 0;
    quint32 uid = 0;
    quint32 gid = 0;
    quint32 mtime = 0;
    quint32 atime = 0;
    quint32 ctime = 0;
    quint64 size = 0;
    quint8 protectionClass = 0;
    QList<MbdbProperty> properties;

    // The mode's file type says so; without one (a folder made up for the tree),
    // size 0 and no link target. Size alone would take empty files for folders.
    bool isFolder() const;
    // Whether domain and path can name a file below a folder of ours; records
    // that cannot are kept in the manifest but never reach the tree or a copy.
    bool isSafe() const;
};
Q_DECLARE_TYPEINFO(MbdbRecord, Q_RELOCATABLE_TYPE);

// One iTunes backup folder: the device values of Manifest.plist, the records of
// Manifest.mbdb arranged by a virtual path, and the copying of backed-up files
// out of the folder. Every failure raises std::runtime_error with a sentence
// naming the file (rich text: paths are HTML-escaped).
class BackupKeyBag;

class BackupManifest : public QObject
{
    Q_OBJECT

public:
    // One node of the virtual-path tree; owns its children.
    class FileNode
    {
    public:
        FileNode() = default;
        FileNode(const FileNode &) = delete;
        FileNode &operator=(const FileNode &) = delete;

        const QString &name() const { return m_name; }
        const MbdbRecord &record() const { return m_record; }
        const FileNode *parent() const { return m_parent; }
        const std::vector<std::unique_ptr<FileNode>> &children() const { return m_children; }
        bool isFolder() const { return m_record.isFolder(); }
        // The direct child of that name, or null.
        const FileNode *child(QStringView name) const;
        // Names from below the root down to this node, joined by "/".
        QString virtualPath() const;

    private:
        friend class BackupManifest;
        QString m_name;
        MbdbRecord m_record;
        FileNode *m_parent = nullptr;
        std::vector<std::unique_ptr<FileNode>> m_children;
    };

    // Called after every chunk copied, with the source's total size and the bytes
    // read so far; it may throw (a cancel) to stop the copy.
    using ProgressCallback = std::function<void(qint64 totalBytes, qint64 bytesRead)>;
    // Copies the data file of an encrypted backup's record from source (open for
    // reading, at its start) to destination (open for writing), decrypting on the
    // way and calling progress after every chunk; raises on failure. The caller
    // commits the destination and sets its times afterwards.
    using Decryptor = std::function<void(QIODevice &source, QIODevice &destination, const MbdbRecord &record,
                                         const ProgressCallback &progress)>;

    // Manifest.mbdb of older iPhones, or Manifest.db (SQLite) of iOS 10 and later,
    // whose data files lie in sub-folders named by their first two hex digits.
    enum class Layout { Mbdb, ManifestDb };

    explicit BackupManifest(const QString &backupFolder, QObject *parent = nullptr);
    ~BackupManifest() override;

    // Reads the device values of Manifest.plist (XML or binary).
    void loadManifestPlist();
    // Reads the file index and builds the tree, unless the tree is already there.
    // A write into the folder that was interrupted is finished or undone first
    // (recoveredText() says which).
    // A failure leaves the tree empty. An encrypted Manifest.db must be unlocked
    // first; it is decrypted into a private temporary file in scratchFolder (the
    // system's temporary folder when empty), removed again before this returns.
    void loadFileTree(const QString &scratchFolder = QString());
    // Replaces the tree by one made of these records (any order); the step a
    // reader of another manifest layout feeds. A list handed over (moved) gives its
    // records to the nodes instead of copies.
    void buildFileTree(QList<MbdbRecord> records);

    // The records of Manifest.mbdb under backupFileName of their domain and
    // path; a later record with the same domain and path replaces an earlier one.
    static QHash<QString, MbdbRecord> readMbdb(const QString &filePath);
    // The records in file order, duplicates included.
    static QList<MbdbRecord> readMbdbRecords(const QString &filePath);
    // Sorts the records (domain, then path, as UTF-16 code units; equal ones keep
    // their order) and writes them as Manifest.mbdb; the
    // file is replaced only once it is whole.
    static void writeMbdb(QList<MbdbRecord> &records, const QString &filePath);

    // Lower-case hex SHA-1 of the UTF-8 of domain + "-" + path: the data file's name.
    // A record's own is taken from its bytes as stored (dataFilePath), which differ
    // from the text only where the stored bytes are no valid UTF-8.
    static QString backupFileName(const QString &domain, const QString &path);
    // SHA-1 of the file's contents (20 raw bytes); empty when it cannot be read.
    static QByteArray fileSha1(const QString &filePath);
    // Whether a name from a backup, put below a folder, stays inside it: not
    // empty, not absolute, no "." or ".." component, no backslash, no NUL.
    static bool isSafeRelativePath(const QString &path);

    // Which index the folder holds: Manifest.db wins where both are present, since
    // iTunes leaves the older file behind when it upgrades a backup.
    Layout layout() const;
    // Whether a folder holds a backup this class reads: Manifest.plist and an index.
    static bool holdsBackup(const QDir &folder);

    // The data file of a record inside this backup folder.
    QString dataFilePath(const MbdbRecord &record) const;
    // The node at a virtual path ("Applications/com.viber/Documents"), or null.
    const FileNode *findNode(const QString &virtualPath) const;

    // Writes the node's file to destinationPath: copied as it is from a plain
    // backup, through the decryptor from an encrypted one (into a file only the user
    // may read, mode 0600 from its creation); then gives it the record's
    // modification time. The destination appears only when whole.
    void copyBackupFile(const FileNode &node, const QString &destinationPath,
                        const ProgressCallback &progress = {}) const;
    // The decryption an unlocked encrypted backup copies its files through.
    void setDecryptor(Decryptor decryptor) { m_decryptor = std::move(decryptor); }
    // Unlocks an encrypted backup with the user's password: parses the key bag of
    // Manifest.plist and derives its keys, after which copyBackupFile decrypts.
    // False for a wrong password; raises for a damaged key bag and passes on what
    // progress raises (a cancel). The password and keys never leave memory.
    bool unlockWithPassword(const QString &password,
                            const std::function<void(qint64, qint64)> &progress = {});
    bool isUnlocked() const { return m_keyBag != nullptr; }

    const QString &uniqueDeviceId() const { return m_uniqueDeviceId; }
    const QString &deviceName() const { return m_deviceName; }
    const QDateTime &date() const { return m_date; }
    const QString &productType() const { return m_productType; }
    const QString &productVersion() const { return m_productVersion; }
    const QString &serialNumber() const { return m_serialNumber; }
    bool isEncrypted() const { return m_isEncrypted; }
    const QByteArray &backupKeyBag() const { return m_backupKeyBag; }
    const QString &displayName() const { return m_displayName; }
    const QDir &folder() const { return m_folder; }
    // What loadFileTree did about an interrupted write it found (empty for nothing).
    const QString &recoveredText() const { return m_recoveredText; }
    const FileNode &root() const { return m_root; }
    // md5Hex of the folder's absolute path: names the backup's cache folder.
    QString cacheKey() const;

private:
    QList<MbdbRecord> readManifestDb(const QString &scratchFolder) const;

    QString m_uniqueDeviceId;
    QString m_deviceName;
    QDateTime m_date;
    QString m_productType;
    QString m_productVersion;
    QString m_serialNumber;
    bool m_isEncrypted = false;
    QByteArray m_backupKeyBag;
    mutable std::optional<Layout> m_layout; // found on first use, again with the plist
    QByteArray m_manifestKey;               // Manifest.db's key: class (little-endian), then the wrapped key
    QString m_displayName;
    QString m_recoveredText;
    QDir m_folder;
    FileNode m_root;
    Decryptor m_decryptor;
    std::unique_ptr<BackupKeyBag> m_keyBag;
};
