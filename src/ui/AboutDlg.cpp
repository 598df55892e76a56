#include "AboutDlg.h"

#include "app/AppConstants.h"
#include "app/StyleSheet.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

AboutDlg::AboutDlg(QWidget *parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_mover(this)
{
    setObjectName(QStringLiteral("AboutDlg"));
    setWindowTitle(tr("IDS_MI_ABOUT"));
    setStyleSheet(appStyleSheet());

    auto *logo = new QLabel(this);
    logo->setPixmap(QPixmap(QStringLiteral(":/res/logo.png")));
    auto *name = new QLabel(QCoreApplication::translate("MainWindow", "Chatwharf"), this);
    name->setObjectName(QStringLiteral("lbProductName"));
    auto *version = new QLabel(tr("IDS_ABOUT_VERSION_%1").arg(QLatin1String(kVersion)), this);
    version->setObjectName(QStringLiteral("lbVersion"));
    auto *info = new QLabel(tr("IDS_ABOUT_TEXT_%1").arg(QLatin1String(AppConstants::kSupportEmail)), this);
    info->setWordWrap(true);
    info->setTextFormat(Qt::RichText);
    info->setOpenExternalLinks(true);
    auto *ok = new QPushButton(tr("IDS_OK"), this);
    ok->setObjectName(QStringLiteral("btnOk"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto *texts = new QVBoxLayout;
    texts->addWidget(name);
    texts->addWidget(version);
    texts->addWidget(info);
    auto *top = new QHBoxLayout;
    top->addWidget(logo, 0, Qt::AlignTop);
    top->addLayout(texts, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 14);
    layout->addLayout(top);
    layout->addLayout(buttons);
    setMinimumWidth(380);
}
