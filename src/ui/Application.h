#pragma once

#include <QString>

#include <functional>

// What start-up asks of the libraries below it; tests replace these to start
// the program against a wrong database layer or a missing device library.
struct StartupEnvironment
{
    std::function<int()> sqliteWrapperVersion;
    // False with a sentence for the log when the device library is unusable.
    std::function<bool(QString &error)> loadDeviceFramework;
};

// The real database layer and device library.
StartupEnvironment defaultStartupEnvironment();

// The whole start-up sequence: application object, translator, database layer
// check, data folder and log, device library, main window, event loop.
// Returns the process exit code.
int runChatwharf(int argc, char **argv);

// Everything after the application object, which must exist already (the test
// suites enter here). Returns 1 for a wrong database layer, otherwise the event
// loop's result once the main window is closed.
int runStartup(const StartupEnvironment &environment);
