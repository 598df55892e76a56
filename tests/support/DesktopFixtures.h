#pragma once

#include <QString>

// Viber Desktop history files ("viber.db") written from SQL that reads in either layout: {a|b}
// is a in the classic one and b in the 2017 one, @N participant N as Events and ChatRelation
// refer to it (number 447700900000 + N, or contact id N), #N the time N seconds after
// 2017-07-14T02:40:00Z in the layout's unit (seconds, or milliseconds).
namespace fixtures {

// Classic: OriginNumberInfo joined by Number, kinds as bit flags. Contacts: Contact joined by ContactID.
enum class DesktopLayout { Classic, Contacts };

// Ann, Bob and Cid; Ann's chat, a group of all three, a group nobody is known in; every kind
// of message (107 to 110 meaning one thing or another by layout), a call of each direction.
QString sampleDesktopStore();
// Makes path, never over a file, with the layout's tables and runs rows on them; throws on failure.
void writeDesktopStore(const QString &rows, const QString &path, DesktopLayout layout);

} // namespace fixtures
