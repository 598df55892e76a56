#include "PasscodeDlg.h"

#include "MessageBoxes.h"
#include "RunWorker.h"
#include "app/StyleSheet.h"
#include "itunes/BackupManifest.h"
#include "workers/UnlockBackupThread.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <exception>

using namespace Qt::StringLiterals;

PasscodeDlg::PasscodeDlg(BackupManifest *manifest, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_manifest(manifest),
      m_title(
          new QLabel(tr("IDS_ENTER_PASSWORD_OF_BACKUP_%1_%2")
                         .arg(manifest->displayName().toHtmlEscaped(),
                              QDir::toNativeSeparators(manifest->folder().absolutePath()).toHtmlEscaped()),
                     this)),
      m_passcode(new QLineEdit(this)), m_ok(new QPushButton(tr("IDS_OK"), this)),
      m_cancel(new QPushButton(tr("IDS_CANCEL"), this)), m_mover(this)
{
    setObjectName(u"PasscodeDlg"_s);
    setWindowTitle(u"Dialog"_s);
    setStyleSheet(appStyleSheet());
    setModal(true);

    m_title->setObjectName(u"lbTitle2"_s);
    m_title->setWordWrap(true);
    m_title->setTextFormat(Qt::RichText);
    m_passcode->setObjectName(u"txtPasscode"_s);
    m_passcode->setEchoMode(QLineEdit::Password);
    m_passcode->setPlaceholderText(tr("IDS_ENTER_PASSWORD"));
    m_passcode->setMinimumWidth(280);
    // Typed blind on a long password is easy to get wrong: the user may look.
    auto *show = new QCheckBox(tr("IDS_SHOW_PASSWORD"), this);
    show->setObjectName(u"cbShowPassword"_s);
    connect(show, &QCheckBox::toggled, this,
            [this](bool on) { m_passcode->setEchoMode(on ? QLineEdit::Normal : QLineEdit::Password); });
    m_ok->setObjectName(u"btnOK"_s);
    m_ok->setDefault(true);
    m_cancel->setObjectName(u"btnCancel"_s);
    connect(m_ok, &QPushButton::clicked, this, &PasscodeDlg::btnOKClicked);
    connect(m_cancel, &QPushButton::clicked, this, &PasscodeDlg::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 14, 18, 14);
    layout->setSpacing(10);
    layout->addWidget(m_title);
    layout->addWidget(m_passcode);
    layout->addWidget(show);
    layout->addLayout(buttons);
}

void PasscodeDlg::btnOKClicked()
{
    const QString password = m_passcode->text();
    if (password.isEmpty()) {
        showWarning(tr("IDS_PWD_IS_NULL"), this);
        return;
    }
    // The field is emptied either way, so the password does not outlive the dialog's answer.
    m_passcode->clear();
    // Key derivation takes seconds on a current backup: shown, and cancellable.
    UnlockBackupThread unlock(m_manifest, password);
    if (!runWorker(this, &unlock, tr("IDS_UNLOCKING_BACKUP_TITLE"), true, 400)) {
        // A damaged key bag was reported; a cancel leaves the dialog open to try again.
        if (unlock.outcome() == WorkerThread::Outcome::Failed)
            reject();
        return;
    }
    if (!unlock.unlocked()) {
        showWarning(tr("IDS_INVALID_PASSWORD"), this);
        return;
    }
    accept();
}
