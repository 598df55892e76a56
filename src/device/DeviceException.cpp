#include "DeviceException.h"

DeviceException::DeviceException(const QString &text) : std::runtime_error(text.toUtf8().toStdString()) {}
