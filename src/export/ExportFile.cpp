#include "ExportFile.h"

ExportFile::ExportFile(const QString &path, Place place) : m_staged(place == InStagedFolder)
{
    if (m_staged)
        m_device = std::make_unique<QFile>(path);
    else
        m_device = std::make_unique<QSaveFile>(path);
}

bool ExportFile::commit()
{
    if (!m_staged)
        return static_cast<QSaveFile &>(*m_device).commit();
    if (!m_device->flush())
        return false;
    m_device->close();
    return m_device->error() == QFileDevice::NoError;
}

void ExportFile::discard()
{
    if (!m_staged) {
        static_cast<QSaveFile &>(*m_device).cancelWriting();
        return;
    }
    m_device->close();
    static_cast<QFile &>(*m_device).remove();
}
