#include "MobileDevice.h"

#include "AbsDeviceBackend.h"
#include "AbsDeviceSession.h"
#include "AbsServiceConnection.h"
#include "ImobileDeviceBackend.h"

#include <QCoreApplication>
#include <QHash>
#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QPointer>
#include <QtDebug>

namespace {

// Detached devices are remembered for their error texts; beyond this many the
// oldest are forgotten (their handles then read as never issued).
constexpr int kRememberedDetached = 256;

struct DeviceEntry
{
    QString udid;
    QString name; // DeviceName once read, for error texts
    bool attached = false;
};

struct Layer
{
    QMutex mutex;
    std::shared_ptr<AbsDeviceBackend> chosen;
    std::shared_ptr<AbsDeviceBackend> subscribed;
    quint64 generation = 0; // of the current subscription; events of older ones are dropped
    QPointer<QObject> receiver;
    QByteArray attachedMethod;
    QByteArray detachedMethod;
    QMetaObject::Connection receiverGone;

    QHash<quintptr, DeviceEntry> devices;
    QHash<QString, quintptr> attachedByUdid;
    QList<quintptr> detachedOrder;
    quintptr nextHandle = 1;
};

// Never destroyed: the library's thread may still deliver an event while the
// program exits.
Layer &layer()
{
    static Layer *instance = new Layer;
    return *instance;
}

std::shared_ptr<AbsDeviceBackend> currentBackend()
{
    static const std::shared_ptr<AbsDeviceBackend> real = std::make_shared<ImobileDeviceBackend>();
    Layer &l = layer();
    QMutexLocker lock(&l.mutex);
    return l.chosen ? l.chosen : real;
}

quintptr tokenOf(MobileDeviceHandle device)
{
    return reinterpret_cast<quintptr>(device);
}

// Marks every attached device detached; the caller holds the mutex.
void detachAllLocked(Layer &l)
{
    for (auto it = l.attachedByUdid.cbegin(); it != l.attachedByUdid.cend(); ++it) {
        l.devices[it.value()].attached = false;
        l.detachedOrder.append(it.value());
    }
    l.attachedByUdid.clear();
    while (l.detachedOrder.size() > kRememberedDetached)
        l.devices.remove(l.detachedOrder.takeFirst());
}

void onDeviceEvent(quint64 generation, const QString &udid, bool attached)
{
    Layer &l = layer();
    QMutexLocker lock(&l.mutex);
    if (generation != l.generation || udid.isEmpty())
        return;
    quintptr token = 0;
    if (attached) {
        if (l.attachedByUdid.contains(udid))
            return; // reported again, e.g. once paired
        token = l.nextHandle++;
        l.devices.insert(token, DeviceEntry{udid, QString(), true});
        l.attachedByUdid.insert(udid, token);
    } else {
        token = l.attachedByUdid.take(udid);
        if (token == 0)
            return;
        l.devices[token].attached = false;
        l.detachedOrder.append(token);
        while (l.detachedOrder.size() > kRememberedDetached)
            l.devices.remove(l.detachedOrder.takeFirst());
    }
    // Only forward: the receiver does the work in its own thread. The mutex is
    // held so that the receiver's destruction (which clears it under the same
    // mutex) cannot overtake the posting.
    QObject *receiver = l.receiver.data();
    if (receiver == nullptr)
        return;
    const QByteArray &method = attached ? l.attachedMethod : l.detachedMethod;
    if (!QMetaObject::invokeMethod(receiver, method.constData(), Qt::QueuedConnection,
                                   Q_ARG(void *, reinterpret_cast<void *>(token))))
        qWarning("Device events: %s has no method %s(void*)", receiver->metaObject()->className(),
                 method.constData());
}

// The device as a user knows it, for error texts: its name once read, else its identifier.
QString displayName(const DeviceEntry &entry)
{
    return entry.name.isEmpty() ? entry.udid : entry.name;
}

bool lookup(MobileDeviceHandle device, DeviceEntry &entry)
{
    Layer &l = layer();
    QMutexLocker lock(&l.mutex);
    const auto it = l.devices.constFind(tokenOf(device));
    if (it == l.devices.cend())
        return false;
    entry = it.value();
    return true;
}

[[noreturn]] void raiseGone(MobileDeviceHandle device)
{
    DeviceEntry entry;
    if (!lookup(device, entry))
        throw DeviceException(QCoreApplication::translate("MobileDevice", "IDS_MD_NO_DEVICE"));
    throw DeviceException(
        QCoreApplication::translate("MobileDevice", "IDS_MD_DEVICE_GONE").arg(displayName(entry)));
}

// The attached device's identifier, or the vanished-device error.
QString attachedUdid(MobileDeviceHandle device)
{
    DeviceEntry entry;
    if (!lookup(device, entry) || !entry.attached)
        raiseGone(device);
    return entry.udid;
}

void rememberName(MobileDeviceHandle device, const QString &name)
{
    if (name.isEmpty())
        return;
    Layer &l = layer();
    QMutexLocker lock(&l.mutex);
    const auto it = l.devices.find(tokenOf(device));
    if (it != l.devices.end())
        it->name = name;
}

QString sessionErrorText(AbsDeviceBackend::SessionStep step, int code)
{
    // The step names are the ones users and support already know from the
    // maker's library; the codes are libimobiledevice's.
    const char *label = "AMDeviceConnect(%1)";
    switch (step) {
    case AbsDeviceBackend::SessionStep::Connect:
        break;
    case AbsDeviceBackend::SessionStep::Pair:
        label = "AMDevicePair(%1)";
        break;
    case AbsDeviceBackend::SessionStep::ValidatePairing:
        label = "AMDeviceValidatePairing(%1)";
        break;
    case AbsDeviceBackend::SessionStep::StartSession:
        label = "AMDeviceStartSession(%1)";
        break;
    }
    return QCoreApplication::translate("MobileDevice", "IDS_MD_SESSION_ERROR")
        .arg(QCoreApplication::translate("MobileDevice", "IDS_MD_RESTART_TRUST"),
             QString::fromLatin1(label).arg(code));
}

// "name, type, iOS version" for the start-service error, or "Unknown".
QString deviceDescription(MobileDeviceHandle device)
{
    try {
        const QList<CFType> values =
            mobiledevice_copy_values(device, {QStringLiteral("DeviceName"), QStringLiteral("ProductType"),
                                              QStringLiteral("ProductVersion")});
        if (values.size() == 3 && !values[0].toString().isEmpty())
            return QCoreApplication::translate("MobileDevice", "IDS_MD_DEVICE_DESCRIPTION")
                .arg(values[0].toString(), values[1].toString(), values[2].toString());
    } catch (const DeviceException &) {
        // the description is only a help for the reader
    }
    return QCoreApplication::translate("MobileDevice", "IDS_MD_UNKNOWN_DEVICE");
}

} // namespace

bool mobiledevice_load_framework(QString &error)
{
    error.clear();
    return currentBackend()->isUsable(error);
}

void mobiledevice_set_backend(std::shared_ptr<AbsDeviceBackend> backend)
{
    mobiledevice_unsubscribe();
    Layer &l = layer();
    QMutexLocker lock(&l.mutex);
    l.chosen = std::move(backend);
}

void mobiledevice_subscribe(QObject *receiver, const char *attachedMethod, const char *detachedMethod)
{
    const std::shared_ptr<AbsDeviceBackend> backend = currentBackend();
    QString error;
    if (!backend->isUsable(error))
        throw DeviceException(error);
    mobiledevice_unsubscribe();

    Layer &l = layer();
    quint64 generation = 0;
    {
        QMutexLocker lock(&l.mutex);
        generation = ++l.generation;
        l.subscribed = backend;
        l.receiver = receiver;
        l.attachedMethod = attachedMethod;
        l.detachedMethod = detachedMethod;
        if (receiver != nullptr) {
            l.receiverGone = QObject::connect(receiver, &QObject::destroyed, [generation]() {
                Layer &gone = layer();
                QMutexLocker goneLock(&gone.mutex);
                if (gone.generation == generation)
                    gone.receiver = nullptr;
            });
        }
    }
    // Not under the mutex: the backend reports present devices from its own
    // thread while subscribing.
    const bool ok = backend->subscribe(
        [generation](const QString &udid, bool attached) { onDeviceEvent(generation, udid, attached); },
        error);
    if (!ok) {
        mobiledevice_unsubscribe();
        throw DeviceException(error);
    }
}

void mobiledevice_unsubscribe()
{
    Layer &l = layer();
    std::shared_ptr<AbsDeviceBackend> backend;
    {
        QMutexLocker lock(&l.mutex);
        ++l.generation;
        backend = std::move(l.subscribed);
        l.subscribed.reset();
        l.receiver = nullptr;
        QObject::disconnect(l.receiverGone);
        detachAllLocked(l);
    }
    if (backend)
        backend->unsubscribe();
}

QString mobiledevice_udid(MobileDeviceHandle device)
{
    DeviceEntry entry;
    return lookup(device, entry) ? entry.udid : QString();
}

bool mobiledevice_is_attached(MobileDeviceHandle device)
{
    DeviceEntry entry;
    return lookup(device, entry) && entry.attached;
}

MobileDeviceSession mobiledevice_open_session(MobileDeviceHandle device)
{
    const QString udid = attachedUdid(device);
    AbsDeviceBackend::SessionStep step = AbsDeviceBackend::SessionStep::Connect;
    int code = 0;
    std::unique_ptr<AbsDeviceSession> session = currentBackend()->openSession(udid, step, code);
    if (!session) {
        if (!mobiledevice_is_attached(device))
            raiseGone(device);
        throw DeviceException(sessionErrorText(step, code));
    }
    return MobileDeviceSession(device, std::move(session));
}

void mobiledevice_close_session(MobileDeviceSession &session)
{
    session.close();
}

QList<CFType> mobiledevice_copy_values(MobileDeviceHandle device, const QStringList &keys,
                                       const QString &domain)
{
    MobileDeviceSession session = mobiledevice_open_session(device);
    QList<CFType> values;
    bool missing = false;
    for (const QString &key : keys) {
        values.append(session.backendSession()->copyValue(domain, key));
        missing = missing || values.last().isNull();
        if (domain.isEmpty() && key == QLatin1String("DeviceName"))
            rememberName(device, values.last().toString());
    }
    mobiledevice_close_session(session);
    // A value that did not come may mean the device went away meanwhile.
    if (missing && !mobiledevice_is_attached(device))
        raiseGone(device);
    return values;
}

MobileDeviceService mobiledevice_start_service(MobileDeviceHandle device, const QString &serviceName)
{
    MobileDeviceSession session = mobiledevice_open_session(device);
    int code = 0;
    std::unique_ptr<AbsServiceConnection> connection =
        session.backendSession()->startService(serviceName, code);
    mobiledevice_close_session(session);
    if (!connection) {
        if (!mobiledevice_is_attached(device))
            raiseGone(device);
        throw DeviceException(QCoreApplication::translate("MobileDevice", "IDS_MD_SERVICE_DEVICE")
                                  .arg(deviceDescription(device)) +
                              QCoreApplication::translate("MobileDevice", "IDS_MD_WIFI_SYNC") +
                              QCoreApplication::translate("MobileDevice", "IDS_MD_SERVICE_CODE")
                                  .arg(serviceName, QString::number(code)));
    }
    return MobileDeviceService(std::move(connection), serviceName);
}

void mobiledevice_close_service(MobileDeviceService &service)
{
    service.close();
}
