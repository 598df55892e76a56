#pragma once

#include "AbsTreeItemModel.h"

#include <QPixmap>

#include <memory>

class BackupManifest;

// The flat list of iTunes backups to choose from, newest first: Name, Backup
// Date, Path.
class ItemModelLoadBk : public AbsTreeItemModel
{
    Q_OBJECT
public:
    static constexpr qint32 ItemNodeBackup = 20;

    struct _BKItemNode : _ItemNode
    {
        explicit _BKItemNode(std::shared_ptr<BackupManifest> manifest);
        std::shared_ptr<BackupManifest> manifest;
    };

    explicit ItemModelLoadBk(QObject *parent = nullptr);

    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Inserts the backup before the first one of an earlier date (the list stays
    // newest first; equal dates keep the order of adding) and returns its node.
    _BKItemNode *addBackup(std::shared_ptr<BackupManifest> manifest);
    // The backup of a row; null outside the list.
    std::shared_ptr<BackupManifest> manifestAt(const QModelIndex &index) const;
    // Whether a listed backup has this cache key (the same folder).
    bool containsCacheKey(const QString &cacheKey) const;

private:
    QPixmap m_iphonePicture;
};
