#include "support/ScriptedWorker.h"
#include "ui/MessageBoxes.h"
#include "ui/ProgressForm.h"
#include "ui/RunWorker.h"
#include "workers/WorkerThread.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <functional>
#include <stdexcept>

namespace {

QString textOfBox(QWidget *box)
{
    if (auto *mb = qobject_cast<QMessageBox *>(box))
        return mb->text();
    QStringList texts;
    for (QLabel *label : box->findChildren<QLabel *>())
        if (!label->text().isEmpty())
            texts.append(label->text());
    return texts.join(QLatin1Char('\n'));
}

// Stands in for the user while runWorker's dialog is up: hooks the progress
// dialog as soon as it exists and answers every other modal box.
class User : public QObject
{
public:
    explicit User(QWidget *mainWindow) : m_mainWindow(mainWindow)
    {
        connect(&m_timer, &QTimer::timeout, this, &User::look);
        m_timer.start(10);
    }

    // Called once with the dialog, before any result; e.g. to let the worker go.
    std::function<void(ProgressForm *)> onForm;
    // Called on every tick while the dialog is open and no box is up.
    std::function<void(ProgressForm *)> onTick;
    // Return false to keep a box open a little longer.
    std::function<bool(QWidget *box)> acceptBox = [](QWidget *) { return true; };

    QStringList boxes;
    int barValueAtFirstBox = -1;
    QList<int> results;
    bool endedWithoutSuccess = false;

private:
    void look()
    {
        if (!m_form) {
            m_form = m_mainWindow->findChild<ProgressForm *>();
            if (m_form) {
                connect(m_form, &QDialog::finished, this, [this](int result) {
                    results.append(result);
                    endedWithoutSuccess = m_form->endedWithoutSuccess();
                });
                if (onForm)
                    onForm(m_form);
            }
        }
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && !qobject_cast<ProgressForm *>(modal)) {
            if (!acceptBox(modal))
                return;
            if (boxes.isEmpty() && m_form)
                barValueAtFirstBox =
                    m_form->findChild<QProgressBar *>(QStringLiteral("progressBar"))->value();
            boxes.append(textOfBox(modal));
            if (auto *dialog = qobject_cast<QDialog *>(modal))
                dialog->accept();
            return;
        }
        if (m_form && m_form->isVisible() && onTick)
            onTick(m_form);
    }

    QWidget *m_mainWindow;
    QPointer<ProgressForm> m_form;
    QTimer m_timer;
};

template <typename T> T *child(ProgressForm &form, const char *name)
{
    T *widget = form.findChild<T *>(QLatin1String(name));
    Q_ASSERT(widget);
    return widget;
}

} // namespace

class TestProgressForm : public QObject
{
    Q_OBJECT
private slots:
    void constructionShowsTitleFramelessWithCancel();
    void updateProgressWithNegativePercentKeepsBar();
    void successClosesWithOneAfterInfo();
    void emptySuccessClosesWithoutBox();
    void errorShowsBoxAndClosesWithZero();
    void cancelClosesAtOnceAndRunnerWaits();
    void cancelWhileCommittingKeepsTheResult_data();
    void cancelWhileCommittingKeepsTheResult();
    void tipsAndWaitBlocksWorkerUntilAcknowledged();
    void lateReportsToClosedDialogAreIgnored();
    void workerWaitingOnClosedDialogIsReleased();
    void escapeCancelsOnlyWhenCancelIsEnabled();
};

void TestProgressForm::constructionShowsTitleFramelessWithCancel()
{
    QWidget mainWindow;
    ProgressForm form(QStringLiteral("Loading data from Device..."), &mainWindow);
    QCOMPARE(form.windowTitle(), QStringLiteral("Loading data from Device..."));
    QCOMPARE(child<QLabel>(form, "lbStatus")->text(), QStringLiteral("Loading data from Device..."));
    QVERIFY(form.windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(form.windowFlags() & Qt::WindowType_Mask, Qt::Dialog);
    QCOMPARE(child<QPushButton>(form, "btnCancel")->text(), QStringLiteral("Cancel"));
    QVERIFY(child<QProgressBar>(form, "progressBar")->isTextVisible());
    QCOMPARE(child<QProgressBar>(form, "progressBar")->value(), 0);
    QVERIFY(!form.endedWithoutSuccess());
    QVERIFY(!form.isWaiting());
    QVERIFY(!form.isCancelled());

    ProgressForm untitled(QString(), &mainWindow);
    QCOMPARE(child<QLabel>(untitled, "lbStatus")->text(), QString());
    QVERIFY(!untitled.windowTitle().isEmpty());
}

void TestProgressForm::updateProgressWithNegativePercentKeepsBar()
{
    ProgressForm form(QStringLiteral("Exporting..."));
    auto *bar = child<QProgressBar>(form, "progressBar");
    auto *status = child<QLabel>(form, "lbStatus");
    auto *detail = child<QLabel>(form, "lbProgress");

    form.updateProgress(QStringLiteral("Saving messages..."), 42, QString());
    QCOMPARE(bar->value(), 42);
    QCOMPARE(status->text(), QStringLiteral("Saving messages..."));
    QCOMPARE(detail->text(), QStringLiteral("Progress:42%"));

    form.updateProgress(QString(), -1, QString());
    QCOMPARE(bar->value(), 42);
    QCOMPARE(status->text(), QStringLiteral("Saving messages..."));
    QCOMPARE(detail->text(), QStringLiteral("Progress:42%"));

    form.updateProgress(QString(), -1, QStringLiteral("Sending a.jpg, 12KB / 40KB"));
    QCOMPARE(bar->value(), 42);
    QCOMPARE(detail->text(), QStringLiteral("Sending a.jpg, 12KB / 40KB"));

    // An overshooting worker fills the bar instead of being ignored by it.
    form.updateProgress(QString(), 130, QString());
    QCOMPARE(bar->value(), 100);
    QCOMPARE(detail->text(), QStringLiteral("Progress:100%"));
}

void TestProgressForm::cancelWhileCommittingKeepsTheResult_data()
{
    QTest::addColumn<bool>("pressedFirst");
    // The worker had passed its last check when the press came.
    QTest::newRow("press, then commit") << true;
    QTest::newRow("commit, then press") << false;
}

void TestProgressForm::cancelWhileCommittingKeepsTheResult()
{
    QFETCH(bool, pressedFirst);
    QWidget mainWindow;
    QSemaphore atCommit, pressed;
    ScriptedWorker worker([&](ScriptedWorker &w) {
        w.checkCancel();
        if (pressedFirst) {
            atCommit.release();
            pressed.acquire();
        }
        w.commitStarts();
        if (!pressedFirst) {
            atCommit.release();
            pressed.acquire();
        }
        w.checkCancel(); // no longer raises
        return QStringLiteral("Successfully deleted 3 messages.");
    });
    User user(&mainWindow);
    bool clicked = false;
    user.onTick = [&](ProgressForm *form) {
        if (clicked || !atCommit.tryAcquire())
            return;
        clicked = true;
        QMetaObject::invokeMethod(
            form, [form] { form->cancel(); }, Qt::DirectConnection);
        pressed.release();
    };
    QVERIFY(runWorker(&mainWindow, &worker));
    QVERIFY(clicked);
    QCOMPARE(worker.outcome(), WorkerThread::Outcome::Succeeded);
    QCOMPARE(user.boxes, QStringList(QStringLiteral("Successfully deleted 3 messages.")));
}

void TestProgressForm::successClosesWithOneAfterInfo()
{
    QWidget mainWindow;
    QSemaphore go;
    ScriptedWorker worker([&](ScriptedWorker &w) {
        go.acquire();
        w.reportProgress(30, QStringLiteral("Saving messages..."));
        return QStringLiteral("Successfully transferred 2 messages.");
    });
    User user(&mainWindow);
    user.onForm = [&](ProgressForm *) { go.release(); };
    QVERIFY(runWorker(&mainWindow, &worker, QStringLiteral("Transferring...")));
    QCOMPARE(user.results, QList<int>{1});
    QVERIFY(!user.endedWithoutSuccess);
    QCOMPARE(user.boxes, QStringList{QStringLiteral("Successfully transferred 2 messages.")});
    // The progress queued before the final report was shown before it.
    QCOMPARE(user.barValueAtFirstBox, 30);
    QVERIFY(worker.isFinished());
    QCOMPARE(worker.reporter(), nullptr);
}

void TestProgressForm::emptySuccessClosesWithoutBox()
{
    QWidget mainWindow;
    QSemaphore go;
    ScriptedWorker worker([&](ScriptedWorker &) {
        go.acquire();
        return QString();
    });
    User user(&mainWindow);
    user.onForm = [&](ProgressForm *) { go.release(); };
    QVERIFY(runWorker(&mainWindow, &worker));
    QCOMPARE(user.results, QList<int>{1});
    QVERIFY(!user.endedWithoutSuccess);
    QVERIFY(user.boxes.isEmpty());
}

void TestProgressForm::errorShowsBoxAndClosesWithZero()
{
    QWidget mainWindow;
    QSemaphore go;
    ScriptedWorker worker([&](ScriptedWorker &w) -> QString {
        go.acquire();
        w.reportProgress(10);
        throw std::runtime_error("Could not open <b>Contacts.data</b>.<br/>The file is locked.");
    });
    User user(&mainWindow);
    user.onForm = [&](ProgressForm *) { go.release(); };
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("failed: Could not open")));
    QVERIFY(!runWorker(&mainWindow, &worker, QStringLiteral("Loading...")));
    QCOMPARE(user.results, QList<int>{0});
    QVERIFY(user.endedWithoutSuccess);
    QCOMPARE(user.boxes, QStringList{errorBoxText(QStringLiteral(
                             "Could not open <b>Contacts.data</b>.<br/>The file is locked."))});
    QCOMPARE(worker.outcome(), WorkerThread::Outcome::Failed);
}

void TestProgressForm::cancelClosesAtOnceAndRunnerWaits()
{
    QWidget mainWindow;
    QSemaphore go;
    std::atomic<bool> working{false};
    std::atomic<bool> observedStop{false};
    std::atomic<bool> cleanedUp{false};
    ScriptedWorker worker([&](ScriptedWorker &w) {
        go.acquire();
        for (;;) {
            working.store(true);
            if (w.stopRequested())
                observedStop.store(true);
            w.checkCancel();
            QThread::msleep(5);
        }
        return QStringLiteral("never");
    });
    // Slow cleanup: the runner must not return before it is done.
    worker.onCleanUp = [&](WorkerThread::Outcome) {
        QThread::msleep(200);
        cleanedUp.store(true);
    };
    User user(&mainWindow);
    bool pressed = false;
    bool hiddenAtOnce = false;
    bool workerStillRunning = false;
    QList<int> resultsRightAfterPress;
    QSignalSpy *cancelSpy = nullptr;
    user.onForm = [&](ProgressForm *form) {
        cancelSpy = new QSignalSpy(form, &ProgressForm::userCacel);
        go.release();
    };
    user.onTick = [&](ProgressForm *form) {
        if (pressed || !working.load())
            return;
        pressed = true;
        QTest::mouseClick(form->findChild<QPushButton *>(QStringLiteral("btnCancel")), Qt::LeftButton);
        hiddenAtOnce = !form->isVisible();
        resultsRightAfterPress = user.results;
        workerStillRunning = worker.isRunning();
    };
    QVERIFY(!runWorker(&mainWindow, &worker, QStringLiteral("Transferring...")));
    QVERIFY(pressed);
    QVERIFY(hiddenAtOnce);
    QCOMPARE(resultsRightAfterPress, QList<int>{0});
    QVERIFY(workerStillRunning);
    QVERIFY(user.endedWithoutSuccess);
    QVERIFY(cancelSpy);
    QCOMPARE(cancelSpy->count(), 1);
    delete cancelSpy;
    // The runner waited for the thread, cleanup included.
    QVERIFY(worker.isFinished());
    QVERIFY(cleanedUp.load());
    QVERIFY(observedStop.load());
    QCOMPARE(worker.outcome(), WorkerThread::Outcome::Cancelled);
    QVERIFY(user.boxes.isEmpty());
}

void TestProgressForm::tipsAndWaitBlocksWorkerUntilAcknowledged()
{
    QWidget mainWindow;
    QSemaphore go;
    std::atomic<bool> continued{false};
    ScriptedWorker worker([&](ScriptedWorker &w) {
        go.acquire();
        w.tipsAndWait(QStringLiteral("Please unlock your iPhone, then press OK."));
        continued.store(true);
        return QString();
    });
    User user(&mainWindow);
    user.onForm = [&](ProgressForm *) { go.release(); };
    QElapsedTimer boxUp;
    bool continuedWhileBoxUp = false;
    bool waitingWhileBoxUp = true;
    ProgressForm *seenForm = nullptr;
    user.acceptBox = [&](QWidget *box) {
        if (!boxUp.isValid())
            boxUp.start();
        seenForm = qobject_cast<ProgressForm *>(box->parentWidget());
        if (continued.load())
            continuedWhileBoxUp = true;
        if (seenForm && !seenForm->isWaiting())
            waitingWhileBoxUp = false;
        // Leave the box up for many of the worker's polls.
        return boxUp.elapsed() >= 300;
    };
    QVERIFY(runWorker(&mainWindow, &worker));
    QVERIFY(boxUp.isValid());
    QVERIFY(!continuedWhileBoxUp);
    QVERIFY(waitingWhileBoxUp);
    QVERIFY(seenForm);
    QVERIFY(continued.load());
    QCOMPARE(user.boxes, QStringList{QStringLiteral("Please unlock your iPhone, then press OK.")});
    QCOMPARE(user.results, QList<int>{1});
}

void TestProgressForm::lateReportsToClosedDialogAreIgnored()
{
    QWidget mainWindow;
    User user(&mainWindow);
    ProgressForm form(QStringLiteral("Exporting..."), &mainWindow);
    QSignalSpy cancelled(&form, &ProgressForm::userCacel);
    form.show();
    form.updateProgress(QStringLiteral("Saving messages..."), 20, QString());
    form.cancel();
    QCOMPARE(cancelled.count(), 1);
    QVERIFY(!form.isVisible());
    QCOMPARE(form.result(), 0);
    QVERIFY(form.endedWithoutSuccess());
    QVERIFY(form.isCancelled());

    form.succeed(QStringLiteral("late success"));
    form.errorOccurred(QStringLiteral("late error"));
    form.updateProgress(QStringLiteral("late status"), 80, QString());
    form.cancel();
    // Give the answering timer a chance to see any box the calls had shown.
    QTest::qWait(50);
    QVERIFY(user.boxes.isEmpty());
    QCOMPARE(form.result(), 0);
    QVERIFY(form.endedWithoutSuccess());
    QCOMPARE(cancelled.count(), 1);
    QCOMPARE(child<QLabel>(form, "lbStatus")->text(), QStringLiteral("Saving messages..."));
    QCOMPARE(child<QProgressBar>(form, "progressBar")->value(), 20);

    // A worker asking to wait on a closed dialog is not left waiting for ever.
    form.tipsAndWait(QStringLiteral("late tip"));
    QVERIFY(!form.isWaiting());
    QTest::qWait(50);
    QVERIFY(user.boxes.isEmpty());
}

void TestProgressForm::workerWaitingOnClosedDialogIsReleased()
{
    // A worker that ignores Cancel and asks the user something afterwards:
    // the runner is blocked waiting for it, so nobody can ever acknowledge.
    QWidget mainWindow;
    QSemaphore go;
    std::atomic<bool> working{false};
    std::atomic<bool> released{false};
    ScriptedWorker worker([&](ScriptedWorker &w) {
        go.acquire();
        ProgressReporter *reporter = w.reporter();
        while (!reporter->isCancelled()) {
            working.store(true);
            QThread::msleep(5);
        }
        reporter->tipsAndWait(QStringLiteral("late question"));
        QElapsedTimer waited;
        waited.start();
        while (reporter->isWaiting() && waited.elapsed() < 5000)
            QThread::msleep(10);
        released.store(!reporter->isWaiting());
        return QStringLiteral("late success");
    });
    User user(&mainWindow);
    user.onForm = [&](ProgressForm *) { go.release(); };
    bool pressed = false;
    user.onTick = [&](ProgressForm *form) {
        if (!pressed && working.load()) {
            pressed = true;
            form->cancel();
        }
    };
    // The worker went on to succeed: its outcome, not the closed dialog, decides.
    QVERIFY(runWorker(&mainWindow, &worker));
    QVERIFY(pressed);
    QVERIFY(released.load());
    QCOMPARE(user.boxes, QStringList(QStringLiteral("late success")));
    QCOMPARE(user.results, QList<int>{0});
}

void TestProgressForm::escapeCancelsOnlyWhenCancelIsEnabled()
{
    ProgressForm form(QStringLiteral("Writing to iPhone..."));
    QSignalSpy cancelled(&form, &ProgressForm::userCacel);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    form.enableCancel(false);
    QVERIFY(!child<QPushButton>(form, "btnCancel")->isEnabled());
    QTest::keyClick(&form, Qt::Key_Escape);
    QVERIFY(form.isVisible());
    QCOMPARE(cancelled.count(), 0);

    form.enableCancel(true);
    QTest::keyClick(&form, Qt::Key_Escape);
    QVERIFY(!form.isVisible());
    QCOMPARE(cancelled.count(), 1);
    QVERIFY(form.isCancelled());
    QVERIFY(form.endedWithoutSuccess());
}

QTEST_MAIN(TestProgressForm)
#include "tst_progressform.moc"
