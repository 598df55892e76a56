#pragma once

#include "ActionScope.h"
#include "viber/ViberData.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;
class WindowContext;

// The local-database actions of the main window, each a dialog, a worker behind
// the progress dialog and the result; refreshing the source tree is the caller's.

// Asks for a database (existingNames offered, matched without regard to case;
// proposedName filled in) and copies messages into it. Returns the database's
// name (as it is spelt on disk) after a successful copy, "" when the user gave
// up or the copy failed or was cancelled. startedName, when given, receives the
// name whenever the database exists after the run: a database that the copy
// created and that failed or was cancelled is removed again, and is not named.
QString backupMessagesToLocalDb(QWidget *parent, const QList<_ViberMsg *> &messages,
                                const QStringList &existingNames, const QString &proposedName,
                                QString *startedName = nullptr);

// What a deletion removes, named in its confirmation.
struct LocalDbDeletion
{
    enum Kind { SelectedMessages, WholeChat };
    Kind kind = SelectedMessages;
    QString databaseName;
    QString chatTitle; // for WholeChat
};

// Confirms, then deletes messages (loaded from the database in databaseFolder)
// from its store. True when they were deleted: the caller reloads the database.
bool deleteMessagesFromLocalDb(QWidget *parent, const QString &databaseFolder,
                               const QList<_ViberMsg *> &messages, const LocalDbDeletion &what);

// Confirms (naming the database and, when messageCount is not negative, its
// message count), then removes the database called name with its folder and
// tells the user. True when it is gone: the caller removes its node.
bool deleteLocalDatabase(QWidget *parent, const QString &name, qint64 messageCount);

// The main window's local-database actions on a scope of its selection.
class LocalDbController
{
public:
    // Hands a folder to the desktop; false when that failed.
    using FolderOpener = std::function<bool(const QString &path)>;

    explicit LocalDbController(WindowContext &window) : m_window(window) {}

    void setFolderOpener(FolderOpener opener) { m_folderOpener = std::move(opener); }

    // Copies the scope's messages into a database the user chooses, proposing
    // "<source>_Backup", and shows the database as it is afterwards.
    void backup(ActionScope scope);
    // Copies messages into a database the user chooses, proposing proposedName,
    // and shows the database as it is afterwards. data keeps the records alive.
    void copyIntoLocalDb(const ViberDataPtr &data, const QList<_ViberMsg *> &messages,
                         const QString &proposedName);
    // Deletes the chosen messages or the shown chat from the selected local
    // database; All (and the toolbar with nothing chosen) deletes the database.
    void remove(ActionScope scope);
    void openFolder();

private:
    void removeMessages(ActionScope scope);
    void removeDatabase();

    WindowContext &m_window;
    FolderOpener m_folderOpener;
};
