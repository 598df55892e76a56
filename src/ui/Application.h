#pragma once

// The start-up sequence: translator, database layer check, data folder and log,
// device library, main window, event loop. Returns the process exit code.
int runChatwharf(int argc, char **argv);
