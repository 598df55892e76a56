#pragma once

#include <QString>

// Makes the device library usable; false with a sentence for the user when it
// cannot be. Safe to call more than once.
bool mobiledevice_load_framework(QString &error);
