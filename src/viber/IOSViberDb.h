#pragma once

#include "AbsViberDb.h"

#include <QHash>
#include <QString>

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

    // Opens the store read-write, creating it from the template when the file is
    // missing (its folder must exist), reads the catalogue and the entity numbers
    // and deletes orphan join rows, locations and attachments. Does nothing when
    // already open. Raises an exception naming the file when the folder is missing,
    // the file is no SQLite database or lacks a table no store can do without.
    void open() override;
    // open(), then the chats, participants, messages, locations, attachments and
    // calls of the store. Paths of files are absolute below root; a name that would
    // lead out of its folder leaves the path empty.
    ViberDataPtr load() override;

    // Z_PRIMARYKEY.Z_ENT of an entity name; 0 when the store has no such entity.
    qint32 entity(const QString &name) const { return m_entities.value(name, 0); }
    const QHash<QString, qint32> &entities() const { return m_entities; }
    qint32 conversationEnt() const { return m_conversationEnt; }
    // Entity of the participants: "PhoneNumberIndex", or "Member" in stores whose
    // participants live in ZMEMBER (see personSource()).
    qint32 phoneNumberIndexEnt() const { return m_phoneNumberIndexEnt; }
    // "Z_<conversationEnt>PHONENUMINDEXES" and its two columns.
    const QString &joinTable() const { return m_joinTable; }
    const QString &joinChatColumn() const { return m_joinChatColumn; }
    const QString &joinPersonColumn() const { return m_joinPersonColumn; }

    // The tables every store must have; open() refuses a file that lacks one.
    static QStringList requiredTables();

private:
    struct LoadContext;

    void createFromTemplate(const QString &path);
    void readEntities();
    void deleteOrphans();
    // What the person queries read "from": ZPHONENUMBERINDEX, or, in stores that keep
    // participants as ZMEMBER rows with their numbers in ZPHONENUMBER, a sub-select
    // giving those rows the same column names. Empty when neither exists.
    QString personSource() const;
    bool hasJoinTable() const;
    // Whether persons can be joined with their address-book contact.
    bool canJoinContacts() const;

    void loadChats(LoadContext &ctx);
    void loadPersons(LoadContext &ctx);
    void loadParticipants(LoadContext &ctx);
    void loadMessages(LoadContext &ctx);
    void loadAttachments(LoadContext &ctx);
    void loadCalls(LoadContext &ctx);
    void makePreview(const QString &filePath, const QString &previewPath) const;

    QHash<QString, qint32> m_entities;
    qint32 m_conversationEnt = 0;
    qint32 m_phoneNumberIndexEnt = 0;
    QString m_joinTable;
    QString m_joinChatColumn;
    QString m_joinPersonColumn;
    bool m_memberLayout = false;
};
