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
const QString kStagedSuffix = u".chatwharf-new"_s;
const QString kPreviousSuffix = u".chatwharf-old"_s;

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
    m_staged.clear();
    m_written.clear();
    m_maxInode = 0;
    reportProgress(0, tr("IDS_TRANSFERRING_FILES"));
    // Data files of an encrypted backup would have to be encrypted with keys only the phone holds.
    if (m_manifest->isEncrypted())
        fail(tr("IDS_EXPORT_TO_ENCRYPTED_BACKUP"));
    const QDir folder = m_manifest->folder();
    const bool newer = m_manifest->layout() == BackupManifest::Layout::ManifestDb;
    const QString index = folder.filePath(newer ? u"Manifest.db"_s : u"Manifest.mbdb"_s);
    const QList<MbdbRecord> records =
        newer ? ManifestDb::readRecords(index, &m_archives) : BackupManifest::readMbdbRecords(index);
    for (const MbdbRecord &r : records) {
        m_records.insert(BackupManifest::backupFileName(r.domain.text(), r.path.text()), r);
        m_maxInode = std::max(m_maxInode, r.inodeLow);
    }

    const qint64 total = m_items.size();
    qint64 k = 0;
    for (const BackupFileItem &item : std::as_const(m_items)) {
        checkCancel();
        ++k;
        reportProgress(percentOf(k, total), QString(),
                       tr("IDS_BACKUP_FILE_%1").arg(item.backupPath.section(u'/', -1).toHtmlEscaped()));
        if (item.backupPath.isEmpty() || !QFileInfo(item.sourcePath).isFile())
            continue;
        // A path from a store must not name a place outside the domain's folder.
        if (!BackupManifest::isSafeRelativePath(item.backupPath) ||
            !BackupManifest::isSafeRelativePath(item.domain)) {
            qWarning("IOSMergeWAFiles2iTunesBKThread: refused the path %s", qPrintable(item.backupPath));
            continue;
        }
        const QString name = BackupManifest::backupFileName(item.domain, item.backupPath);
        Staged staged;
        staged.destination = folder.filePath(newer ? ManifestDb::dataFileName(name) : name);
        if (QFileInfo::exists(staged.destination) && !item.overwrite)
            continue;
        staged.staged = staged.destination + kStagedSuffix;
        const QString dataFolder = QFileInfo(staged.destination).absolutePath();
        if (!QFileInfo::exists(dataFolder) && QDir().mkpath(dataFolder))
            staged.madeFolder = dataFolder;
        QFile::remove(staged.staged);
        QFile source(item.sourcePath);
        if (!source.copy(staged.staged))
            fail(tr("IDS_CAN_NOT_WRITE_%1_%2")
                     .arg(QDir::toNativeSeparators(staged.destination).toHtmlEscaped(),
                          source.errorString().toHtmlEscaped()));
        m_staged.append(staged);
        qDebug("IOSMergeWAFiles2iTunesBKThread: %s ==> %s", qPrintable(staged.destination),
               qPrintable(item.backupPath));
        updateRecords(item.domain, item.backupPath, staged.staged);
        m_written.append(item.backupPath);
    }
    checkCancel();
    // From here the backup changes: files first, then the index in one step; a failure
    // in between puts every replaced file back.
    commitStarts();
    try {
        putFilesInPlace();
        newer ? writeManifestDb(index) : writeMbdb(index);
    } catch (...) {
        restoreFiles();
        throw;
    }
    for (const Staged &s : std::as_const(m_staged))
        if (!s.previous.isEmpty())
            QFile::remove(s.previous);
    m_staged.clear();
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

void IOSMergeWAFiles2iTunesBKThread::putFilesInPlace()
{
    for (Staged &s : m_staged) {
        if (QFileInfo::exists(s.destination)) {
            s.previous = s.destination + kPreviousSuffix;
            QFile::remove(s.previous);
            if (!QFile::rename(s.destination, s.previous)) {
                s.previous.clear();
                fail(tr("IDS_CAN_NOT_OVERWRITE_%1")
                         .arg(QDir::toNativeSeparators(s.destination).toHtmlEscaped()));
            }
        }
        if (!QFile::rename(s.staged, s.destination))
            fail(tr("IDS_CAN_NOT_WRITE_%1_%2")
                     .arg(QDir::toNativeSeparators(s.destination).toHtmlEscaped(), QString()));
        s.placed = true;
    }
}

void IOSMergeWAFiles2iTunesBKThread::restoreFiles()
{
    for (auto it = m_staged.rbegin(); it != m_staged.rend(); ++it) {
        if (it->placed)
            QFile::remove(it->destination);
        else
            QFile::remove(it->staged);
        if (!it->previous.isEmpty() && !QFile::rename(it->previous, it->destination))
            qWarning("IOSMergeWAFiles2iTunesBKThread: could not put back %s", qPrintable(it->destination));
        if (!it->madeFolder.isEmpty())
            QDir().rmdir(it->madeFolder);
    }
    m_staged.clear();
}

void IOSMergeWAFiles2iTunesBKThread::cleanUp(Outcome)
{
    restoreFiles();
}

void IOSMergeWAFiles2iTunesBKThread::writeMbdb(const QString &path)
{
    QList<MbdbRecord> records = m_records.values();
    BackupManifest::writeMbdb(records, path);
}

void IOSMergeWAFiles2iTunesBKThread::writeManifestDb(const QString &path)
{
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
