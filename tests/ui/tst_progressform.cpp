#include "support/ModalUser.h"
#include "support/ScriptedWorker.h"
#include "ui/MessageBoxes.h"
#include "ui/ProgressForm.h"
#include "ui/RunWorker.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QSemaphore>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <optional>
#include <stdexcept>

using namespace Qt::StringLiterals;

class TestProgressForm : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup() { m_user.reset(); }
    void progressKeepsTheBarInRange();
    void outcomeClosesTheDialog_data();
    void outcomeClosesTheDialog();
    void cancelClosesAtOnceAndRunnerWaits();
    void cancelWhileCommittingKeepsTheResult_data();
    void cancelWhileCommittingKeepsTheResult();
    void tipsAndWaitBlocksWorkerUntilAcknowledged();
    void escapeCancelsOnceAndLateReportsAreIgnored();
    void workerWaitingOnClosedDialogIsReleased();

private:
    static QProgressBar *bar(ProgressForm *form) { return form->findChild<QProgressBar *>(); }
    static QString status(ProgressForm *form) { return form->findChild<QLabel *>(u"lbStatus"_s)->text(); }

    // The user while runWorker's dialog is up: releases m_go once it sees the
    // dialog, calls m_onTick on every look while no box is up and answers boxes
    // unless m_holdBox wants one left up a little longer.
    QWidget m_main;
    std::optional<ModalUser> m_user;
    QPointer<ProgressForm> m_form;
    QSemaphore m_go;
    std::function<void(ProgressForm *)> m_onTick;
    std::function<bool()> m_holdBox;
    QList<int> m_results; // the dialog's, as it finished
    int m_cancels = 0;    // cancel signals of the dialog
    int m_barAtFirstBox = -1;
};

void TestProgressForm::init()
{
    m_go.tryAcquire(m_go.available());
    m_form.clear();
    m_onTick = nullptr;
    m_holdBox = nullptr;
    m_results.clear();
    m_cancels = 0;
    m_barAtFirstBox = -1;
    m_user.emplace(10);
    m_user->intercept = [this](QWidget *modal) {
        if (!m_form && (m_form = m_main.findChild<ProgressForm *>())) {
            connect(m_form, &QDialog::finished, this, [this](int result) { m_results << result; });
            connect(m_form, &ProgressForm::userCacel, this, [this] { ++m_cancels; });
            m_go.release();
        }
        if (auto *form = qobject_cast<ProgressForm *>(modal)) {
            if (m_onTick)
                m_onTick(form);
            return true;
        }
        if (m_holdBox && m_holdBox())
            return true;
        if (m_user->boxes.isEmpty() && m_form)
            m_barAtFirstBox = bar(m_form)->value();
        return false;
    };
}

void TestProgressForm::progressKeepsTheBarInRange()
{
    ProgressForm form(u"Exporting..."_s);
    auto *detail = form.findChild<QLabel *>(u"lbProgress"_s);
    form.updateProgress(u"Saving messages..."_s, 42, QString());
    QCOMPARE(detail->text(), u"Progress:42%"_s);
    // A negative percent changes neither bar nor status.
    form.updateProgress(QString(), -1, u"Sending a.jpg, 12KB / 40KB"_s);
    QCOMPARE(bar(&form)->value(), 42);
    QCOMPARE(status(&form), u"Saving messages..."_s);
    QCOMPARE(detail->text(), u"Sending a.jpg, 12KB / 40KB"_s);
    // An overshooting worker fills the bar instead of being ignored by it.
    form.updateProgress(QString(), 130, QString());
    QCOMPARE(detail->text(), u"Progress:100%"_s);
}

void TestProgressForm::outcomeClosesTheDialog_data()
{
    QTest::addColumn<int>("showAfterMs"); // 10 s: done long before the dialog was due
    QTest::addColumn<QString>("success"); // the worker's return value
    QTest::addColumn<QString>("error");   // else thrown
    QTest::addColumn<QString>("box");
    const QString error = u"Could not open <b>Contacts.data</b>.<br/>The file is locked."_s;
    const QString done = u"Transferred 2."_s;
    QTest::newRow("success") << 0 << done << "" << done;
    QTest::newRow("silent success") << 0 << ""
                                    << ""
                                    << "";
    QTest::newRow("error") << 0 << "" << error << errorBoxText(error);
    QTest::newRow("dialog after a delay") << 50 << done << "" << done;
    // Quick work shows no dialog but still says how it ended, once.
    QTest::newRow("quick success") << 10000 << done << "" << done;
    QTest::newRow("quick error") << 10000 << "" << error << errorBoxText(error);
}

void TestProgressForm::outcomeClosesTheDialog()
{
    QFETCH(int, showAfterMs);
    QFETCH(QString, success);
    QFETCH(QString, error);
    QFETCH(QString, box);
    const bool quick = showAfterMs > 1000;
    ScriptedWorker worker([&](ScriptedWorker &w) {
        if (!quick)
            m_go.acquire(); // until the dialog is up
        w.reportProgress(30, u"Saving messages..."_s);
        if (!error.isEmpty())
            throw std::runtime_error(error.toStdString());
        return success;
    });
    if (!error.isEmpty())
        QTest::ignoreMessage(
            QtWarningMsg,
            QRegularExpression(u"failed after .* - Could not open Contacts.data. The file is locked."_s));
    QCOMPARE(runWorker(&m_main, &worker, u"Transferring..."_s, true, showAfterMs), error.isEmpty());
    QCOMPARE(m_results, quick ? QList<int>() : QList<int>{error.isEmpty()});
    QCOMPARE(m_user->boxes, box.isEmpty() ? QStringList() : QStringList(box));
    // The progress queued before the final report was shown before it; without
    // a dialog it was dropped.
    QCOMPARE(m_barAtFirstBox, box.isEmpty() ? -1 : quick ? 0 : 30);
    QCOMPARE(worker.reporter(), nullptr);
}

void TestProgressForm::cancelClosesAtOnceAndRunnerWaits()
{
    std::atomic<bool> working{false}, sawStop{false}, cleanedUp{false};
    ScriptedWorker worker([&](ScriptedWorker &w) {
        m_go.acquire();
        for (;;) {
            working = true;
            sawStop = sawStop || w.stopRequested();
            w.checkCancel();
            QThread::msleep(5);
        }
        return QString();
    });
    // Slow cleanup: the runner must not return before it is done.
    worker.onCleanUp = [&](WorkerThread::Outcome) {
        QThread::msleep(200);
        cleanedUp = true;
    };
    bool closedAtOnce = false, workerStillRunning = false;
    m_onTick = [&](ProgressForm *form) {
        if (!working || m_cancels > 0)
            return;
        QTest::mouseClick(form->findChild<QPushButton *>(u"btnCancel"_s), Qt::LeftButton);
        closedAtOnce = !form->isVisible() && m_results == QList<int>{0};
        workerStillRunning = worker.isRunning();
    };
    QVERIFY(!runWorker(&m_main, &worker, u"Transferring..."_s));
    QVERIFY(closedAtOnce && workerStillRunning);
    QCOMPARE(m_cancels, 1);
    // The runner waited for the thread, cleanup included.
    QVERIFY(worker.isFinished() && cleanedUp && sawStop);
    QCOMPARE(worker.outcome(), WorkerThread::Outcome::Cancelled);
    QVERIFY(m_user->boxes.isEmpty());
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
        return u"Successfully deleted 3 messages."_s;
    });
    m_onTick = [&](ProgressForm *form) {
        if (atCommit.tryAcquire()) {
            form->cancel();
            pressed.release();
        }
    };
    QVERIFY(runWorker(&m_main, &worker));
    // Before the commit the press closes the dialog at once; after it, it is refused.
    QCOMPARE(m_results, QList<int>{!pressedFirst});
    QCOMPARE(worker.outcome(), WorkerThread::Outcome::Succeeded);
    QCOMPARE(m_user->boxes, QStringList(u"Successfully deleted 3 messages."_s));
}

void TestProgressForm::tipsAndWaitBlocksWorkerUntilAcknowledged()
{
    std::atomic<bool> continued{false};
    ScriptedWorker worker([&](ScriptedWorker &w) {
        m_go.acquire();
        w.tipsAndWait(u"Please unlock your iPhone, then press OK."_s);
        continued = true;
        return QString();
    });
    QElapsedTimer boxUp;
    bool continuedWhileBoxUp = false, waitingWhileBoxUp = true;
    m_holdBox = [&] {
        if (!boxUp.isValid())
            boxUp.start();
        continuedWhileBoxUp = continuedWhileBoxUp || continued;
        waitingWhileBoxUp = waitingWhileBoxUp && m_form->isWaiting();
        return boxUp.elapsed() < 300; // many of the worker's polls
    };
    QVERIFY(runWorker(&m_main, &worker));
    QVERIFY(boxUp.isValid() && !continuedWhileBoxUp && waitingWhileBoxUp && continued);
    QCOMPARE(m_user->boxes, QStringList(u"Please unlock your iPhone, then press OK."_s));
    QCOMPARE(m_results, QList<int>{1});
}

void TestProgressForm::escapeCancelsOnceAndLateReportsAreIgnored()
{
    ProgressForm form(u"Exporting..."_s);
    QSignalSpy cancelled(&form, &ProgressForm::userCacel);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.updateProgress(u"Saving messages..."_s, 20, QString());
    // While a worker commits, Cancel is off and Escape must not cancel either.
    form.enableCancel(false);
    QTest::keyClick(&form, Qt::Key_Escape);
    QVERIFY(form.isVisible());
    form.enableCancel(true);
    QTest::keyClick(&form, Qt::Key_Escape);
    QVERIFY(!form.isVisible() && form.isCancelled() && form.endedWithoutSuccess());

    form.succeed(u"late success"_s);
    form.errorOccurred(u"late error"_s);
    form.updateProgress(u"late status"_s, 80, QString());
    form.cancel();
    // A worker asking to wait on a closed dialog is not left waiting for ever.
    form.tipsAndWait(u"late tip"_s);
    QVERIFY(!form.isWaiting());
    QTest::qWait(50); // for the user to see any box the calls had shown
    QVERIFY(m_user->boxes.isEmpty());
    QCOMPARE(form.result(), 0);
    QCOMPARE(cancelled.count(), 1);
    QCOMPARE(status(&form), u"Saving messages..."_s);
    QCOMPARE(bar(&form)->value(), 20);
}

void TestProgressForm::workerWaitingOnClosedDialogIsReleased()
{
    // A worker that ignores Cancel and then asks the user something: the runner
    // waits for it, so nobody could ever acknowledge.
    std::atomic<bool> working{false}, released{false};
    ScriptedWorker worker([&](ScriptedWorker &w) {
        m_go.acquire();
        ProgressReporter *reporter = w.reporter();
        while (!reporter->isCancelled()) {
            working = true;
            QThread::msleep(5);
        }
        reporter->tipsAndWait(u"late question"_s);
        QElapsedTimer waited;
        waited.start();
        while (reporter->isWaiting() && waited.elapsed() < 5000)
            QThread::msleep(10);
        released = !reporter->isWaiting();
        return u"late success"_s;
    });
    m_onTick = [&](ProgressForm *form) {
        if (working)
            form->cancel();
    };
    // The worker went on to succeed: its outcome, not the closed dialog, decides.
    QVERIFY(runWorker(&m_main, &worker));
    QVERIFY(released);
    QCOMPARE(m_user->boxes, QStringList(u"late success"_s));
    QCOMPARE(m_results, QList<int>{0});
}

QTEST_MAIN(TestProgressForm)
#include "tst_progressform.moc"
