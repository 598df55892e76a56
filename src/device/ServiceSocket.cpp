#include "ServiceSocket.h"

#include "DeviceException.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QtEndian>

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

namespace {

// Messages quoted in error texts are cut to this many characters.
constexpr int kQuotedChars = 800;

// poll, not select: select cannot watch a descriptor numbered 1024 or above,
// which a program with many open files reaches.
int waitUntil(int socket, const QDeadlineTimer &deadline, SocketWait direction)
{
    pollfd p{socket, short(direction == SocketWait::Read ? POLLIN : POLLOUT), 0};
    for (;;) {
        const qint64 left = deadline.remainingTime();
        const int result = ::poll(&p, 1, left < 0 ? -1 : int(qMin<qint64>(left, 1 << 30)));
        if (result >= 0 || errno != EINTR)
            return result < 0 ? -1 : result;
    }
}

QDeadlineTimer deadlineOf(int timeoutMs)
{
    return timeoutMs > 0 ? QDeadlineTimer(timeoutMs) : QDeadlineTimer(QDeadlineTimer::Forever);
}

QString quoted(const CFType &message)
{
    return QString::fromUtf8(message.toData()).left(kQuotedChars);
}

} // namespace

int wait_socket(int socket, int timeoutMs, SocketWait direction)
{
    return waitUntil(socket, deadlineOf(timeoutMs), direction);
}

qint64 send_with_timeout(int socket, const char *bytes, qint64 length, int timeoutMs, SocketFailure *failure)
{
    const QDeadlineTimer deadline = deadlineOf(timeoutMs);
    qint64 done = 0;
    SocketFailure why = SocketFailure::None;
    // A send may take only part of the bytes; the rest follows, since the peer
    // was told (by a length before them) how many will come.
    while (done < length) {
        const ssize_t n = ::send(socket, bytes + done, size_t(length - done), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            why = errno == EPIPE || errno == ECONNRESET ? SocketFailure::Closed : SocketFailure::Error;
            break;
        }
        const int ready = waitUntil(socket, deadline, SocketWait::Write);
        if (ready <= 0) {
            why = ready == 0 ? SocketFailure::TimedOut : SocketFailure::Error;
            break;
        }
    }
    if (failure)
        *failure = why;
    return done;
}

qint64 recv_all(int socket, char *buffer, qint64 length, int timeoutMs, SocketFailure *failure)
{
    const QDeadlineTimer deadline = deadlineOf(timeoutMs);
    qint64 done = 0;
    SocketFailure why = SocketFailure::None;
    while (done < length) {
        // Tried before waiting: when the bytes are there already, one call instead of two.
        const ssize_t n = ::recv(socket, buffer + done, size_t(length - done), MSG_DONTWAIT);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n == 0) {
            why = SocketFailure::Closed;
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            why = errno == ECONNRESET ? SocketFailure::Closed : SocketFailure::Error;
            break;
        }
        const int ready = waitUntil(socket, deadline, SocketWait::Read);
        if (ready <= 0) {
            why = ready == 0 ? SocketFailure::TimedOut : SocketFailure::Error;
            break;
        }
    }
    if (failure)
        *failure = why;
    return done;
}

void mobiledevice_sendmsg(int socket, const CFType &message, int timeoutMs)
{
    const QByteArray body = message.toData();
    uchar length[4];
    qToBigEndian(quint32(body.size()), length);
    if (body.isEmpty() || body.size() > kMaxServiceMessage ||
        send_with_timeout(socket, reinterpret_cast<const char *>(length), 4, timeoutMs) != 4)
        throw DeviceException(
            QCoreApplication::translate("MobileDevice", "IDS_MD_SENDMSG_LENGTH_%1").arg(quoted(message)));
    if (send_with_timeout(socket, body.constData(), body.size(), timeoutMs) != body.size())
        throw DeviceException(
            QCoreApplication::translate("MobileDevice", "IDS_MD_SENDMSG_BODY_%1").arg(quoted(message)));
}

CFType mobiledevice_recmsg(int socket, const CFType &request, int timeoutMs)
{
    const QString about = request.isNull() ? QString() : QLatin1Char('\n') + quoted(request);
    uchar lengthBytes[4];
    const qint64 got = recv_all(socket, reinterpret_cast<char *>(lengthBytes), 4, timeoutMs);
    if (got != 4)
        throw DeviceException(
            QCoreApplication::translate("MobileDevice", "IDS_MD_RECMSG_LENGTH_%1").arg(got) + about);
    const quint32 length = qFromBigEndian<quint32>(lengthBytes);
    if (length > kMaxServiceMessage)
        throw DeviceException(
            QCoreApplication::translate("MobileDevice", "IDS_MD_RECMSG_TOO_LARGE_%1").arg(length) + about);
    QByteArray body(qsizetype(length), Qt::Uninitialized);
    const qint64 received = recv_all(socket, body.data(), length, timeoutMs);
    if (received != length)
        throw DeviceException(
            QCoreApplication::translate("MobileDevice", "IDS_MD_RECMSG_BODY_%1").arg(received) + about);
    return length == 0 ? CFType() : CFType::fromData(body);
}
