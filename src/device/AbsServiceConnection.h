#pragma once

// A started device service as a backend delivers it: a connected stream socket
// and whatever keeps it open. Destroying the connection closes the socket.
class AbsServiceConnection
{
public:
    virtual ~AbsServiceConnection() = default;

    // The socket's descriptor, for select, send and recv.
    virtual int socket() const = 0;
};
