#pragma once

#include <QDateTime>

#include <functional>

// The time the program stamps its logs with. Tests replace it to get fixed
// log names and line times.
class Clock
{
public:
    // Current local date and time (or the replacement's).
    static QDateTime currentDateTime();
    // Replaces the system clock; an empty function restores it. Thread-safe.
    static void setOverride(std::function<QDateTime()> now);
};
