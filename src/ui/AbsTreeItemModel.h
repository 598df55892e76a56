#pragma once

#include <QAbstractItemModel>
#include <QList>
#include <QString>

// A small generic tree model whose nodes own their children; the model owns the
// top-level nodes. Subclasses give the columns and the data.
class AbsTreeItemModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    // Base of every node. The index fields are what the last index made for the
    // node said; they are checked against the tree before reuse.
    struct _ItemNode
    {
        _ItemNode(qint32 kind, const QString &text);
        virtual ~_ItemNode();
        _ItemNode(const _ItemNode &) = delete;
        _ItemNode &operator=(const _ItemNode &) = delete;

        qint32 kind;
        QString text;
        qint32 row = -1;
        qint32 column = -1;
        _ItemNode *self = nullptr;
        const QAbstractItemModel *model = nullptr;
        _ItemNode *parent = nullptr;
        QList<_ItemNode *> children;
    };

    explicit AbsTreeItemModel(QObject *parent = nullptr);
    ~AbsTreeItemModel() override;

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;

    // The node behind an index of this model; null for the invisible root.
    _ItemNode *nodeOf(const QModelIndex &index) const;
    // The index of a node of this model (column 0); invalid for null.
    QModelIndex indexOf(_ItemNode *node) const;

    // Appends node (taking ownership) under parent, or at the top level for null.
    void appendNode(_ItemNode *parent, _ItemNode *node);
    // Deletes every child of node (every top-level node for null).
    void removeChildren(_ItemNode *node);
    // Deletes node with its subtree.
    void removeNode(_ItemNode *node);
    // Every node of the subtree of root (of the whole tree for null), depth first,
    // parents before their children.
    QList<_ItemNode *> collectNodes(_ItemNode *root) const;
    // Tells the views that node and its children changed.
    void refreshNode(_ItemNode *node);
    // Nodes of the kind in the subtree below under (the whole tree for null).
    int countNodes(_ItemNode *under, qint32 kind) const;

    const QList<_ItemNode *> &topLevelNodes() const { return m_nodes; }

protected:
    const QList<_ItemNode *> &siblingsOf(const _ItemNode *node) const;

    QList<_ItemNode *> m_nodes;
};
