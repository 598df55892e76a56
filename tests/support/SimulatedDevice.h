#pragma once

#include "device/AbsDeviceBackend.h"
#include "device/CFType.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>

#include <functional>
#include <memory>
#include <thread>

// A device backend for tests and benchmarks: iPhones plugged in and pulled out
// by code, device values from one dictionary per domain, and services answered
// by in-process servers over a socket pair.
//
// Events reach the device layer from a thread of their own, as the library's
// do; addDevice and removeDevice return once the event has been delivered.
// Made with std::make_shared: its sessions keep it alive.
class SimulatedDevice : public AbsDeviceBackend, public std::enable_shared_from_this<SimulatedDevice>
{
public:
    // A service: runs on a thread of its own with its end of the socket pair,
    // which is closed when it returns. It should return when the peer closes
    // (a read gives 0); pulling the device out or destroying the backend
    // shuts the socket down to make it so.
    using Server = std::function<void(int socket)>;

    // Error codes as libimobiledevice reports them.
    static constexpr int kNoDevice = -3;        // the device is not there
    static constexpr int kInvalidService = -27; // the device knows no such service

    SimulatedDevice();
    ~SimulatedDevice() override;

    void setUsable(bool usable, const QString &error = QString());

    // Plugs a device in with its global domain's values (a dictionary, may be
    // empty); one already in is left as it is.
    void addDevice(const QString &udid, const CFType &globalValues = CFType());
    // Pulls a device out: its services' sockets are shut down.
    void removeDevice(const QString &udid);
    // Replaces a domain's values ("" is the global domain).
    void setValues(const QString &udid, const QString &domain, const CFType &values);

    // Answers the named service on every device.
    void registerService(const QString &name, const Server &server);

    // Makes the device's sessions fail at the step with the code; code 0 lets
    // them succeed again.
    void failSessions(const QString &udid, SessionStep step, int code);

    int sessionsOpened() const;
    int sessionsOpen() const;
    // Waits until no server runs any more (false after the time-out).
    bool waitForServers(int timeoutMs = 10000) const;

    bool isUsable(QString &error) override;
    bool subscribe(const EventSink &sink, QString &error) override;
    void unsubscribe() override;
    std::unique_ptr<AbsDeviceSession> openSession(const QString &udid, SessionStep &failedStep,
                                                  int &code) override;

private:
    struct Device
    {
        QHash<QString, CFType> domains;
        SessionStep failStep = SessionStep::Connect;
        int failCode = 0;
    };
    struct Running
    {
        QString udid;
        int socket = -1; // the server's end while it runs, -1 once closed
        std::thread thread;
    };
    class Session;

    void deliver(const QList<QString> &udids, bool attached);
    CFType copyValue(const QString &udid, const QString &domain, const QString &key) const;
    bool start(const QString &udid, const QString &name, int &clientSocket, int &code);
    void shutDownServers(const QString &udid); // all of them for an empty identifier

    mutable QMutex m_mutex;
    bool m_usable = true;
    QString m_error;
    EventSink m_sink;
    QHash<QString, Device> m_devices;
    QList<QString> m_order; // devices in the order they came
    QHash<QString, Server> m_services;
    QList<std::shared_ptr<Running>> m_running;
    int m_sessionsOpened = 0;
    int m_sessionsOpen = 0;
};
