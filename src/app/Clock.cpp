#include "Clock.h"

#include <QMutex>
#include <QMutexLocker>

namespace {

QMutex s_mutex;
std::function<QDateTime()> s_override;

} // namespace

QDateTime Clock::currentDateTime()
{
    std::function<QDateTime()> now;
    {
        QMutexLocker lock(&s_mutex);
        now = s_override;
    }
    return now ? now() : QDateTime::currentDateTime();
}

void Clock::setOverride(std::function<QDateTime()> now)
{
    QMutexLocker lock(&s_mutex);
    s_override = std::move(now);
}
