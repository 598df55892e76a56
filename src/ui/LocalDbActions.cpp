#include "LocalDbActions.h"

#include "LocalDbSelForm.h"
#include "MessageBoxes.h"
#include "RunWorker.h"
#include "app/DataFolder.h"
#include "viber/LocalDatabases.h"
#include "workers/BackupViberMsgThread.h"
#include "workers/DeleteViberMsgThread.h"

#include <QCoreApplication>

namespace {

QString text(const char *key)
{
    return QCoreApplication::translate("LocalDbActions", key);
}

} // namespace

QString backupMessagesToLocalDb(QWidget *parent, const QList<_ViberMsg *> &messages,
                                const QStringList &existingNames, QString *startedName)
{
    if (startedName)
        startedName->clear();
    const QString chosen = LocalDbSelForm::chooseName(existingNames, QString(), parent);
    if (chosen.isEmpty())
        return QString();
    // On a file system that tells letter cases apart, "Work" must still merge into "work".
    QString name = LocalDatabases::existingName(existingNames, chosen);
    if (name.isEmpty())
        name = LocalDatabases::existingName(LocalDatabases::names(), chosen);
    if (name.isEmpty())
        name = chosen;
    const QString folder = LocalDatabases::folderOf(name);
    if (folder.isEmpty()) {
        showWarning(QCoreApplication::translate("LocalDbSelForm", "IDS_INVALID_LOCALDB_NAME"), parent);
        return QString();
    }
    if (startedName)
        *startedName = name;
    BackupViberMsgThread worker(messages, QDir(folder));
    if (!runWorker(parent, &worker, text(QT_TRANSLATE_NOOP("LocalDbActions", "IDS_BACKUP_TITLE"))))
        return QString();
    return name;
}

bool deleteMessagesFromLocalDb(QWidget *parent, const QString &databaseFolder,
                               const QList<_ViberMsg *> &messages, LocalDbDeletion what)
{
    const QString question = what == LocalDbDeletion::WholeChat
                                 ? text(QT_TRANSLATE_NOOP("LocalDbActions", "IDS_CONFIRM_DEL_THIS_CHAT"))
                                 : text(QT_TRANSLATE_NOOP("LocalDbActions", "IDS_CONFIRM_DEL_SEL_MESSAGES"));
    if (!askYesNo(question, parent))
        return false;
    const std::unique_ptr<IOSViberDb> store = LocalDatabases::store(databaseFolder);
    DeleteViberMsgThread worker(store.get(), messages);
    const bool ok = runWorker(parent, &worker, text(QT_TRANSLATE_NOOP("LocalDbActions", "IDS_DELETE_TITLE")));
    store->close();
    return ok;
}

bool deleteLocalDatabase(QWidget *parent, const QString &name)
{
    if (!askYesNo(text(QT_TRANSLATE_NOOP("LocalDbActions", "IDS_CONFIRM_DEL_THIS_LOCALDB")), parent))
        return false;
    QString error;
    if (!LocalDatabases::remove(localDatabasesFolder(), name, &error)) {
        reportError(error, parent);
        return false;
    }
    showInfo(text(QT_TRANSLATE_NOOP("LocalDbActions", "IDS_DEL_LOCALDB_SUC")), parent);
    return true;
}
