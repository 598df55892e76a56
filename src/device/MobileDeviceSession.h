#pragma once

#include <memory>

class AbsDeviceSession;

// An open session with a device (see mobiledevice_open_session). It ends when
// closed or destroyed. Move-only: a session belongs to one caller.
class MobileDeviceSession
{
public:
    MobileDeviceSession();
    MobileDeviceSession(void *device, std::unique_ptr<AbsDeviceSession> session);
    MobileDeviceSession(MobileDeviceSession &&other) noexcept;
    MobileDeviceSession &operator=(MobileDeviceSession &&other) noexcept;
    ~MobileDeviceSession();

    bool isOpen() const { return m_session != nullptr; }
    // The device handle the session was opened on.
    void *device() const { return m_device; }
    // The backend's session; null once closed.
    AbsDeviceSession *backendSession() const { return m_session.get(); }
    void close();

private:
    void *m_device = nullptr;
    std::unique_ptr<AbsDeviceSession> m_session;
};
