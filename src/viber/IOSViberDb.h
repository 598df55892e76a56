#pragma once

#include "AbsViberDb.h"
#include "StoreLayout.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <functional>

// The Viber iOS store: the Core Data file "Contacts.data" (a phone's own layout or
// the template layout this program creates) and the attachment folders under
// "Documents/" beside it. Opening creates a missing store from the template and
// removes orphan rows; load() reads everything into records.
class IOSViberDb : public AbsViberDb
{
public:
    // fileName is relative to root, e.g. "Documents/Contacts.data". flag has no
    // effect on reading.
    IOSViberDb(const QDir &root, const QString &fileName, bool flag = false);
    ~IOSViberDb() override;

    // A load reads a message table of this many rows or more (100,000 unless set) in
    // two halves side by side; tests lower it to read their small stores so too.
    // Returns the number it replaces.
    static qint64 setSplitMessageRows(qint64 rows);

    // Opens the store read-write for writing, creating it from the template when the
    // file is missing (its folder must exist), reads the catalogue and the entity
    // numbers and deletes orphan join rows, locations and attachments. The store's
    // own triggers stay off. Does nothing when already open for writing. Raises an
    // exception naming the file when the folder is missing, the file is no SQLite
    // database or lacks a table no store can do without.
    void open() override;
    // Reads the chats, participants, messages, locations, attachments and calls of
    // the store. Unless the store is open already, it is opened read-only and closed
    // again, so that loading never changes the store, runs nothing of it, and leaves
    // no file beside it. Paths of files are absolute below root; a name or a link
    // that would lead out of its folder leaves the path empty. A picture or video
    // without a preview gets the path where one belongs (AttachmentPreviews makes it).
    ViberDataPtr load() override;

    // What the store's catalogue says of its layout, read when it was opened.
    const StoreLayout &layout() const { return m_layout; }
    // Z_PRIMARYKEY.Z_ENT of an entity name; 0 when the store has no such entity.
    qint32 entity(const QString &name) const { return m_layout.entity(name); }

    // Folds a store's write-ahead log, when one lies beside it, into the store file,
    // so that a copy of the file alone holds every commit. For copies in our cache.
    static void foldWriteAheadLog(const QString &storePath);

    // The tables every store must have; open() refuses a file that lacks one.
    static QStringList requiredTables();

    // --- Writing (IOSViberDbWriter.cpp) ---------------------------------------
    // Every operation opens the store first and raises Sqlite3Exception on an SQL
    // failure. Callers run a whole merge inside one transaction (ViberMsgMerger),
    // since a failure midway leaves rows that only a rollback removes. A column of
    // the writer's that the target table lacks is left out when it is optional, so
    // one writer serves a phone's layout and the template layout.

    // Rows made for persons without a number, by record. Such a person matches
    // nothing in the store, so a run passes one map to all its operations and each
    // record keeps the one row made for it; without a map every call makes its own.
    using NumberlessPersons = QHash<const _ViberPerson *, qint64>;

    // Raises an exception naming the file and the table when the store lacks a table
    // the writer needs. Call it before the first write, so that a store that cannot
    // be written safely is refused untouched. A current store (participants as members)
    // is refused also when it holds triggers other than those of its message index, or
    // change history its app has not taken in; else new messages are put into its index
    // as its triggers would (which, as all of a store's code, never run here).
    void requireWriterTables();
    // SQLite's integrity check, and the message index's own where the store has one.
    bool isWhole();
    // Whether the store keeps participants as members with separate phone numbers.
    bool isMemberLayout() const { return m_layout.membersAsParticipants(); }
    // Makes the person the other party of a one-to-one conversation, where the store
    // has such a column.
    void setInterlocutor(qint64 chatKey, qint64 personKey);

    // ZUID values are unique across the store. counter is the caller's, -1 before
    // the run's first insert; the first call fills it with the store-wide maximum.
    // With advance set it then moves on by one, giving the next free value.
    void nextZuid(qint64 &counter, bool advance = true);

    // Z_PK of the participant row with the person's phone digits; 0 when none. A
    // person without a number is nobody's match: 0.
    qint64 findPersonKey(const _ViberPerson *person);
    // New participant row; 0 for a null person.
    qint64 insertPerson(qint64 &counter, const _ViberPerson *person);
    // Links each person to the conversation, inserting the persons that are missing.
    void linkParticipants(qint64 &counter, qint64 chatKey, const QList<_ViberPerson *> &persons,
                          NumberlessPersons *numberless = nullptr);

    // Z_PK of the conversation with the chat's group id, or of the one-to-one
    // conversation with its only participant; 0 when none (always for a chat with
    // neither a group id nor exactly one participant).
    qint64 findChatKey(const _ViberChat *chat);
    // New conversation row; 0 for a null chat. Its date is left to the callers.
    qint64 insertChat(qint64 &counter, const _ViberChat *chat);

    // Z_PK of a message with the token within 60 s of date (truncated to seconds);
    // 0 when none. When found, attachmentKey is its attachment's Z_PK (0 for none);
    // otherwise attachmentKey is left as it is.
    qint64 findDuplicateMessage(qint64 token, double date, qint64 &attachmentKey);
    // Token 0 is no token: such a message is only a duplicate of one in the same
    // conversation with the same date to the second, sender, kind and text.
    qint64 findTokenlessDuplicate(qint64 chatKey, const _ViberMsg *msg, qint64 &attachmentKey,
                                  const NumberlessPersons *numberless = nullptr);
    // Inserts the message with its location and attachment rows and returns its new
    // Z_PK; 0 when it is not written (null, no state text, a received group message
    // without sender). The out keys are the new rows' keys, 0 for none. checkCancel
    // is called within long steps (a message text of megabytes) and may raise to stop.
    qint64 insertMessage(qint64 &counter, qint64 chatKey, const _ViberMsg *msg, qint64 &attachmentKey,
                         qint64 &locationKey, NumberlessPersons *numberless = nullptr,
                         const std::function<void()> &checkCancel = {});
    // Z_PK of the recent for the call (an existing one with the same token and type,
    // or a new one on the person's recents line); 0 for a null call or one without person.
    // A call without token is the same as one of the person with the same type and
    // date to the second. alreadyPresent tells whether the recent existed.
    qint64 insertCall(qint64 &counter, const _ViberCall *call, bool *alreadyPresent = nullptr,
                      NumberlessPersons *numberless = nullptr);

    // The first recent with this token whose ZCALLTYPE equals type (0 when none).
    qint64 findCallOfType(qint64 token, const QVariant &type);
    // Adds a recent made of the row's values of these columns and returns its key: for
    // a caller that writes rows of its own, keeping what insertCall and findCallOfType
    // know of the run's recents right.
    qint64 insertCallRow(const Sqlite3Row &row, const QSet<QString> &columns);
    // The latest recents line of a person (0 when none), and a new empty one.
    qint64 findRecentsLine(const QVariant &person);
    qint64 insertRecentsLine(const QVariant &person);

    // Summary columns the phone's app keeps itself, recomputed after the inserts.
    void refreshRecentsLines();
    // Needs the last-message columns of a phone's store. With chats, only those
    // conversations (by key) are refreshed.
    void refreshLastMessages(const QSet<qint64> *chats = nullptr);
    void refreshPrimaryKeyMax();
    // Each conversation's ZDATE becomes its latest message's date (NULL without messages).
    // With chats, only those conversations (by key): the ones a run added messages to.
    void refreshConversationDates(const QSet<qint64> *chats = nullptr);
    void clearAttachmentUrl(qint64 attachmentKey);

    // Deletes the conversation with its participant links when it holds no message;
    // true when it did.
    bool deleteChatWithoutMessages(qint64 chatKey);
    // Deletes the participant row when no link, message or recents line refers to it.
    void deleteUnreferencedPerson(qint64 personKey);

private:
    struct LoadContext;

    void createFromTemplate(const QString &path);
    void openForLoading();
    void readCatalogue();
    // Reads the entity numbers and works out the layout from them and the catalogue.
    void readLayout();
    void deleteOrphans();
    // What kind of store this is, for the load's account.
    QStringList layoutDescription() const;

    void loadChats(LoadContext &ctx);
    void loadPersons(LoadContext &ctx);
    void loadParticipants(LoadContext &ctx);
    void loadMessages(LoadContext &ctx);
    void loadAttachments(LoadContext &ctx);
    void loadCalls(LoadContext &ctx);

    // Writer helpers (IOSViberDbWriter.cpp).
    // In a current store a new row takes the key after the entity's Z_MAX, as its app
    // would: keys up to Z_MAX may have been handed out already.
    qint64 insertRow(const QString &table, const Sqlite3Row &row);
    qint64 nextPrimaryKey(const QString &table);
    // The attachment key of each of the messages that has one, by one pass over the link.
    QHash<qint64, qint64> attachmentsOfMessages(const QSet<qint64> &messages);

    qint64 findOrInsertPerson(qint64 &counter, const _ViberPerson *person, NumberlessPersons *numberless);
    // The row of a person: by number, or, for one without, the row numberless holds
    // for the record; 0 when none.
    qint64 knownPersonKey(const _ViberPerson *person, const NumberlessPersons *numberless);
    // The row of a person without a number that has the person's name, in stores
    // that keep names; 0 when none.
    qint64 findNumberlessPersonKey(const _ViberPerson *person);
    // What a run looks up by number and by group id, read with one pass over each table at
    // its first use in a transaction and kept up to date by the writer's own inserts. A
    // phone's store indexes none of these columns, so a query per record scanned a table
    // and a transfer grew with the square of the store. Kept only within one transaction
    // and dropped when it ends, so that rows a rollback took away are never handed out;
    // callers that change these tables with their own SQL in a run must not rely on it.
    struct Lookups
    {
        quint64 transaction = 0;
        bool persons = false;
        QHash<QString, QList<qint64>> personsByNumber; // by digits, in key order
        bool chats = false;
        QHash<QString, qint64> chatByGroup; // the lowest key with the group id
        QSet<qint64> groupChats;
        QHash<qint64, qint64> chatByPerson; // the lowest one-to-one conversation a person is in
        // Keys of the recents by token and of the recents lines by person, in key order:
        // the rows a statement would look at, which it then tells apart itself.
        bool recents = false;
        QHash<qint64, QList<qint64>> callsByToken;
        QHash<qint64, QList<qint64>> linesByPerson;
    };
    // The lookups of the running transaction, reset when it is another; null outside one.
    Lookups *currentLookups();
    // The same with the persons, or the conversations, read in; null outside a transaction.
    Lookups *personLookups();
    Lookups *chatLookups();
    // The same with the recents by token and the recents lines by person read in.
    Lookups *recentLookups();
    // Enters a row of ZRECENT or ZRECENTSLINE this connection has just written into
    // the lookups, when they hold the recents.
    void noteRecentWritten(const QString &table, qint64 key);
    // The first recent with the token for which the condition on it equals value; 0 when none.
    qint64 firstRecent(qint64 token, const QString &condition, const QVariant &value);
    // The latest recents line of one of the persons (by key); 0 when none.
    qint64 latestRecentsLine(const QList<qint64> &persons);
    qint64 recentsLineOfNumber(const QString &digits);

    // The message key the query finds (0 for none); attachmentKey is then its attachment's.
    qint64 duplicateFound(const Sqlite3Sql &query, qint64 &attachmentKey);
    // The store's value of ZATTACHMENT.ZTYPE and ZVIBERMESSAGE.ZSYSTEMTYPE for a message.
    static QString attachmentTypeText(const _ViberMsg *msg);
    static QString systemTypeText(const _ViberMsg *msg);

    StoreLayout m_layout;
    QHash<QString, qint64> m_nextKeys; // by table, for current stores
    bool m_indexMessages = false;      // new messages go into the store's search index
    Lookups m_lookups;
    QString m_duplicateByTokenSql; // made once per schema read
};
