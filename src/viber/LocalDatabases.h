#pragma once

#include "IOSViberDb.h"

#include <QCoreApplication>
#include <QDir>
#include <QString>
#include <QStringList>

#include <memory>

class QLockFile;

// The program's own archives of Viber messages: one sub-folder of the local
// databases folder per database, named by the database, holding a store in the
// template layout with the attachment folders of a phone's Viber container. The
// store reader loads one like a phone's store.
class LocalDatabases
{
    Q_DECLARE_TR_FUNCTIONS(LocalDatabases)
public:
    // The store inside a database folder.
    static constexpr const char *kStoreFileName = "Documents/Contacts-corvanta.data";

    enum class NameCheck { Valid, Empty, Invalid };

    // The name as the user typed it, without surrounding white space.
    static QString normalizedName(const QString &typed);
    // Of a normalized name. Invalid: a character no file system takes in a name
    // (\ / : * ? " < > | line feed, carriage return, tab), or "." or "..", which
    // would name the databases folder or its parent rather than a database.
    static NameCheck checkName(const QString &name);
    // The name among names that equals name without regard to case; "" when none.
    // A database typed in another letter case is the existing one.
    static QString existingName(const QStringList &names, const QString &name);

    // Names of the sub-folders of parent that hold a store, sorted by name.
    static QStringList names(const QDir &parent);
    static QStringList names();
    // The folder of the database called name inside parent; "" for a name that is
    // not valid, so that no caller can reach outside parent through a name.
    static QString folderOf(const QDir &parent, const QString &name);
    static QString folderOf(const QString &name);
    static bool isDatabaseFolder(const QString &folder);

    // The store of a database folder (not yet opened; opening creates it).
    static std::unique_ptr<IOSViberDb> store(const QString &folder);
    // Opens the folder's store and reads it, making the missing picture previews;
    // raises an exception naming the file.
    static ViberDataPtr load(const QString &folder);

    // Deletes the database called name inside parent with everything in it. False
    // with error set (a sentence naming the folder) when it could not be removed
    // completely or the name is not valid.
    static bool remove(const QDir &parent, const QString &name, QString *error = nullptr);
};

// One writer at a time for a local database, across processes: a lock file beside the
// database's folder ("<name>.lock"), held while a copy, delete or transfer changes it.
// A process that died leaves a lock the next one takes over.
class LocalDatabaseLock
{
public:
    explicit LocalDatabaseLock(const QString &databaseFolder);
    ~LocalDatabaseLock();
    LocalDatabaseLock(const LocalDatabaseLock &) = delete;
    LocalDatabaseLock &operator=(const LocalDatabaseLock &) = delete;

    // Takes the lock, waiting up to timeoutMs (0: not at all); false when another
    // holds it still, or the lock file cannot be made (error() says why).
    bool tryLock(int timeoutMs = 0);
    bool isLocked() const { return m_locked; }
    // Creates the database's folder if it is missing, with the lock held. True only
    // when this call made it: that run alone may remove the folder again when it fails,
    // decided by the creating mkdir itself, never by a look made before.
    bool createFolder();
    // Why tryLock failed, when not because another held the lock.
    const QString &error() const { return m_error; }

private:
    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    bool m_locked = false;
    QString m_error;
};
