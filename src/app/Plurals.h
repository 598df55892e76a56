#pragma once

#include <QString>

// Counts as the user reads them, "1 message", "2 messages", for the sentences
// that name two counts at once (a translator's %n takes only one).
namespace Plurals {

QString messages(qint64 count);
QString calls(qint64 count);

} // namespace Plurals
