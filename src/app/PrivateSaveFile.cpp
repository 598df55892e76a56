#include "PrivateSaveFile.h"

#include "FileHelpers.h"

#include <QFileInfo>
#include <QRandomGenerator>

PrivateSaveFile::PrivateSaveFile(const QString &targetPath) : m_target(targetPath) {}

PrivateSaveFile::~PrivateSaveFile()
{
    if (!m_committed && !fileName().isEmpty()) {
        close();
        QFile::remove(fileName());
    }
}

bool PrivateSaveFile::create()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        setFileName(m_target + QStringLiteral(".%1").arg(QRandomGenerator::global()->generate(), 8, 16,
                                                         QLatin1Char('0')));
        // NewOnly: the mode is given by the creating call itself, and no file or link
        // someone placed under that name is written through.
        if (QFile::open(QIODevice::WriteOnly | QIODevice::NewOnly, kPrivateFileMode))
            return true;
        if (!exists())
            break;
    }
    const QString reason = errorString();
    setFileName(QString());
    setErrorString(reason);
    return false;
}

bool PrivateSaveFile::commit()
{
    if (!isOpen() || !flush())
        return false;
    close();
    if (error() != QFileDevice::NoError)
        return false;
    const QString temporary = fileName();
    // rename never replaces: a stale file under the target's name goes first.
    const QFileInfo old(m_target);
    if ((old.exists() || old.isSymLink()) && !QFile::remove(m_target))
        return false;
    if (!rename(m_target))
        return false;
    m_committed = true;
    return true;
}
