#include "Afc.h"

#include "ServiceSocket.h"

#include <QCoreApplication>
#include <QtEndian>

#include <cstring>

struct AfcConnection::State
{
    MobileDeviceHandle device = nullptr;
    MobileDeviceService service;
    int timeoutMs = kServiceTimeoutMs;
    QByteArray packet; // reused for every request sent
};

namespace {

constexpr char kMagic[8] = {'C', 'F', 'A', '6', 'L', 'P', 'A', 'A'};
// Answers other than file data are lists of names or small records; an
// announced length beyond this is refused before anything is allocated.
constexpr qint64 kMaxAnswer = Q_INT64_C(64) * 1024 * 1024;
// Bytes of a bounded answer received at a time, so that a device announcing a
// large answer and sending little costs little memory.
constexpr qint64 kAnswerStep = Q_INT64_C(1024) * 1024;

using State = AfcConnection::State;

struct Answer
{
    quint64 code = 0;
    quint64 status = 0;  // of a status answer
    QByteArray data;     // of any answer but file data read into the caller's buffer
    qint64 fileData = 0; // bytes put into the caller's buffer
};

QByteArray fieldOf(quint64 value)
{
    QByteArray bytes(8, Qt::Uninitialized);
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray pathField(const QString &path)
{
    QByteArray bytes = path.toUtf8();
    bytes.append('\0');
    return bytes;
}

// The connection failed: it is closed, since what follows on the stream can no
// longer be told apart, and the error names the device path and the cause.
[[noreturn]] void failConnection(State &s, const QString &path, SocketFailure why, const QString &detail)
{
    s.service.close();
    const QString text = why == SocketFailure::TimedOut ? AfcConnection::tr("IDS_AFC_TIMEOUT_%1")
                         : why == SocketFailure::Closed ? AfcConnection::tr("IDS_AFC_CLOSED_%1")
                         : why == SocketFailure::None   ? AfcConnection::tr("IDS_AFC_GARBLED_%1")
                                                        : AfcConnection::tr("IDS_AFC_BROKEN_%1");
    throw AfcException(text.arg(path.toHtmlEscaped()) + QLatin1String("<br/>") + detail);
}

// Sends one request: the header, the operation's fields and, for a write, the payload.
void sendPacket(State &s, const QString &path, quint64 operation, const QByteArray &fields,
                const char *payload = nullptr, qint64 payloadLength = 0)
{
    const int socket = s.service.socket();
    if (socket < 0)
        failConnection(s, path, SocketFailure::Error, AfcConnection::tr("IDS_AFC_NOT_CONNECTED"));
    // The packet number is the socket's value, sign-extended; the device only echoes it.
    const quint64 number = socket == 0 ? Q_UINT64_C(0xFFFFFFFF) : quint64(qint64(socket));
    const quint64 thisLength = kAfcHeaderSize + fields.size();
    QByteArray &packet = s.packet;
    packet.resize(qsizetype(thisLength + payloadLength));
    char *p = packet.data();
    AfcHeader{thisLength + payloadLength, thisLength, number, operation}.write(p);
    std::memcpy(p + kAfcHeaderSize, fields.constData(), size_t(fields.size()));
    if (payloadLength > 0)
        std::memcpy(p + thisLength, payload, size_t(payloadLength));
    // One send for all, so that a small request is one packet on the wire.
    SocketFailure why = SocketFailure::None;
    const qint64 sent = send_with_timeout(socket, packet.constData(), packet.size(), s.timeoutMs, &why);
    if (sent < kAfcHeaderSize)
        failConnection(s, path, why, AfcConnection::tr("IDS_AFC_SEND_HEADER_%1").arg(operation));
    if (sent != packet.size())
        failConnection(s, path, why,
                       operation == AfcOpFileWrite
                           ? AfcConnection::tr("IDS_AFC_WRITE_FILE")
                           : AfcConnection::tr("IDS_AFC_SEND_CONTENT_%1").arg(operation));
}

// Receives one answer. File data goes into fileBuffer when one is given, and
// may not exceed fileCapacity; anything else is bounded by kMaxAnswer.
Answer receivePacket(State &s, const QString &path, char *fileBuffer = nullptr, qint64 fileCapacity = 0)
{
    const int socket = s.service.socket();
    char header[kAfcHeaderSize];
    SocketFailure why = SocketFailure::None;
    if (recv_all(socket, header, kAfcHeaderSize, s.timeoutMs, &why) != kAfcHeaderSize)
        failConnection(s, path, why, AfcConnection::tr("IDS_AFC_READ_HEADER"));
    AfcHeader h;
    if (!AfcHeader::read(header, h))
        failConnection(s, path, SocketFailure::None, AfcConnection::tr("IDS_AFC_BAD_HEADER"));
    Answer answer;
    answer.code = h.operation;
    const quint64 length = h.entireLength - kAfcHeaderSize;
    const bool intoBuffer = answer.code == AfcOpData && fileBuffer != nullptr;
    const quint64 bound = intoBuffer ? quint64(fileCapacity) : quint64(kMaxAnswer);
    if (length > bound)
        failConnection(s, path, SocketFailure::None,
                       AfcConnection::tr("IDS_AFC_TOO_LARGE_%1_%2").arg(length).arg(bound));
    if (intoBuffer) {
        if (recv_all(socket, fileBuffer, qint64(length), s.timeoutMs, &why) != qint64(length))
            failConnection(s, path, why, AfcConnection::tr("IDS_AFC_READ_DATA"));
        answer.fileData = qint64(length);
    } else {
        for (qint64 done = 0; done < qint64(length);) {
            const qint64 step = qMin(kAnswerStep, qint64(length) - done);
            answer.data.resize(qsizetype(done + step));
            if (recv_all(socket, answer.data.data() + done, step, s.timeoutMs, &why) != step)
                failConnection(s, path, why, AfcConnection::tr("IDS_AFC_READ_DATA"));
            done += step;
        }
    }
    const quint64 first = answer.data.size() >= 8 ? qFromLittleEndian<quint64>(answer.data.constData()) : 0;
    switch (answer.code) {
    case AfcOpStatus:
        if (answer.data.size() < 8)
            failConnection(s, path, SocketFailure::None, AfcConnection::tr("IDS_AFC_BAD_HEADER"));
        answer.status = first;
        break;
    case AfcOpData:
    case AfcOpFileOpenResult:
    case AfcOpFileTellResult:
        break;
    default:
        failConnection(s, path, SocketFailure::None,
                       AfcConnection::tr("IDS_AFC_UNKNOWN_CODE_%1_%2").arg(answer.code).arg(first));
    }
    return answer;
}

// One request answered by a status; true when it was 0.
bool statusRequest(AfcConnection &connection, const QString &path, quint64 operation,
                   const QByteArray &fields)
{
    State &s = *connection.state();
    sendPacket(s, path, operation, fields);
    const Answer answer = receivePacket(s, path);
    return answer.code == AfcOpStatus && answer.status == 0;
}

// A name from a listing that may be joined to its folder: nothing that climbs
// out of it or reaches into another.
bool isPlainName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/'));
}

} // namespace

void AfcHeader::write(char *to) const
{
    std::memcpy(to, kMagic, 8);
    qToLittleEndian(entireLength, to + 8);
    qToLittleEndian(thisLength, to + 16);
    qToLittleEndian(packetNumber, to + 24);
    qToLittleEndian(operation, to + 32);
}

QByteArray AfcHeader::bytes() const
{
    QByteArray result(kAfcHeaderSize, Qt::Uninitialized);
    write(result.data());
    return result;
}

bool AfcHeader::read(const char *from, AfcHeader &header)
{
    header = AfcHeader{qFromLittleEndian<quint64>(from + 8), qFromLittleEndian<quint64>(from + 16),
                       qFromLittleEndian<quint64>(from + 24), qFromLittleEndian<quint64>(from + 32)};
    return std::memcmp(from, kMagic, 8) == 0 && header.thisLength >= quint64(kAfcHeaderSize) &&
           header.thisLength <= header.entireLength;
}

qint64 AfcFileInfo::modifiedSecs() const
{
    return modified.isValid() ? modified.toMSecsSinceEpoch() / 1000 : 0;
}

AfcConnection::AfcConnection(MobileDeviceHandle device) : m_state(std::make_shared<State>())
{
    m_state->device = device;
}

MobileDeviceHandle AfcConnection::device() const
{
    return m_state->device;
}

bool AfcConnection::isOpen() const
{
    return m_state->service.isOpen();
}

int AfcConnection::socket() const
{
    return m_state->service.socket();
}

void AfcConnection::close()
{
    m_state->service.close();
}

int AfcConnection::timeoutMs() const
{
    return m_state->timeoutMs;
}

void AfcConnection::setTimeoutMs(int timeoutMs)
{
    m_state->timeoutMs = timeoutMs;
}

AfcFile::~AfcFile()
{
    close();
}

bool AfcFile::close()
{
    if (m_handle == 0)
        return true;
    const quint64 handle = m_handle;
    m_handle = 0;
    try {
        return m_connection.isOpen() && statusRequest(m_connection, m_path, AfcOpFileClose, fieldOf(handle));
    } catch (const AfcException &) {
        return false;
    }
}

void afc_connect(AfcConnection &connection, const QString &appId)
{
    State &s = *connection.state();
    s.service.close();
    if (appId.isEmpty()) {
        s.service = mobiledevice_start_service(s.device, QStringLiteral("com.apple.afc"));
        return;
    }
    // The whole container is vended to apps the phone lets a computer see
    // into; newer iOS refuses it for the others, of which only the Documents
    // folder can be had (when the app shares its files), so that is asked for
    // next. A refusal of both reports the first answer.
    QString refusal;
    for (const QString &command : {QStringLiteral("VendContainer"), QStringLiteral("VendDocuments")}) {
        MobileDeviceService service =
            mobiledevice_start_service(s.device, QStringLiteral("com.apple.mobile.house_arrest"));
        // The hand-over: once the device agrees, the same socket speaks AFC inside the container.
        CFType request = CFType::dictionary();
        request.setValue(QStringLiteral("Command"), CFType::fromString(command));
        request.setValue(QStringLiteral("Identifier"), CFType::fromString(appId));
        mobiledevice_sendmsg(service.socket(), request, s.timeoutMs);
        const CFType answer = mobiledevice_recmsg(service.socket(), request, s.timeoutMs);
        // An answer that is no dictionary is no agreement either: AFC would then
        // be spoken to a service that is not listening for it.
        if (answer.isDictionary() && !answer.contains(QStringLiteral("Error"))) {
            s.service = service;
            return;
        }
        service.close();
        if (refusal.isEmpty())
            refusal = AfcConnection::tr("IDS_AFC_NO_CONTAINER_%1_%2")
                          .arg(appId, QString::fromUtf8(answer.toData()).toHtmlEscaped());
    }
    throw DeviceException(refusal);
}

bool afc_open(AfcConnection &connection, const QString &path, quint64 mode, AfcFile &file)
{
    file.close();
    State &s = *connection.state();
    sendPacket(s, path, AfcOpFileOpen, fieldOf(mode) + pathField(path));
    const Answer answer = receivePacket(s, path);
    if (answer.code != AfcOpFileOpenResult || answer.data.size() < 8)
        return false;
    file.m_connection = connection;
    file.m_handle = qFromLittleEndian<quint64>(answer.data.constData());
    file.m_path = path;
    return file.m_handle != 0;
}

bool afc_open_read(AfcConnection &connection, const QString &path, AfcFile &file)
{
    return afc_open(connection, path, kAfcModeRead, file);
}

bool afc_open_write(AfcConnection &connection, const QString &path, AfcFile &file)
{
    return afc_open(connection, path, kAfcModeWrite, file);
}

qint64 afc_read(AfcFile &file, char *buffer, qint64 count)
{
    if (!file.isOpen())
        return -1;
    State &s = *file.m_connection.state();
    qint64 done = 0;
    while (done < count) {
        const qint64 ask = qMin(kAfcReadChunk, count - done);
        sendPacket(s, file.m_path, AfcOpFileRead, fieldOf(file.m_handle) + fieldOf(quint64(ask)));
        const Answer answer = receivePacket(s, file.m_path, buffer + done, ask);
        if (answer.code == AfcOpStatus && answer.status != 0)
            return -1;
        if (answer.fileData == 0)
            break; // the end of the file
        done += answer.fileData;
    }
    return done;
}

qint64 afc_write(AfcFile &file, const char *bytes, qint64 count)
{
    if (!file.isOpen())
        return -1;
    State &s = *file.m_connection.state();
    const QByteArray handle = fieldOf(file.m_handle);
    for (qint64 done = 0; done < count;) {
        const qint64 chunk = qMin(kAfcWriteChunk, count - done);
        sendPacket(s, file.m_path, AfcOpFileWrite, handle, bytes + done, chunk);
        const Answer answer = receivePacket(s, file.m_path);
        if (answer.code != AfcOpStatus || answer.status != 0)
            return -1;
        done += chunk;
    }
    return count;
}

bool afc_make_dir(AfcConnection &connection, const QString &path)
{
    return statusRequest(connection, path, AfcOpMakeDir, pathField(path));
}

bool afc_remove(AfcConnection &connection, const QString &path)
{
    return statusRequest(connection, path, AfcOpRemovePath, pathField(path));
}

bool afc_rename(AfcConnection &connection, const QString &from, const QString &to)
{
    return statusRequest(connection, from, AfcOpRenamePath, pathField(from) + pathField(to));
}

AfcFileInfo afc_file_info(AfcConnection &connection, const QString &path)
{
    State &s = *connection.state();
    sendPacket(s, path, AfcOpGetFileInfo, pathField(path));
    const Answer answer = receivePacket(s, path);
    AfcFileInfo info;
    info.path = path;
    if (answer.code != AfcOpData)
        return info; // the device's status for a missing path
    const QList<QByteArray> fields = answer.data.split('\0');
    for (qsizetype i = 0; i + 1 < fields.size(); i += 2) {
        const QByteArray &key = fields[i];
        const QByteArray &value = fields[i + 1];
        if (key == "st_size") {
            info.size = value.toLongLong();
        } else if (key == "st_mtime") {
            bool ok = false;
            const qint64 nanoseconds = value.toLongLong(&ok);
            if (ok)
                info.modified = QDateTime::fromMSecsSinceEpoch(nanoseconds / 1000000, Qt::UTC);
        } else if (key == "st_ifmt") {
            info.type = QString::fromUtf8(value);
        }
    }
    return info;
}

QList<AfcFileInfo> afc_list_dir(AfcConnection &connection, const QString &path)
{
    State &s = *connection.state();
    sendPacket(s, path, AfcOpReadDir, pathField(path));
    const Answer answer = receivePacket(s, path);
    QList<AfcFileInfo> entries;
    if (answer.code != AfcOpData)
        return entries;
    const QString folder = path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
    for (const QByteArray &bytes : answer.data.split('\0')) {
        const QString name = QString::fromUtf8(bytes);
        // A name that does not survive the trip through UTF-8 would be asked for as another path.
        if (!isPlainName(name) || name.toUtf8() != bytes)
            continue;
        const AfcFileInfo info = afc_file_info(connection, folder + name);
        if (info.isFile() || info.isDir())
            entries.append(info);
    }
    return entries;
}
