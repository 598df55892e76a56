#include "ItemModelMain.h"

#include "export/MessageText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QSize>
#include <QTextDocument>

#include <algorithm>

namespace {

constexpr int kPictureWidth = 18;
constexpr int kRowHeight = 25;

QPixmap scaledToWidth(const QImage &image)
{
    if (image.isNull())
        return QPixmap();
    return QPixmap::fromImage(image.scaledToWidth(kPictureWidth, Qt::SmoothTransformation));
}

} // namespace

_RootDeviceItemNode::_RootDeviceItemNode(const QString &text) : _ItemNode(ItemNodeRootDevice, text) {}

_AbsDBItemNode::_AbsDBItemNode(qint32 kind, const QString &text)
    : _ItemNode(kind, text), data(makeEmptyViberData())
{
}

_IOSDeviceItemNode::_IOSDeviceItemNode(const IOSDeviceDesc &desc)
    : _AbsDBItemNode(ItemNodeIOSDevice, desc.name), desc(desc)
{
}

_LocalDbItemNode::_LocalDbItemNode(const QString &name) : _AbsDBItemNode(ItemNodeLocalDb, name) {}

_OpenedItemNode::_OpenedItemNode(What what, const QString &text, const QString &path)
    : _AbsDBItemNode(ItemNodeOpened, text), what(what), path(path)
{
}

_ChatSessionItemNode::_ChatSessionItemNode(_ViberChat *chat)
    : _ItemNode(ItemNodeChatSession, MessageText::chatTitle(chat)), chat(chat)
{
}

ItemModelMain::ItemModelMain(QObject *parent)
    : AbsTreeItemModel(parent),
      m_rootDevice(new _RootDeviceItemNode(QCoreApplication::translate("ItemModelMain", "IDS_ROOT_DEVICE"))),
      m_rootLocalDb(new _ItemNode(ItemNodeRootLocalDb,
                                  QCoreApplication::translate("ItemModelMain", "IDS_ROOT_LOCALDB"))),
      m_rootOpened(
          new _ItemNode(ItemNodeRootOpened, QCoreApplication::translate("ItemModelMain", "IDS_ROOT_OPENED"))),
      m_devicesPicture(kindPicture(QStringLiteral(":/res/devices.png"))),
      m_databasesPicture(kindPicture(QStringLiteral(":/res/databases.png"))),
      m_iphonePicture(kindPicture(QStringLiteral(":/res/iphone.png"))),
      m_databasePicture(kindPicture(QStringLiteral(":/res/database.png"))),
      m_folderPicture(kindPicture(QStringLiteral(":/res/open_db_folder.png"))),
      m_backupPicture(kindPicture(QStringLiteral(":/res/load_itunes.png"))),
      m_groupPicture(kindPicture(QStringLiteral(":/res/group.png"))),
      m_contactPicture(kindPicture(QStringLiteral(":/res/contact.png")))
{
    m_nodes << m_rootDevice << m_rootLocalDb << m_rootOpened;
}

QPixmap ItemModelMain::kindPicture(const QString &resource) const
{
    return scaledToWidth(QImage(resource));
}

int ItemModelMain::columnCount(const QModelIndex &) const
{
    return 1;
}

QVariant ItemModelMain::headerData(int, Qt::Orientation, int) const
{
    return QVariant();
}

QPixmap ItemModelMain::contactPicture(const _ViberChat *chat)
{
    if (!chat || chat->participants.size() != 1)
        return QPixmap();
    const _ViberPerson *person = chat->participants.cbegin().value();
    if (!person || person->contactIconPath.isEmpty() || !QFileInfo(person->contactIconPath).isFile())
        return QPixmap();
    // Contact pictures are JPEG files whatever their name; some are PNG.
    QImage image(person->contactIconPath, "JPG");
    if (image.isNull())
        image = QImage(person->contactIconPath, "PNG");
    return QPixmap::fromImage(image);
}

QVariant ItemModelMain::data(const QModelIndex &index, int role) const
{
    _ItemNode *node = nodeOf(index);
    if (!node)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        return node->text;
    case Qt::ToolTipRole:
        // Tool tips guess rich text; names from a store are shown as they are. An
        // opened source says where it lies.
        return Qt::convertFromPlainText(
            node->kind == ItemNodeOpened
                ? QDir::toNativeSeparators(static_cast<_OpenedItemNode *>(node)->path)
                : node->text,
            Qt::WhiteSpaceNormal);
    case Qt::DecorationRole:
        switch (node->kind) {
        case ItemNodeRootDevice:
            return m_devicesPicture;
        case ItemNodeRootLocalDb:
            return m_databasesPicture;
        case ItemNodeIOSDevice:
            return m_iphonePicture;
        case ItemNodeLocalDb:
            return m_databasePicture;
        case ItemNodeRootOpened:
            return m_folderPicture;
        case ItemNodeOpened:
            switch (static_cast<_OpenedItemNode *>(node)->what) {
            case _OpenedItemNode::ITunesBackup:
                return m_backupPicture;
            case _OpenedItemNode::ViberDesktop:
                return m_databasePicture;
            case _OpenedItemNode::StoreFolder:
                return m_folderPicture;
            }
            return QVariant();
        case ItemNodeChatSession: {
            auto *chatNode = static_cast<_ChatSessionItemNode *>(node);
            if (!chatNode->chat || chatNode->chat->participants.size() != 1)
                return m_groupPicture;
            if (!chatNode->pictureMade) {
                chatNode->pictureMade = true;
                const QPixmap picture = contactPicture(chatNode->chat);
                if (!picture.isNull())
                    chatNode->picture = picture.scaledToWidth(kPictureWidth, Qt::SmoothTransformation);
            }
            return chatNode->picture.isNull() ? m_contactPicture : chatNode->picture;
        }
        default:
            return QVariant();
        }
    case Qt::SizeHintRole:
        return QSize(0, kRowHeight);
    default:
        return QVariant();
    }
}

_IOSDeviceItemNode *ItemModelMain::addDeviceNode(const IOSDeviceDesc &desc)
{
    auto *node = new _IOSDeviceItemNode(desc);
    appendNode(m_rootDevice, node);
    return node;
}

_LocalDbItemNode *ItemModelMain::addLocalDbNode(const QString &name)
{
    auto *node = new _LocalDbItemNode(name);
    appendNode(m_rootLocalDb, node);
    return node;
}

void ItemModelMain::setChats(_AbsDBItemNode *source)
{
    if (!source)
        return;
    removeChildren(source);
    if (!source->data)
        return;
    QList<_ViberChat *> chats = source->data->chats.values();
    // Most recent first; the key keeps chats of one date in a fixed order.
    std::sort(chats.begin(), chats.end(), [](const _ViberChat *a, const _ViberChat *b) {
        if (a->date != b->date)
            return chatDateGreater(a, b);
        return a->id < b->id;
    });
    if (chats.isEmpty())
        return;
    beginInsertRows(indexOf(source), 0, chats.size() - 1);
    for (_ViberChat *chat : chats) {
        auto *node = new _ChatSessionItemNode(chat);
        node->parent = source;
        source->children.append(node);
    }
    endInsertRows();
}

_OpenedItemNode *ItemModelMain::addOpenedNode(_OpenedItemNode::What what, const QString &name,
                                              const QString &path)
{
    QString text = name;
    for (const _OpenedItemNode *other : openedNodes()) {
        if (other->text.compare(name, Qt::CaseInsensitive) == 0) {
            text =
                QStringLiteral("%1 (%2)").arg(name, QDir::toNativeSeparators(QFileInfo(path).absolutePath()));
            break;
        }
    }
    auto *node = new _OpenedItemNode(what, text, path);
    appendNode(m_rootOpened, node);
    return node;
}

QList<_OpenedItemNode *> ItemModelMain::openedNodes() const
{
    QList<_OpenedItemNode *> out;
    for (_ItemNode *node : m_rootOpened->children)
        out.append(static_cast<_OpenedItemNode *>(node));
    return out;
}

_OpenedItemNode *ItemModelMain::findOpened(const QString &path) const
{
    for (_OpenedItemNode *node : openedNodes())
        if (QDir::cleanPath(node->path) == QDir::cleanPath(path))
            return node;
    return nullptr;
}

QList<_IOSDeviceItemNode *> ItemModelMain::deviceNodes() const
{
    QList<_IOSDeviceItemNode *> out;
    for (_ItemNode *node : m_rootDevice->children)
        if (node->kind == ItemNodeIOSDevice)
            out.append(static_cast<_IOSDeviceItemNode *>(node));
    return out;
}

QList<_LocalDbItemNode *> ItemModelMain::localDbNodes() const
{
    QList<_LocalDbItemNode *> out;
    for (_ItemNode *node : m_rootLocalDb->children)
        if (node->kind == ItemNodeLocalDb)
            out.append(static_cast<_LocalDbItemNode *>(node));
    return out;
}

QStringList ItemModelMain::localDbNames() const
{
    QStringList names;
    for (const _LocalDbItemNode *node : localDbNodes())
        names.append(node->text);
    return names;
}

_LocalDbItemNode *ItemModelMain::findLocalDb(const QString &name) const
{
    for (_LocalDbItemNode *node : localDbNodes())
        if (node->text.compare(name, Qt::CaseInsensitive) == 0)
            return node;
    return nullptr;
}

_IOSDeviceItemNode *ItemModelMain::findDevice(void *handle) const
{
    if (!handle)
        return nullptr;
    for (_IOSDeviceItemNode *node : deviceNodes())
        if (node->desc.handle == handle)
            return node;
    return nullptr;
}

bool ItemModelMain::isSource(const _ItemNode *node)
{
    return node &&
           (node->kind == ItemNodeIOSDevice || node->kind == ItemNodeLocalDb || node->kind == ItemNodeOpened);
}

_AbsDBItemNode *ItemModelMain::sourceOf(_ItemNode *node)
{
    if (node && node->kind == ItemNodeChatSession)
        node = node->parent;
    return isSource(node) ? static_cast<_AbsDBItemNode *>(node) : nullptr;
}

int ItemModelMain::attachedPhonesBesides(const _AbsDBItemNode *source) const
{
    int n = 0;
    for (const _IOSDeviceItemNode *node : deviceNodes())
        if (node->desc.handle && node != source)
            ++n;
    return n;
}
