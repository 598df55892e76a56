#include "ImportActions.h"

#include "MessageBoxes.h"
#include "WindowContext.h"
#include "viber/StorePaths.h"

#include <QDir>
#include <QFileDialog>

ImportController::ImportController(WindowContext &window)
    : m_window(window), m_folder([](QWidget *parent, const QString &title, const QString &start) {
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
