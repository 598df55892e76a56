#pragma once

#include "viber/Sqlite3DB.h"

#include <QString>

// The photo library of an iPhone ("Photos.sqlite"): where the original and the
// thumbnail of a camera-roll asset lie, by its ZUUID. The file comes from a backup
// or a phone, so it is only ever read, and nothing stored in it runs.
class IOSAssetDb : public Sqlite3DB
{
public:
    explicit IOSAssetDb(const QString &path) : m_path(path) {}

    // Every lookup opens the file on first use; an unreadable file raises
    // Sqlite3Exception naming it.
    bool exists(const QString &uuid);
    // "/<ZDIRECTORY>/<ZFILENAME>" relative to the device's "Media" folder; "" when unknown.
    QString mediaPath(const QString &uuid);
    // The thumbnail's path relative to the "Media" folder; "" when the asset is
    // unknown, not in a camera-roll folder ("...NNNAPPLE") or of another kind.
    QString thumbnailPath(const QString &uuid);

private:
    void ensureOpen();

    QString m_path;
};
