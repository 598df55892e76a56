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
    // An open-file dialog of the same shape; the start is a folder.
    void setFileChooser(FolderChooser chooser) { m_file = std::move(chooser); }

    // Shows a Viber store folder the user already has (a copy of a phone's app
    // container, say) as a source that is only ever read.
    void openStoreFolder();
    // Reads a Viber Desktop account the user picks (or a viber.db file the user
    // names, when none is found or the one wanted is elsewhere) and opens it in
    // place; with toSelectedDb copies its messages into the selected local database.
    void importViberDesktop(bool toSelectedDb);
    // Reads the Viber store of an iTunes backup the user picks (unlocked with its
    // password when encrypted) and opens it in place; with toSelectedDb copies its
    // messages into the selected local database. A store folder picked instead
    // opens as one.
    void importITunesBackup(bool toSelectedDb);
    // Makes the demo archive into the local database "Demo" (once) and shows it.
    void openDemoArchive();
    // The welcome page's links lead to the ways a source comes in.
    void followWelcomeLink(const QString &way);

private:
    // Shows loaded records as a source opened in place, or with toSelectedDb copies
    // them into the selected local database (else one proposed by name).
    void openOrCopy(const ViberDataPtr &data, bool toSelectedDb, _OpenedItemNode::What what,
                    const QString &name, const QString &path);
    void copyAll(const ViberDataPtr &data, bool toSelectedDb, const QString &proposedName);

    WindowContext &m_window;
    LocalDbController &m_localDb;
    FolderChooser m_folder;
    FolderChooser m_file;
};
