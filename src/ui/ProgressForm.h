#pragma once

#include "WinMovable.h"
#include "workers/ProgressReporter.h"

#include <QDialog>

#include <atomic>
#include <memory>

namespace Ui {
class ProgressForm;
}

// The modal dialog every long operation runs behind. The GUI thread uses the
// slots; a worker thread uses only the ProgressReporter operations, which
// queue the slot of the same meaning into the dialog's thread. One dialog
// serves one run: once it has closed, late reports are ignored.
class ProgressForm : public QDialog, public ProgressReporter
{
    Q_OBJECT
public:
    // title becomes the window title and the first status line.
    explicit ProgressForm(const QString &title, QWidget *parent = nullptr);
    ~ProgressForm() override;

    // ProgressReporter, callable from any thread.
    void reportProgress(const QString &status, int percent, const QString &detail) override;
    void reportError(const QString &message) override;
    void reportSuccess(const QString &message) override;
    void tipsAndWait(const QString &message) override;
    bool isWaiting() const override;
    bool isCancelled() const override { return m_cancelled.load(); }
    void refuseCancel() override;

    // GUI thread. Operations that must not be left halfway disable Cancel.
    void enableCancel(bool enabled);
    // Set when the dialog finishes: true when it finished with result 0
    // (error or cancel). Readable from any thread.
    bool endedWithoutSuccess() const { return m_endedWithoutSuccess.load(); }

signals:
    void userCacel();

public slots:
    void updateProgress(const QString &status, int curProgress, const QString &progressText);
    void errorOccurred(const QString &err);
    void succeed(const QString &tipsStr);
    void onFinish(int result);
    void tipsWait(const QString &info);
    void cancel();
    // Escape and closing the window mean Cancel, so the worker hears of it;
    // ignored while Cancel is disabled.
    void reject() override;

private:
    WinMovable m_mover;
    std::unique_ptr<Ui::ProgressForm> m_ui;
    std::atomic<bool> m_endedWithoutSuccess{false};
    // Set by the worker's thread, cleared by the GUI thread.
    std::atomic<bool> m_waitingForUser{false};
    std::atomic<bool> m_cancelled{false};
    // Set by the worker once it commits: a cancel after that is ignored.
    std::atomic<bool> m_cancelRefused{false};
    // Set once the dialog has closed: nothing will acknowledge a wait any more.
    std::atomic<bool> m_closed{false};
    // GUI thread: a final report (success, error, cancel) is being handled, so
    // later ones are late.
    bool m_finishing = false;
};
