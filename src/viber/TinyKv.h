#pragma once

#include <QByteArray>
#include <QVariantMap>

// The compact key/value form in which records carry store columns that have no
// field of their own: "tinykv", then key/value pairs until the data ends.
namespace tinykv {

// Returns false (and leaves out empty) for values that cannot be written.
bool serialize(const QVariantMap &map, QByteArray &out);
QByteArray serialize(const QVariantMap &map);

// Bytes come from store files: any malformed input gives an empty map and false.
bool deserialize(const QByteArray &data, QVariantMap &out);
QVariantMap deserialize(const QByteArray &data);

} // namespace tinykv
