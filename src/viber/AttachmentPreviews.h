#pragma once

#include "ViberData.h"

// Previews of pictures, made where a store has none, so that a chat shows small
// pictures instead of decoding every full one. IOSViberDb::load() only says where a
// preview lies or belongs (previewPath); making the missing ones is this unit's.
namespace AttachmentPreviews {

// For every attachment of data whose previewPath names no file but whose file is a
// JPEG or PNG picture: saves it there scaled to 400 px on its longer side. A file
// that is no picture (a video), or a failed save, costs only the preview: the view
// falls back to the file.
void makeMissing(const ViberData &data);

// The name of the preview of an attachment file, in a store's preview folders: a
// picture's is its own name, a video's its base name (up to the first dot) with
// ".jpg". Empty for other kinds, and for a video whose name starts with a dot.
// Reader, copy, device load and transfer all name previews through this.
QString previewName(ViberMsgType type, const QString &fileName);

} // namespace AttachmentPreviews
