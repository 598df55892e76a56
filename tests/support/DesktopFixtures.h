#pragma once

#include <QString>

// Viber Desktop history files ("viber.db") written from SQL in either layout the reader
// meets, so that one text serves both. In the text, {a|b} reads a in the classic layout
// and b in the 2017 one, @N is participant N as Events and ChatRelation refer to it
// (number 44770090000N, or contact id N), and #N is N seconds after 2017-07-14T02:40:00Z
// in the layout's unit.
namespace fixtures {

enum class DesktopLayout {
    Classic,  // OriginNumberInfo joined by Number, kinds as bit flags, times in seconds
    Contacts, // Contact joined by ContactID, kinds as an enumeration, times in milliseconds
};

// Ann, Bob and Cid; Ann's chat, a group of all three and a group nobody is known in; every
// kind both layouts share, a placed message and one call of each direction.
QString sampleDesktopStore();

// Creates the layout's tables at path (its folder is made) and runs rows on them. Throws
// when the file exists already or the SQL fails.
void writeDesktopStore(const QString &rows, const QString &path, DesktopLayout layout);

} // namespace fixtures
