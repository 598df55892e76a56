#include "SimulatedAfc.h"

#include <cstdio>

#include "SimulatedDevice.h"
#include "device/Afc.h"
#include "device/ServiceSocket.h"

#include <QDir>
#include <QTest>
#include <QtEndian>

#include <map>
#include <sys/socket.h>
#include <unistd.h>

static constexpr quint64 kNotFound = 8; // AFC's status for a missing object

static QByteArray le64(quint64 value)
{
    value = qToLittleEndian(value);
    return QByteArray(reinterpret_cast<const char *>(&value), 8);
}

// One answer, of which only the first `sent` data bytes go out when that is not negative.
static bool answer(int socket, quint64 code, const QByteArray &data, qint64 sent = -1, quint64 announced = 0)
{
    const QByteArray packet = AfcHeader{announced ? announced : 40 + data.size(), 40, 0, code}.bytes() +
                              data.left(sent < 0 ? data.size() : sent);
    return send_with_timeout(socket, packet.constData(), packet.size(), 0) == packet.size();
}

SimulatedAfc::SimulatedAfc(const QString &container, const QString &media)
    : m_container(container), m_media(media), m_backend(std::make_shared<SimulatedDevice>())
{
    m_backend->services = {QStringLiteral("com.apple.afc"), QStringLiteral("com.apple.mobile.house_arrest")};
    m_backend->onServiceStarted = [this](const QString &, const QString &name, int end) {
        const int socket = ::dup(end);
        const bool inContainer = name.endsWith(QLatin1String("house_arrest"));
        m_services.emplace_back(socket, std::thread([=]() { serve(socket, inContainer, fault); }));
    };
    mobiledevice_set_backend(m_backend);
    mobiledevice_subscribe(this, "attached", "attached");
    m_backend->addDevice(QStringLiteral("SIMULATED-AFC"));
    (void)QTest::qWaitFor([this]() { return m_device != nullptr; });
}

SimulatedAfc::~SimulatedAfc()
{
    mobiledevice_set_backend(nullptr);
    for (auto &[socket, thread] : m_services)
        ::shutdown(socket, SHUT_RDWR), thread.join(), ::close(socket);
}

void SimulatedAfc::serve(int socket, bool container, Fault fault)
{
    if (container) {
        try {
            const CFType request = mobiledevice_recmsg(socket, CFType(), 0);
            const bool agreed = fault != Fault::RefuseContainer &&
                                request.value(QStringLiteral("Command")).toString() == u"VendContainer" &&
                                request.value(QStringLiteral("Identifier")).toString() == u"com.viber";
            const QByteArray reply = agreed ? "<key>Status</key><string>Complete</string>"
                                            : "<key>Error</key><string>NotFound</string>";
            mobiledevice_sendmsg(socket, CFType::fromData("<plist><dict>" + reply + "</dict></plist>"), 0);
            if (!agreed)
                return;
        } catch (const std::exception &) {
            return; // the other end went away
        }
    }
    const QString root = container ? m_container : m_media;
    std::map<quint64, std::unique_ptr<QFile>> files;
    qint64 nextHandle = 1, sent = 0, written = 0;
    char h[40];
    AfcHeader in;
    while (recv_all(socket, h, 40, 0) == 40 && AfcHeader::read(h, in) &&
           in.entireLength <= 40 + kMaxServiceMessage) {
        QByteArray body(qsizetype(in.entireLength - 40), Qt::Uninitialized);
        if (recv_all(socket, body.data(), body.size(), 0) != body.size())
            return;
        const QByteArray fields = body.left(qsizetype(in.thisLength - 40));
        const QList<QByteArray> names = fields.mid(in.operation == AfcOpFileOpen ? 8 : 0).split('\0');
        // The first fixed field is a handle (or an open's mode); a read's second is its count.
        const quint64 handle = fields.size() >= 8 ? qFromLittleEndian<quint64>(fields.constData()) : 0;
        const quint64 readCount =
            fields.size() >= 16 ? qFromLittleEndian<quint64>(fields.constData() + 8) : 0;
        QFile *file = files.count(handle) ? files[handle].get() : nullptr;
        const QString local = root + QString::fromUtf8(names[0]);
        const QFileInfo info(local);
        const bool found = info.exists() || info.isSymLink();
        quint64 code = AfcOpStatus, status = kNotFound; // unless an operation answers otherwise
        QByteArray data;
        bool done = false;
        switch (in.operation) {
        case AfcOpReadDir:
            data = QByteArray(".\0..\0", 5) + extraNames.join('\0') + '\0';
            for (const QString &name :
                 QDir(local).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
                data += name.toUtf8() + '\0';
            code = found && info.isDir() ? AfcOpData : code;
            break;
        case AfcOpGetFileInfo: { // the time in nanoseconds, of which the client keeps whole milliseconds
            const char *type = info.isSymLink() ? "S_IFLNK" : info.isDir() ? "S_IFDIR" : "S_IFREG";
            data = QByteArrayLiteral("st_size\0") + QByteArray::number(info.size()) +
                   QByteArrayLiteral("\0st_ifmt\0") + type + QByteArrayLiteral("\0st_mtime\0") +
                   QByteArray::number(info.lastModified().toMSecsSinceEpoch() * 1000000 + 999999) + '\0';
            code = found ? AfcOpData : code;
            break;
        }
        case AfcOpFileOpen:
            files[nextHandle] = std::make_unique<QFile>(local);
            data = le64(nextHandle);
            code =
                files[nextHandle++]->open(handle == kAfcModeRead ? QIODevice::ReadOnly : QIODevice::WriteOnly)
                    ? AfcOpFileOpenResult
                    : code;
            break;
        case AfcOpFileRead:
            status = fault == Fault::ReadStatus ? 7 : status;
            code = file && fault != Fault::ReadStatus && readCount <= 65536 ? AfcOpData : code;
            data = file && fault != Fault::EmptyReads ? file->read(qint64(readCount)) : "";
            if (fault == Fault::StallRead && !data.isEmpty()) // then quiet until the other end gives up
                return answer(socket, code, data, data.size() / 2), (void)recv_all(socket, h, 1, 0);
            if (fault == Fault::DropMidFile && sent + data.size() > 100000)
                return answer(socket, code, data, 100000 - sent), (void)::shutdown(socket, SHUT_RDWR);
            sent += data.size();
            break;
        case AfcOpFileWrite:
            if (fault == Fault::DropMidWrite && (written += body.size() - fields.size()) > 4096)
                return (void)::shutdown(socket, SHUT_RDWR);
            done = body.size() - fields.size() <= 32768 && file &&
                   file->write(body.mid(fields.size())) == body.size() - fields.size();
            break;
        case AfcOpFileClose:
            done = files.erase(handle) == 1;
            break;
        case AfcOpMakeDir:
            done = QDir().mkpath(local);
            break;
        case AfcOpRenamePath:
            // Like the phone's file system: an existing target is replaced.
            done = found &&
                   ::rename(QFile::encodeName(local).constData(),
                            QFile::encodeName(root + QString::fromUtf8(names.value(1))).constData()) == 0;
            break;
        case AfcOpRemovePath:
            done = found && (info.isDir() ? QDir().rmdir(local) : QFile::remove(local));
            break;
        }
        status = done ? 0 : status;
        if (!answer(socket, code, code == AfcOpStatus ? le64(status) : data, -1,
                    fault == Fault::Oversized && in.operation == AfcOpReadDir ? Q_UINT64_C(1) << 40 : 0))
            return;
    }
}
