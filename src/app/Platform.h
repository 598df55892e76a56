#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// Everything that differs between Windows and the other systems lives here.

// The user's roaming profile folder, where the maker's folder sits: on Windows
// "AppData/Roaming" (or "Application Data") under the home folder, elsewhere the
// per-user data folder of the desktop (XDG data home).
QString roamingProfileFolder();

// The folders where a desktop program may keep its per-user data under folderName:
// inside roamingProfileFolder(), and where its builds for Linux ("~/.<folderName>")
// and macOS ("~/Library/Application Support/<folderName>") keep it. Existing or not.
QStringList userAppDataFolders(const QString &folderName);

// Opens a folder in the desktop's file browser. False when nothing could open it.
bool openFolder(const QString &folderPath);

// Opens a web address or a local file with the desktop's default program.
// False when nothing could open it.
bool openUrl(const QString &urlOrPath);

// The address openUrl hands to the desktop: text with a scheme ("https:",
// "mailto:", "file:") as it stands, anything else (a path, "C:/x") as a local file.
QUrl shellUrl(const QString &urlOrPath);

// Qt WebEngine refuses to start its sandbox for the root user and the program
// would show no bubbles: for root, the sandbox switch is turned off before the
// application object exists (unless the environment already decides it).
void prepareWebEngineForUser();

// Asks the system to write everything written so far to the file system holding
// path onto its disk, and waits. False when it could not. Copies of many files
// call this once instead of flushing each file.
bool syncFileSystem(const QString &path);

// Renames source to target in one step, replacing a file already at target (which
// QFile::rename refuses). False when it could not.
bool renameOver(const QString &source, const QString &target);

// Whether standard input and standard error are terminals (a person at a console).
bool stdinIsTerminal();
bool stderrIsTerminal();

// Reads a line from the terminal of standard input without showing what is typed,
// after writing prompt to standard error. ok is false when input ended first.
QString readHiddenLine(const QString &prompt, bool *ok);

// Exports and lists turn a million store times into local times. Without TZ the C
// library looks at the zone file again for each; naming the system's own zone file
// in TZ, unless the environment names a zone already, lets it read the file once.
// Called first thing in a program's main.
void settleLocalTimeZone();
