#include "SimulatedDevice.h"

#include "device/AbsDeviceSession.h"
#include "device/AbsServiceConnection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace {

// Error codes as libimobiledevice reports them.
constexpr int kNoDevice = -3;
constexpr int kInvalidService = -27;

class SimulatedConnection : public AbsServiceConnection
{
public:
    explicit SimulatedConnection(int socket) : m_socket(socket) {}
    ~SimulatedConnection() override { ::close(m_socket); }
    int socket() const override { return m_socket; }

private:
    int m_socket;
};

} // namespace

class SimulatedDevice::Session : public AbsDeviceSession
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
            return std::make_unique<SimulatedConnection>(pair[0]);
        }
        return nullptr;
    }

private:
    std::shared_ptr<SimulatedDevice> m_backend;
    QString m_udid;
};

SimulatedDevice::~SimulatedDevice()
{
    for (const auto &end : std::as_const(serviceEnds))
        ::close(end.second);
}

void SimulatedDevice::addDevice(const QString &udid, const CFType &values)
{
    if (m_devices.contains(udid))
        return;
    m_devices.insert(udid, values.isNull() ? CFType::dictionary() : values.deepCopy());
    deliver({udid}, true);
}

void SimulatedDevice::removeDevice(const QString &udid)
{
    if (!m_devices.remove(udid))
        return;
    // Shut down, not closed: the test may still hold the numbers.
    for (const auto &end : std::as_const(serviceEnds)) {
        if (end.first == udid)
            ::shutdown(end.second, SHUT_RDWR);
    }
    deliver({udid}, false);
}

bool SimulatedDevice::isUsable(QString &)
{
    return true;
}

bool SimulatedDevice::subscribe(const EventSink &sink, QString &)
{
    m_sink = sink;
    deliver(m_devices.keys(), true);
    return true;
}

void SimulatedDevice::unsubscribe()
{
    m_sink = nullptr;
}

std::unique_ptr<AbsDeviceSession> SimulatedDevice::openSession(const QString &udid, SessionStep &failedStep,
                                                               int &code)
{
    failedStep = m_devices.contains(udid) ? failStep : SessionStep::Connect;
    code = m_devices.contains(udid) ? failCode : kNoDevice;
    return code == 0 ? std::make_unique<Session>(shared_from_this(), udid) : nullptr;
}

void SimulatedDevice::deliver(const QList<QString> &udids, bool attached)
{
    if (!m_sink)
        return;
    // Like the library: the events come from a thread that is not the caller's.
    std::thread notifier([&]() {
        for (const QString &udid : udids)
            m_sink(udid, attached);
    });
    notifier.join();
}
