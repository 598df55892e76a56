#pragma once

#include <QFile>
#include <QSaveFile>

#include <memory>

// The file an export writes. Alone, it is written under a temporary name and takes
// its own name, synced, only when complete. In a folder that is itself made under a
// temporary name and synced whole before it takes its name, each file is written
// straight to its path: a temporary name and a sync for each would only cost time.
class ExportFile
{
public:
    enum Place { Alone, InStagedFolder };
    ExportFile(const QString &path, Place place);

    QFileDevice &device() { return *m_device; }
    bool open(QIODevice::OpenMode mode) { return m_device->open(mode); }
    // Gives the file its name (alone) or closes it; false when a write failed.
    bool commit();
    // Leaves nothing of the file behind, as far as it can.
    void discard();

private:
    std::unique_ptr<QFileDevice> m_device;
    bool m_staged;
};
