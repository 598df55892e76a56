#pragma once

#include "ContainerDelivery.h"

#include "itunes/BackupFileItem.h"

#include <QList>
#include <QString>

// Files for Viber's container listed as items of the phone's backup, to be written
// into it and restored onto the phone. viberFolder is the cached copy of the
// container the files were read from.
class BackupItems : public ContainerDelivery
{
public:
    static constexpr const char *kViberDomain = "AppDomain-com.viber";

    explicit BackupItems(const QString &viberFolder) : m_viberFolder(viberFolder) {}

    void put(const QString &localPath, const QString &devicePath, bool overwrite) override;
    // A current phone keeps its store in the app group's container: it goes back
    // there, where the backup said it came from.
    void putStore(const QString &store) override;
    qint64 highestVoiceFile() override;

    const QList<BackupFileItem> &items() const { return m_items; }
    // Items whose source is from name it to instead, e.g. once a working copy took
    // its lasting name.
    void renameSource(const QString &from, const QString &to);
    void clear() { m_items.clear(); }

private:
    void add(const QString &domain, const QString &source, const QString &path, bool overwrite);

    QString m_viberFolder;
    QList<BackupFileItem> m_items;
};
