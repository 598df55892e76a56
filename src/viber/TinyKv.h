#pragma once

#include <QByteArray>
#include <QVariantMap>

// The compact key/value form in which records carry store columns that have no
// field of their own: "tinykv", then key/value pairs until the data ends.
namespace tinykv {

// Returns false (and leaves out empty) for values that cannot be written.
bool serialize(const QVariantMap &map, QByteArray &out);
QByteArray serialize(const QVariantMap &map);

// Bytes come from store files. Reading stops without error where no further key
// can be read, keeping the entries before it; any other malformed input (wrong
// magic, unknown type, a value cut short) gives an empty map and false.
bool deserialize(const QByteArray &data, QVariantMap &out);
QVariantMap deserialize(const QByteArray &data);

} // namespace tinykv
