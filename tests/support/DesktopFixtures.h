#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "viber/ViberData.h"

// Viber Desktop history files ("viber.db") built in code, in both layouts the reader
// meets. A DesktopStore describes content layout-neutrally; writeDesktopStore() writes
// it in either layout, so that one description serves both.
namespace fixtures {

enum class DesktopLayout {
    // Participants in OriginNumberInfo (key: row id), joined by Number; kinds as bit
    // flags; times in seconds.
    Classic,
    // The 2017 and later clients': Contact(ContactID, ...), joined by ContactID; kinds
    // as an enumeration; times in milliseconds.
    Contacts,
};

enum class DesktopKind { Text, Picture, Video, Sticker, Voice, Location, Link, AudioFile };

struct DesktopContact
{
    qint64 id = 0;
    QString number, clientName;
    QString avatarPath; // written in the classic layout only, which has the column
};

struct DesktopChat
{
    qint64 id = 0;
    qint64 msecs = 0;      // the classic layout keeps whole seconds
    QString name, token;   // a one-to-one chat's token is its person's number
    QList<qint64> members; // contact ids, as ChatRelation rows
};

struct DesktopMessage
{
    qint64 eventId = 0, chat = 0, contact = 0; // contact 0: none
    bool outgoing = false;
    qint64 msecs = 0;
    DesktopKind kind = DesktopKind::Text;
    qint64 type = -1; // the Type column as it stands; -1: the layout's value of kind
    qint64 token = 0, stickerId = 0;
    qint64 durationMsecs = -1; // -1: NULL
    qint64 latitude = 0, longitude = 0;
    QString body, subject, payloadPath, thumbnailPath, pttId;
};

struct DesktopCall
{
    qint64 eventId = 0, chat = 0, contact = 0;
    bool outgoing = false;
    qint64 msecs = 0, durationSecs = 0, token = 0;
};

struct DesktopStore
{
    QList<DesktopContact> contacts;
    QList<DesktopChat> chats;
    QList<DesktopMessage> messages;
    QList<DesktopCall> calls;
};

// Two persons in a chat each, three in a group, a group nobody is known in; every kind
// both layouts share, and one call of each direction.
DesktopStore sampleDesktopStore();

// The Type value of kind in the layout; -1 when the layout has none for it.
qint64 desktopTypeValue(DesktopKind kind, DesktopLayout layout);

// Writes the store as a new file at path (its folder is made). Throws
// std::runtime_error on failure, and for a kind the layout cannot hold.
void writeDesktopStore(const DesktopStore &store, const QString &path, DesktopLayout layout);

// One line per chat and per message (with its attachment or call), ordered by id: what
// a load made of a store, compact enough to compare whole. The home folder shows as "~".
QStringList recordLines(const ViberData &data);
// "text", "picture", ... as recordLines names a message type.
QString typeName(ViberMsgType type);

} // namespace fixtures
