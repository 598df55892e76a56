#pragma once

#include <QByteArray>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "MessageFixtures.h"
#include "viber/ViberData.h"
#include "viber/ViberMsgMerger.h"

#include <deque>
#include <memory>

// Viber iOS stores built in code. A StorePlan describes content layout-neutrally, so that
// tests can compare loads with it; writeStore() writes it, StoreWriter row by row.
namespace fixtures {

inline constexpr const char *kStoreFileName = "Documents/Contacts.data";

enum class StoreLayout {
    Template, // this program's own: Z_4PHONENUMINDEXES, carried values in _other, no address book
    Phone,    // a phone's: Core Data's columns, Z_5PHONENUMINDEXES, contacts in ZABCONTACT
};

// Tests find records by label (never written); add...() sets the key to the largest of its kind + 1.
struct PersonPlan
{
    QString label;
    qint64 pk = 0;
    QString canonPhone, phone, viberName, iconId;
    QString contactName; // address-book name; empty: no contact
    qint64 recordId = 0; // its ZRECORDID
    // The name a load shows; the template layout keeps it in ZNAME.
    QString shownName() const { return contactName.isEmpty() ? viberName : contactName; }
};

struct ChatPlan
{
    QString label;
    qint64 pk = 0;
    double date = 0;
    QString groupId, name, iconId;
    QList<qint64> participants; // person keys
    qint64 context = 0;
    QVariant smartNotificationShown; // null: NULL
    qint32 smartState = 0;
};

struct MessagePlan
{
    QString label;
    qint64 pk = 0, chat = 0, person = 0; // person 0: NULL
    qint64 token = 0, seq = 0;
    double date = 0, stateDate = 0;
    QString state, systemType, text; // as stored ("received", "SENDING", ...); empty: NULL
    QByteArray emoticonsRanges, ranges;
};

struct LocationPlan
{
    QString label;
    qint64 pk = 0, message = 0;
    double latitude = 0, longitude = 0;
    QString address;
};

struct AttachmentPlan
{
    QString label;
    qint64 pk = 0, message = 0;
    QString type, name, attId, bucket; // type as stored ("picture", "customLocation", ...)
    qint64 fileSize = 0, seq = 0, range = 0;
    double duration = 0;
    QString state = QStringLiteral("complete"), url;
};

struct CallPlan
{
    QString label;
    qint64 pk = 0, person = 0, token = 0; // one recents line per person
    qint32 duration = 0;
    double date = 0;
    QString callType; // as stored ("incoming", "outgoing_viber", "MISSED", ...)
};

enum class FileKind { Jpeg, Png, Bytes };

// A file of the store folder, relative to its root: a picture of size, or some bytes.
struct FilePlan
{
    QString relativePath;
    FileKind kind = FileKind::Jpeg;
    QSize size = QSize(40, 30);
};

class StorePlan
{
public:
    // References stay valid while the plan lives.
    PersonPlan &addPerson(const QString &label, const QString &canonPhone,
                          const QString &viberName = QString(), const QString &contactName = QString());
    ChatPlan &addChat(const QString &label, const QList<qint64> &participants,
                      const QString &groupId = QString(), const QString &name = QString());
    // token, seq and dates follow from the key; the chat's date is raised to the message's.
    MessagePlan &addMessage(const QString &label, qint64 chat, qint64 person, const QString &state,
                            const QString &text, const QString &systemType = QString());
    LocationPlan &addLocation(const QString &label, qint64 message, double latitude, double longitude,
                              const QString &address = QString());
    AttachmentPlan &addAttachment(const QString &label, qint64 message, const QString &type,
                                  const QString &name, const QString &attId = QString());
    CallPlan &addCall(const QString &label, qint64 person, const QString &callType);
    FilePlan &addFile(const QString &relativePath, FileKind kind, QSize size = QSize(40, 30));

    // The record labelled label; a missing one aborts the test.
    const PersonPlan &person(const QString &label) const { return byLabel(persons, label); }
    const ChatPlan &chat(const QString &label) const { return byLabel(chats, label); }
    const MessagePlan &message(const QString &label) const { return byLabel(messages, label); }
    const AttachmentPlan &attachment(const QString &label) const { return byLabel(attachments, label); }
    const CallPlan &call(const QString &label) const { return byLabel(calls, label); }

    std::deque<PersonPlan> persons;
    std::deque<ChatPlan> chats;
    std::deque<MessagePlan> messages;
    std::deque<LocationPlan> locations;
    std::deque<AttachmentPlan> attachments;
    std::deque<CallPlan> calls;
    std::deque<FilePlan> files;

private:
    template <typename T> static const T &byLabel(const std::deque<T> &records, const QString &label)
    {
        for (const T &r : records)
            if (r.label == label)
                return r;
        qFatal("fixture has no record labelled \"%s\"", qPrintable(label));
    }
};

// Something of everything the reader tells apart: persons with and without contact, a group,
// a chat with calls only and one with nobody; messages of every state spelling and system
// type, some not loaded ("failed", "memberAddedEmpty", "noChat"), one per attachment kind
// with its files; calls of every type spelling. Labels: see sampleStore() itself.
StorePlan sampleStore();
// sampleStore() with three new messages from Bob and, with newCall, a new call of his.
StorePlan sampleStoreAndMore(bool newCall = true);

// Writes plan below root (which must exist) as fileName in layout, and plan.files.
void writeStore(const StorePlan &plan, const QString &root, StoreLayout layout,
                const QString &fileName = QString::fromLatin1(kStoreFileName));

// The counts of a store of n messages, grown with n from those of 200,000: 2,000 chats (a
// tenth of them groups), 20,000 attachments, 2,000 locations, 5,000 calls.
struct ScaledSizes
{
    explicit ScaledSizes(qint64 n);
    qint64 messages, chats, groups, attachments, locations, calls, persons;
};
// Writes such a store in a phone's layout below root (which must exist), every carried column set.
void writeScaledStore(const QString &root, const ScaledSizes &sizes);

// Writes a store row by row in one transaction; indexes are built once the rows are in.
class StoreWriter
{
public:
    // Creates the store (which must not exist) and its folder; throws on failure.
    StoreWriter(const QString &root, StoreLayout layout,
                const QString &fileName = QString::fromLatin1(kStoreFileName));
    ~StoreWriter(); // commits unless finished
    StoreWriter(const StoreWriter &) = delete;
    StoreWriter &operator=(const StoreWriter &) = delete;

    void writePerson(const PersonPlan &person);
    void writeChat(const ChatPlan &chat); // and its join rows
    void writeMessage(const MessagePlan &message);
    void writeLocation(const LocationPlan &location);
    void writeAttachment(const AttachmentPlan &attachment);
    void writeCall(const CallPlan &call); // and the person's recents line on first use
    void writeFile(const FilePlan &file) const;
    void finish(); // commits and closes

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The rows sql selects from a store file: "|" between columns, ", " between rows, NULL as
// "NULL", blobs in hex.
QString rows(const QString &storePath, const QString &sql);
// Runs sql on a store file (or any SQLite file); throws on failure.
void exec(const QString &storePath, const QString &sql);
// Every row of every table, sorted: for checking that a run left a store as it was.
QStringList storeRows(const QString &storePath);
// Every entry below root with the SHA-256 of its content, sorted.
QStringList filesBelow(const QString &root);

enum class Detail {
    Content,      // what a copy must keep, independent of the store's keys
    WithoutNames, // the same without person names, which a phone takes from its address book
    Everything,   // and keys, carried values, icons and files: equal for one store's loads
};

// Loaded records as sorted lines: each message with its chat (by group id, name and
// participants), sender and content; a voice message's file name and id are left out, as a
// writer names them by the attachment's key.
QStringList messageContent(const ViberData &data, Detail detail = Detail::Content);

// Merges messages into db as a copy or a transfer does (by chat, in date order, in one
// transaction, summaries refreshed); the merger, for its counts.
ViberMsgMerger mergeAll(IOSViberDb &db, QList<_ViberMsg *> messages);

// Records built in memory for writers and workers.
using Records = testsupport::MessageFixture;

} // namespace fixtures
