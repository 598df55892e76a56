#include "FuzzSupport.h"

#include "SimulatedDevice.h"
#include "device/Afc.h"
#include "device/ServiceSocket.h"

#include <QObject>
#include <QThread>

#include <sys/socket.h>
#include <unistd.h>

// The input is what a phone answers. Its first byte chooses whom it answers:
// 0 the media area's AFC service, 1 house_arrest (a framed property list, then
// AFC inside the container), 2 a property-list service, frame after frame. The
// client's requests are left unread: they do not change the answers.

namespace {

class Phone : public QObject
{
    Q_OBJECT

public:
    std::shared_ptr<SimulatedDevice> backend = std::make_shared<SimulatedDevice>();
    MobileDeviceHandle device = nullptr;
    QByteArray answers; // what the next service started sends, then it stops talking

    Phone()
    {
        backend->services = {QStringLiteral("com.apple.afc"),
                             QStringLiteral("com.apple.mobile.house_arrest")};
        backend->onServiceStarted = [this](const QString &, const QString &, int end) {
            // Sent whole or cut where the socket's buffer ends; a shorter answer is an answer too.
            if (!answers.isEmpty())
                (void)::send(end, answers.constData(), size_t(answers.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
            answers.clear();
            ::shutdown(end, SHUT_WR);
        };
        mobiledevice_set_backend(backend);
        mobiledevice_subscribe(this, "attached", "attached");
        backend->addDevice(QStringLiteral("FUZZED-PHONE"));
        for (int i = 0; i < 1000 && device == nullptr; ++i) {
            QCoreApplication::processEvents();
            QThread::msleep(1);
        }
        if (device == nullptr)
            fuzzsupport::fail("the simulated phone never attached");
    }

    // The device ends of the services of one run.
    void hangUp()
    {
        for (const auto &end : std::as_const(backend->serviceEnds))
            ::close(end.second);
        backend->serviceEnds.clear();
    }

public slots:
    void attached(void *handle) { device = handle; }
};

void talkAfc(Phone &phone, const QByteArray &answers, bool container)
{
    phone.answers = answers;
    AfcConnection connection(phone.device);
    connection.setTimeoutMs(2000);
    try {
        afc_connect(connection, container ? QStringLiteral("com.viber") : QString());
        (void)afc_list_dir(connection, QStringLiteral("/Documents"));
        (void)afc_file_info(connection, QStringLiteral("/Documents/Contacts.data")).modifiedSecs();
        AfcFile file;
        if (afc_open_read(connection, QStringLiteral("/Documents/Contacts.data"), file)) {
            static char buffer[3 * kAfcReadChunk];
            (void)afc_read(file, buffer, sizeof buffer);
        }
    } catch (const DeviceException &) {
    }
    connection.close();
}

void talkPlist(const QByteArray &answers)
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        fuzzsupport::fail("no socket pair");
    (void)::send(pair[1], answers.constData(), size_t(answers.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
    ::shutdown(pair[1], SHUT_WR);
    const CFType request = CFType::fromString(QStringLiteral("request"));
    try {
        for (;;)
            (void)mobiledevice_recmsg(pair[0], request, 2000).toData();
    } catch (const DeviceException &) {
    }
    ::close(pair[0]), ::close(pair[1]);
}

} // namespace

CHATWHARF_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    static Phone phone;
    const QByteArray answers = fuzzsupport::bytesOf(data + 1, size - 1);
    switch (data[0] % 3) {
    case 0:
    case 1:
        talkAfc(phone, answers, data[0] % 3 == 1);
        break;
    default:
        talkPlist(answers);
    }
    phone.hangUp();
    return 0;
}

#include "fuzz_afc.moc"
