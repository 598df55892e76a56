#include "AbsTreeItemModel.h"

AbsTreeItemModel::_ItemNode::_ItemNode(qint32 kind, const QString &text) : kind(kind), text(text) {}

AbsTreeItemModel::_ItemNode::~_ItemNode()
{
    qDeleteAll(children);
}

AbsTreeItemModel::AbsTreeItemModel(QObject *parent) : QAbstractItemModel(parent) {}

AbsTreeItemModel::~AbsTreeItemModel()
{
    qDeleteAll(m_nodes);
}

QModelIndex AbsTreeItemModel::index(int row, int column, const QModelIndex &parent) const
{
    if (!hasIndex(row, column, parent))
        return QModelIndex();
    const QList<_ItemNode *> &list = parent.isValid() ? nodeOf(parent)->children : m_nodes;
    _ItemNode *node = list.at(row);
    node->row = row;
    node->column = column;
    node->self = node;
    node->model = this;
    return createIndex(row, column, node);
}

QModelIndex AbsTreeItemModel::parent(const QModelIndex &child) const
{
    _ItemNode *node = nodeOf(child);
    if (!node || !node->parent)
        return QModelIndex();
    return indexOf(node->parent);
}

int AbsTreeItemModel::rowCount(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return m_nodes.size();
    // Only column 0 has children, as the views expect of a tree.
    if (parent.column() != 0)
        return 0;
    return nodeOf(parent)->children.size();
}

AbsTreeItemModel::_ItemNode *AbsTreeItemModel::nodeOf(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    return static_cast<_ItemNode *>(index.internalPointer());
}

const QList<AbsTreeItemModel::_ItemNode *> &AbsTreeItemModel::siblingsOf(const _ItemNode *node) const
{
    return node->parent ? node->parent->children : m_nodes;
}

QModelIndex AbsTreeItemModel::indexOf(_ItemNode *node) const
{
    if (!node)
        return QModelIndex();
    const QList<_ItemNode *> &siblings = siblingsOf(node);
    // The cached row goes stale when an earlier sibling is removed; reuse it only
    // while it still points at the node.
    int row = node->row;
    if (node->model != this || row < 0 || row >= siblings.size() || siblings.at(row) != node)
        row = siblings.indexOf(node);
    if (row < 0)
        return QModelIndex();
    node->row = row;
    node->column = 0;
    node->self = node;
    node->model = this;
    return createIndex(row, 0, node);
}

void AbsTreeItemModel::appendNode(_ItemNode *parent, _ItemNode *node)
{
    QList<_ItemNode *> &list = parent ? parent->children : m_nodes;
    const int row = list.size();
    beginInsertRows(indexOf(parent), row, row);
    node->parent = parent;
    list.append(node);
    endInsertRows();
}

void AbsTreeItemModel::removeChildren(_ItemNode *node)
{
    QList<_ItemNode *> &list = node ? node->children : m_nodes;
    if (list.isEmpty())
        return;
    beginRemoveRows(indexOf(node), 0, list.size() - 1);
    const QList<_ItemNode *> gone = list;
    list.clear();
    endRemoveRows();
    qDeleteAll(gone);
}

void AbsTreeItemModel::removeNode(_ItemNode *node)
{
    if (!node)
        return;
    removeChildren(node);
    QList<_ItemNode *> &list = node->parent ? node->parent->children : m_nodes;
    const int row = list.indexOf(node);
    if (row < 0)
        return;
    beginRemoveRows(indexOf(node->parent), row, row);
    list.removeAt(row);
    endRemoveRows();
    delete node;
}

QList<AbsTreeItemModel::_ItemNode *> AbsTreeItemModel::collectNodes(_ItemNode *root) const
{
    QList<_ItemNode *> out;
    QList<_ItemNode *> stack;
    if (root) {
        stack.append(root);
    } else {
        for (auto it = m_nodes.crbegin(); it != m_nodes.crend(); ++it)
            stack.append(*it);
    }
    while (!stack.isEmpty()) {
        _ItemNode *node = stack.takeLast();
        out.append(node);
        for (auto it = node->children.crbegin(); it != node->children.crend(); ++it)
            stack.append(*it);
    }
    return out;
}

void AbsTreeItemModel::refreshNode(_ItemNode *node)
{
    const QModelIndex first = indexOf(node);
    if (!first.isValid())
        return;
    QModelIndex last = first;
    if (!node->children.isEmpty())
        last = indexOf(node->children.last());
    emit dataChanged(first, first);
    if (last != first)
        emit dataChanged(indexOf(node->children.first()), last);
}

int AbsTreeItemModel::countNodes(_ItemNode *under, qint32 kind) const
{
    int count = 0;
    const QList<_ItemNode *> nodes = collectNodes(under);
    for (const _ItemNode *node : nodes)
        if (node != under && node->kind == kind)
            ++count;
    return count;
}
