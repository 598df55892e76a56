#include "MobileDevice.h"

bool mobiledevice_load_framework(QString &error)
{
    // libimobiledevice is linked in; the device layer is filled in behind this.
    error.clear();
    return true;
}
