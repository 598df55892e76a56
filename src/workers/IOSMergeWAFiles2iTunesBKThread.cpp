#include "IOSMergeWAFiles2iTunesBKThread.h"

#include "itunes/ManifestDb.h"
#include "viber/Sqlite3DB.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

constexpr quint16 kFolderMode = 0x41C0;
constexpr quint16 kFileMode = 0x81A4;
constexpr quint8 kProtectionClass = 4;

[[noreturn]] void fail(const QString &text)
{
    throw std::runtime_error(text.toStdString());
}

MbdbRecord newRecord(const QString &domain, const QString &path, quint16 mode, quint32 inode)
{
    MbdbRecord r;
    r.domain = MbdbString::fromText(domain);
    r.path = MbdbString::fromText(path);
    r.mode = mode;
    r.inodeLow = inode;
    r.uid = r.gid = 501;
    r.protectionClass = kProtectionClass;
    return r;
}

} // namespace

IOSMergeWAFiles2iTunesBKThread::IOSMergeWAFiles2iTunesBKThread(const BackupManifest *manifest,
                                                               const QList<BackupFileItem> &items,
                                                               QObject *parent)
    : WorkerThread(parent), m_manifest(manifest), m_items(items)
{
}

IOSMergeWAFiles2iTunesBKThread::~IOSMergeWAFiles2iTunesBKThread()
{
    // work() uses the members; the base would wait only after they are gone.
    wait();
}

QString IOSMergeWAFiles2iTunesBKThread::work()
{
    m_records.clear();
    m_archives.clear();
    m_changed.clear();
    m_journal.reset();
    m_placing = false;
    m_recovered.clear();
    m_written.clear();
    m_maxInode = 0;
    reportProgress(0, tr("IDS_TRANSFERRING_FILES"));
    // Data files of an encrypted backup would have to be encrypted with keys only the phone holds.
    if (m_manifest->isEncrypted())
        fail(tr("IDS_EXPORT_TO_ENCRYPTED_BACKUP"));
    const QDir folder = m_manifest->folder();
    // An earlier write that was killed is finished or undone before its index is read.
    m_recovered = BackupWriteJournal::recover(folder);
    if (!m_recovered.isEmpty())
        qWarning("%s", qUtf8Printable(m_recovered));
    const bool newer = m_manifest->layout() == BackupManifest::Layout::ManifestDb;
    const QString indexName = newer ? u"Manifest.db"_s : u"Manifest.mbdb"_s;
    const QString index = folder.filePath(indexName);
    const QList<MbdbRecord> records =
        newer ? ManifestDb::readRecords(index, &m_archives) : BackupManifest::readMbdbRecords(index);
    for (const MbdbRecord &r : records) {
        m_records.insert(BackupManifest::backupFileName(r.domain.text(), r.path.text()), r);
        m_maxInode = std::max(m_maxInode, r.inodeLow);
    }

    // Every file to place is planned, and the plan written, before the first is staged.
    struct Planned
    {
        const BackupFileItem *item;
        QString staged;
    };
    QList<Planned> planned;
    m_journal = std::make_unique<BackupWriteJournal>(folder);
    for (const BackupFileItem &item : std::as_const(m_items)) {
        if (item.backupPath.isEmpty() || !QFileInfo(item.sourcePath).isFile())
            continue;
        // A path from a store must not name a place outside the domain's folder.
        if (!BackupManifest::isSafeRelativePath(item.backupPath) ||
            !BackupManifest::isSafeRelativePath(item.domain)) {
            qWarning("IOSMergeWAFiles2iTunesBKThread: refused the path %s", qPrintable(item.backupPath));
            continue;
        }
        const QString name = BackupManifest::backupFileName(item.domain, item.backupPath);
        const QString destination = newer ? ManifestDb::dataFileName(name) : name;
        // A file stays only when the index lists it too: a data file the index does not
        // know would never be restored, so it is written again with its record.
        if (!item.overwrite && m_records.contains(name) && QFileInfo::exists(folder.filePath(destination)))
            continue;
        planned.append({&item, m_journal->plan(destination)});
    }
    const QString stagedIndex = m_journal->plan(indexName);
    checkCancel();
    m_journal->beginStaging();

    const qint64 total = planned.size();
    qint64 k = 0;
    for (const Planned &p : std::as_const(planned)) {
        checkCancel();
        ++k;
        const BackupFileItem &item = *p.item;
        reportProgress(percentOf(k, total), QString(),
                       tr("IDS_BACKUP_FILE_%1").arg(item.backupPath.section(u'/', -1).toHtmlEscaped()));
        QFile::remove(p.staged);
        QFile source(item.sourcePath);
        if (!source.copy(p.staged))
            fail(tr("IDS_CAN_NOT_WRITE_%1_%2")
                     .arg(QDir::toNativeSeparators(p.staged).toHtmlEscaped(),
                          source.errorString().toHtmlEscaped()));
        BackupWriteJournal::step();
        qDebug("IOSMergeWAFiles2iTunesBKThread: %s ==> %s", qPrintable(p.staged),
               qPrintable(item.backupPath));
        updateRecords(item.domain, item.backupPath, p.staged);
        m_written.append(item.backupPath);
    }
    checkCancel();
    newer ? writeManifestDb(index, stagedIndex) : writeMbdb(stagedIndex);
    checkCancel();
    // From here the write is finished, by this run or, if it dies, by the next one.
    commitStarts();
    m_journal->commit();
    m_placing = true;
    m_journal->place();
    m_journal.reset();
    return QString();
}

void IOSMergeWAFiles2iTunesBKThread::updateRecords(const QString &domain, const QString &path,
                                                   const QString &file)
{
    const QFileInfo info(file);
    const quint32 mtime = quint32(info.lastModified().toSecsSinceEpoch());
    const QDateTime born = info.birthTime();
    const quint32 ctime = born.isValid() ? quint32(born.toSecsSinceEpoch()) : mtime;
    // Missing folders, from the deepest up to the first one the backup knows.
    for (QString folder = path; folder.lastIndexOf(u'/') > 0;) {
        folder.truncate(folder.lastIndexOf(u'/'));
        const QString key = BackupManifest::backupFileName(domain, folder);
        if (m_records.contains(key))
            break;
        MbdbRecord r = newRecord(domain, folder, kFolderMode, m_maxInode);
        r.mtime = r.atime = mtime;
        r.ctime = ctime;
        m_records.insert(key, r);
        m_changed.insert(key);
    }
    const QString key = BackupManifest::backupFileName(domain, path);
    auto it = m_records.find(key);
    if (it == m_records.end())
        it = m_records.insert(key, newRecord(domain, path, kFileMode, m_maxInode));
    // The size follows the new data too: a record that kept the old one would
    // describe a file the backup no longer holds.
    it->size = quint64(info.size());
    it->dataHash = MbdbString::fromBytes(BackupManifest::fileSha1(file));
    it->mtime = it->atime = mtime;
    it->ctime = ctime;
    m_changed.insert(key);
}

void IOSMergeWAFiles2iTunesBKThread::cleanUp(Outcome)
{
    // Before the commit point the backup is put back as it was; after it, a failed rename
    // leaves the journal for the next run to finish, since undoing would lose new data.
    if (m_journal && !m_placing)
        m_journal->rollBack();
    m_journal.reset();
}

void IOSMergeWAFiles2iTunesBKThread::writeMbdb(const QString &path)
{
    QList<MbdbRecord> records = m_records.values();
    BackupManifest::writeMbdb(records, path);
}

void IOSMergeWAFiles2iTunesBKThread::writeManifestDb(const QString &index, const QString &path)
{
    // The copy must hold everything the index holds: what a write-ahead log beside it keeps
    // goes into the file first (closing the last connection checkpoints it).
    if (QFileInfo(index + u"-wal"_s).size() > 0) {
        Sqlite3DB db;
        db.openThrow(index, Sqlite3DB::ReadWrite);
        db.execThrow(u"PRAGMA wal_checkpoint(TRUNCATE)"_s);
    }
    QFile::remove(path);
    QFile original(index);
    if (!original.copy(path))
        fail(
            tr("IDS_CAN_NOT_WRITE_%1_%2")
                .arg(QDir::toNativeSeparators(path).toHtmlEscaped(), original.errorString().toHtmlEscaped()));
    BackupWriteJournal::step();
    Sqlite3DB db;
    db.openThrow(path, Sqlite3DB::ReadWrite);
    db.execThrow(u"BEGIN IMMEDIATE"_s);
    try {
        for (const QString &key : std::as_const(m_changed)) {
            const MbdbRecord &r = m_records.value(key);
            const QByteArray archive = m_archives.contains(key)
                                           ? ManifestDb::updatedFile(m_archives.value(key), r)
                                           : ManifestDb::encodeFile(r);
            ManifestDb::writeRecord(db, r, archive);
        }
        db.execThrow(u"COMMIT"_s);
    } catch (...) {
        QString error;
        db.exec(u"ROLLBACK"_s, error);
        throw;
    }
}
