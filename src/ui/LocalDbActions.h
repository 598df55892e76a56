#pragma once

#include "viber/ViberData.h"

#include <QList>
#include <QString>
#include <QStringList>

class QWidget;

// The local-database actions of the main window, each a dialog, a worker behind
// the progress dialog and the result; refreshing the source tree is the caller's.

// Asks for a database (existingNames offered, matched without regard to case) and
// copies messages into it. Returns the database's name (as it is spelt on disk)
// after a successful copy, "" when the user gave up or the copy failed or was
// cancelled. startedName, when given, receives the name whenever a copy started,
// since the database then exists even if the copy failed.
QString backupMessagesToLocalDb(QWidget *parent, const QList<_ViberMsg *> &messages,
                                const QStringList &existingNames, QString *startedName = nullptr);

enum class LocalDbDeletion { SelectedMessages, WholeChat };

// Confirms, then deletes messages (loaded from the database in databaseFolder)
// from its store. True when they were deleted: the caller reloads the database.
bool deleteMessagesFromLocalDb(QWidget *parent, const QString &databaseFolder,
                               const QList<_ViberMsg *> &messages,
                               LocalDbDeletion what = LocalDbDeletion::SelectedMessages);

// Confirms, then removes the database called name with its folder and tells the
// user. True when it is gone: the caller removes its node.
bool deleteLocalDatabase(QWidget *parent, const QString &name);
