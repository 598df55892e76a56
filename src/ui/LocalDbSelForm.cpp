#include "LocalDbSelForm.h"

#include "MessageBoxes.h"
#include "app/StyleSheet.h"
#include "ui_LocalDbSelForm.h"
#include "viber/LocalDatabases.h"

#include <QLineEdit>

LocalDbSelForm::LocalDbSelForm(const QStringList &names, const QString &presetText, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_ui(std::make_unique<Ui::LocalDbSelForm>()),
      m_mover(this)
{
    m_ui->setupUi(this);
    setStyleSheet(appStyleSheet());
    m_ui->cbDatabases->addItems(names);
    m_ui->cbDatabases->setCurrentIndex(-1);
    m_ui->cbDatabases->lineEdit()->setPlaceholderText(tr("IDS_LOCALDB_NEW_NAME_HINT"));
    if (!presetText.isEmpty())
        m_ui->cbDatabases->setEditText(presetText);
    connect(m_ui->btnOk, &QPushButton::clicked, this, &LocalDbSelForm::accept);
    connect(m_ui->btnCancel, &QPushButton::clicked, this, &LocalDbSelForm::reject);
}

LocalDbSelForm::~LocalDbSelForm() = default;

QString LocalDbSelForm::selectedName() const
{
    return result() == QDialog::Accepted ? m_name : QString();
}

void LocalDbSelForm::accept()
{
    const QString name = LocalDatabases::normalizedName(m_ui->cbDatabases->currentText());
    switch (LocalDatabases::checkName(name)) {
    case LocalDatabases::NameCheck::Empty:
        showWarning(tr("IDS_PLEASE_SELECT_DATABASE_OR_INPUT_NEW_NAME"), this);
        return;
    case LocalDatabases::NameCheck::Invalid:
        showWarning(tr("IDS_INVALID_LOCALDB_NAME"), this);
        return;
    case LocalDatabases::NameCheck::Valid:
        break;
    }
    m_name = name;
    QDialog::accept();
}

QString LocalDbSelForm::chooseName(const QStringList &names, const QString &presetText, QWidget *parent)
{
    LocalDbSelForm form(names, presetText, parent);
    form.exec();
    return form.selectedName();
}
