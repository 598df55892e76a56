#include "ImportActions.h"

#include "DataSourceSelForm.h"
#include "LocalDbActions.h"
#include "MessageBoxes.h"
#include "RunWorker.h"
#include "WindowContext.h"
#include "viber/PCViberDb.h"
#include "viber/StorePaths.h"
#include "workers/LoadViberMsgThread.h"

#include <QDir>
#include <QFileDialog>

#include <algorithm>

ImportController::ImportController(WindowContext &window, LocalDbController &localDb)
    : m_window(window), m_localDb(localDb),
      m_folder([](QWidget *parent, const QString &title, const QString &start) {
          return QFileDialog::getExistingDirectory(parent, title, start);
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
    if (accounts.isEmpty()) {
        showWarning(PCViberDb::noAccountText(), parent);
        return;
    }
    QList<DataSourceSelForm::Item> items;
    for (const PCViberAccount &account : accounts)
        items.append({QIcon(QStringLiteral(":/res/database.png")), account.name});
    const int chosen = DataSourceSelForm::choose(PCViberDb::chooseAccountTitle(), items, parent);
    if (chosen < 0)
        return;
    const PCViberAccount &account = accounts.at(chosen);
    LoadViberMsgThread load(std::make_unique<PCViberDb>(account.dbPath), account.dbPath);
    if (!runWorker(parent, &load, tr("IDS_LOADING_VIBER_DESKTOP"), true, 300))
        return;
    const ViberDataPtr data = load.data();
    QList<_ViberMsg *> messages = data->messages.values();
    std::stable_sort(messages.begin(), messages.end(), msgDateLess);
    const _AbsDBItemNode *selected = m_window.selectedSource();
    const bool intoSelected = toSelectedDb && selected && selected->kind == ItemNodeLocalDb;
    m_localDb.copyIntoLocalDb(data, messages, intoSelected ? selected->text : account.sourceName());
}
