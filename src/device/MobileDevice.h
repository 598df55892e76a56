#pragma once

#include "device/CFType.h"
#include "device/DeviceException.h"
#include "device/MobileDeviceService.h"
#include "device/MobileDeviceSession.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class AbsDeviceBackend;
class QObject;

// The device layer: iPhones attached by USB, their sessions, values and
// services, over the backend chosen at run time (libimobiledevice unless a
// test chooses another). Every function may be called from any thread.
//
// A device handle is an opaque token given to the receiver of the attach
// event. It is never dereferenced: after the device went away (or for a
// token that was never issued) every operation raises a DeviceException
// naming the device instead of touching freed memory. A device that is
// plugged in again gets a new handle.
using MobileDeviceHandle = void *;

// Makes the device library usable; false with a sentence for the user when it
// cannot be. Safe to call more than once.
bool mobiledevice_load_framework(QString &error);

// Chooses the backend; null chooses libimobiledevice. A subscription to the
// previous backend ends, and the handles it gave out count as detached.
void mobiledevice_set_backend(std::shared_ptr<AbsDeviceBackend> backend);

// Starts forwarding devices to the receiver: for each USB device attached (those
// present now included) and detached, the method named attachedMethod or
// detachedMethod (a slot or Q_INVOKABLE taking one void *, the handle) is called
// by a queued call in the receiver's thread. The library's own thread does
// nothing else. Replaces an earlier subscription; ends by itself when the
// receiver is destroyed. Raises when the library is not usable or watching fails.
void mobiledevice_subscribe(QObject *receiver, const char *attachedMethod, const char *detachedMethod);
// Ends the subscription; the handles given out count as detached.
void mobiledevice_unsubscribe();

// The device's unique identifier; empty for a token never issued.
QString mobiledevice_udid(MobileDeviceHandle device);
// Whether the device is still attached.
bool mobiledevice_is_attached(MobileDeviceHandle device);

// Connects, pairs when needed, validates the pairing and starts a session.
// Raises with "...<br/><br/>Error code: <step>(<code>)" when a step fails.
MobileDeviceSession mobiledevice_open_session(MobileDeviceHandle device);
void mobiledevice_close_session(MobileDeviceSession &session);

// The value of each key in the domain, in one session of its own; an empty key
// or domain stands for none (the whole domain; the global domain). A value the
// device does not give is an empty CFType. Raises when the session cannot be
// opened or the device went away.
QList<CFType> mobiledevice_copy_values(MobileDeviceHandle device, const QStringList &keys,
                                       const QString &domain = QString());

// Starts a service in a session of its own (closed again at once) and returns
// its connected socket. Raises, naming the device, when the service cannot be
// started.
MobileDeviceService mobiledevice_start_service(MobileDeviceHandle device, const QString &serviceName);
void mobiledevice_close_service(MobileDeviceService &service);
