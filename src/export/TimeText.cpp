#include "TimeText.h"

#include "viber/ViberData.h"

#include <QLocale>

#include <cmath>

namespace {

// The locale's time of day with its seconds, without the zone its long form adds.
QString timeWithSeconds(const QLocale &locale)
{
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return format.trimmed();
}

} // namespace

namespace TimeText {

QString dateTime(double storeTime)
{
    const QLocale locale;
    const QDateTime when = storeTimeToDateTime(storeTime);
    return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(when.time(), timeWithSeconds(locale));
}

QString date(double storeTime)
{
    return QLocale().toString(storeTimeToDateTime(storeTime).date(), QLocale::ShortFormat);
}

QString day(double storeTime)
{
    return QLocale().toString(storeTimeToDateTime(storeTime).date(), QLocale::LongFormat);
}

QString time(double storeTime)
{
    return QLocale().toString(storeTimeToDateTime(storeTime).time(), QLocale::ShortFormat);
}

QString duration(double seconds)
{
    // A store may hold any double here; only a sane range is converted to an integer.
    qint64 whole = 0;
    if (std::isfinite(seconds) && seconds > 0 && seconds < 1e15)
        whole = qint64(seconds);
    const QLatin1Char zero('0');
    if (whole >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(whole / 3600)
            .arg(whole % 3600 / 60, 2, 10, zero)
            .arg(whole % 60, 2, 10, zero);
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, zero);
}

} // namespace TimeText
