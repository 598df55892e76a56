#pragma once

#include "ViberData.h"

#include <QString>

// A small archive made up by the program itself, so that a new user sees what it
// does before trusting it with a phone: one-to-one chats and a group, pictures
// with previews, a voice message, a location, a file, calls, emoji and names
// written right to left.
namespace DemoArchive {

// The name of the local database the demo goes into.
inline constexpr const char *kDatabaseName = "Demo";

// The records, dated over the last days before now, their files written below
// folder (which must exist); raises std::runtime_error when a file cannot be written.
ViberDataPtr build(const QString &folder);

} // namespace DemoArchive
