#include "ItemModelLoadBk.h"

#include "itunes/BackupManifest.h"

#include <QBrush>
#include <QColor>
#include <QImage>
#include <QLocale>
#include <QSize>

using namespace Qt::StringLiterals;

ItemModelLoadBk::_BKItemNode::_BKItemNode(std::shared_ptr<BackupManifest> manifest)
    : _ItemNode(ItemNodeBackup, manifest->displayName()), manifest(std::move(manifest))
{
}

ItemModelLoadBk::ItemModelLoadBk(QObject *parent) : AbsTreeItemModel(parent)
{
    const QImage image(u":/res/iphone.png"_s);
    if (!image.isNull())
        m_iphonePicture = QPixmap::fromImage(image.scaledToWidth(18, Qt::SmoothTransformation));
}

int ItemModelLoadBk::columnCount(const QModelIndex &) const
{
    return 3;
}

QVariant ItemModelLoadBk::data(const QModelIndex &index, int role) const
{
    const auto *node = static_cast<_BKItemNode *>(nodeOf(index));
    if (!node)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        if (index.column() == 0)
            return node->text;
        if (index.column() == 1)
            return QLocale::system().toString(node->manifest->date().toLocalTime(), QLocale::ShortFormat);
        return node->manifest->folder().absolutePath();
    case Qt::DecorationRole:
        return index.column() == 0 ? QVariant(m_iphonePicture) : QVariant();
    case Qt::BackgroundRole:
        return QBrush(index.row() % 2 == 0 ? QColor(250, 250, 250) : QColor(Qt::white));
    case Qt::SizeHintRole:
        return QSize(0, 25);
    default:
        return QVariant();
    }
}

QVariant ItemModelLoadBk::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case 0:
        return tr("IDS_BACKUP_NAME");
    case 1:
        return tr("IDS_BACKUP_DATE");
    case 2:
        return tr("IDS_BACKUP_PATH");
    default:
        return QVariant();
    }
}

ItemModelLoadBk::_BKItemNode *ItemModelLoadBk::addBackup(std::shared_ptr<BackupManifest> manifest)
{
    const QDateTime date = manifest->date();
    qsizetype row = 0;
    while (row < m_nodes.size() && !(static_cast<_BKItemNode *>(m_nodes.at(row))->manifest->date() < date))
        ++row;
    auto *node = new _BKItemNode(std::move(manifest));
    beginInsertRows(QModelIndex(), int(row), int(row));
    m_nodes.insert(row, node);
    endInsertRows();
    return node;
}

std::shared_ptr<BackupManifest> ItemModelLoadBk::manifestAt(const QModelIndex &index) const
{
    auto *node = static_cast<_BKItemNode *>(nodeOf(index));
    return node ? node->manifest : nullptr;
}

bool ItemModelLoadBk::containsCacheKey(const QString &cacheKey) const
{
    for (const _ItemNode *node : m_nodes)
        if (static_cast<const _BKItemNode *>(node)->manifest->cacheKey() == cacheKey)
            return true;
    return false;
}
