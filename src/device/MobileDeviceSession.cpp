#include "MobileDeviceSession.h"

#include "AbsDeviceSession.h"

MobileDeviceSession::MobileDeviceSession() = default;

MobileDeviceSession::MobileDeviceSession(void *device, std::unique_ptr<AbsDeviceSession> session)
    : m_device(device), m_session(std::move(session))
{
}

MobileDeviceSession::MobileDeviceSession(MobileDeviceSession &&other) noexcept = default;
MobileDeviceSession &MobileDeviceSession::operator=(MobileDeviceSession &&other) noexcept = default;
MobileDeviceSession::~MobileDeviceSession() = default;

void MobileDeviceSession::close()
{
    m_session.reset();
}
