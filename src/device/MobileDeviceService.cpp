#include "MobileDeviceService.h"

#include "AbsServiceConnection.h"

struct MobileDeviceService::State
{
    std::unique_ptr<AbsServiceConnection> connection;
    QString name;
};

MobileDeviceService::MobileDeviceService(std::unique_ptr<AbsServiceConnection> connection,
                                         const QString &name)
    : m_state(std::make_shared<State>())
{
    m_state->connection = std::move(connection);
    m_state->name = name;
}

bool MobileDeviceService::isOpen() const
{
    return m_state && m_state->connection;
}

int MobileDeviceService::socket() const
{
    return isOpen() ? m_state->connection->socket() : -1;
}

QString MobileDeviceService::name() const
{
    return m_state ? m_state->name : QString();
}

void MobileDeviceService::close()
{
    if (m_state)
        m_state->connection.reset();
}
