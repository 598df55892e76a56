#pragma once

#include <QString>

// Viber Desktop history files ("viber.db") written from SQL that reads in either layout the
// reader meets: {a|b} is a in the classic layout and b in the 2017 one, @N participant N as
// Events and ChatRelation refer to it (number 447700900000 + N, or contact id N), and #N the
// time N seconds after 2017-07-14T02:40:00Z in the layout's unit.
namespace fixtures {

// Classic: OriginNumberInfo joined by Number, kinds as bit flags, times in seconds. Contacts
// (2017 on): Contact joined by ContactID, kinds as an enumeration, times in milliseconds.
enum class DesktopLayout { Classic, Contacts };

// Ann, Bob and Cid; Ann's chat, a group of all three, a group nobody is known in; every kind
// of message (107 to 110 meaning one thing or another by layout), a call of each direction.
QString sampleDesktopStore();
// Creates the layout's tables at path (its folder made) and runs rows on them; throws when
// the file exists already or the SQL fails.
void writeDesktopStore(const QString &rows, const QString &path, DesktopLayout layout);

} // namespace fixtures
