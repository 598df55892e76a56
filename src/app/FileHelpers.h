#pragma once

#include <QFileDevice>
#include <QString>

#include <memory>

// wantedPath when nothing exists there; otherwise the first free name of the
// series base(1).suffix, base(2).suffix, ... in the same folder, base being the
// name up to its first dot and suffix the text after its last dot
// ("a.b.txt" -> "a(1).txt", "README" -> "README(1)").
QString uniqueFilePath(const QString &wantedPath);

// text without the characters no file system accepts in a name
// (\ / : * ? " < > | and line feed, carriage return, tab), trimmed.
QString sanitizeFileName(const QString &text);

// A name for a file an export makes from store text: sanitizeFileName of the
// text without invisible format characters (direction controls and the like),
// with white space as plain spaces, at most maxLength characters (so that the
// name fits in a file system's 255 bytes with room for a suffix) and without
// leading dots. Empty when nothing is left.
QString exportFileName(const QString &text, qsizetype maxLength = 60);

// The name a copy of the file fileName (a name or a path: only its last part
// counts) gets in an export: exportFileName of its base name, then "." and
// exportFileName of its suffix (at most 16 characters), so that a long name from a
// store is shortened and still keeps the extension that tells what it is.
// emptyBase stands in for a base name of which nothing is left; without one such a
// name gives "".
QString exportCopyName(const QString &fileName, const QString &emptyBase = QString());

// Deletes the folder and everything in it; a missing folder (or an empty path)
// is a no-op and failures are ignored. Symbolic links are removed, never
// followed, so nothing outside the folder is touched.
void removeFolderTree(const QString &folderPath);

// MD5 of the text's UTF-8 bytes as 32 lower-case hex digits.
QString md5Hex(const QString &text);

// Modes of what holds another person's chats in clear (a decrypted backup):
// the user alone may enter, read or write it.
inline constexpr QFileDevice::Permissions kPrivateFolderMode =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
inline constexpr QFileDevice::Permissions kPrivateFileMode = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// Creates the folder and its missing parents, each new one with kPrivateFolderMode
// from the start; folders that exist keep their mode. True when it is a folder afterwards.
bool makePrivatePath(const QString &folderPath);

// A new folder below parent (made privately when missing), named prefix followed by
// random letters, made with kPrivateFolderMode by one mkdir that fails where anything
// exists, so that no other run shares it. Empty when it cannot be made.
QString makeUniquePrivateFolder(const QString &parent, const QString &prefix);

// Holds a folder for as long as a copy of the result lives; the last copy to go
// removes the folder with everything in it (removeFolderTree).
std::shared_ptr<void> folderLease(const QString &folderPath);

// Writes bytes as the whole of the file at path, flushed; raises a sentence naming the
// file (std::runtime_error, UTF-8) when it cannot.
void writeWholeFile(const QString &path, const QByteArray &bytes);
