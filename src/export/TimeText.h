#pragma once

#include <QString>

// Dates, times and lengths as a person reads them, in the user's locale (the
// default QLocale): the one way the lists, the bubbles and the TXT, PDF and HTML
// exports show them. Store times are seconds since 2001 (see ViberData.h), shown
// in local time. Machine-read files (CSV, JSON) keep their fixed forms.
namespace TimeText {

// The date and the time to the second: "1/31/14 9:30:05 AM", "31.01.14 09:30:05".
QString dateTime(double storeTime);
// The date alone, short.
QString date(double storeTime);
// The date of a day's first message, written out: "Friday, 31 January 2014".
QString day(double storeTime);
// The time of day without seconds: "9:30 AM", "09:30".
QString time(double storeTime);
// A length in seconds as minutes and seconds, with hours when there are any:
// "2:30", "1:02:30"; a length below zero or not finite reads "0:00".
QString duration(double seconds);

} // namespace TimeText
