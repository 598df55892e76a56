#include "LoadItunesBackupDlg.h"

#include "ItemModelLoadBk.h"
#include "MessageBoxes.h"
#include "app/StyleSheet.h"
#include "itunes/BackupLocations.h"
#include "itunes/BackupManifest.h"
#include "viber/StorePaths.h"

#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QTreeView>
#include <QVBoxLayout>

#include <stdexcept>

using namespace Qt::StringLiterals;

LoadItunesBackupDlg::LoadItunesBackupDlg(QWidget *parent, Purpose purpose)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_model(new ItemModelLoadBk(this)),
      m_title(new QLabel(purpose == Purpose::Write ? tr("IDS_SELECT_AN_ITUNES_BACKUP_TO_WRITE")
                                                   : tr("IDS_SELECT_AN_ITUNES_BACKUP_TO_LOAD"),
                         this)),
      m_list(new QTreeView(this)),
      m_addOther(new QLabel(tr("IDS_NO_BACKUP_LISTED_THERE_CLICK_<a href=\"#\">Here</a>_ADD"), this)),
      m_load(new QPushButton(purpose == Purpose::Write ? tr("IDS_WRITE_INTO_BACKUP") : tr("IDS_LOAD"), this)),
      m_cancel(new QPushButton(tr("IDS_CANCEL"), this)), m_purpose(purpose),
      m_chooseFolder([](QWidget *parent, const QString &caption, const QString &start) {
          return QFileDialog::getExistingDirectory(parent, caption, start, QFileDialog::ShowDirsOnly);
      }),
      m_mover(this)
{
    setObjectName(u"LoadItunesBackupDlg"_s);
    setWindowTitle(u"Dialog"_s);
    setStyleSheet(appStyleSheet());
    setModal(true);
    resize(720, 420);

    m_title->setObjectName(u"lbTitle"_s);
    m_list->setObjectName(u"listBackups"_s);
    m_list->setModel(m_model);
    m_list->setRootIsDecorated(false);
    m_list->setItemsExpandable(false);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_addOther->setObjectName(u"lbAddOther"_s);
    m_addOther->setTextFormat(Qt::RichText);
    m_addOther->setWordWrap(true);
    m_load->setObjectName(u"btnLoad"_s);
    m_load->setStyleSheet(u"margin-right:15px;"_s);
    m_load->setDefault(true);
    m_cancel->setObjectName(u"btnCancel"_s);

    connect(m_addOther, &QLabel::linkActivated, this, &LoadItunesBackupDlg::btnAddOtherClicked);
    connect(m_load, &QPushButton::clicked, this, &LoadItunesBackupDlg::btnLoadClicked);
    connect(m_list, &QTreeView::doubleClicked, this, &LoadItunesBackupDlg::btnLoadClicked);
    connect(m_cancel, &QPushButton::clicked, this, &LoadItunesBackupDlg::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_addOther, 1);
    buttons->addWidget(m_load);
    buttons->addWidget(m_cancel);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 14, 18, 14);
    layout->setSpacing(10);
    layout->addWidget(m_title);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);

    const QStringList folders = BackupLocations::candidateBackupFolders();
    for (const QString &folder : folders)
        addBackupFolder(std::make_shared<BackupManifest>(folder));
    m_list->setCurrentIndex(QModelIndex());
    if (m_model->rowCount() == 0) {
        // Where it looked, so that the user knows why and where else to look.
        QStringList searched;
        for (const QString &root : BackupLocations::backupRootFolders())
            searched << QDir::toNativeSeparators(root).toHtmlEscaped();
        m_title->setTextFormat(Qt::RichText);
        m_title->setWordWrap(true);
        m_title->setText(tr("IDS_NO_BACKUP_FOUND_IN_%1").arg(searched.join(QStringLiteral("<br/>"))));
        m_load->setText(tr("IDS_CHOOSE_FOLDER"));
    }
}

LoadItunesBackupDlg::~LoadItunesBackupDlg() = default;

ItemModelLoadBk::_BKItemNode *
LoadItunesBackupDlg::addBackupFolder(const std::shared_ptr<BackupManifest> &manifest)
{
    const QString path = manifest->folder().absolutePath();
    try {
        // A folder without an index would fail later, at loading.
        if (!BackupManifest::holdsBackup(manifest->folder()))
            throw std::runtime_error(tr("IDS_BACKUP_NO_MBDB_%1").arg(path.toHtmlEscaped()).toStdString());
        manifest->loadManifestPlist();
    } catch (const std::exception &e) {
        const QString error = QString::fromUtf8(e.what());
        qWarning().noquote() << error;
        // The user's folder, not a fault of the program: said plainly, with no error report.
        showWarning(
            tr("IDS_LOAD_BACKUP_%1_ERROR_%2").arg(QDir::toNativeSeparators(path).toHtmlEscaped(), error),
            this);
        return nullptr;
    }
    return m_model->addBackup(manifest);
}

void LoadItunesBackupDlg::btnLoadClicked()
{
    // Only a row the user selected counts; the view may make one current on focus.
    const QModelIndexList rows = m_list->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        // With nothing to pick from, the way on is to name a folder.
        if (m_model->rowCount() == 0)
            btnAddOtherClicked(QString());
        else
            showWarning(tr("IDS_PLEASE_SELECT_ONE_ITUNES_BACKUP"), this);
        return;
    }
    m_selected = m_model->manifestAt(rows.first());
    accept();
}

void LoadItunesBackupDlg::btnAddOtherClicked(const QString &)
{
    const QString chosen = m_chooseFolder(this, QString(), QDir::homePath());
    if (chosen.isEmpty())
        return;
    auto manifest = std::make_shared<BackupManifest>(QDir::cleanPath(QFileInfo(chosen).absoluteFilePath()));
    // A store folder picked here is read by the other door, when the user wants that.
    QString root, fileName;
    if (m_purpose == Purpose::Read && !BackupManifest::holdsBackup(manifest->folder()) &&
        StorePaths::findStoreFile(chosen, &root, &fileName)) {
        if (askYesNo(
                tr("IDS_FOLDER_%1_IS_A_STORE_OPEN_IT").arg(QDir::toNativeSeparators(chosen).toHtmlEscaped()),
                this)) {
            m_storeRoot = root;
            m_storeFile = fileName;
            accept();
        }
        return;
    }
    if (m_model->containsCacheKey(manifest->cacheKey())) {
        showWarning(tr("IDS_LOAD_BK_EXISTS"), this);
        return;
    }
    if (ItemModelLoadBk::_BKItemNode *node = addBackupFolder(manifest)) {
        m_load->setText(m_purpose == Purpose::Write ? tr("IDS_WRITE_INTO_BACKUP") : tr("IDS_LOAD"));
        BackupLocations::rememberAddedBackupFolder(manifest->folder().absolutePath());
        m_list->setCurrentIndex(m_model->indexOf(node));
    }
}

void LoadItunesBackupDlg::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    const qint64 width = qMax(0, event->size().width() - 80);
    m_list->setColumnWidth(0, int(width * 40 / 100));
    m_list->setColumnWidth(1, int(width * 25 / 100));
    m_list->setColumnWidth(2, int(width * 35 / 100));
}
