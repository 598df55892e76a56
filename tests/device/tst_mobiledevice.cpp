#include "device/ImobileDeviceBackend.h"
#include "device/MobileDevice.h"
#include "support/SimulatedDevice.h"
#include "support/TestSupport.h"

#include <QTest>
#include <QThread>

#include <poll.h>
#include <sys/socket.h>

using namespace Qt::StringLiterals;
using testsupport::errorOf;

namespace {

const QString kUdid = u"UDID-ANNA"_s;
const QString kEcho = u"com.example.echo"_s;

// Records the handles it is given, and on which thread; read it in its own thread.
class Receiver : public QObject
{
    Q_OBJECT

public:
    QList<void *> attached, detached;
    QList<QThread *> threads;

public slots:
    void deviceAttached(void *device) { attached.append(device), threads.append(QThread::currentThread()); }
    void deviceDetached(void *device) { detached.append(device), threads.append(QThread::currentThread()); }
};

// Reads count bytes, or what came before the peer closed or 5 s passed.
QByteArray readSome(int socket, int count)
{
    QByteArray result(count, '\0');
    pollfd p{socket, POLLIN, 0};
    const ssize_t n = ::poll(&p, 1, 5000) > 0 ? ::recv(socket, result.data(), size_t(count), MSG_WAITALL) : 0;
    return result.left(qMax<qsizetype>(n, 0));
}

} // namespace

class TestMobileDevice : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_sim = std::make_shared<SimulatedDevice>();
        m_sim->services.insert(kEcho);
        mobiledevice_set_backend(m_sim);
        m_receiver = std::make_unique<Receiver>();
    }
    void cleanup()
    {
        mobiledevice_unsubscribe();
        mobiledevice_set_backend(nullptr);
        QCOMPARE(m_sim->sessionsOpen, 0);
        m_sim.reset();
        m_receiver.reset();
    }
    void eventsArriveQueuedInTheReceiversThread()
    {
        m_sim->addDevice(u"PRESENT"_s);
        mobiledevice_subscribe(m_receiver.get(), "deviceAttached", "deviceDetached");
        // Delivered from the backend's thread, but run only by this thread's event loop.
        QVERIFY(m_receiver->attached.isEmpty());
        QTRY_COMPARE(m_receiver->attached.size(), 1);
        void *present = m_receiver->attached.first();
        QCOMPARE(mobiledevice_udid(present), u"PRESENT"_s);
        m_sim->addDevice(u"SECOND"_s);
        QTRY_COMPARE(m_receiver->attached.size(), 2);
        void *second = m_receiver->attached.last();
        m_sim->removeDevice(u"PRESENT"_s);
        QTRY_COMPARE(m_receiver->detached, QList<void *>{present});
        QVERIFY(!mobiledevice_is_attached(present) && mobiledevice_is_attached(second));
        // Plugged in again, the device gets a new handle; the old one stays detached.
        m_sim->addDevice(u"PRESENT"_s);
        QTRY_COMPARE(m_receiver->attached.size(), 3);
        QVERIFY(m_receiver->attached.last() != present && !mobiledevice_is_attached(present));
        QCOMPARE(m_receiver->threads, QList<QThread *>(4, QThread::currentThread()));
        // After unsubscribing nothing arrives and the handles count as detached.
        mobiledevice_unsubscribe();
        QVERIFY(!mobiledevice_is_attached(second));
        m_sim->addDevice(u"LATE"_s);
        QTest::qWait(50);
        QCOMPARE(m_receiver->attached.size(), 3);

        // A receiver in another thread goes away without unsubscribing: later events are dropped.
        QThread thread;
        thread.start();
        auto *receiver = new Receiver;
        receiver->moveToThread(&thread);
        mobiledevice_subscribe(receiver, "deviceAttached", "deviceDetached");
        m_sim->addDevice(u"ELSEWHERE"_s);
        QList<QThread *> threads;
        QMetaObject::invokeMethod(
            receiver, [&]() { threads = receiver->threads, delete receiver; }, Qt::BlockingQueuedConnection);
        QVERIFY(!threads.isEmpty() && threads == QList<QThread *>(threads.size(), &thread));
        m_sim->removeDevice(u"ELSEWHERE"_s);
        m_sim->addDevice(u"AFTER"_s);
        thread.quit();
        QVERIFY(thread.wait(5000));
    }
    // Services are streams of their own, both ways; a gone device's handle raises a sentence.
    void valuesServicesAndDetaching()
    {
        void *phone = attachPhone();
        const QList<CFType> values =
            mobiledevice_copy_values(phone, {u"DeviceName"_s, u"ProductVersion"_s, u"Missing"_s});
        QVERIFY(values.size() == 3 && values[2].isNull());
        QCOMPARE(values[0].toString() + values[1].toString(), u"Anna's iPhone16.4"_s);
        MobileDeviceService service = mobiledevice_start_service(phone, kEcho);
        MobileDeviceService other = mobiledevice_start_service(phone, kEcho);
        MobileDeviceService third = mobiledevice_start_service(phone, kEcho);
        QVERIFY(service.isOpen() && other.isOpen() && m_sim->sessionsOpen == 0);
        QCOMPARE(m_sim->serviceEnds.size(), 3);
        const int end = m_sim->serviceEnds[0].second, otherEnd = m_sim->serviceEnds[1].second;
        const QByteArray message("ping \x00\x01\xFF", 8);
        QCOMPARE(::send(service.socket(), message.constData(), 8, MSG_NOSIGNAL), ssize_t(8));
        QCOMPARE(readSome(end, 8), message);
        QCOMPARE(::send(otherEnd, "two", 3, MSG_NOSIGNAL), ssize_t(3));
        QCOMPARE(readSome(other.socket(), 3), "two"_ba);
        // Copies share the connection; closing one closes it for all, and the last copy going closes it.
        MobileDeviceService copy = service;
        mobiledevice_close_service(copy);
        QVERIFY(!service.isOpen() && service.socket() == -1);
        QCOMPARE(readSome(end, 1), QByteArray());
        mobiledevice_close_service(service);
        other = MobileDeviceService();
        QCOMPARE(readSome(otherEnd, 1), QByteArray());

        m_sim->removeDevice(kUdid);
        QTRY_COMPARE(m_receiver->detached, QList<void *>{phone});
        const QString gone =
            u"The iPhone Anna's iPhone was disconnected. Please connect it again and try again."_s;
        QCOMPARE((QStringList{errorOf([&]() { mobiledevice_open_session(phone); }),
                              errorOf([&]() { mobiledevice_copy_values(phone, {u"DeviceName"_s}); }),
                              errorOf([&]() { mobiledevice_start_service(phone, kEcho); })}),
                 QStringList(3, gone));
        QCOMPARE(readSome(third.socket(), 1), QByteArray()); // the open service's stream ends

        // Tokens never issued are refused the same way, never dereferenced.
        const QString noDevice = u"The iPhone is no longer connected. Please connect it and try again."_s;
        QCOMPARE(errorOf([&]() { mobiledevice_open_session(nullptr); }), noDevice);
        QVERIFY(mobiledevice_udid(reinterpret_cast<void *>(0xDEADBEEF)).isEmpty() &&
                !mobiledevice_is_attached(nullptr));
    }
    // A failed handshake step is named and the handle works again; a missing service is refused.
    void errorTexts()
    {
        void *phone = attachPhone();
        m_sim->failStep = ImobileDeviceBackend::stepOfHandshakeError(-18);
        m_sim->failCode = -18;
        const QString text = errorOf([&]() { mobiledevice_start_service(phone, kEcho); });
        QVERIFY2(text.startsWith(u"Please restart your iPhone and computer to try again."_s) &&
                     text.endsWith(u"<br/><br/>Error code: AMDevicePair(-18)"_s),
                 qPrintable(text));
        QCOMPARE(errorOf([&]() { mobiledevice_copy_values(phone, {u"DeviceName"_s}); }), text);
        m_sim->failCode = 0;
        QCOMPARE(mobiledevice_copy_values(phone, {u"ProductType"_s})[0].toString(), u"iPhone12,1"_s);
        const QString missing = errorOf([&]() { mobiledevice_start_service(phone, u"com.example.none"_s); });
        QVERIFY2(missing.endsWith(u"<br/>Error code: AMDeviceStartService(com.example.none)=-27"_s),
                 qPrintable(missing));
    }

private:
    // Subscribes the receiver (again) and plugs in a phone; its handle.
    void *attachPhone();

    std::shared_ptr<SimulatedDevice> m_sim;
    std::unique_ptr<Receiver> m_receiver;
};

void *TestMobileDevice::attachPhone()
{
    mobiledevice_subscribe(m_receiver.get(), "deviceAttached", "deviceDetached");
    m_sim->addDevice(kUdid,
                     CFType::fromData("<plist version=\"1.0\"><dict><key>DeviceName</key><string>Anna's "
                                      "iPhone</string><key>ProductType</key><string>iPhone12,1</string>"
                                      "<key>ProductVersion</key><string>16.4</string></dict></plist>"));
    void *found = nullptr;
    (void)QTest::qWaitFor([&]() {
        for (void *handle : std::as_const(m_receiver->attached)) {
            if (mobiledevice_udid(handle) == kUdid && mobiledevice_is_attached(handle))
                found = handle;
        }
        return found != nullptr;
    });
    return found;
}

QTEST_GUILESS_MAIN(TestMobileDevice)
#include "tst_mobiledevice.moc"
