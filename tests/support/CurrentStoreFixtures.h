#pragma once

#include <QString>

// Current Viber stores, made from a store written in the phone layout (see
// StoreFixtures): participants become members with their numbers in a table of their
// own, conversations name their other party, messages gain metadata, and the store
// gets the message index with its triggers, the app's change history (empty) and the
// write-ahead log. Keys of every entity's Z_MAX are raised by 100 above the rows, as
// after the app deleted some.
namespace fixtures {

enum class CurrentLinks {
    JoinTable,     // attachments linked only through the join table of the two entities
    MessageColumn, // through ZVIBERMESSAGE.ZATTACHMENT and the join table
};

// Rewrites the store at storePath; throws on failure.
void toCurrentStore(const QString &storePath, CurrentLinks links);

} // namespace fixtures
