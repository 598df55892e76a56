#pragma once

#include "AbsViberDb.h"

#include <QCoreApplication>
#include <QList>
#include <QString>

class QFile;

// One Viber Desktop account found on this computer: a folder holding "viber.db".
struct PCViberAccount
{
    QString name;   // the account folder's name (the account's number)
    QString dbPath; // its "viber.db"

    // The name of the data source the account is shown as: "ViberPC-" and the folder's name.
    QString sourceName() const;
};

// The history file "viber.db" of a Viber Desktop account. Two layouts are read into the
// same records: the classic one (participants in OriginNumberInfo, joined by number,
// message kinds as bit flags, times in seconds) and the one of the 2017 and later
// clients (participants in Contact, joined by ContactID, message kinds as an
// enumeration, times in milliseconds). The file is only ever read.
class PCViberDb : public AbsViberDb
{
    Q_DECLARE_TR_FUNCTIONS(PCViberDb)

public:
    enum class Layout { Unknown, Classic, Contacts };

    explicit PCViberDb(const QString &dbPath);
    ~PCViberDb() override;

    // Opens the file read-only and reads its catalogue; nothing when already open.
    // Raises an exception with a sentence naming the file when it is missing or
    // unreadable, encrypted (as current clients write it), no SQLite file at all
    // (an empty or a text file), or lacks a table without which no message can be read.
    void open() override;
    // Reads chats, participants, messages, attachments and calls. Unless open already,
    // the file is opened for the load and closed after it, leaving nothing beside it.
    // Rows that refer to nothing loaded, or repeat an id, are left out.
    ViberDataPtr load() override;

    // The layout recognised by open(); Unknown before.
    Layout layout() const { return m_layout; }

    // The folders where Viber Desktop keeps its accounts, existing or not.
    static QStringList desktopFolders();
    // Every account in those folders whose "viber.db" is not empty, by folder name.
    static QList<PCViberAccount> findAccounts();
    // The texts of choosing an account: none found, and the title of the choice.
    static QString noAccountText();
    static QString chooseAccountTitle();

private:
    struct LoadContext;

    void checkReadable() const;
    // Whether the open file, which is no plain SQLite file, is an encrypted database:
    // whole pages of random-looking bytes.
    static bool looksEncrypted(QFile &file);
    void recogniseLayout();
    void loadPersons(LoadContext &ctx);
    void loadChats(LoadContext &ctx);
    void loadMembers(LoadContext &ctx);
    void loadMessages(LoadContext &ctx);
    void loadCalls(LoadContext &ctx);
    // The other party of the call a row of Calls joined to Events tells of; null when none.
    _ViberPerson *callParty(LoadContext &ctx, const Sqlite3Cursor &c, int whoCol, const _ViberChat *chat);

    // "t."Column"", or NULL when the table lacks the column, so that a query asks
    // only for what the file has.
    QString columnOrNull(const QString &alias, const QString &table, const QString &column) const;
    // The participant column of Events and ChatRelation: Number or ContactID.
    QString personRefColumn() const;

    Layout m_layout = Layout::Unknown;
};
