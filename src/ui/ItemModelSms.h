#pragma once

#include "viber/ViberData.h"

#include <QAbstractItemModel>
#include <QList>
#include <QPixmap>

// The flat list of the messages being shown: Date, Flag, Contact, Content. The
// messages belong to the source's data, which outlives the list's use of them.
class ItemModelSms : public QAbstractItemModel
{
    Q_OBJECT
public:
    explicit ItemModelSms(QObject *parent = nullptr);

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    void setMessages(const QList<_ViberMsg *> &messages);
    void clear();
    const QList<_ViberMsg *> &messages() const { return m_messages; }
    // The message of a row; null outside the list.
    _ViberMsg *message(int row) const;

    // The texts of the four columns, also used by the tests.
    static QString dateText(const _ViberMsg *msg);
    static QString flagText(const _ViberMsg *msg);
    static QString contactText(const _ViberMsg *msg);

private:
    QList<_ViberMsg *> m_messages;
    QPixmap m_sentPicture;
    QPixmap m_receivedPicture;
};
