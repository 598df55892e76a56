#pragma once

#include "device/CFType.h"

#include <QString>

#include <memory>

class AbsServiceConnection;

// An open session with one device. Destroying it ends the session and
// disconnects; services started from it stay open.
class AbsDeviceSession
{
public:
    virtual ~AbsDeviceSession() = default;

    // A device value, owned; an empty domain or key stands for none (the global
    // domain, the whole domain). An empty value when the device has none.
    virtual CFType copyValue(const QString &domain, const QString &key) = 0;

    // Starts the named service and connects to it; null with the backend's
    // error code when that fails.
    virtual std::unique_ptr<AbsServiceConnection> startService(const QString &name, int &code) = 0;
};
