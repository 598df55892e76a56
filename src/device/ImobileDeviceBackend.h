#pragma once

#include "device/AbsDeviceBackend.h"

#include <QMutex>

// Reaches iPhones through libimobiledevice and the usbmuxd daemon. Kept thin:
// it cannot be tested here without a phone.
class ImobileDeviceBackend : public AbsDeviceBackend
{
public:
    ImobileDeviceBackend() = default;
    ~ImobileDeviceBackend() override;

    // Usable when usbmuxd runs or is installed: udev starts it only when a
    // phone is plugged in, so a missing socket alone is no fault.
    bool isUsable(QString &error) override;
    bool subscribe(const EventSink &sink, QString &error) override;
    void unsubscribe() override;
    std::unique_ptr<AbsDeviceSession> openSession(const QString &udid, SessionStep &failedStep,
                                                  int &code) override;

    // The session step a lockdown handshake error belongs to.
    static SessionStep stepOfHandshakeError(int code);

    // libimobiledevice's event callback (an idevice_event_t), on its thread.
    static void onEvent(const void *event, void *self);

private:
    QMutex m_mutex;
    EventSink m_sink;
    bool m_subscribed = false;
};
