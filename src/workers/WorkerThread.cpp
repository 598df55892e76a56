#include "WorkerThread.h"

#include "ConsoleReporter.h"
#include "ProgressReporter.h"

#include <QDebug>

#include <algorithm>
#include <exception>
#include <new>

namespace {

// How often a worker waiting for the user looks again.
constexpr unsigned long kWaitPollMs = 50;

} // namespace

WorkerThread::WorkerThread(QObject *parent) : QThread(parent) {}

WorkerThread::~WorkerThread()
{
    if (isRunning()) {
        qWarning("%s destroyed while running; stopping it first", metaObject()->className());
        requestStop();
        wait();
    }
}

void WorkerThread::setReporter(ProgressReporter *reporter)
{
    m_reporter = reporter;
}

bool WorkerThread::stopRequested() const
{
    return m_stop.load() || (m_reporter && m_reporter->isCancelled());
}

int WorkerThread::percentOf(qint64 done, qint64 total, int scale)
{
    if (total <= 0 || done <= 0)
        return 0;
    if (done >= total)
        return scale;
    // In floating point: done * scale may not fit in 64 bits for huge sizes.
    return static_cast<int>(static_cast<double>(done) / static_cast<double>(total) * scale);
}

void WorkerThread::requestStop()
{
    m_stop.store(true);
}

void WorkerThread::cleanUp(Outcome) {}

void WorkerThread::checkCancel() const
{
    if (!m_committing.load() && stopRequested())
        throw -1;
}

void WorkerThread::commitStarts()
{
    m_committing.store(true);
    if (m_reporter)
        m_reporter->refuseCancel();
}

void WorkerThread::reportProgress(int percent, const QString &status, const QString &detail)
{
    if (!m_reporter)
        return;
    const int p = percent < 0 ? -1 : std::min(percent, 100);
    // A negative percent or an empty status changes nothing on the dialog, so
    // compare what the dialog would show after this report.
    const int shownPercent = p < 0 ? m_lastPercent : p;
    const QString &shownStatus = status.isEmpty() ? m_lastStatus : status;
    if (m_sentAny && shownPercent == m_lastPercent && shownStatus == m_lastStatus && detail == m_lastDetail)
        return;
    m_sentAny = true;
    m_lastPercent = shownPercent;
    m_lastStatus = shownStatus;
    m_lastDetail = detail;
    m_reporter->reportProgress(status, p, detail);
}

void WorkerThread::tipsAndWait(const QString &message)
{
    if (!m_reporter)
        return;
    m_reporter->tipsAndWait(message);
    while (m_reporter->isWaiting() && !stopRequested())
        msleep(kWaitPollMs);
    checkCancel();
}

void WorkerThread::run()
{
    m_outcome = Outcome::NotFinished;
    m_errorText.clear();
    m_successText.clear();
    m_committing.store(false);
    m_sentAny = false;
    m_timer.start();
    QString message;
    try {
        message = work();
        m_outcome = Outcome::Succeeded;
        m_successText = message;
        qInfo().noquote() << metaObject()->className() << "finished in" << elapsedText() << "-"
                          << plainLogText(message);
    } catch (const std::bad_alloc &) {
        finishFailed(tr("IDS_WORKER_OUT_OF_MEMORY"));
    } catch (const std::exception &e) {
        const QString text = QString::fromUtf8(e.what());
        finishFailed(text.trimmed().isEmpty() ? tr("IDS_WORKER_UNEXPECTED_ERROR") : text);
    } catch (int code) {
        if (code == -1)
            finishCancelled();
        else
            finishFailed(tr("IDS_WORKER_UNEXPECTED_ERROR"));
    } catch (...) {
        finishFailed(tr("IDS_WORKER_UNEXPECTED_ERROR"));
    }
    // Outside the try: a report is never followed by a second one.
    if (m_outcome == Outcome::Succeeded && m_reporter)
        m_reporter->reportSuccess(message);
}

QString WorkerThread::elapsedText() const
{
    return QString::number(double(m_timer.elapsed()) / 1000.0, 'f', 2) + QLatin1String(" s");
}

QString WorkerThread::plainLogText(const QString &richText)
{
    // Reports are rich text for the dialogs; the log holds one plain line.
    return ConsoleReporter::toPlainText(richText).simplified();
}

void WorkerThread::finishCancelled()
{
    qInfo().noquote() << metaObject()->className() << "cancelled after" << elapsedText();
    m_outcome = Outcome::Cancelled;
    safeCleanUp(m_outcome);
}

void WorkerThread::finishFailed(const QString &text)
{
    qWarning().noquote() << metaObject()->className() << "failed after" << elapsedText() << "-"
                         << plainLogText(text);
    m_outcome = Outcome::Failed;
    m_errorText = text;
    // Clean first, so that the error is the run's last word.
    safeCleanUp(m_outcome);
    if (m_reporter)
        m_reporter->reportError(text);
}

void WorkerThread::safeCleanUp(Outcome outcome)
{
    try {
        cleanUp(outcome);
    } catch (const std::exception &e) {
        qWarning().noquote() << metaObject()->className()
                             << "could not remove partial output:" << QString::fromUtf8(e.what());
    } catch (...) {
        qWarning("%s could not remove partial output", metaObject()->className());
    }
}
