#pragma once

#include <QString>

#include <stdexcept>

// Raised by the device layer. what() is a UTF-8 text for the user; it may hold
// "<br/>" since the progress dialog and message boxes show rich text.
class DeviceException : public std::runtime_error
{
public:
    explicit DeviceException(const QString &text);

    QString text() const { return QString::fromUtf8(what()); }
};
