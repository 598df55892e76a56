#pragma once

#include "device/MobileDevice.h"

#include <QObject>

#include <thread>
#include <vector>

class SimulatedDevice;

// An iPhone on a simulated backend that serves over AFC, each service on a thread: Viber's
// container (after house_arrest) from one folder, the media area from another. It refuses reads
// over 65536 bytes and writes over 32768.
class SimulatedAfc : public QObject
{
    Q_OBJECT

public:
    // What goes wrong, read by each service as it starts.
    enum class Fault {
        None,
        RefuseContainer, // house_arrest answers with an error
        DropMidFile,     // the phone hangs up within the first 100000 bytes of file data
        StallRead,       // a read answer stops halfway and the phone goes quiet
        ReadStatus,      // reads are answered with an error status
        EmptyReads,      // reads bring nothing although the size says otherwise
        Oversized,       // listings announce a terabyte
        DropMidWrite,    // the phone hangs up within the first 4096 bytes written to files
    };
    SimulatedAfc(const QString &container, const QString &media);
    ~SimulatedAfc() override;

    MobileDeviceHandle device() const { return m_device; }
    Fault fault = Fault::None;
    QList<QByteArray> extraNames; // added to every listing

private slots:
    void attached(void *device) { m_device = device; } // detached too: the phone is not pulled out

private:
    void serve(int socket, bool container, Fault fault);

    QString m_container, m_media;
    std::shared_ptr<SimulatedDevice> m_backend;
    MobileDeviceHandle m_device = nullptr;
    std::vector<std::pair<int, std::thread>> m_services;
};
