#pragma once

#include <QDir>

// The per-user data folder: "<roaming profile>/CorVanta/<application id>", or
// "<X>/<application id>" when the redirect file
// "<roaming profile>/CorVanta/<application id>.redirect" names an existing folder X.
// Resolved on the first call and kept for the process; created (with its
// parents) on every call. Safe to call from any thread.
QDir dataFolder();

// The folder of the local databases inside the data folder, created when missing.
QDir localDatabasesFolder();

// Tests only: forgets the resolved folder so that the next call resolves it again.
void resetDataFolderForTests();
