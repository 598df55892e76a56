#include "ImobileDeviceBackend.h"

#include "AbsDeviceSession.h"
#include "AbsServiceConnection.h"

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QMutexLocker>
#include <QStandardPaths>

namespace {

// The label lockdownd records for our connections.
constexpr const char *kClientLabel = "chatwharf";

using DevicePtr = std::shared_ptr<idevice_private>;

class ImobileServiceConnection : public AbsServiceConnection
{
public:
    ImobileServiceConnection(DevicePtr device, idevice_connection_t connection, int fd)
        : m_device(std::move(device)), m_connection(connection), m_fd(fd)
    {
    }
    // The connection refers to its device, which must outlive it.
    ~ImobileServiceConnection() override { idevice_disconnect(m_connection); }

    int socket() const override { return m_fd; }

private:
    DevicePtr m_device;
    idevice_connection_t m_connection;
    int m_fd;
};

class ImobileSession : public AbsDeviceSession
{
public:
    ImobileSession(DevicePtr device, lockdownd_client_t client)
        : m_device(std::move(device)), m_client(client)
    {
    }
    // Freeing the client stops the session and says goodbye to lockdownd.
    ~ImobileSession() override { lockdownd_client_free(m_client); }

    CFType copyValue(const QString &domain, const QString &key) override
    {
        const QByteArray domainUtf8 = domain.toUtf8();
        const QByteArray keyUtf8 = key.toUtf8();
        plist_t value = nullptr;
        const lockdownd_error_t error =
            lockdownd_get_value(m_client, domain.isEmpty() ? nullptr : domainUtf8.constData(),
                                key.isEmpty() ? nullptr : keyUtf8.constData(), &value);
        if (error != LOCKDOWN_E_SUCCESS) {
            if (value != nullptr)
                plist_free(value);
            return CFType();
        }
        return CFType::adoptNode(value);
    }

    std::unique_ptr<AbsServiceConnection> startService(const QString &name, int &code) override
    {
        lockdownd_service_descriptor_t service = nullptr;
        const lockdownd_error_t error =
            lockdownd_start_service(m_client, name.toUtf8().constData(), &service);
        if (error != LOCKDOWN_E_SUCCESS || service == nullptr) {
            code = error != LOCKDOWN_E_SUCCESS ? int(error) : int(LOCKDOWN_E_UNKNOWN_ERROR);
            lockdownd_service_descriptor_free(service);
            return nullptr;
        }
        const uint16_t port = service->port;
        const bool ssl = service->ssl_enabled != 0;
        lockdownd_service_descriptor_free(service);
        if (ssl) {
            // The callers speak plain bytes over the socket; an encrypted
            // service would need the library's own reads and writes.
            code = LOCKDOWN_E_SSL_ERROR;
            return nullptr;
        }
        idevice_connection_t connection = nullptr;
        const idevice_error_t connectError = idevice_connect(m_device.get(), port, &connection);
        if (connectError != IDEVICE_E_SUCCESS) {
            code = connectError;
            return nullptr;
        }
        int fd = -1;
        if (idevice_connection_get_fd(connection, &fd) != IDEVICE_E_SUCCESS || fd < 0) {
            idevice_disconnect(connection);
            code = IDEVICE_E_UNKNOWN_ERROR;
            return nullptr;
        }
        return std::make_unique<ImobileServiceConnection>(m_device, connection, fd);
    }

private:
    DevicePtr m_device;
    lockdownd_client_t m_client;
};

void eventCallback(const idevice_event_t *event, void *self)
{
    ImobileDeviceBackend::onEvent(event, self);
}

} // namespace

ImobileDeviceBackend::~ImobileDeviceBackend()
{
    unsubscribe();
}

bool ImobileDeviceBackend::isUsable(QString &error)
{
    if (qEnvironmentVariableIsSet("USBMUXD_SOCKET_ADDRESS") ||
        QFileInfo::exists(QStringLiteral("/var/run/usbmuxd")))
        return true;
    const QStringList places = {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"),
                                QStringLiteral("/sbin"), QStringLiteral("/usr/bin"),
                                QStringLiteral("/usr/local/bin")};
    if (!QStandardPaths::findExecutable(QStringLiteral("usbmuxd"), places).isEmpty() ||
        !QStandardPaths::findExecutable(QStringLiteral("usbmuxd")).isEmpty())
        return true;
    error = QCoreApplication::translate("MobileDevice", "IDS_MD_LOAD_FAILED") + QStringLiteral("<br/><br/>") +
            QCoreApplication::translate("MobileDevice", "IDS_MD_NO_USBMUXD");
    return false;
}

bool ImobileDeviceBackend::subscribe(const EventSink &sink, QString &error)
{
    unsubscribe();
    {
        QMutexLocker lock(&m_mutex);
        m_sink = sink;
    }
    // Reports the devices present from the library's thread; when usbmuxd is
    // not running yet the library keeps trying, so a phone plugged in later
    // still arrives.
    const idevice_error_t result = idevice_event_subscribe(eventCallback, this);
    if (result != IDEVICE_E_SUCCESS) {
        QMutexLocker lock(&m_mutex);
        m_sink = nullptr;
        error = QCoreApplication::translate("MobileDevice", "IDS_MD_SUBSCRIBE_FAILED").arg(int(result));
        return false;
    }
    QMutexLocker lock(&m_mutex);
    m_subscribed = true;
    return true;
}

void ImobileDeviceBackend::unsubscribe()
{
    {
        QMutexLocker lock(&m_mutex);
        if (!m_subscribed)
            return;
        m_subscribed = false;
    }
    // Waits for the library's thread, so no event arrives after this.
    idevice_event_unsubscribe();
    QMutexLocker lock(&m_mutex);
    m_sink = nullptr;
}

void ImobileDeviceBackend::onEvent(const void *eventData, void *self)
{
    const auto *event = static_cast<const idevice_event_t *>(eventData);
    if (event == nullptr || event->udid == nullptr || self == nullptr)
        return;
    // Devices reached over the network are left out: only USB is supported.
    if (event->conn_type != CONNECTION_USBMUXD)
        return;
    if (event->event != IDEVICE_DEVICE_ADD && event->event != IDEVICE_DEVICE_REMOVE)
        return;
    auto *backend = static_cast<ImobileDeviceBackend *>(self);
    EventSink sink;
    {
        QMutexLocker lock(&backend->m_mutex);
        sink = backend->m_sink;
    }
    if (sink)
        sink(QString::fromUtf8(event->udid), event->event == IDEVICE_DEVICE_ADD);
}

AbsDeviceBackend::SessionStep ImobileDeviceBackend::stepOfHandshakeError(int code)
{
    switch (code) {
    case LOCKDOWN_E_PAIRING_FAILED:
    case LOCKDOWN_E_PASSWORD_PROTECTED:
    case LOCKDOWN_E_USER_DENIED_PAIRING:
    case LOCKDOWN_E_PAIRING_DIALOG_RESPONSE_PENDING:
    case LOCKDOWN_E_MISSING_PAIR_RECORD:
    case LOCKDOWN_E_SAVE_PAIR_RECORD_FAILED:
    case LOCKDOWN_E_PAIRING_PROHIBITED_OVER_THIS_CONNECTION:
        return SessionStep::Pair;
    case LOCKDOWN_E_INVALID_PAIR_RECORD:
    case LOCKDOWN_E_INVALID_HOST_ID:
    case LOCKDOWN_E_MISSING_HOST_ID:
        return SessionStep::ValidatePairing;
    case LOCKDOWN_E_SSL_ERROR:
    case LOCKDOWN_E_SESSION_ACTIVE:
    case LOCKDOWN_E_SESSION_INACTIVE:
    case LOCKDOWN_E_MISSING_SESSION_ID:
    case LOCKDOWN_E_INVALID_SESSION_ID:
    case LOCKDOWN_E_NO_RUNNING_SESSION:
        return SessionStep::StartSession;
    default:
        return SessionStep::Connect;
    }
}

std::unique_ptr<AbsDeviceSession> ImobileDeviceBackend::openSession(const QString &udid,
                                                                    SessionStep &failedStep, int &code)
{
    idevice_t raw = nullptr;
    const idevice_error_t error =
        idevice_new_with_options(&raw, udid.toUtf8().constData(), IDEVICE_LOOKUP_USBMUX);
    if (error != IDEVICE_E_SUCCESS || raw == nullptr) {
        failedStep = SessionStep::Connect;
        code = error != IDEVICE_E_SUCCESS ? int(error) : int(IDEVICE_E_NO_DEVICE);
        return nullptr;
    }
    DevicePtr device(raw, idevice_free);
    // Connect, pair when there is no pairing yet, validate it and start the
    // session: the library's handshake does the four steps in that order.
    lockdownd_client_t client = nullptr;
    const lockdownd_error_t handshake = lockdownd_client_new_with_handshake(raw, &client, kClientLabel);
    if (handshake != LOCKDOWN_E_SUCCESS || client == nullptr) {
        code = handshake != LOCKDOWN_E_SUCCESS ? int(handshake) : int(LOCKDOWN_E_UNKNOWN_ERROR);
        failedStep = stepOfHandshakeError(code);
        return nullptr;
    }
    return std::make_unique<ImobileSession>(std::move(device), client);
}
