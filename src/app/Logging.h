#pragma once

#include <QString>
#include <QtGlobal>

// The daily log: "log-yyyyMMdd.txt" in the log folder, one line per Qt message,
// "(W 14:03:07) text" and the like. Set up once at start-up; messages before that
// go nowhere. The handler may be called from any thread.

// Remembers the log folder, deletes the oldest daily logs beyond the newest
// keepCount, and installs logMessageHandler for the whole process.
void setupLogging(const QString &logFolder, int keepCount);
// Debug messages are echoed to standard output too, unless a program whose output
// is its result (the command line) turns that off.
void setLogEcho(bool echo);

// Deletes the oldest "log-*.txt" files of folder so that keepCount remain
// (names sort by date). Other files in the folder are left alone.
void pruneLogFolder(const QString &logFolder, int keepCount);

// The process-wide Qt message handler. Opens the day's file on the first message
// (creating the folder), appends the line and flushes it; debug messages are also
// printed to standard output. Silently drops messages when the file cannot be
// opened. Aborts the process after a fatal message.
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);

// One log line, ended by a line feed: "(D %1) %2", "(W ...)", "(C ...)", "(F ...)",
// or "(%1) %2" for any other type (info).
QString formatLogLine(QtMsgType type, const QString &time, const QString &message);

// Path of the open log file ("" before the first message or when it failed).
QString currentLogFilePath();

// Tests only: closes the log file and forgets the folder, so that messages are
// dropped until setupLogging runs again.
void resetLoggingForTests();
