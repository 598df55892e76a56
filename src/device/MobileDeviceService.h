#pragma once

#include <QString>

#include <memory>

class AbsServiceConnection;

// A service started on a device: a connected stream socket that speaks the
// service's protocol. Copies share the connection; it closes with the last
// copy or with close(). One thread uses it at a time.
class MobileDeviceService
{
public:
    MobileDeviceService() = default;
    MobileDeviceService(std::unique_ptr<AbsServiceConnection> connection, const QString &name);

    bool isOpen() const;
    // The socket's descriptor; -1 once closed.
    int socket() const;
    QString name() const;
    // Closes the socket for every copy; closing a closed service does nothing.
    void close();

private:
    struct State;
    std::shared_ptr<State> m_state;
};
