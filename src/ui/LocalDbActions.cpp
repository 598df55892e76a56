#include "LocalDbActions.h"

#include "LocalDbSelForm.h"
#include "MessageBoxes.h"
#include "RunWorker.h"
#include "ScopeChoice.h"
#include "WindowContext.h"
#include "app/DataFolder.h"
#include "export/MessageText.h"
#include "viber/LocalDatabases.h"
#include "workers/BackupViberMsgThread.h"
#include "workers/DeleteViberMsgThread.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>

namespace {

QString text(const char *key)
{
    return QCoreApplication::translate("LocalDbActions", key);
}

// A name inside a rich-text box: escaped, and isolated so that a right-to-left
// name cannot reorder the sentence around it.
QString quoted(const QString &name)
{
    return isolatedText(name).toHtmlEscaped();
}

// The database's lock for this run; false (the user told why) when another program holds it.
bool lockDatabase(LocalDatabaseLock &lock, const QString &name, QWidget *parent)
{
    if (lock.tryLock())
        return true;
    showWarning(lock.error().isEmpty()
                    ? text(QT_TRANSLATE_NOOP("LocalDbActions", "IDS_LOCALDB_BUSY_%1")).arg(quoted(name))
                    : lock.error().toHtmlEscaped(),
                parent);
    return false;
}

} // namespace

QString backupMessagesToLocalDb(QWidget *parent, const QList<_ViberMsg *> &messages,
                                const QStringList &existingNames, const QString &proposedName,
                                QString *startedName)
{
    if (startedName)
        startedName->clear();
    const QString chosen = LocalDbSelForm::chooseName(existingNames, proposedName, parent);
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
    LocalDatabaseLock lock(folder);
    if (!lockDatabase(lock, name, parent))
        return QString();
    const bool created = lock.createFolder();
    if (startedName)
        *startedName = name;
    BackupViberMsgThread worker(messages, QDir(folder));
    if (runWorker(parent, &worker, text(QT_TRANSLATE_NOOP("LocalDbActions", "IDS_BACKUP_TITLE"))))
        return name;
    // A database this copy created holds nothing the user had: it goes with the
    // failed copy instead of staying behind as an empty or partial entry.
    if (created) {
        QString error;
        if (LocalDatabases::remove(localDatabasesFolder(), name, &error)) {
            if (startedName)
                startedName->clear();
        } else {
            qWarning().noquote() << "Could not remove the database of a failed copy:" << error;
        }
    }
    return QString();
}

bool deleteMessagesFromLocalDb(QWidget *parent, const QString &databaseFolder,
                               const QList<_ViberMsg *> &messages, const LocalDbDeletion &what)
{
    const QString question =
        what.kind == LocalDbDeletion::WholeChat
            ? QCoreApplication::translate("LocalDbActions", "IDS_CONFIRM_DEL_THIS_CHAT_%n_%1_%2", nullptr,
                                          int(messages.size()))
                  .arg(quoted(what.chatTitle), quoted(what.databaseName))
            : QCoreApplication::translate("LocalDbActions", "IDS_CONFIRM_DEL_SEL_MESSAGES_%n_%1", nullptr,
                                          int(messages.size()))
                  .arg(quoted(what.databaseName));
    if (!askYesNo(question, parent))
        return false;
    LocalDatabaseLock lock(databaseFolder);
    if (!lockDatabase(lock, what.databaseName, parent))
        return false;
    const std::unique_ptr<IOSViberDb> store = LocalDatabases::store(databaseFolder);
    DeleteViberMsgThread worker(store.get(), messages);
    const bool ok = runWorker(parent, &worker, text(QT_TRANSLATE_NOOP("LocalDbActions", "IDS_DELETE_TITLE")));
    store->close();
    return ok;
}

bool deleteLocalDatabase(QWidget *parent, const QString &name, qint64 messageCount)
{
    const QString question =
        messageCount >= 0
            ? QCoreApplication::translate("LocalDbActions", "IDS_CONFIRM_DEL_THIS_LOCALDB_%n_%1", nullptr,
                                          int(messageCount))
                  .arg(quoted(name))
            : text(QT_TRANSLATE_NOOP("LocalDbActions", "IDS_CONFIRM_DEL_THIS_LOCALDB_%1")).arg(quoted(name));
    if (!askYesNo(question, parent))
        return false;
    QString error;
    if (!LocalDatabases::remove(localDatabasesFolder(), name, &error)) {
        reportError(error, parent);
        return false;
    }
    showInfo(text(QT_TRANSLATE_NOOP("LocalDbActions", "IDS_DEL_LOCALDB_SUC")), parent);
    return true;
}

void LocalDbController::backup(ActionScope scope)
{
    const _AbsDBItemNode *source = m_window.selectedSource();
    if (!source)
        return;
    const std::optional<ScopeChoice::Chosen> chosen =
        ScopeChoice::askMessages(m_window, scope, "IDS_MI_BACKUP_TOOLBAR");
    if (!chosen)
        return;
    const ScopeNote note(chosen->option.text);
    copyIntoLocalDb(source->data, chosen->messages, source->text + QLatin1String("_Backup"));
}

void LocalDbController::copyIntoLocalDb(const ViberDataPtr &data, const QList<_ViberMsg *> &messages,
                                        const QString &proposedName)
{
    if (messages.isEmpty())
        return;
    // The records stay alive through the run even if their source goes meanwhile.
    const ViberDataPtr keep = data;
    ItemModelMain *tree = m_window.treeModel();
    QString started;
    const QString name = backupMessagesToLocalDb(m_window.dialogParent(), messages, tree->localDbNames(),
                                                 proposedName, &started);
    if (started.isEmpty())
        return;
    _LocalDbItemNode *node = tree->findLocalDb(started);
    if (!node)
        node = tree->addLocalDbNode(started);
    if (!name.isEmpty())
        m_window.reloadLocalDb(node);
}

void LocalDbController::remove(ActionScope scope)
{
    const _AbsDBItemNode *source = m_window.selectedSource();
    if (!source || source->kind != ItemNodeLocalDb)
        return;
    const std::optional<ScopeOption> choice =
        ScopeChoice::ask(m_window, scope, ScopeChoice::actionTitle("IDS_MI_DELETE_TOOLBAR"));
    if (!choice)
        return;
    scope = choice->scope;
    const ScopeNote note(choice->text);
    if (scope == ActionScope::All)
        removeDatabase();
    else
        removeMessages(scope);
}

void LocalDbController::removeMessages(ActionScope scope)
{
    _AbsDBItemNode *source = m_window.selectedSource();
    if (!source || source->kind != ItemNodeLocalDb)
        return;
    const QList<_ViberMsg *> messages = m_window.scopeMessages(scope);
    auto *db = static_cast<_LocalDbItemNode *>(source);
    const QString folder = LocalDatabases::folderOf(db->text);
    if (folder.isEmpty() || messages.isEmpty())
        return;
    const ViberDataPtr keep = db->data;
    LocalDbDeletion what;
    what.kind = scope == ActionScope::Chat ? LocalDbDeletion::WholeChat : LocalDbDeletion::SelectedMessages;
    what.databaseName = db->text;
    const _ViberChat *chat = m_window.shownChat();
    what.chatTitle = chat ? MessageText::chatTitle(chat) : QString();
    if (deleteMessagesFromLocalDb(m_window.dialogParent(), folder, messages, what))
        m_window.reloadLocalDb(db);
}

void LocalDbController::removeDatabase()
{
    // The database of what is selected: a chat's database when the user widened to all of it.
    _AbsDBItemNode *node = m_window.selectedSource();
    if (!node || node->kind != ItemNodeLocalDb)
        return;
    auto *db = static_cast<_LocalDbItemNode *>(node);
    const ViberDataPtr data = db->data;
    if (deleteLocalDatabase(m_window.dialogParent(), db->text, data ? data->messages.size() : -1))
        m_window.removeSourceNode(db);
}

void LocalDbController::openFolder()
{
    const QString folder = localDatabasesFolder().path();
    if (!m_folderOpener || !m_folderOpener(folder))
        showWarning(QCoreApplication::translate("MainWindow", "IDS_CAN_NOT_OPEN_FOLDER_%1")
                        .arg(QDir::toNativeSeparators(folder).toHtmlEscaped()),
                    m_window.dialogParent());
}
