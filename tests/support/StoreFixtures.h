#pragma once

#include <QByteArray>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "viber/ViberData.h"

#include <deque>
#include <memory>

// Viber iOS stores built in code, in either of the two layouts the reader and the
// writer meet. A StoreSpec describes the content in layout-neutral terms and
// records exactly what is written, so that tests can compare loaded records
// against it; writeStore() turns it into a store folder (database plus files).
// StoreWriter writes row by row for data too large to describe up front (benchmarks).
namespace fixtures {

inline constexpr const char *kStoreFileName = "Documents/Contacts.data";

enum class StoreLayout {
    // This program's own layout (the embedded template schema): entities Conversation 4,
    // PhoneNumberIndex 7, join table Z_4PHONENUMINDEXES, an _other blob in every table,
    // no address book. Carried values are written into _other.
    Template,
    // A phone's own layout: Z_ENT, Z_OPT, ZUID and columns the template lacks in every
    // table, entities Conversation 5, PhoneNumberIndex 10 (join table Z_5PHONENUMINDEXES
    // with Z_5CONVERSATIONS, Z_10PHONENUMINDEXES), address-book contacts in ZABCONTACT.
    Phone,
};

// Every record has a label (never written) by which tests find it, and a key that
// add...() assigns as the largest key of its kind + 1 (change it before writing if needed).
struct PersonSpec
{
    QString label;
    qint64 pk = 0;
    QString canonPhone;  // ZCANONIZEDPHONENUM
    QString phone;       // ZPHONENUM
    QString viberName;   // ZNAME in the phone layout
    QString iconId;      // ZICONID
    QString contactName; // address-book name (ZABCONTACT.ZMAINNAME); empty: no contact
    qint64 recordId = 0; // ZABCONTACT.ZRECORDID, with a contact
    qint32 opt = 3;      // Z_OPT
    // The name a load shows; the template layout keeps it in ZNAME, as this program's writer does.
    QString shownName() const { return contactName.isEmpty() ? viberName : contactName; }
};

struct ChatSpec
{
    QString label;
    qint64 pk = 0;
    double date = 0;
    QString groupId;
    QString name;
    QString iconId;
    QList<qint64> participants; // person keys, written as join rows
    qint32 opt = 4;
    qint64 context = 0;
    QVariant smartNotificationShown; // null: NULL in the store
    qint32 smartState = 0;
};

struct MessageSpec
{
    QString label;
    qint64 pk = 0;
    qint64 chat = 0;
    qint64 person = 0; // ZPHONENUMINDEX; 0 writes NULL
    qint64 token = 0;
    qint64 seq = 0;
    double date = 0;
    double stateDate = 0;
    QString state;      // ZSTATE as stored ("received", "SENDING", ...)
    QString systemType; // ZSYSTEMTYPE; empty writes NULL
    QString text;
    QByteArray emoticonsRanges;
    QByteArray ranges;
    qint32 opt = 5;
};

struct LocationSpec
{
    QString label;
    qint64 pk = 0;
    qint64 message = 0;
    double latitude = 0;
    double longitude = 0;
    QString address;
};

struct AttachmentSpec
{
    QString label;
    qint64 pk = 0;
    qint64 message = 0;
    QString type;  // ZTYPE ("picture", "video", "audio", "sticker", "customLocation", ...)
    QString name;  // ZNAME
    QString attId; // ZID
    QString bucket;
    qint64 fileSize = 0;
    qint64 seq = 0;
    double duration = 0;
    qint32 opt = 6;
    qint64 range = 0;
    QString state = QStringLiteral("complete");
    QString url;
};

struct CallSpec
{
    QString label;
    qint64 pk = 0;
    qint64 person = 0; // the recents line's ZPHONENUMINDEX (one line per person)
    qint64 token = 0;
    qint32 duration = 0;
    double date = 0;
    QString callType; // ZCALLTYPE as stored ("incoming", "outgoing_viber", "MISSED", ...)
    qint32 opt = 1;
};

enum class FileKind { Jpeg, Png, Bytes };

// A file of the store folder, relative to its root.
struct FileSpec
{
    QString relativePath;
    FileKind kind = FileKind::Jpeg;
    QSize size = QSize(40, 30); // pictures only
    QByteArray bytes;           // FileKind::Bytes only
};

// The record labelled label; a missing label is a broken test and aborts it.
template <typename T> const T &byLabel(const std::deque<T> &records, const QString &label)
{
    for (const T &r : records)
        if (r.label == label)
            return r;
    qFatal("fixture has no record labelled \"%s\"", qPrintable(label));
}

class StoreSpec
{
public:
    // References stay valid while the plan lives (records are kept in deques).
    PersonSpec &addPerson(const QString &label, const QString &canonPhone,
                          const QString &viberName = QString(), const QString &contactName = QString());
    ChatSpec &addChat(const QString &label, const QList<qint64> &participants,
                      const QString &groupId = QString(), const QString &name = QString());
    // token, seq and dates follow from the key; the chat's date is raised to the message's.
    MessageSpec &addMessage(const QString &label, qint64 chat, qint64 person, const QString &state,
                            const QString &text, const QString &systemType = QString());
    LocationSpec &addLocation(const QString &label, qint64 message, double latitude, double longitude,
                              const QString &address = QString());
    AttachmentSpec &addAttachment(const QString &label, qint64 message, const QString &type,
                                  const QString &name, const QString &attId = QString());
    CallSpec &addCall(const QString &label, qint64 person, const QString &callType);
    FileSpec &addFile(const QString &relativePath, FileKind kind, QSize size = QSize(40, 30));

    const PersonSpec &person(const QString &label) const { return byLabel(persons, label); }
    const ChatSpec &chat(const QString &label) const { return byLabel(chats, label); }
    const MessageSpec &message(const QString &label) const { return byLabel(messages, label); }
    const AttachmentSpec &attachment(const QString &label) const { return byLabel(attachments, label); }
    const CallSpec &call(const QString &label) const { return byLabel(calls, label); }

    std::deque<PersonSpec> persons;
    std::deque<ChatSpec> chats;
    std::deque<MessageSpec> messages;
    std::deque<LocationSpec> locations;
    std::deque<AttachmentSpec> attachments;
    std::deque<CallSpec> calls;
    std::deque<FileSpec> files;
};

// A store with something of everything the reader distinguishes (labels in quotes):
// - persons "ann" (contact "Ann Contact", record 11, icon), "bob" (Viber name only),
//   "cleo" (contact), "dan" (only calls, no chat), "eve" (group member only), "fay"
//   (a letter-bearing number "fay.viber");
// - chats "ann" (one-to-one), "bob", "fay", "group" ("Friends", ann, bob, eve),
//   "cleo" (no messages but calls), "empty" (no participants);
// - messages of every state spelling and system type in chat "ann", some not loaded
//   ("failed", "memberAddedEmpty", "unknownSystem", "noChat"); a "location"; one message
//   per attachment kind with its files ("picture" with and without previews, "picturePng",
//   "video", "videoNoPreview", "audio", "sticker", "locationAttachment", "other" of type
//   "file"); group messages "groupText" (from eve) and "groupNoSender";
// - calls of every type spelling, "danMissed" (MISSED, made-up chat), "unknownType" and
//   "nobody" (person 99), neither loaded.
StoreSpec sampleStore();

// Writes plan as a store folder below root: kStoreFileName (or fileName) in the
// given layout and every file of plan.files. root must exist; the store must not.
void writeStore(const StoreSpec &plan, const QString &root, StoreLayout layout,
                const QString &fileName = QString::fromLatin1(kStoreFileName));

// Row-by-row writer behind writeStore, inside one transaction. The schema's secondary
// indexes are built when the rows are in (finish() or the destructor), which keeps
// writing a million rows linear.
class StoreWriter
{
public:
    // Creates the folder of the store file and the empty store (raises an exception
    // on failure); begins the transaction.
    StoreWriter(const QString &root, StoreLayout layout,
                const QString &fileName = QString::fromLatin1(kStoreFileName));
    // Commits when finish() was not called.
    ~StoreWriter();
    StoreWriter(const StoreWriter &) = delete;
    StoreWriter &operator=(const StoreWriter &) = delete;

    void writePerson(const PersonSpec &person);
    void writeChat(const ChatSpec &chat); // and its join rows
    void writeMessage(const MessageSpec &message);
    void writeLocation(const LocationSpec &location);
    void writeAttachment(const AttachmentSpec &attachment);
    void writeCall(const CallSpec &call); // and the person's recents line on first use
    void writeFile(const FileSpec &file) const;
    // Commits and closes the store.
    void finish();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Every row of every table of a store file, as sorted lines, for comparing a whole
// store before and after a run.
QStringList storeRows(const QString &storePath);

// The values of the rows sql selects from a store file, "|" between columns and ", "
// between rows, NULL as "NULL", blobs in hex: a compact check of what was written.
QString rows(const QString &storePath, const QString &sql);

// Every entry below root, relative to it, with the start of a hash of its content
// (none for a folder): for checking that a run left a folder as it was.
QStringList filesBelow(const QString &root);

// A phone's store takes the names of persons from its address book, which no writer
// fills: copies into one are compared without them.
enum class PersonNames { Compared, Ignored };

// The content of loaded messages independent of the store's keys, as sorted lines:
// chat (group id, name, participants' phones and names; a chat made up for calls is
// named after its person and so not by name), sender, token, dates, state, type, text,
// location, attachment and call. A voice message's file name and id are
// left out, since a writer names them by the attachment's key in its store.
QStringList messageContent(const ViberData &data, PersonNames names = PersonNames::Compared);

// Records as a reader hands them out, built in memory for writers and workers.
// Keys count up from 1 per kind; a call's message has the call's key negated.
// References stay valid while the builder lives (the records belong to data).
class Records
{
public:
    Records();

    _ViberPerson &person(const QString &phone, const QString &name = QString());
    _ViberChat &chat(const QList<_ViberPerson *> &participants, const QString &groupId = QString(),
                     const QString &name = QString());
    // A text message; set type and the rest on the result.
    _ViberMsg &message(_ViberChat &chat, _ViberPerson *person, ViberMsgState state, const QString &text,
                       double date, qint64 token);
    // Sets the message's type to type.
    _ViberAtta &attachment(_ViberMsg &msg, ViberMsgType type, const QString &fileName,
                           const QString &attId = QString());
    _ViberMsg &call(_ViberChat &chat, _ViberPerson &person, ViberCallType type, qint64 token, double date,
                    qint32 duration = 30);

    // Every message in the order made.
    const QList<_ViberMsg *> &messages() const { return m_order; }

    ViberDataPtr data;

private:
    QList<_ViberMsg *> m_order;
    qint64 m_lastMessageId = 0;
};

} // namespace fixtures
