#include "BackupItems.h"

#include "IOSLoadViberFromiTunesThread.h"
#include "app/FileHelpers.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

void BackupItems::add(const QString &domain, const QString &source, const QString &path, bool overwrite)
{
    BackupFileItem item;
    item.domain = domain;
    item.sourcePath = source;
    item.backupPath = path;
    item.overwrite = overwrite;
    m_items.append(item);
}

void BackupItems::put(const QString &localPath, const QString &devicePath, bool overwrite)
{
    QString path = devicePath;
    while (path.startsWith(u'/'))
        path.remove(0, 1);
    add(QLatin1String(kViberDomain), localPath, path, overwrite);
}

void BackupItems::putStore(const QString &store)
{
    QFile origin(IOSLoadViberFromiTunesThread::storeOriginFile(
        QDir(m_viberFolder).filePath(u"Documents/Contacts.data"_s)));
    const QString where = origin.open(QIODevice::ReadOnly) ? QString::fromUtf8(origin.readAll()) : QString();
    const QString domain = where.section(u'/', 0, 0), path = where.section(u'/', 1);
    if (domain.isEmpty() || path.isEmpty()) {
        put(store, u"/Documents/Contacts.data"_s, true);
        return;
    }
    const QString empty = QDir(m_viberFolder).filePath(u"empty-sidecar"_s);
    writeWholeFile(empty, QByteArray());
    add(domain, store, path, true);
    add(domain, empty, path + u"-wal"_s, true);
    add(domain, empty, path + u"-shm"_s, true);
}

qint64 BackupItems::highestVoiceFile()
{
    qint64 highest = 0;
    const QDir voice(QDir(m_viberFolder).filePath(u"Documents/VoiceMessages"_s));
    for (const QString &name : voice.entryList(QDir::Files))
        highest = std::max(highest, name.toLongLong());
    return highest;
}

void BackupItems::renameSource(const QString &from, const QString &to)
{
    for (BackupFileItem &item : m_items)
        if (item.sourcePath == from)
            item.sourcePath = to;
}
