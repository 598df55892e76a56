#pragma once

#include "ItemModelLoadBk.h"
#include "WinMovable.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

class BackupManifest;
class QLabel;
class QPushButton;
class QTreeView;

// Lists the iTunes backups found (newest first) and lets the user pick one or
// add a backup folder from elsewhere. The chosen backup comes with its
// Manifest.plist values read.
class LoadItunesBackupDlg : public QDialog
{
    Q_OBJECT
public:
    // Asks for a folder: parent, caption, starting folder; "" when none was chosen.
    using FolderChooser =
        std::function<QString(QWidget *parent, const QString &caption, const QString &start)>;

    // Reading a backup, or writing messages into one: the texts say which.
    enum class Purpose { Read, Write };

    // Fills the list from BackupLocations::candidateBackupFolders(); a backup
    // that cannot be read is reported and left out. An empty list names the folders
    // searched.
    explicit LoadItunesBackupDlg(QWidget *parent = nullptr, Purpose purpose = Purpose::Read);
    ~LoadItunesBackupDlg() override;

    void setFolderChooser(FolderChooser chooser) { m_chooseFolder = std::move(chooser); }
    // The backup chosen by Load; null before.
    const std::shared_ptr<BackupManifest> &selectedManifest() const { return m_selected; }
    // A folder the user added that holds a Viber store rather than a backup, which
    // the user chose to open as a store folder (accepted with no manifest): its root
    // and store file. Empty otherwise.
    QString storeFolderRoot() const { return m_storeRoot; }
    QString storeFileName() const { return m_storeFile; }
    ItemModelLoadBk *model() const { return m_model; }

public slots:
    void btnLoadClicked();
    void btnAddOtherClicked(const QString &link);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    // Reads the backup's Manifest.plist and lists it; null (reported) on failure.
    ItemModelLoadBk::_BKItemNode *addBackupFolder(const std::shared_ptr<BackupManifest> &manifest);

    ItemModelLoadBk *m_model;
    QLabel *m_title;
    QTreeView *m_list;
    QLabel *m_addOther;
    QPushButton *m_load;
    QPushButton *m_cancel;
    std::shared_ptr<BackupManifest> m_selected;
    Purpose m_purpose;
    QString m_storeRoot;
    QString m_storeFile;
    FolderChooser m_chooseFolder;
    WinMovable m_mover;
};
