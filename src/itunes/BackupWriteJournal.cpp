#include "BackupWriteJournal.h"

#include "BackupManifest.h"
#include "app/Platform.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

std::function<void()> &stepHook()
{
    static std::function<void()> hook;
    return hook;
}

[[noreturn]] void fail(const QString &text)
{
    throw std::runtime_error(text.toUtf8().toStdString());
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path).toHtmlEscaped();
}

QString stateName(bool placing)
{
    return placing ? u"placing"_s : u"staging"_s;
}

} // namespace

const QString &BackupWriteJournal::journalName()
{
    static const QString name = u"Chatwharf-write.journal"_s;
    return name;
}

const QString &BackupWriteJournal::stagedSuffix()
{
    static const QString suffix = u".chatwharf-new"_s;
    return suffix;
}

void BackupWriteJournal::setStepHook(std::function<void()> hook)
{
    stepHook() = std::move(hook);
}

void BackupWriteJournal::step()
{
    if (stepHook())
        stepHook()();
}

BackupWriteJournal::BackupWriteJournal(const QDir &backupFolder) : m_folder(backupFolder) {}

QString BackupWriteJournal::plan(const QString &relativeTarget)
{
    // Folders missing on the disk and not planned yet, outermost first.
    QStringList missing;
    for (QString f = relativeTarget.section(u'/', 0, -2); !f.isEmpty(); f = f.section(u'/', 0, -2)) {
        if (m_newFolders.contains(f) || QFileInfo(m_folder.filePath(f)).isDir())
            break;
        missing.prepend(f);
    }
    m_newFolders.append(missing);
    m_entries.append({relativeTarget, relativeTarget + stagedSuffix()});
    return m_folder.filePath(m_entries.constLast().staged);
}

void BackupWriteJournal::beginStaging()
{
    writeJournal(State::Staging);
    for (const QString &f : std::as_const(m_newFolders))
        if (!m_folder.mkpath(f))
            fail(tr("IDS_BACKUP_WRITE_FOLDER_FAILED_%1").arg(native(m_folder.filePath(f))));
}

void BackupWriteJournal::commit()
{
    step();
    if (!syncFileSystem(m_folder.path()))
        fail(tr("IDS_BACKUP_WRITE_SYNC_FAILED_%1").arg(native(m_folder.path())));
    writeJournal(State::Placing);
}

void BackupWriteJournal::place()
{
    placeFiles();
    step();
    if (!syncFileSystem(m_folder.path()))
        fail(tr("IDS_BACKUP_WRITE_SYNC_FAILED_%1").arg(native(m_folder.path())));
    removeJournal();
}

void BackupWriteJournal::rollBack()
{
    undoFiles();
    removeJournal();
}

void BackupWriteJournal::placeFiles()
{
    for (const Entry &e : std::as_const(m_entries)) {
        const QString staged = m_folder.filePath(e.staged), target = m_folder.filePath(e.target);
        // A staged file that is gone was placed before the run that wrote it stopped.
        if (!QFileInfo::exists(staged))
            continue;
        step();
        // rename(2) replaces the old contents in one step; QFile::rename would refuse.
        if (!renameOver(staged, target))
            fail(tr("IDS_BACKUP_WRITE_PLACE_FAILED_%1").arg(native(target)));
    }
}

void BackupWriteJournal::undoFiles()
{
    for (auto it = m_entries.crbegin(); it != m_entries.crend(); ++it) {
        const QFileInfo staged(m_folder.filePath(it->staged));
        // With the staged file go what writing it leaves beside it: a database's journals,
        // a temporary file of a save.
        const QStringList leftovers = staged.dir().entryList(
            {staged.fileName(), staged.fileName() + u".*"_s, staged.fileName() + u"-*"_s},
            QDir::Files | QDir::Hidden | QDir::System);
        for (const QString &name : leftovers) {
            const QString path = staged.dir().filePath(name);
            if (!QFile::remove(path) && QFileInfo::exists(path))
                fail(tr("IDS_BACKUP_WRITE_REMOVE_FAILED_%1").arg(native(path)));
        }
    }
    for (auto it = m_newFolders.crbegin(); it != m_newFolders.crend(); ++it)
        m_folder.rmdir(*it); // only when empty: never a folder something else put files into
}

void BackupWriteJournal::writeJournal(State state)
{
    QJsonArray files, folders;
    for (const Entry &e : std::as_const(m_entries))
        files.append(e.target);
    for (const QString &f : std::as_const(m_newFolders))
        folders.append(f);
    const QJsonObject journal{{u"version"_s, 1},
                              {u"state"_s, stateName(state == State::Placing)},
                              {u"files"_s, files},
                              {u"newFolders"_s, folders}};
    step();
    // Whole or absent, and on the disk when commit() returns (QSaveFile syncs before renaming).
    QSaveFile out(m_folder.filePath(journalName()));
    if (!out.open(QIODevice::WriteOnly) || out.write(QJsonDocument(journal).toJson()) < 0 || !out.commit())
        fail(tr("IDS_BACKUP_WRITE_JOURNAL_FAILED_%1_%2")
                 .arg(native(m_folder.filePath(journalName())), out.errorString().toHtmlEscaped()));
}

void BackupWriteJournal::removeJournal()
{
    step();
    const QString path = m_folder.filePath(journalName());
    if (!QFile::remove(path) && QFileInfo::exists(path))
        fail(tr("IDS_BACKUP_WRITE_REMOVE_FAILED_%1").arg(native(path)));
}

bool BackupWriteJournal::readJournal(const QDir &folder, State &state, QList<Entry> &entries,
                                     QStringList &folders)
{
    QFile in(folder.filePath(journalName()));
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QJsonObject journal = QJsonDocument::fromJson(in.read(1 << 26)).object();
    const QString stateText = journal.value(u"state"_s).toString();
    if (journal.value(u"version"_s).toInt() != 1 ||
        (stateText != stateName(false) && stateText != stateName(true)))
        return false;
    state = stateText == stateName(true) ? State::Placing : State::Staging;
    // A journal is a file in somebody's folder: it may name only places inside the backup,
    // and only files with the staged suffix are ever removed or renamed.
    for (const QJsonValue &v : journal.value(u"files"_s).toArray()) {
        const QString target = v.toString();
        if (!BackupManifest::isSafeRelativePath(target))
            return false;
        entries.append({target, target + stagedSuffix()});
    }
    for (const QJsonValue &v : journal.value(u"newFolders"_s).toArray()) {
        if (!BackupManifest::isSafeRelativePath(v.toString()))
            return false;
        folders.append(v.toString());
    }
    return true;
}

QString BackupWriteJournal::recover(const QDir &backupFolder)
{
    if (!QFileInfo::exists(backupFolder.filePath(journalName())))
        return QString();
    BackupWriteJournal journal(backupFolder);
    State state = State::Staging;
    if (!readJournal(backupFolder, state, journal.m_entries, journal.m_newFolders))
        fail(tr("IDS_BACKUP_WRITE_JOURNAL_DAMAGED_%1").arg(native(backupFolder.filePath(journalName()))));
    const QString name = native(backupFolder.path());
    if (state == State::Staging) {
        journal.rollBack();
        return tr("IDS_BACKUP_WRITE_UNDONE_%1").arg(name);
    }
    qint64 missing = 0;
    for (const Entry &e : std::as_const(journal.m_entries))
        if (!QFileInfo::exists(backupFolder.filePath(e.staged)) &&
            !QFileInfo::exists(backupFolder.filePath(e.target)))
            ++missing;
    journal.place();
    return missing == 0 ? tr("IDS_BACKUP_WRITE_COMPLETED_%1").arg(name)
                        : tr("IDS_BACKUP_WRITE_COMPLETED_%1_MISSING_%2").arg(name).arg(missing);
}
