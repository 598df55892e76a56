#include "ImportActions.h"

#include "DataSourceSelForm.h"
#include "LoadItunesBackupDlg.h"
#include "LocalDbActions.h"
#include "MessageBoxes.h"
#include "PasscodeDlg.h"
#include "RunWorker.h"
#include "WindowContext.h"
#include "itunes/BackupManifest.h"
#include "viber/DemoArchive.h"
#include "viber/IOSViberDb.h"
#include "viber/LocalDatabases.h"
#include "viber/PCViberDb.h"
#include "viber/StorePaths.h"
#include "workers/BackupViberMsgThread.h"
#include "workers/SourceLoading.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>

namespace {

// Loading steps behind the progress dialog, which comes up only when a step takes a while.
SourceLoading::Runner runner(QWidget *parent)
{
    return [parent](WorkerThread &worker, const QString &title) {
        return runWorker(parent, &worker, title, true, 300);
    };
}

} // namespace

ImportController::ImportController(WindowContext &window, LocalDbController &localDb)
    : m_window(window), m_localDb(localDb),
      m_folder([](QWidget *parent, const QString &title, const QString &start) {
          return QFileDialog::getExistingDirectory(parent, title, start);
      }),
      m_file([](QWidget *parent, const QString &title, const QString &start) {
          return QFileDialog::getOpenFileName(parent, title, start, tr("IDS_VIBER_DESKTOP_FILTER"));
      })
{
}

void ImportController::openStoreFolder()
{
    QWidget *parent = m_window.dialogParent();
    const QString folder = m_folder(parent, tr("IDS_TITLE_SEL_STORE_FOLDER"), QDir::homePath());
    if (folder.isEmpty())
        return;
    QString root, fileName;
    if (!StorePaths::findStoreFile(folder, &root, &fileName)) {
        showWarning(tr("IDS_NO_STORE_IN_FOLDER_%1").arg(QDir::toNativeSeparators(folder).toHtmlEscaped()),
                    parent);
        return;
    }
    m_window.addStoreFolderSource(root, fileName);
}

void ImportController::importViberDesktop(bool toSelectedDb)
{
    QWidget *parent = m_window.dialogParent();
    const QList<PCViberAccount> accounts = PCViberDb::findAccounts();
    // Where Viber Desktop keeps its data is only a guess for copies moved elsewhere:
    // the user may always name the file.
    QString path, name;
    if (accounts.isEmpty()) {
        if (!askYesNo(PCViberDb::noAccountText() + QStringLiteral("<br/><br/>") +
                          tr("IDS_CHOOSE_VIBER_DB_YOURSELF"),
                      parent))
            return;
    } else {
        QList<DataSourceSelForm::Item> items;
        for (const PCViberAccount &account : accounts)
            items.append({QIcon(QStringLiteral(":/res/database.png")), account.name});
        items.append({QIcon(QStringLiteral(":/res/open_db_folder.png")), tr("IDS_OTHER_VIBER_DB_FILE")});
        const int chosen = DataSourceSelForm::choose(PCViberDb::chooseAccountTitle(), items, parent);
        if (chosen < 0)
            return;
        if (chosen < accounts.size()) {
            path = accounts.at(chosen).dbPath;
            name = accounts.at(chosen).sourceName();
        }
    }
    if (path.isEmpty()) {
        path = m_file(parent, tr("IDS_TITLE_SEL_VIBER_DB"), QDir::homePath());
        if (path.isEmpty())
            return;
        name = QFileInfo(path).dir().dirName();
    }
    openOrCopy(SourceLoading::loadViberDesktop(path, runner(parent)), toSelectedDb,
               _OpenedItemNode::ViberDesktop, name, path);
}

void ImportController::openOrCopy(const ViberDataPtr &data, bool toSelectedDb, _OpenedItemNode::What what,
                                  const QString &name, const QString &path)
{
    if (!data)
        return;
    // Into the chosen database when asked so; else read where it is, as a source of its own.
    if (toSelectedDb)
        copyAll(data, true, what == _OpenedItemNode::ITunesBackup ? name + QLatin1String("_Backup") : name);
    else
        m_window.addOpenedSource(what, name, path, data);
}

void ImportController::copyAll(const ViberDataPtr &data, bool toSelectedDb, const QString &proposedName)
{
    QList<_ViberMsg *> messages = data->messages.values();
    sortByDate(messages);
    const _AbsDBItemNode *selected = m_window.selectedSource();
    const bool intoSelected = toSelectedDb && selected && selected->kind == ItemNodeLocalDb;
    m_localDb.copyIntoLocalDb(data, messages, intoSelected ? selected->text : proposedName);
}

void ImportController::importITunesBackup(bool toSelectedDb)
{
    QWidget *parent = m_window.dialogParent();
    LoadItunesBackupDlg choice(parent);
    if (choice.exec() != QDialog::Accepted)
        return;
    if (!choice.storeFolderRoot().isEmpty()) {
        m_window.addStoreFolderSource(choice.storeFolderRoot(), choice.storeFileName());
        return;
    }
    if (!choice.selectedManifest())
        return;
    const std::shared_ptr<BackupManifest> manifest = choice.selectedManifest();
    if (manifest->isEncrypted() && !manifest->isUnlocked()) {
        PasscodeDlg password(manifest.get(), parent);
        if (password.exec() != QDialog::Accepted)
            return;
    }
    if (const ViberDataPtr data = SourceLoading::loadITunesBackup(*manifest, runner(parent))) {
        // An interrupted write into the backup, finished or undone before it was read, is told.
        if (!manifest->recoveredText().isEmpty())
            showInfo(manifest->recoveredText(), parent);
        openOrCopy(data, toSelectedDb, _OpenedItemNode::ITunesBackup, manifest->displayName(),
                   manifest->folder().absolutePath());
    }
}

void ImportController::openDemoArchive()
{
    QWidget *parent = m_window.dialogParent();
    ItemModelMain *tree = m_window.treeModel();
    const QString name = QLatin1String(DemoArchive::kDatabaseName);
    if (_LocalDbItemNode *shown = tree->findLocalDb(name)) {
        m_window.showSource(shown);
        return;
    }
    // Made in a folder of its own, then copied in as any source is.
    QTemporaryDir files;
    ViberDataPtr data;
    try {
        data = DemoArchive::build(files.path());
    } catch (const std::exception &e) {
        reportError(QString::fromUtf8(e.what()), parent);
        return;
    }
    BackupViberMsgThread copy(data->messages.values(), QDir(LocalDatabases::folderOf(name)));
    if (!runWorker(parent, &copy, tr("IDS_DEMO_ARCHIVE_TITLE"), true, 300))
        return;
    m_window.showSource(tree->addLocalDbNode(name));
}

void ImportController::followWelcomeLink(const QString &way)
{
    if (way == QLatin1String("itunes"))
        importITunesBackup(false);
    else if (way == QLatin1String("store"))
        openStoreFolder();
    else if (way == QLatin1String("desktop"))
        importViberDesktop(false);
    else if (way == QLatin1String("device"))
        showInfo(tr("IDS_WELCOME_DEVICE_HOW"), m_window.dialogParent());
    else if (way == QLatin1String("demo"))
        openDemoArchive();
}
