#pragma once

#include "AbsTreeItemModel.h"

#include "viber/ViberData.h"

#include <QPixmap>

// What is known of a device when its node is made: a connected iPhone's values
// and handle, or for a stored copy its folder name and folder (handle null).
struct IOSDeviceDesc
{
    QString name;
    QString productType;
    QString productVersion;
    QString countryCode;
    QString udid; // the unique device id; the folder path for a stored copy
    QString path; // folder of the loaded store copy ("" before loading)
    void *handle = nullptr;
    // Holds the copy decrypted from an encrypted device backup: removed when the node goes.
    QString privateFolder = {};
};

// Node kinds; the numbers are those the window's rules are written in.
enum ItemNodeKind : qint32 {
    ItemNodeRootDevice = 1,
    ItemNodeRootLocalDb = 2,
    ItemNodeIOSDevice = 3,
    ItemNodeLocalDb = 5,
    ItemNodeChatSession = 6,
    ItemNodeRootOpened = 7,
    ItemNodeOpened = 8,
};

struct _RootDeviceItemNode : AbsTreeItemModel::_ItemNode
{
    explicit _RootDeviceItemNode(const QString &text);
};

// A source: it holds the records of one loaded store.
struct _AbsDBItemNode : AbsTreeItemModel::_ItemNode
{
    _AbsDBItemNode(qint32 kind, const QString &text);
    ViberDataPtr data;
};

struct _IOSDeviceItemNode : _AbsDBItemNode
{
    explicit _IOSDeviceItemNode(const IOSDeviceDesc &desc);
    IOSDeviceDesc desc;
};

struct _LocalDbItemNode : _AbsDBItemNode
{
    explicit _LocalDbItemNode(const QString &name);
    bool loaded = false; // the store was read into data
};

// A source the user opened to read in place: a store folder, an iTunes backup or
// a Viber Desktop database. Nothing is ever written into it.
struct _OpenedItemNode : _AbsDBItemNode
{
    enum What { StoreFolder, ITunesBackup, ViberDesktop };
    _OpenedItemNode(What what, const QString &text, const QString &path);
    What what;
    QString path; // the folder or file opened, as the tool tip shows it
};

struct _ChatSessionItemNode : AbsTreeItemModel::_ItemNode
{
    explicit _ChatSessionItemNode(_ViberChat *chat);
    _ViberChat *chat; // owned by the source's data
    // Scaled picture, made on first display (contact pictures are files).
    mutable QPixmap picture;
    mutable bool pictureMade = false;
};

// The tree of sources: [Devices, Local Databases, Backups and Folders], sources
// under them and each source's chats under it, most recent first.
class ItemModelMain : public AbsTreeItemModel
{
    Q_OBJECT
public:
    explicit ItemModelMain(QObject *parent = nullptr);

    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    _ItemNode *rootDevice() const { return m_rootDevice; }
    _ItemNode *rootLocalDb() const { return m_rootLocalDb; }
    _ItemNode *rootOpened() const { return m_rootOpened; }

    _IOSDeviceItemNode *addDeviceNode(const IOSDeviceDesc &desc);
    _LocalDbItemNode *addLocalDbNode(const QString &name);
    // Named name, or, when another opened source has that name, name with the
    // folder it lies in, so that two are told apart.
    _OpenedItemNode *addOpenedNode(_OpenedItemNode::What what, const QString &name, const QString &path);
    QList<_OpenedItemNode *> openedNodes() const;
    _OpenedItemNode *findOpened(const QString &path) const;
    // Rebuilds the chat nodes of a source from its data.
    void setChats(_AbsDBItemNode *source);

    QList<_IOSDeviceItemNode *> deviceNodes() const;
    QList<_LocalDbItemNode *> localDbNodes() const;
    QStringList localDbNames() const;
    // The local database node of that name, letter case ignored; null when none.
    _LocalDbItemNode *findLocalDb(const QString &name) const;
    _IOSDeviceItemNode *findDevice(void *handle) const;
    // Attached phones other than source (which may be null): stored copies among the
    // devices take no transfer.
    int attachedPhonesBesides(const _AbsDBItemNode *source) const;

    // The source a node belongs to (itself, or a chat's parent); null for roots.
    static _AbsDBItemNode *sourceOf(_ItemNode *node);
    static bool isSource(const _ItemNode *node);

    // The picture of a one-to-one chat's contact (JPEG, else PNG); null when none loads.
    static QPixmap contactPicture(const _ViberChat *chat);

private:
    QPixmap kindPicture(const QString &resource) const;

    _ItemNode *m_rootDevice;
    _ItemNode *m_rootLocalDb;
    _ItemNode *m_rootOpened;
    QPixmap m_devicesPicture;
    QPixmap m_databasesPicture;
    QPixmap m_iphonePicture;
    QPixmap m_databasePicture;
    QPixmap m_folderPicture;
    QPixmap m_backupPicture;
    QPixmap m_groupPicture;
    QPixmap m_contactPicture;
};
