#pragma once

#include "ItemModelMain.h"
#include "viber/ViberData.h"

#include <QCoreApplication>
#include <QString>

#include <functional>

class LocalDbController;
class QWidget;
class WindowContext;

// The main window's actions that bring a source in from outside the program.
class ImportController
{
    Q_DECLARE_TR_FUNCTIONS(ImportController)

public:
    // A folder dialog: title, starting folder; "" when cancelled.
    using FolderChooser = std::function<QString(QWidget *parent, const QString &title, const QString &start)>;

    ImportController(WindowContext &window, LocalDbController &localDb);

    // Replaceable so that tests answer without a dialog.
    void setFolderChooser(FolderChooser chooser) { m_folder = std::move(chooser); }

    // Shows a Viber store folder the user already has (a copy of a phone's app
    // container, say) as a source that is only ever read.
    void openStoreFolder();
    // Reads a Viber Desktop account the user picks and copies its messages into a
    // local database: one named after the account, or with toSelectedDb the
    // selected local database, proposed in the chooser.
    void importViberDesktop(bool toSelectedDb);
    // Reads the Viber store of an iTunes backup the user picks (unlocked with its
    // password when encrypted) and copies its messages into a local database.
    void importITunesBackup(bool toSelectedDb);
    // Makes the demo archive into the local database "Demo" (once) and shows it.
    void openDemoArchive();

private:
    // Copies loaded messages into a local database: the selected one when asked
    // and there is one, else one proposed by name.
    void openOrCopy(const ViberDataPtr &data, bool toSelectedDb, _OpenedItemNode::What what,
                    const QString &name, const QString &path);
    void copyAll(const ViberDataPtr &data, bool toSelectedDb, const QString &proposedName);

    WindowContext &m_window;
    LocalDbController &m_localDb;
    FolderChooser m_folder;
};
