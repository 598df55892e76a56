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
// A store toCurrentStore made, as the stores of 2016-2017 had it: no message metadata, names only in the
// members' display columns, the recents line of 4915444444444 with the number alone, a call (900, 34 s) on a
// line of a number nobody has, and a Viber Out call (901, 131 s) on no line.
void toOlderMemberStore(const QString &storePath);

} // namespace fixtures
