#include "DataSourceSelForm.h"

#include "MessageBoxes.h"
#include "app/StyleSheet.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

DataSourceSelForm::DataSourceSelForm(const QString &question, const QList<Item> &items, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_label(new QLabel(question, this)),
      m_combo(new QComboBox(this)), m_mover(this)
{
    setObjectName(QStringLiteral("DataSourceSelForm"));
    setWindowTitle(tr("IDS_TITLE_SELECT_ONE_DEVICE_TO_TRANSFER"));
    setStyleSheet(appStyleSheet());
    setModal(true);

    auto *title = new QLabel(windowTitle(), this);
    title->setObjectName(QStringLiteral("lbDialogTitle"));
    m_combo->setObjectName(QStringLiteral("cbDataSources"));
    m_combo->setIconSize(QSize(20, 20));
    m_combo->setMinimumWidth(280);
    for (const Item &item : items)
        m_combo->addItem(item.icon, item.text);
    m_combo->setCurrentIndex(-1);

    auto *confirm = new QPushButton(tr("IDS_CONFIRM"), this);
    confirm->setObjectName(QStringLiteral("btnConfirm"));
    confirm->setDefault(true);
    auto *cancel = new QPushButton(tr("IDS_CANCEL"), this);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    connect(confirm, &QPushButton::clicked, this, &DataSourceSelForm::accept);
    connect(cancel, &QPushButton::clicked, this, &DataSourceSelForm::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(confirm);
    buttons->addWidget(cancel);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 14, 18, 14);
    layout->setSpacing(10);
    layout->addWidget(title);
    layout->addWidget(m_label);
    layout->addWidget(m_combo);
    layout->addLayout(buttons);
}

int DataSourceSelForm::selectedIndex() const
{
    return result() == QDialog::Accepted ? m_selected : -1;
}

void DataSourceSelForm::accept()
{
    if (m_combo->currentIndex() < 0) {
        showWarning(tr("IDS_PLEASE_SELECT_ONE_DATASOURCE"), this);
        return;
    }
    m_selected = m_combo->currentIndex();
    QDialog::accept();
}

int DataSourceSelForm::choose(const QString &question, const QList<Item> &items, QWidget *parent)
{
    DataSourceSelForm form(question, items, parent);
    form.exec();
    return form.selectedIndex();
}
