#pragma once

#include "device/AbsDeviceBackend.h"
#include "device/AbsDeviceSession.h"
#include "device/AbsServiceConnection.h"
#include "device/CFType.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <thread>
#include <utility>

#include <sys/socket.h>
#include <unistd.h>

// A device backend for tests: iPhones plugged in and pulled out by code, their values from a
// dictionary (a domain's under its name), services whose device end of a socket pair the test
// serves. Events come from a thread of their own, as the library's do, and addDevice and
// removeDevice return once delivered. Made with std::make_shared: its sessions keep it alive.
class SimulatedDevice : public AbsDeviceBackend, public std::enable_shared_from_this<SimulatedDevice>
{
public:
    ~SimulatedDevice() override
    {
        for (const auto &end : std::as_const(serviceEnds))
            ::close(end.second);
    }

    // Plugs a device in with its values (a dictionary, may be empty); one already in stays.
    void addDevice(const QString &udid, const CFType &values = CFType())
    {
        if (m_devices.contains(udid))
            return;
        m_devices.insert(udid, values.isNull() ? CFType::dictionary() : values.deepCopy());
        deliver({udid}, true);
    }
    // Pulls a device out: its services' device ends are shut down, not closed (the test may hold them).
    void removeDevice(const QString &udid)
    {
        if (!m_devices.remove(udid))
            return;
        for (const auto &end : std::as_const(serviceEnds))
            if (end.first == udid)
                ::shutdown(end.second, SHUT_RDWR);
        deliver({udid}, false);
    }

    // Sessions fail at this step with this code; 0 lets them succeed.
    SessionStep failStep = SessionStep::Connect;
    int failCode = 0;
    QSet<QString> services;                     // that every device can start
    QList<std::pair<QString, int>> serviceEnds; // device and device end of each service started
    int sessionsOpen = 0;
    // Told of each service started, for a simulated service to serve; the end stays ours to close.
    std::function<void(const QString &udid, const QString &name, int deviceEnd)> onServiceStarted;

    bool isUsable(QString &) override { return true; }
    bool subscribe(const EventSink &sink, QString &) override
    {
        m_sink = sink;
        deliver(m_devices.keys(), true);
        return true;
    }
    void unsubscribe() override { m_sink = nullptr; }
    std::unique_ptr<AbsDeviceSession> openSession(const QString &udid, SessionStep &failedStep,
                                                  int &code) override
    {
        failedStep = m_devices.contains(udid) ? failStep : SessionStep::Connect;
        code = m_devices.contains(udid) ? failCode : kNoDevice;
        return code == 0 ? std::make_unique<Session>(shared_from_this(), udid) : nullptr;
    }

private:
    static constexpr int kNoDevice = -3; // as libimobiledevice reports them
    static constexpr int kInvalidService = -27;

    class Connection : public AbsServiceConnection
    {
    public:
        explicit Connection(int socket) : m_socket(socket) {}
        ~Connection() override { ::close(m_socket); }
        int socket() const override { return m_socket; }

    private:
        int m_socket;
    };

    class Session : public AbsDeviceSession
    {
    public:
        Session(std::shared_ptr<SimulatedDevice> backend, const QString &udid)
            : m_backend(std::move(backend)), m_udid(udid)
        {
            ++m_backend->sessionsOpen;
        }
        ~Session() override { --m_backend->sessionsOpen; }

        CFType copyValue(const QString &domain, const QString &key) override
        {
            CFType values = m_backend->m_devices.value(m_udid);
            if (!domain.isEmpty())
                values = values.value(domain);
            return key.isEmpty() ? values.deepCopy() : values.value(key).deepCopy();
        }

        std::unique_ptr<AbsServiceConnection> startService(const QString &name, int &code) override
        {
            int pair[2] = {-1, -1};
            if (!m_backend->m_devices.contains(m_udid)) {
                code = kNoDevice;
            } else if (!m_backend->services.contains(name)) {
                code = kInvalidService;
            } else if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
                code = -1;
            } else {
                m_backend->serviceEnds.append({m_udid, pair[1]});
                if (m_backend->onServiceStarted)
                    m_backend->onServiceStarted(m_udid, name, pair[1]);
                return std::make_unique<Connection>(pair[0]);
            }
            return nullptr;
        }

    private:
        std::shared_ptr<SimulatedDevice> m_backend;
        QString m_udid;
    };

    void deliver(const QList<QString> &udids, bool attached)
    {
        if (!m_sink)
            return;
        std::thread notifier([&]() {
            for (const QString &udid : udids)
                m_sink(udid, attached);
        });
        notifier.join();
    }

    EventSink m_sink;
    QHash<QString, CFType> m_devices;
};
