#pragma once

#include <QString>

// Viber Desktop history files ("viber.db") with the tables of the clients that wrote them,
// column for column as the open readers of such files list them (without their keys, so that a
// test can write the NULL and repeated ids of a damaged file). In the SQL of rows, {a|b} is a
// in the classic layout and b in the 2017 one, @N participant N as Events and ChatRelation refer
// to it (number 447700900000 + N, or contact id N), #N the time N seconds after
// 2017-07-14T02:40:00Z in the layout's unit (seconds, or milliseconds).
namespace fixtures {

// Classic: OriginNumberInfo joined by Number, the address book in Contact and ContactRelation,
// kinds as bit flags, seconds. Contacts (2017 and later): Contact joined by ContactID, the
// owner as contact 1 and the author of each event, kinds as an enumeration, milliseconds.
enum class DesktopLayout { Classic, Contacts };

// Ann, Bob and Cid; Ann's chat, a group of all three, a group nobody is known in; every kind
// of message the layout knows and one it does not, places east, west and south and one at a
// scale of no client, calls of each direction.
QString sampleDesktopStore(DesktopLayout layout);
// Makes path, never over a file, with the layout's tables and runs rows on them; throws on failure.
void writeDesktopStore(const QString &rows, const QString &path, DesktopLayout layout);

} // namespace fixtures
