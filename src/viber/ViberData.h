#pragma once

#include "LoadAccount.h"
#include "StoredText.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QVariantMap>

#include <initializer_list>
#include <memory>

// In-memory records of one loaded Viber store. Records are created by readers
// with new and owned by ViberData; every pointer between records is non-owning.

// Numeric values are stored in local databases, so they never change.
enum ViberMsgType : qint32 {
    ViberMsgTypeCall = 1,
    ViberMsgTypePicture = 2,
    ViberMsgTypeLocation = 3,
    ViberMsgTypeSystem = 4,
    ViberMsgTypeAudio = 5,
    ViberMsgTypeSticker = 6,
    ViberMsgTypeText = 7,
    ViberMsgTypeVideo = 8,
    // An attachment of any other kind the store names ("file", "gif", ...): shown
    // and copied as a file, its store type kept in _ViberAtta::type.
    ViberMsgTypeFile = 9,
};

enum ViberMsgState : qint32 {
    ViberMsgStateNone = 0,
    ViberMsgStateDelivered = 1,
    ViberMsgStateReceived = 2,
    ViberMsgStateSend = 3,
    ViberMsgStatePending = 4,
};

// ZSYSTEMTYPE of a message. Formatted and link messages are bubbles of their sender
// (type Text); the other kinds are notices (type System). The store's own spelling
// is kept in the record's ZSYSTEMTYPE extra column, so that a kind this version does
// not know (Other) goes back into a store unchanged.
enum ViberSystemKind : qint32 {
    ViberSystemKindNone = 0,
    ViberSystemKindNameChanged = 1,
    ViberSystemKindMemberAdded = 2,
    ViberSystemKindFormatted = 3, // JSON in the text
    ViberSystemKindUrl = 4,
    ViberSystemKindCallLog = 5, // a call told in the chat; its kind and length in extra columns
    ViberSystemKindSelfAdded = 6,
    ViberSystemKindIconChanged = 7,
    ViberSystemKindMessageRemoved = 8,
    ViberSystemKindPinCreated = 9,
    ViberSystemKindOther = 10,
};

// The store's spelling is kept in the call's ZCALLTYPE extra column; Unknown is a
// kind this version does not know.
enum ViberCallType : qint32 {
    ViberCallTypeUnknown = 0,
    ViberCallTypeIncoming = 1,
    ViberCallTypeOutgoing = 2,
    ViberCallTypeMissed = 3,
    ViberCallTypeIncomingVideo = 4,
    ViberCallTypeOutgoingVideo = 5,
    ViberCallTypeMissedVideo = 6,
    ViberCallTypeOutgoingViberOut = 7, // out to an ordinary phone number
};

// Kinds of conversation (ZCONVERSATION.ZSUBTYPE, kept in the chat's extra columns).
enum class ViberChatKind { Chat, Channel, MyNotes };

struct _ViberChat;
struct _ViberPerson;
struct _ViberMsg;
struct _ViberAtta;
struct _ViberCall;

// Records are deleted as what they are, never through this base: without a virtual
// destructor a million messages spare a pointer each.
struct _ViberEntity
{
    QByteArray other; // extra store columns in tinykv form; empty when none
    qint64 id = 0;

protected:
    ~_ViberEntity() = default;
};

struct _ViberChat : _ViberEntity
{
    double date = 0;
    QString name;
    QString groupId;
    QHash<qint64, _ViberPerson *> participants;
    QList<_ViberMsg *> messages;
};

struct _ViberPerson : _ViberEntity
{
    QString phone;
    QString name;
    QString viberIconPath;
    QString contactIconPath;
    QString recordIconPath;
};

// Where a location message was sent from.
struct _ViberPlace
{
    double latitude = 0;
    double longitude = 0;
    QString address;
};

// A message's place, owned and copied with it; most messages have none, and kept
// apart its fields cost a million messages 32 MB less.
class _ViberPlaceSlot
{
public:
    _ViberPlaceSlot() = default;
    _ViberPlaceSlot(const _ViberPlaceSlot &other)
        : m_place(other.m_place ? new _ViberPlace(*other.m_place) : nullptr)
    {
    }
    _ViberPlaceSlot &operator=(const _ViberPlaceSlot &other)
    {
        if (this != &other)
            m_place.reset(other.m_place ? new _ViberPlace(*other.m_place) : nullptr);
        return *this;
    }
    _ViberPlaceSlot(_ViberPlaceSlot &&) = default;
    _ViberPlaceSlot &operator=(_ViberPlaceSlot &&) = default;

    const _ViberPlace *get() const { return m_place.get(); }
    void set(const _ViberPlace &place) { m_place.reset(new _ViberPlace(place)); }

private:
    std::unique_ptr<_ViberPlace> m_place;
};

struct _ViberMsg : _ViberEntity
{
    _ViberMsg() : state(ViberMsgStateNone), type(ViberMsgType(0)), systemKind(ViberSystemKindNone) {}

    qint64 token = 0;
    qint64 seq = 0;
    double date = 0;
    double stateDate = 0;
    // A byte each, as their values are small: the record then takes 136 bytes, with
    // the place apart.
    ViberMsgState state : 8;
    ViberMsgType type : 8;
    ViberSystemKind systemKind : 8;
    StoredText text;
    _ViberChat *chat = nullptr;
    _ViberAtta *attachment = nullptr;
    _ViberPerson *person = nullptr;
    _ViberCall *call = nullptr;

    // A location message's place; 0 and empty for any other message.
    double latitude() const { return place.get() ? place.get()->latitude : 0; }
    double longitude() const { return place.get() ? place.get()->longitude : 0; }
    QString address() const { return place.get() ? place.get()->address : QString(); }
    void setPlace(double latitude, double longitude, const QString &address = QString())
    {
        place.set(_ViberPlace{latitude, longitude, address});
    }
    _ViberPlaceSlot place;
};

struct _ViberAtta : _ViberEntity
{
    qint64 fileSize = 0;
    qint64 seq = 0;
    double duration = 0;
    QString attId;
    QString bucket;
    QString fileName;
    QString filePath;
    QString previewPath;
    QString type; // the store's ZTYPE as read ("picture", "file", "gif", ...)
    _ViberMsg *message = nullptr;
};

struct _ViberCall : _ViberEntity
{
    qint64 callToken = 0;
    qint32 duration = 0;
    double date = 0;
    ViberCallType type = ViberCallTypeIncoming;
    _ViberPerson *person = nullptr;
};

// One loaded store. Destroying it deletes every record of all five tables.
class ViberData
{
public:
    ViberData() = default;
    ViberData(const ViberData &) = delete;
    ViberData &operator=(const ViberData &) = delete;
    ~ViberData();

    QHash<qint64, _ViberChat *> chats;
    QHash<qint64, _ViberPerson *> persons;
    QHash<qint64, _ViberMsg *> messages;
    QHash<qint64, _ViberAtta *> attachments;
    QHash<qint64, _ViberCall *> calls;
    // What the load that made these records found in its source.
    LoadAccount account;
    // What the files the records name depend on (a private folder of decrypted
    // copies), let go together with the records.
    std::shared_ptr<void> filesLease;
};

using ViberDataPtr = std::shared_ptr<ViberData>;

// A pointer to a new, empty store: what a view without a selection hands out.
ViberDataPtr makeEmptyViberData();

// --- Record-level operations -------------------------------------------------

// Core Data reference date (2001-01-01 UTC) relative to the Unix epoch.
constexpr qint64 kStoreTimeEpochOffset = 978307200;

QString personDisplayName(const _ViberPerson *person);
// "Name(+123)", the phone alone, or the trimmed name when there is no phone.
QString personLabel(const _ViberPerson *person);

// text between FIRST STRONG ISOLATE and POP DIRECTIONAL ISOLATE when it holds a
// right-to-left letter or a direction control, so that inserted into a sentence or
// beside a phone number it cannot reorder what surrounds it; other text unchanged.
QString isolatedText(const QString &text);
qint64 personPhoneNumber(const _ViberPerson *person);
// The text unchanged when it holds a Latin letter, else only its digits.
QString phoneDigits(const QString &text);

bool isOutgoing(const _ViberMsg *msg);
bool isOutgoingCall(ViberCallType type);
// The kind of a store's call-type text, whatever its case ("MISSED", "incoming_with_video");
// StoreLayout::callKindSql gives the same in SQL.
ViberCallType callTypeFromStoreText(const QString &text);
// The store's text of a kind: the phone app's spelling.
QString callTypeToStoreText(ViberCallType type);
// ZSYSTEMTYPE text of a kind and back, whatever its case; a text of no known kind is Other.
ViberSystemKind systemKindFromStoreText(const QString &text);
QString systemKindToStoreText(ViberSystemKind kind);
// Whether messages of the kind are notices rather than bubbles of their sender.
bool isNoticeKind(ViberSystemKind kind);
ViberChatKind chatKind(const _ViberChat *chat);
ViberMsgState msgStateFromStoreText(const QString &text);
QString msgStateToStoreText(ViberMsgState state);

QDateTime storeTimeToDateTime(double storeTime);
// The seconds since 1970 of the instant storeTimeToDateTime gives, without turning
// it into a local time.
qint64 storeTimeToSecs(double storeTime);
qint64 storeTimeToMSecs(double storeTime);
double msecsToStoreTime(qint64 msecs);
// The send time a message token holds (current Viber); 0 for no token.
double storeTimeOfToken(qint64 token);
double unixSecsToStoreTime(quint32 unixSecs);

QVariantMap readExtraColumns(const _ViberEntity *record);
// False when record has none of the extra columns named, told from its bytes without
// reading them (keys are kept as UTF-8): most records are passed over at that cost.
bool mayHoldExtraColumn(const _ViberEntity *record, std::initializer_list<const char *> columns);
void writeExtraColumns(_ViberEntity *record, const QVariantMap &columns);
// Photo-library asset id from the extra column ZURL, upper case; "" when none.
QString photoAssetId(const _ViberAtta *attachment);

// Asks the processor for the record at p ahead of a pass over a long list: a million
// records lie far apart, and waiting on each in turn costs more than reading it.
inline void fetchAhead(const void *p)
{
#if defined(__GNUC__)
    __builtin_prefetch(p);
#else
    Q_UNUSED(p);
#endif
}

// Orderings for sorting.
bool msgDateLess(const _ViberMsg *a, const _ViberMsg *b);
// What a stable sort by msgDateLess gives (by msgDateNotLess when descending), from
// the keys copied side by side: compared through the records, a million messages
// waited on memory most of the time.
void sortByDate(QList<_ViberMsg *> &messages, bool descending = false);
bool msgDateNotLess(const _ViberMsg *a, const _ViberMsg *b);
bool chatDateGreater(const _ViberChat *a, const _ViberChat *b);
bool callDateLess(const _ViberCall *a, const _ViberCall *b);
bool callDateNotLess(const _ViberCall *a, const _ViberCall *b);
