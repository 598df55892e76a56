#include "SimulatedDevice.h"

#include "device/AbsDeviceSession.h"
#include "device/AbsServiceConnection.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <QThread>

#include <sys/socket.h>
#include <unistd.h>

namespace {

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
    }
    ~Session() override
    {
        QMutexLocker lock(&m_backend->m_mutex);
        --m_backend->m_sessionsOpen;
    }

    CFType copyValue(const QString &domain, const QString &key) override
    {
        return m_backend->copyValue(m_udid, domain, key);
    }

    std::unique_ptr<AbsServiceConnection> startService(const QString &name, int &code) override
    {
        int socket = -1;
        if (!m_backend->start(m_udid, name, socket, code))
            return nullptr;
        return std::make_unique<SimulatedConnection>(socket);
    }

private:
    std::shared_ptr<SimulatedDevice> m_backend;
    QString m_udid;
};

SimulatedDevice::SimulatedDevice() = default;

SimulatedDevice::~SimulatedDevice()
{
    QList<std::shared_ptr<Running>> running;
    {
        QMutexLocker lock(&m_mutex);
        shutDownServers(QString());
        running = m_running;
    }
    for (const std::shared_ptr<Running> &run : running) {
        if (run->thread.joinable())
            run->thread.join();
    }
}

void SimulatedDevice::setUsable(bool usable, const QString &error)
{
    QMutexLocker lock(&m_mutex);
    m_usable = usable;
    m_error = error;
}

void SimulatedDevice::addDevice(const QString &udid, const CFType &globalValues)
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_devices.contains(udid))
            return;
        Device device;
        device.domains.insert(QString(),
                              globalValues.isNull() ? CFType::dictionary() : globalValues.deepCopy());
        m_devices.insert(udid, device);
        m_order.append(udid);
    }
    deliver({udid}, true);
}

void SimulatedDevice::removeDevice(const QString &udid)
{
    {
        QMutexLocker lock(&m_mutex);
        if (!m_devices.remove(udid))
            return;
        m_order.removeAll(udid);
        shutDownServers(udid);
    }
    deliver({udid}, false);
}

void SimulatedDevice::setValues(const QString &udid, const QString &domain, const CFType &values)
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_devices.find(udid);
    if (it != m_devices.end())
        it->domains.insert(domain, values.deepCopy());
}

void SimulatedDevice::registerService(const QString &name, const Server &server)
{
    QMutexLocker lock(&m_mutex);
    m_services.insert(name, server);
}

void SimulatedDevice::failSessions(const QString &udid, SessionStep step, int code)
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_devices.find(udid);
    if (it != m_devices.end()) {
        it->failStep = step;
        it->failCode = code;
    }
}

int SimulatedDevice::sessionsOpened() const
{
    QMutexLocker lock(&m_mutex);
    return m_sessionsOpened;
}

int SimulatedDevice::sessionsOpen() const
{
    QMutexLocker lock(&m_mutex);
    return m_sessionsOpen;
}

bool SimulatedDevice::waitForServers(int timeoutMs) const
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        {
            QMutexLocker lock(&m_mutex);
            bool anyRunning = false;
            for (const std::shared_ptr<Running> &run : m_running)
                anyRunning = anyRunning || run->socket >= 0;
            if (!anyRunning)
                return true;
        }
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(5);
    }
}

bool SimulatedDevice::isUsable(QString &error)
{
    QMutexLocker lock(&m_mutex);
    if (!m_usable)
        error = m_error;
    return m_usable;
}

bool SimulatedDevice::subscribe(const EventSink &sink, QString &error)
{
    Q_UNUSED(error);
    QList<QString> present;
    {
        QMutexLocker lock(&m_mutex);
        m_sink = sink;
        present = m_order;
    }
    deliver(present, true);
    return true;
}

void SimulatedDevice::unsubscribe()
{
    QMutexLocker lock(&m_mutex);
    m_sink = nullptr;
}

std::unique_ptr<AbsDeviceSession> SimulatedDevice::openSession(const QString &udid, SessionStep &failedStep,
                                                               int &code)
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_devices.constFind(udid);
    if (it == m_devices.cend()) {
        failedStep = SessionStep::Connect;
        code = kNoDevice;
        return nullptr;
    }
    if (it->failCode != 0) {
        failedStep = it->failStep;
        code = it->failCode;
        return nullptr;
    }
    ++m_sessionsOpened;
    ++m_sessionsOpen;
    return std::make_unique<Session>(shared_from_this(), udid);
}

void SimulatedDevice::deliver(const QList<QString> &udids, bool attached)
{
    EventSink sink;
    {
        QMutexLocker lock(&m_mutex);
        sink = m_sink;
    }
    if (!sink || udids.isEmpty())
        return;
    // Like the library: the events come from a thread that is not the caller's.
    std::thread notifier([&]() {
        for (const QString &udid : udids)
            sink(udid, attached);
    });
    notifier.join();
}

CFType SimulatedDevice::copyValue(const QString &udid, const QString &domain, const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    const auto device = m_devices.constFind(udid);
    if (device == m_devices.cend())
        return CFType();
    const auto values = device->domains.constFind(domain);
    if (values == device->domains.cend())
        return CFType();
    return key.isEmpty() ? values->deepCopy() : values->value(key).deepCopy();
}

bool SimulatedDevice::start(const QString &udid, const QString &name, int &clientSocket, int &code)
{
    QMutexLocker lock(&m_mutex);
    if (!m_devices.contains(udid)) {
        code = kNoDevice;
        return false;
    }
    const auto service = m_services.constFind(name);
    if (service == m_services.cend()) {
        code = kInvalidService;
        return false;
    }
    int pair[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        code = -1;
        return false;
    }
    // Servers that have ended are reaped here, so the list stays short.
    for (auto it = m_running.begin(); it != m_running.end();) {
        if ((*it)->socket < 0 && (*it)->thread.joinable()) {
            (*it)->thread.join();
            it = m_running.erase(it);
        } else {
            ++it;
        }
    }
    auto run = std::make_shared<Running>();
    run->udid = udid;
    run->socket = pair[1];
    const int serverSocket = pair[1];
    const Server server = service.value();
    run->thread = std::thread([this, run, server, serverSocket]() {
        server(serverSocket);
        QMutexLocker serverLock(&m_mutex);
        ::close(serverSocket);
        run->socket = -1;
    });
    m_running.append(run);
    clientSocket = pair[0];
    return true;
}

void SimulatedDevice::shutDownServers(const QString &udid)
{
    for (const std::shared_ptr<Running> &run : std::as_const(m_running)) {
        if (run->socket >= 0 && (udid.isEmpty() || run->udid == udid))
            ::shutdown(run->socket, SHUT_RDWR);
    }
}
