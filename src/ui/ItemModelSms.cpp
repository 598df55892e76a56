#include "ItemModelSms.h"

#include "export/MessageText.h"
#include "export/TimeText.h"

#include <QBrush>
#include <QColor>
#include <QImage>
#include <QLocale>
#include <QSize>
#include <QTextDocument>

namespace {

constexpr int kPictureWidth = 18;
constexpr int kRowHeight = 23;

QPixmap picture(const QString &resource)
{
    const QImage image(resource);
    if (image.isNull())
        return QPixmap();
    return QPixmap::fromImage(image.scaledToWidth(kPictureWidth, Qt::SmoothTransformation));
}

} // namespace

ItemModelSms::ItemModelSms(QObject *parent)
    : QAbstractItemModel(parent), m_sentPicture(picture(QStringLiteral(":/res/icon_sms-sent.png"))),
      m_receivedPicture(picture(QStringLiteral(":/res/icon_sms-receive.png")))
{
}

QModelIndex ItemModelSms::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() || row < 0 || row >= m_messages.size() || column < 0 || column >= 4)
        return QModelIndex();
    return createIndex(row, column, m_messages.at(row));
}

QModelIndex ItemModelSms::parent(const QModelIndex &) const
{
    return QModelIndex();
}

int ItemModelSms::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_messages.size();
}

int ItemModelSms::columnCount(const QModelIndex &) const
{
    return 4;
}

QVariant ItemModelSms::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case 0:
        return tr("IDS_COLUMN_DATE");
    case 1:
        return tr("IDS_COLUMN_FLAG");
    case 2:
        return tr("IDS_COLUMN_CONTACT");
    case 3:
        return tr("IDS_COLUMN_CONTENT");
    default:
        return QVariant();
    }
}

void ItemModelSms::setMessages(const QList<_ViberMsg *> &messages)
{
    beginResetModel();
    m_messages = messages;
    endResetModel();
}

void ItemModelSms::clear()
{
    setMessages(QList<_ViberMsg *>());
}

_ViberMsg *ItemModelSms::message(int row) const
{
    return row >= 0 && row < m_messages.size() ? m_messages.at(row) : nullptr;
}

QString ItemModelSms::dateText(const _ViberMsg *msg)
{
    return TimeText::dateTime(msg->date);
}

QString ItemModelSms::flagText(const _ViberMsg *msg)
{
    if (msg->type == ViberMsgTypeCall || msg->type == ViberMsgTypeSystem)
        return QString();
    return isOutgoing(msg) ? QStringLiteral("To") : QStringLiteral("From");
}

QString ItemModelSms::contactText(const _ViberMsg *msg)
{
    if (msg->type == ViberMsgTypeSystem)
        return QStringLiteral("<System>");
    // A call names its other party, as the call log does.
    if (msg->type == ViberMsgTypeCall) {
        if (const _ViberPerson *party = MessageText::callParty(msg))
            return personLabel(party);
        return msg->chat ? MessageText::participantLabels(msg->chat) : QString();
    }
    if (!msg->chat)
        return QString();
    // A group is named by its title, not by a list of members cut short by the
    // column; the sender of an incoming message goes in front of it.
    if (!msg->chat->groupId.isEmpty()) {
        const QString group = isolatedText(MessageText::chatTitle(msg->chat));
        if (msg->person && !isOutgoing(msg))
            return tr("IDS_LIST_SENDER_%1_IN_GROUP_%2").arg(personLabel(msg->person), group);
        return group;
    }
    return MessageText::participantLabels(msg->chat);
}

QVariant ItemModelSms::data(const QModelIndex &index, int role) const
{
    const _ViberMsg *msg = index.isValid() ? message(index.row()) : nullptr;
    if (!msg)
        return QVariant();
    switch (role) {
    case Qt::ToolTipRole:
        // Tool tips guess rich text; a message "<b>hi</b>" is shown as typed.
        return Qt::convertFromPlainText(data(index, Qt::DisplayRole).toString(), Qt::WhiteSpaceNormal);
    case Qt::DisplayRole:
        switch (index.column()) {
        case 0:
            return dateText(msg);
        case 1:
            return flagText(msg);
        case 2:
            return contactText(msg);
        case 3:
            return MessageText::plainText(msg);
        default:
            return QVariant();
        }
    case Qt::DecorationRole:
        if (index.column() != 0)
            return QVariant();
        return isOutgoing(msg) ? m_sentPicture : m_receivedPicture;
    case Qt::BackgroundRole:
        return QBrush(isOutgoing(msg) ? QColor(245, 255, 226) : QColor(255, 255, 255));
    case Qt::SizeHintRole:
        return QSize(0, kRowHeight);
    default:
        return QVariant();
    }
}
