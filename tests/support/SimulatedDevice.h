#pragma once

#include "device/AbsDeviceBackend.h"
#include "device/CFType.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <memory>
#include <utility>

// A device backend for tests: iPhones plugged in and pulled out by code, their
// values from a dictionary (another domain's values are the dictionary under
// the domain's name), and services whose device end of a socket pair the test
// reads and writes itself.
//
// Events reach the device layer from a thread of their own, as the library's
// do; addDevice and removeDevice return once the event has been delivered. All
// else runs on the test's thread. Made with std::make_shared: its sessions
// keep it alive.
class SimulatedDevice : public AbsDeviceBackend, public std::enable_shared_from_this<SimulatedDevice>
{
public:
    ~SimulatedDevice() override;

    // Plugs a device in with its values (a dictionary, may be empty); one
    // already in is left as it is.
    void addDevice(const QString &udid, const CFType &values = CFType());
    // Pulls a device out: the device ends of its services are shut down.
    void removeDevice(const QString &udid);

    // Sessions fail at this step with this code; 0 lets them succeed.
    SessionStep failStep = SessionStep::Connect;
    int failCode = 0;
    // The services every device can start.
    QSet<QString> services;
    // The device and the device end of each service started, in that order.
    QList<std::pair<QString, int>> serviceEnds;
    int sessionsOpen = 0;

    bool isUsable(QString &error) override;
    bool subscribe(const EventSink &sink, QString &error) override;
    void unsubscribe() override;
    std::unique_ptr<AbsDeviceSession> openSession(const QString &udid, SessionStep &failedStep,
                                                  int &code) override;

private:
    class Session;

    void deliver(const QList<QString> &udids, bool attached);

    EventSink m_sink;
    QHash<QString, CFType> m_devices;
};
