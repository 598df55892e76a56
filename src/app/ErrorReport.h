#pragma once

#include <QString>

// Records the report that follows an error box: the error text with the program
// version and the system, written to the log (there is no network report).
void sendErrorReport(const QString &error);
