#pragma once

#include <QByteArray>
#include <QString>

// What a media file is, told by its first bytes rather than by its name: stores
// keep voice notes and videos under names without an extension, or with one no
// player knows (".viber_voice").
namespace MediaType {

// The extension the content shows: "m4a", "aac", "opus", "ogg", "amr", "mp4",
// "mov", "3gp", "jpg", "png", "gif", "webp", "heic"; empty when the bytes say
// nothing known. An MP4 file holding sound alone says "m4a".
QString extensionOf(const QByteArray &head);
// The same for the file at path (its first bytes); empty when it cannot be read.
QString extensionOfFile(const QString &path);
// The extension a copy of the file should carry: the content's, unless the name's
// own is another name of the same content (".jpeg" for "jpg", ".m4a" for an MP4).
// audio: the file is a voice note, so an MP4 of it is "m4a". When neither the
// content nor the path tells, the extension of name (the store's name for it).
QString copyExtension(const QString &path, bool audio = false, const QString &name = QString());

bool isAudioExtension(const QString &extension);
bool isVideoExtension(const QString &extension);

} // namespace MediaType
