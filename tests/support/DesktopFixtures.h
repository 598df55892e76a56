#pragma once

#include <QString>

// Viber Desktop history files ("viber.db") with their clients' tables, keys left out so that a
// test can write a damaged file's NULL and repeated ids. In rows' SQL, {a|b} is a (classic) or b
// (2017), @N participant N (number 447700900000 + N, or contact id N), #N the time N seconds
// after 2017-07-14T02:40:00Z in the layout's unit.
namespace fixtures {

// Classic: OriginNumberInfo by Number, the address book in Contact(Relation), kind bit flags,
// seconds. Contacts (2017 on): Contact by ContactID, the owner contact 1, kinds enumerated, ms.
enum class DesktopLayout { Classic, Contacts };

// Ann, Bob and Cid; Ann's chat, a group of all three and one nobody is known in; every kind of
// message and one unknown, places east, west, south and at no client's scale, calls both ways.
QString sampleDesktopStore(DesktopLayout layout);
// Makes path, never over a file, with the layout's tables and runs rows on them; throws on failure.
void writeDesktopStore(const QString &rows, const QString &path, DesktopLayout layout);

} // namespace fixtures
