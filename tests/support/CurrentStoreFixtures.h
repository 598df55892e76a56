#pragma once

#include <QString>

// Current Viber stores, made from one in the phone layout: members with numbers of their own,
// conversations naming their other party, message metadata, the message index with its
// triggers, an empty change history, write-ahead log, Z_MAX 100 above the rows.
namespace fixtures {

enum class CurrentLinks {
    JoinTable,     // attachments linked only through the join table of the two entities
    MessageColumn, // through ZVIBERMESSAGE.ZATTACHMENT and the join table
};

// Rewrites the store at storePath; throws on failure.
void toCurrentStore(const QString &storePath, CurrentLinks links);
// A store toCurrentStore made, as in 2016-2017: no message metadata, names only in display columns,
// 4915444444444's recents line by number alone, a call (900, 34 s) on a line of an unknown number
// and a Viber Out call (901, 131 s) on no line.
void toOlderMemberStore(const QString &storePath);

} // namespace fixtures
