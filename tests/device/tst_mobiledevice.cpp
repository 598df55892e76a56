#include "device/ImobileDeviceBackend.h"
#include "device/MobileDevice.h"
#include "support/SimulatedDevice.h"

#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QTest>
#include <QThread>

#include <poll.h>
#include <sys/socket.h>

namespace {

const QString kTrust =
    QStringLiteral("Please restart your iPhone and computer to try again. If a prompt message pops "
                   "out on your iPhone, please click \"Trust\".");

// Records the events it is given, and on which thread.
class Receiver : public QObject
{
    Q_OBJECT

public:
    QList<void *> attached() const
    {
        QMutexLocker lock(&m_mutex);
        return m_attached;
    }
    QList<void *> detached() const
    {
        QMutexLocker lock(&m_mutex);
        return m_detached;
    }
    QList<QThread *> threads() const
    {
        QMutexLocker lock(&m_mutex);
        return m_threads;
    }

public slots:
    void deviceAttached(void *device)
    {
        QMutexLocker lock(&m_mutex);
        m_attached.append(device);
        m_threads.append(QThread::currentThread());
    }
    void deviceDetached(void *device)
    {
        QMutexLocker lock(&m_mutex);
        m_detached.append(device);
        m_threads.append(QThread::currentThread());
    }

private:
    mutable QMutex m_mutex;
    QList<void *> m_attached;
    QList<void *> m_detached;
    QList<QThread *> m_threads;
};

CFType phoneValues()
{
    CFType values = CFType::dictionary();
    values.setValue(QStringLiteral("DeviceName"), CFType::fromString(QStringLiteral("Anna's iPhone")));
    values.setValue(QStringLiteral("ProductType"), CFType::fromString(QStringLiteral("iPhone12,1")));
    values.setValue(QStringLiteral("ProductVersion"), CFType::fromString(QStringLiteral("16.4")));
    return values;
}

// Sends back what it reads until the peer closes.
void echoServer(int socket)
{
    char buffer[256];
    for (;;) {
        const ssize_t n = ::recv(socket, buffer, sizeof buffer, 0);
        if (n <= 0 || ::send(socket, buffer, size_t(n), MSG_NOSIGNAL) != n)
            return;
    }
}

// Reads exactly count bytes, or what came before the peer closed or 5 s passed.
QByteArray readSome(int socket, int count)
{
    QByteArray result;
    while (result.size() < count) {
        pollfd p{socket, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0)
            break;
        char buffer[256];
        const ssize_t n =
            ::recv(socket, buffer, qMin<size_t>(sizeof buffer, size_t(count - result.size())), 0);
        if (n <= 0)
            break;
        result.append(buffer, n);
    }
    return result;
}

QString raisedText(const std::function<void()> &call)
{
    try {
        call();
    } catch (const DeviceException &e) {
        return e.text();
    }
    return QStringLiteral("(nothing raised)");
}

} // namespace

class TestMobileDevice : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void loadFramework();
    void realBackendOnThisComputer();
    void attachAndDetachArriveQueued();
    void receiverInAnotherThread();
    void copyValues();
    void serviceOverSocketPair();
    void vanishedDevice();
    void unknownService();
    void sessionErrors_data();
    void sessionErrors();
    void handshakeErrorSteps();
    void newBackendDetachesHandles();

private:
    // Subscribes the receiver (again) and plugs in a phone; its handle.
    void *attachPhone(Receiver &receiver, const QString &udid = QStringLiteral("UDID-ANNA"),
                      const CFType &values = phoneValues());

    std::shared_ptr<SimulatedDevice> m_sim;
};

void TestMobileDevice::init()
{
    m_sim = std::make_shared<SimulatedDevice>();
    m_sim->registerService(QStringLiteral("com.example.echo"), echoServer);
    mobiledevice_set_backend(m_sim);
}

void TestMobileDevice::cleanup()
{
    mobiledevice_unsubscribe();
    mobiledevice_set_backend(nullptr);
    QVERIFY(m_sim->waitForServers());
    QCOMPARE(m_sim->sessionsOpen(), 0);
    m_sim.reset();
}

void *TestMobileDevice::attachPhone(Receiver &receiver, const QString &udid, const CFType &values)
{
    mobiledevice_subscribe(&receiver, "deviceAttached", "deviceDetached");
    m_sim->addDevice(udid, values);
    void *found = nullptr;
    (void)QTest::qWaitFor([&]() {
        for (void *handle : receiver.attached()) {
            if (mobiledevice_udid(handle) == udid && mobiledevice_is_attached(handle))
                found = handle;
        }
        return found != nullptr;
    });
    return found;
}

void TestMobileDevice::loadFramework()
{
    QString error = QStringLiteral("stale");
    QVERIFY(mobiledevice_load_framework(error));
    QVERIFY(error.isEmpty());

    m_sim->setUsable(false, QStringLiteral("No device service here."));
    QVERIFY(!mobiledevice_load_framework(error));
    QCOMPARE(error, QStringLiteral("No device service here."));
    Receiver receiver;
    QCOMPARE(raisedText([&]() { mobiledevice_subscribe(&receiver, "deviceAttached", "deviceDetached"); }),
             QStringLiteral("No device service here."));
}

void TestMobileDevice::realBackendOnThisComputer()
{
    mobiledevice_set_backend(nullptr);
    QString error;
    const bool usable = mobiledevice_load_framework(error);
    QCOMPARE(usable, error.isEmpty());
    // Installed but idle (udev starts it with the first phone) is no fault.
    if (QFileInfo::exists(QStringLiteral("/usr/sbin/usbmuxd")))
        QVERIFY2(usable, qPrintable(error));
    if (!usable) {
        QVERIFY(error.startsWith(QStringLiteral("Failed to load (Mobile Device) framework.")));
        return;
    }
    // Watching works without the daemon running and ends promptly.
    Receiver receiver;
    mobiledevice_subscribe(&receiver, "deviceAttached", "deviceDetached");
    mobiledevice_unsubscribe();
}

void TestMobileDevice::attachAndDetachArriveQueued()
{
    Receiver receiver;
    m_sim->addDevice(QStringLiteral("PRESENT"));
    mobiledevice_subscribe(&receiver, "deviceAttached", "deviceDetached");
    // Delivered from the backend's thread, but run only by this thread's event loop.
    QVERIFY(receiver.attached().isEmpty());
    QTRY_COMPARE(receiver.attached().size(), 1);
    void *present = receiver.attached().first();
    QCOMPARE(receiver.threads().first(), QThread::currentThread());
    QCOMPARE(mobiledevice_udid(present), QStringLiteral("PRESENT"));
    QVERIFY(mobiledevice_is_attached(present));

    m_sim->addDevice(QStringLiteral("SECOND"));
    QTRY_COMPARE(receiver.attached().size(), 2);
    void *second = receiver.attached().last();
    QVERIFY(second != present);
    QCOMPARE(mobiledevice_udid(second), QStringLiteral("SECOND"));

    m_sim->removeDevice(QStringLiteral("PRESENT"));
    QTRY_COMPARE(receiver.detached().size(), 1);
    QCOMPARE(receiver.detached().first(), present);
    QVERIFY(!mobiledevice_is_attached(present));
    QVERIFY(mobiledevice_is_attached(second));
    QCOMPARE(mobiledevice_udid(present), QStringLiteral("PRESENT"));

    // Plugged in again, the device gets a new handle; the old one stays detached.
    m_sim->addDevice(QStringLiteral("PRESENT"));
    QTRY_COMPARE(receiver.attached().size(), 3);
    QVERIFY(receiver.attached().last() != present);
    QVERIFY(!mobiledevice_is_attached(present));
    for (QThread *thread : receiver.threads())
        QCOMPARE(thread, QThread::currentThread());

    // After unsubscribing nothing arrives and the handles count as detached.
    mobiledevice_unsubscribe();
    QVERIFY(!mobiledevice_is_attached(second));
    m_sim->addDevice(QStringLiteral("LATE"));
    QTest::qWait(50);
    QCOMPARE(receiver.attached().size(), 3);
}

void TestMobileDevice::receiverInAnotherThread()
{
    QThread thread;
    thread.start();
    auto *receiver = new Receiver;
    receiver->moveToThread(&thread);
    mobiledevice_subscribe(receiver, "deviceAttached", "deviceDetached");
    m_sim->addDevice(QStringLiteral("ELSEWHERE"));
    QTRY_COMPARE(receiver->attached().size(), 1);
    QCOMPARE(receiver->threads().first(), &thread);

    // The receiver goes away without unsubscribing: later events are dropped.
    QMetaObject::invokeMethod(
        receiver, [receiver]() { delete receiver; }, Qt::BlockingQueuedConnection);
    m_sim->removeDevice(QStringLiteral("ELSEWHERE"));
    m_sim->addDevice(QStringLiteral("AFTER"));
    thread.quit();
    QVERIFY(thread.wait(5000));
}

void TestMobileDevice::copyValues()
{
    Receiver receiver;
    void *phone = attachPhone(receiver);
    QVERIFY(phone != nullptr);
    CFType disk = CFType::dictionary();
    disk.setValue(QStringLiteral("TotalDataCapacity"), CFType::fromInt64(Q_INT64_C(64000000000)));
    disk.setValue(QStringLiteral("AmountDataAvailable"), CFType::fromInt64(Q_INT64_C(10000000000)));
    m_sim->setValues(QStringLiteral("UDID-ANNA"), QStringLiteral("com.apple.disk_usage"), disk);

    const QList<CFType> values = mobiledevice_copy_values(
        phone, {QStringLiteral("DeviceName"), QStringLiteral("ProductVersion"), QStringLiteral("Missing")});
    QCOMPARE(values.size(), 3);
    QCOMPARE(values[0].toString(), QStringLiteral("Anna's iPhone"));
    QCOMPARE(values[1].toString(), QStringLiteral("16.4"));
    QVERIFY(values[2].isNull());
    QCOMPARE(m_sim->sessionsOpened(), 1);
    QCOMPARE(m_sim->sessionsOpen(), 0);

    // An empty key is the whole domain, an owned copy.
    QList<CFType> whole =
        mobiledevice_copy_values(phone, {QString()}, QStringLiteral("com.apple.disk_usage"));
    QCOMPARE(whole.size(), 1);
    QVERIFY(whole[0].isDictionary());
    QCOMPARE(whole[0].value(QStringLiteral("TotalDataCapacity")).toLongLong(), Q_INT64_C(64000000000));
    whole[0].setValue(QStringLiteral("TotalDataCapacity"), CFType::fromInt64(1));
    whole = mobiledevice_copy_values(phone, {QStringLiteral("TotalDataCapacity")},
                                     QStringLiteral("com.apple.disk_usage"));
    QCOMPARE(whole[0].toLongLong(), Q_INT64_C(64000000000));

    QVERIFY(
        mobiledevice_copy_values(phone, {QStringLiteral("DeviceName")}, QStringLiteral("no.such.domain"))[0]
            .isNull());
    QVERIFY(mobiledevice_copy_values(phone, {}).isEmpty());

    // A session of one's own works and ends when closed.
    MobileDeviceSession session = mobiledevice_open_session(phone);
    QVERIFY(session.isOpen());
    QCOMPARE(session.device(), phone);
    QCOMPARE(m_sim->sessionsOpen(), 1);
    mobiledevice_close_session(session);
    QVERIFY(!session.isOpen());
    QCOMPARE(m_sim->sessionsOpen(), 0);
}

void TestMobileDevice::serviceOverSocketPair()
{
    Receiver receiver;
    void *phone = attachPhone(receiver);
    QVERIFY(phone != nullptr);
    MobileDeviceService service = mobiledevice_start_service(phone, QStringLiteral("com.example.echo"));
    QVERIFY(service.isOpen());
    QCOMPARE(service.name(), QStringLiteral("com.example.echo"));
    QVERIFY(service.socket() >= 0);
    QCOMPARE(m_sim->sessionsOpen(), 0); // the session closed at once

    const QByteArray message("ping \x00\x01\xFF", 8);
    QCOMPARE(::send(service.socket(), message.constData(), size_t(message.size()), MSG_NOSIGNAL),
             ssize_t(message.size()));
    QCOMPARE(readSome(service.socket(), int(message.size())), message);

    // Two services at once are two separate streams.
    MobileDeviceService other = mobiledevice_start_service(phone, QStringLiteral("com.example.echo"));
    QVERIFY(other.socket() != service.socket());
    ::send(other.socket(), "two", 3, MSG_NOSIGNAL);
    QCOMPARE(readSome(other.socket(), 3), QByteArray("two"));

    // Copies share the connection; closing one closes it for all.
    MobileDeviceService copy = service;
    mobiledevice_close_service(copy);
    QVERIFY(!service.isOpen());
    QCOMPARE(service.socket(), -1);
    mobiledevice_close_service(service); // closing again does nothing
    other = MobileDeviceService();       // the last copy going closes it
    QVERIFY(m_sim->waitForServers());
}

void TestMobileDevice::vanishedDevice()
{
    Receiver receiver;
    void *phone = attachPhone(receiver);
    QVERIFY(phone != nullptr);
    mobiledevice_copy_values(phone, {QStringLiteral("DeviceName")}); // the name is now known
    MobileDeviceService service = mobiledevice_start_service(phone, QStringLiteral("com.example.echo"));

    m_sim->removeDevice(QStringLiteral("UDID-ANNA"));
    QTRY_COMPARE(receiver.detached().size(), 1);
    const QString gone =
        QStringLiteral("The iPhone Anna's iPhone was disconnected. Please connect it again and try again.");
    QCOMPARE(raisedText([&]() { mobiledevice_open_session(phone); }), gone);
    QCOMPARE(raisedText([&]() { mobiledevice_copy_values(phone, {QStringLiteral("DeviceName")}); }), gone);
    QCOMPARE(raisedText([&]() { mobiledevice_start_service(phone, QStringLiteral("com.example.echo")); }),
             gone);
    // The open service's stream ends.
    QCOMPARE(readSome(service.socket(), 1), QByteArray());
    service.close();

    // A device whose name was never read is named by its identifier.
    void *unnamed = attachPhone(receiver, QStringLiteral("UDID-NAMELESS"));
    m_sim->removeDevice(QStringLiteral("UDID-NAMELESS"));
    QTRY_COMPARE(receiver.detached().size(), 2);
    QVERIFY(
        raisedText([&]() { mobiledevice_open_session(unnamed); }).contains(QStringLiteral("UDID-NAMELESS")));

    // Tokens never issued are refused the same way, never dereferenced.
    const QString noDevice =
        QStringLiteral("The iPhone is no longer connected. Please connect it and try again.");
    QCOMPARE(raisedText([&]() { mobiledevice_open_session(nullptr); }), noDevice);
    QCOMPARE(raisedText([&]() {
                 mobiledevice_start_service(reinterpret_cast<void *>(0xDEADBEEF), QStringLiteral("x"));
             }),
             noDevice);
    QVERIFY(mobiledevice_udid(reinterpret_cast<void *>(0xDEADBEEF)).isEmpty());
    QVERIFY(!mobiledevice_is_attached(nullptr));
}

void TestMobileDevice::unknownService()
{
    Receiver receiver;
    void *phone = attachPhone(receiver);
    QVERIFY(phone != nullptr);
    const QString text =
        raisedText([&]() { mobiledevice_start_service(phone, QStringLiteral("com.example.none")); });
    QCOMPARE(text,
             QStringLiteral("<br/><br/>device:Anna's iPhone, iPhone12,1, iOS 16.4 <br/><br/>"
                            "Please turn off Wifi Sync on iTunes or disconnect computer internet connections "
                            "to try again.<br/>Error code: AMDeviceStartService(com.example.none)=-27"));

    // A device that does not tell its name (or tells garbage) is "Unknown".
    CFType odd = CFType::dictionary();
    odd.setValue(QStringLiteral("DeviceName"), CFType::dictionary());
    void *nameless = attachPhone(receiver, QStringLiteral("UDID-ODD"), odd);
    QVERIFY(raisedText([&]() {
                mobiledevice_start_service(nameless, QStringLiteral("com.example.none"));
            }).startsWith(QStringLiteral("<br/><br/>device:Unknown <br/><br/>")));
    QCOMPARE(m_sim->sessionsOpen(), 0);
}

void TestMobileDevice::sessionErrors_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("label");
    QTest::newRow("connect") << int(AbsDeviceBackend::SessionStep::Connect) << -8
                             << QStringLiteral("AMDeviceConnect(-8)");
    QTest::newRow("pair") << int(AbsDeviceBackend::SessionStep::Pair) << -18
                          << QStringLiteral("AMDevicePair(-18)");
    QTest::newRow("validate") << int(AbsDeviceBackend::SessionStep::ValidatePairing) << -21
                              << QStringLiteral("AMDeviceValidatePairing(-21)");
    QTest::newRow("session") << int(AbsDeviceBackend::SessionStep::StartSession) << -5
                             << QStringLiteral("AMDeviceStartSession(-5)");
}

void TestMobileDevice::sessionErrors()
{
    QFETCH(int, step);
    QFETCH(int, code);
    QFETCH(QString, label);
    Receiver receiver;
    void *phone = attachPhone(receiver);
    QVERIFY(phone != nullptr);
    m_sim->failSessions(QStringLiteral("UDID-ANNA"), AbsDeviceBackend::SessionStep(step), code);
    const QString expected = kTrust + QStringLiteral("<br/><br/>Error code: ") + label;
    QCOMPARE(raisedText([&]() { mobiledevice_open_session(phone); }), expected);
    QCOMPARE(raisedText([&]() { mobiledevice_copy_values(phone, {QStringLiteral("DeviceName")}); }),
             expected);
    QCOMPARE(raisedText([&]() { mobiledevice_start_service(phone, QStringLiteral("com.example.echo")); }),
             expected);

    m_sim->failSessions(QStringLiteral("UDID-ANNA"), AbsDeviceBackend::SessionStep::Connect, 0);
    QCOMPARE(mobiledevice_copy_values(phone, {QStringLiteral("ProductType")})[0].toString(),
             QStringLiteral("iPhone12,1"));
}

void TestMobileDevice::handshakeErrorSteps()
{
    using Step = AbsDeviceBackend::SessionStep;
    QCOMPARE(ImobileDeviceBackend::stepOfHandshakeError(-18), Step::Pair);            // user denied pairing
    QCOMPARE(ImobileDeviceBackend::stepOfHandshakeError(-17), Step::Pair);            // passcode protected
    QCOMPARE(ImobileDeviceBackend::stepOfHandshakeError(-21), Step::ValidatePairing); // invalid host id
    QCOMPARE(ImobileDeviceBackend::stepOfHandshakeError(-5), Step::StartSession);     // SSL
    QCOMPARE(ImobileDeviceBackend::stepOfHandshakeError(-8), Step::Connect);          // usbmuxd
    QCOMPARE(ImobileDeviceBackend::stepOfHandshakeError(-256), Step::Connect);
}

void TestMobileDevice::newBackendDetachesHandles()
{
    Receiver receiver;
    void *phone = attachPhone(receiver);
    QVERIFY(mobiledevice_is_attached(phone));
    auto other = std::make_shared<SimulatedDevice>();
    other->addDevice(QStringLiteral("UDID-ANNA"), phoneValues());
    mobiledevice_set_backend(other);
    QVERIFY(!mobiledevice_is_attached(phone));
    QVERIFY(raisedText([&]() { mobiledevice_open_session(phone); }).contains(QStringLiteral("disconnected")));
    QCOMPARE(other->sessionsOpened(), 0);
}

QTEST_GUILESS_MAIN(TestMobileDevice)
#include "tst_mobiledevice.moc"
