#pragma once

#include <QString>

// Paths of a Viber store's files. Names inside a store (attachment names and ids,
// icon ids, phone numbers) come from a phone or a backup the user does not control,
// so every path built from them goes through childPath, which refuses any result
// that would leave its folder. Readers, writers and copiers share these rules.
namespace StorePaths {

// Folders of a store, relative to its root.
inline constexpr const char *kAttachments = "Documents/Attachments";
inline constexpr const char *kAttachmentsPreview = "Documents/AttachmentsPreview";
inline constexpr const char *kBigAttachmentsPreview = "Documents/BigAttachmentsPreview";
inline constexpr const char *kVoiceMessages = "Documents/VoiceMessages";
inline constexpr const char *kCustomLocationImage = "Documents/CustomLocationImage";
inline constexpr const char *kStickers = "Documents/stickers";
inline constexpr const char *kContactIcons = "Documents/ContactIcons";
inline constexpr const char *kViberIcons = "Documents/ViberIcons";

// base joined with relative, cleaned, with forward slashes. Returns "" when the
// result would not lie strictly inside base: relative is empty, absolute (a
// leading "/" or "\", a drive letter), holds a NUL, or climbs out with "..".
// Backslashes count as separators, since the files may end up on Windows.
// base itself may be absolute ("/home/u/db"), device-relative ("/Documents") or
// relative ("Documents/Attachments").
QString childPath(const QString &base, const QString &relative);

// childPath of base joined with folder (one of the folders above), so that a name
// can never step from its own folder into another one of the store. Where base
// exists on disk, symbolic links are followed too: a path whose folder or file is a
// link leading out of base gives "" as well.
// With isFile, also whether the path is a file (through a link too), from the same
// look at it where possible: a load asks this of every attachment's preview.
QString fileInFolder(const QString &base, const char *folder, const QString &name, bool *isFile = nullptr);

// Whether path, with every symbolic link on the way resolved, lies inside base (or
// is base). A path not yet on disk is judged by its deepest existing folder; a link
// to nowhere is refused. True when base itself does not exist.
bool resolvesInside(const QString &base, const QString &path);

// fileInFolder remembers which folders it found inside their base; a run that reads
// or writes a store starts by forgetting that, so that links made since count.
void forgetResolvedFolders();

// While one lives on a thread, fileInFolder answers from one listing of each folder
// it meets instead of a look at each file, with the folders as they were when first
// listed: a load asks of every attachment, and those looks were a fifth of its time.
class FolderListings
{
public:
    FolderListings();
    ~FolderListings();
    FolderListings(const FolderListings &) = delete;
    FolderListings &operator=(const FolderListings &) = delete;

private:
    bool m_owner = false; // the outermost of nested ones keeps the listings
};
// Name of a shared location's map picture in kCustomLocationImage: "%1_%2.jpg" with
// the latitude in 8 significant digits, padded with "0" to 6 decimals, and the
// longitude truncated to an integer.
QString locationImageName(double latitude, double longitude);

// Path of a sticker picture relative to kStickers: "%1/100/%2.png", %1 the sticker
// number rounded down to hundreds, %2 the id padded with "0" to 8 characters.
QString stickerRelativePath(const QString &attId);

// Where a folder a user chose holds its store: the store's root (the folder its
// "Documents/..." files lie below) and the store file relative to that root. The
// folder may be an app's container (holding "Documents/Contacts.data"), its
// Documents folder, a folder holding "Contacts.data", or one holding
// "com.viber/database/Contacts.data"; or it may be that "Contacts.data" itself.
// False when none is there.
bool findStoreFile(const QString &folder, QString *root, QString *fileName);

} // namespace StorePaths
