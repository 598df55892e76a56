#pragma once

#include "device/CFType.h"

#include <QtGlobal>

// The byte layer under every device service: waiting on, sending to and
// receiving from a service socket, and the framing of services that speak
// property lists (a 4-byte big-endian length, then one serialised list).
// Functions keep no state; a socket is used by one thread at a time and is
// left open for its owner to close.

// What the program waits for a device's answer.
constexpr int kServiceTimeoutMs = 60000;
// Lengths come from the device: a message announced beyond this is refused
// before anything is allocated for it. Real answers are a few kilobytes.
constexpr qint64 kMaxServiceMessage = Q_INT64_C(64) * 1024 * 1024;

enum class SocketWait { Read, Write };

// Why a transfer stopped short.
enum class SocketFailure { None, TimedOut, Closed, Error };

// Waits until the socket can be read or written: 1 when it can, 0 after the
// time-out (0 or less waits without limit), -1 on an error.
int wait_socket(int socket, int timeoutMs, SocketWait direction);

// Sends all length bytes unless the time-out (for the whole call) passes or the
// socket fails; the count sent. A peer that went away is an error, never a
// signal that ends the program.
qint64 send_with_timeout(int socket, const char *bytes, qint64 length, int timeoutMs,
                         SocketFailure *failure = nullptr);

// Receives exactly length bytes unless the time-out (for the whole call)
// passes, the peer closes or the socket fails; the count received.
qint64 recv_all(int socket, char *buffer, qint64 length, int timeoutMs, SocketFailure *failure = nullptr);

// Sends the message as an XML property list in one frame. Raises a
// DeviceException quoting the message when it cannot be sent whole.
void mobiledevice_sendmsg(int socket, const CFType &message, int timeoutMs = kServiceTimeoutMs);

// Receives one frame. Raises a DeviceException when the frame is cut short or
// its length is beyond kMaxServiceMessage, quoting the request it answers
// when that is not empty. A body that is no property list gives an empty value.
CFType mobiledevice_recmsg(int socket, const CFType &request = CFType(), int timeoutMs = kServiceTimeoutMs);
