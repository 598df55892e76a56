#include "ProgressForm.h"

#include "MessageBoxes.h"
#include "ScopeChoice.h"
#include "app/StyleSheet.h"
#include "ui_ProgressForm.h"

#include <QMetaObject>

#include <algorithm>

ProgressForm::ProgressForm(const QString &title, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_mover(this),
      m_ui(std::make_unique<Ui::ProgressForm>())
{
    m_ui->setupUi(this);
    setStyleSheet(appStyleSheet());
    // A title-less dialog still needs a name in the window list.
    setWindowTitle(title.isEmpty() ? QCoreApplication::translate("QObject", "Chatwharf") : title);
    m_ui->lbStatus->setText(title);
    m_ui->progressBar->setRange(0, 100);
    m_ui->progressBar->setValue(0);
    connect(this, &QDialog::finished, this, &ProgressForm::onFinish);
    connect(m_ui->btnCancel, &QPushButton::pressed, this, &ProgressForm::cancel);
}

ProgressForm::~ProgressForm() = default;

void ProgressForm::reportProgress(const QString &status, int percent, const QString &detail)
{
    QMetaObject::invokeMethod(
        this, [this, status, percent, detail] { updateProgress(status, percent, detail); },
        Qt::AutoConnection);
}

void ProgressForm::reportError(const QString &message)
{
    QMetaObject::invokeMethod(
        this, [this, message] { errorOccurred(message); }, Qt::AutoConnection);
}

void ProgressForm::reportSuccess(const QString &message)
{
    QMetaObject::invokeMethod(
        this, [this, message] { succeed(message); }, Qt::AutoConnection);
}

void ProgressForm::tipsAndWait(const QString &message)
{
    // Set here, in the worker's thread, so that the worker's first poll
    // already sees it, before the queued slot has run.
    m_waitingForUser.store(true);
    QMetaObject::invokeMethod(
        this, [this, message] { tipsWait(message); }, Qt::AutoConnection);
}

bool ProgressForm::isWaiting() const
{
    // A closed dialog shows no box and cannot be acknowledged: a worker
    // still waiting would otherwise block the caller's wait for it forever.
    return m_waitingForUser.load() && !m_closed.load();
}

void ProgressForm::refuseCancel()
{
    // Set here, in the worker's thread, so that a press handled from now on is
    // ignored even before the button is disabled.
    m_cancelRefused.store(true);
    QMetaObject::invokeMethod(
        this, [this] { enableCancel(false); }, Qt::AutoConnection);
}

void ProgressForm::enableCancel(bool enabled)
{
    m_ui->btnCancel->setEnabled(enabled);
}

void ProgressForm::updateProgress(const QString &status, int curProgress, const QString &progressText)
{
    if (m_finishing)
        return;
    if (!status.isEmpty())
        m_ui->lbStatus->setText(status);
    QProgressBar *bar = m_ui->progressBar;
    // Out-of-range values would be dropped by the bar; a worker overshooting means "full".
    if (curProgress >= 0)
        bar->setValue(std::clamp(curProgress, bar->minimum(), bar->maximum()));
    m_ui->lbProgress->setText(progressText.isEmpty() ? tr("IDS_PROGRESS_%1").arg(bar->value())
                                                     : progressText);
}

void ProgressForm::errorOccurred(const QString &err)
{
    if (m_finishing)
        return;
    m_finishing = true;
    ::reportError(err, this);
    done(0);
}

void ProgressForm::succeed(const QString &tipsStr)
{
    if (m_finishing)
        return;
    m_finishing = true;
    if (!tipsStr.isEmpty())
        showInfo(ScopeNote::decorate(tipsStr), this);
    done(1);
}

void ProgressForm::onFinish(int result)
{
    m_finishing = true;
    m_endedWithoutSuccess.store(result == 0);
    m_closed.store(true);
}

void ProgressForm::tipsWait(const QString &info)
{
    if (!m_finishing)
        showInfo(info, this);
    m_waitingForUser.store(false);
}

void ProgressForm::cancel()
{
    if (m_finishing || m_cancelRefused.load())
        return;
    m_finishing = true;
    // Before the signal, so that a worker polling isCancelled() and one
    // listening to userCacel learn of it at the same moment.
    m_cancelled.store(true);
    emit userCacel();
    done(0);
}

void ProgressForm::reject()
{
    if (m_ui->btnCancel->isEnabled())
        cancel();
}
