#include "support/MessageFixtures.h"
#include "support/ModalUser.h"
#include "support/RecordingReporter.h"
#include "support/ScriptedWorker.h"
#include "ui/MessageBoxes.h"
#include "ui/ProgressForm.h"
#include "ui/RunWorker.h"
#include "workers/ConsoleReporter.h"
#include "workers/SearchMessagesThread.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <new>
#include <stdexcept>

using namespace Qt::StringLiterals;
using Outcome = WorkerThread::Outcome;

namespace {

const char kBroken[] = "Die Datei „Grüße.db“ ist beschädigt.";
const QString kTip = u"Keep your iPhone connected."_s;

// The user behind each kind of reporter a worker can run with, read back alike:
// whether the worker waited while a tip was up, and the final words.
struct Listener
{
    enum Via { Nobody, Console, Recording, Dialog, QuickDialog };
    explicit Listener(Via via) : via(via)
    {
        out.open(QIODevice::WriteOnly);
        recording.holdTips = true;
        // Both reporters that wait for the user are answered a while after the tip
        // came up, noting whether the worker had gone on meanwhile.
        user.intercept = [this](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            return box && box->text() == kTip && hold();
        };
        user.idle = [this] {
            if (recording.isWaiting() && !hold())
                cancelAtTip ? recording.cancel() : recording.acknowledge();
        };
    }

    // True while the tip is to stay up.
    bool hold()
    {
        if (!tipUp.isValid())
            tipUp.start();
        tipHeld = !pastTip;
        return tipUp.elapsed() < 60;
    }
    bool run(ScriptedWorker &worker)
    {
        if (via >= Dialog)
            return runWorker(&window, &worker, u"Copying..."_s, true, via == QuickDialog ? 10000 : 0);
        worker.setReporter(via == Console     ? static_cast<ProgressReporter *>(&console)
                           : via == Recording ? &recording
                                              : nullptr);
        worker.start();
        return QTest::qWaitFor([&] { return worker.wait(1); }, 10000) &&
               worker.outcome() == Outcome::Succeeded;
    }
    void pressCancel(ScriptedWorker &worker)
    {
        if (via == Console)
            console.requestCancel();
        if (via == Recording)
            recording.cancel();
        if (via != Dialog)
            return;
        // The press, as the dialog's thread handles it; whether it closed the dialog at once.
        auto *form = dynamic_cast<ProgressForm *>(worker.reporter());
        QMetaObject::invokeMethod(
            form,
            [&] {
                form->cancel();
                dialogCancelled = form->isCancelled() && !form->isVisible();
            },
            Qt::BlockingQueuedConnection);
    }
    QStringList lines() const { return QString::fromUtf8(out.data()).split(u'\n', Qt::SkipEmptyParts); }
    // The tips and final reports the user saw, in order.
    QStringList said() const
    {
        if (via >= Dialog)
            return user.boxes;
        if (via == Recording) // an empty success ends silently
            return (recording.tips + recording.successes + recording.errors)
                .filter(QRegularExpression(u"."_s));
        QStringList said = lines().mid(1); // after the progress line
        if (console.failed())
            said.last() = console.lastError();
        return said;
    }

    const Via via;
    QWidget window;
    QBuffer out;
    ConsoleReporter console{&out};
    RecordingReporter recording;
    ModalUser user{10};
    QElapsedTimer tipUp;
    std::atomic<bool> pastTip{false};
    bool tipHeld = false, cancelAtTip = false, cleanUpFails = false, dialogCancelled = false;
};

using Body = std::function<QString(ScriptedWorker &, Listener &)>;

} // namespace

Q_DECLARE_METATYPE(Body)
Q_DECLARE_METATYPE(Listener::Via)

// How a worker's run reaches the user, with each kind of reporter: the worker
// thread's protocol, the progress dialog and its runner, the console.
class TestWorkerProtocol : public QObject
{
    Q_OBJECT
private slots:
    void protocol_data()
    {
        QTest::addColumn<Listener::Via>("via");
        QTest::addColumn<Body>("body");
        QTest::addColumn<bool>("cancelAtTip");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("text");   // the one final report, "" for none
        QTest::addColumn<bool>("cancelled"); // a press the dialog took as a cancel
        const QString unexpected = u"The operation stopped because of an unexpected internal error."_s;
        const QString broken = QString::fromUtf8(kBroken), done = u"Copied 3 messages."_s;
        // Ends with the text, or throws what it is given.
        const auto says = [](const QString &text) -> Body { return [=](auto &, auto &) { return text; }; };
        const auto throws = [](auto thrown) -> Body {
            return [=](auto &, auto &) -> QString { throw thrown; };
        };
        // Asks the worker to stop, or the user presses Cancel, before or once it commits.
        const auto stop = [](bool user, bool committing, bool commitAfter = false) -> Body {
            return [=](ScriptedWorker &w, Listener &l) {
                if (committing)
                    w.commitStarts();
                user ? l.pressCancel(w) : w.requestStop();
                if (commitAfter)
                    w.commitStarts();
                w.checkCancel();
                return u"Copied 3 messages."_s;
            };
        };
        const char *const names[] = {"nobody", "console", "recording", "dialog", "quick dialog"};
        for (const auto via : {Listener::Nobody, Listener::Console, Listener::Recording, Listener::Dialog,
                               Listener::QuickDialog}) {
            const auto row = [&](const char *what, Outcome outcome, const QString &text, Body body,
                                 bool cancelled = false, bool cancelAtTip = false) {
                QTest::addRow("%s, via %s", what, names[via])
                    << via << body << cancelAtTip << outcome << text << cancelled;
            };
            row("success", Outcome::Succeeded, done, says(done));
            row("silent success", Outcome::Succeeded, QString(), says(QString()));
            row("UTF-8 exception", Outcome::Failed, broken, throws(std::runtime_error(kBroken)));
            row("blank exception", Outcome::Failed, unexpected, throws(std::runtime_error(" ")));
            row("other int", Outcome::Failed, unexpected, throws(5));
            row("not a std exception", Outcome::Failed, unexpected, throws(QString()));
            row("out of memory", Outcome::Failed, u"There was not enough memory to finish the operation."_s,
                throws(std::bad_alloc()));
            row("clean-up fails too", Outcome::Failed, broken, [](auto &, Listener &l) -> QString {
                l.cleanUpFails = true;
                throw std::runtime_error(kBroken);
            });
            // A worker that stops on its own closes the dialog too. Nobody can press
            // Cancel without a dialog shown.
            row("cancel value", Outcome::Cancelled, QString(), throws(-1));
            row("stop requested", Outcome::Cancelled, QString(), stop(false, false));
            // The store is committing: a cancel now would hide a change that was made.
            row("stop while committing", Outcome::Succeeded, done, stop(false, true));
            if (via != Listener::Nobody && via != Listener::QuickDialog) {
                row("user cancels", Outcome::Cancelled, QString(), stop(true, false), true);
                // Past its last check the worker commits anyway, and says so.
                row("user cancels, then it commits", Outcome::Succeeded, done, stop(true, false, true), true);
                row("user cancels while committing", Outcome::Succeeded, done, stop(true, true));
            }
            if (via == Listener::Recording)
                row("user cancels at the tip", Outcome::Cancelled, QString(), stop(false, false), true, true);
        }
    }
    // Whatever ends a run, the worker reports exactly one final word (none when
    // cancelled), cleans up after a failure or a cancel only, lets nothing escape,
    // and waits while the user reads a tip.
    void protocol()
    {
        QFETCH(Listener::Via, via);
        QFETCH(Body, body);
        QFETCH(bool, cancelAtTip);
        QFETCH(Outcome, outcome);
        QFETCH(QString, text);
        QFETCH(bool, cancelled);
        Listener l(via);
        l.cancelAtTip = cancelAtTip;
        const bool asks = via != Listener::Nobody && via != Listener::QuickDialog;
        ScriptedWorker worker([&](ScriptedWorker &w) {
            w.reportProgress(10, u"Saving messages..."_s);
            w.reportProgress(10, u"Saving messages..."_s); // a repeat is not sent
            w.reportDetail(u"File: a.jpg"_s);
            if (asks)
                w.tipsAndWait(kTip);
            l.pastTip = true;
            w.checkCancel();
            return body(w, l);
        });
        // Slow, so that a runner returning before the thread ended is seen.
        worker.onCleanUp = [&](Outcome) {
            QThread::msleep(50);
            if (l.cleanUpFails)
                throw std::runtime_error("Could not remove out.csv.");
        };
        // The log says how the run ended and how long it took.
        const char *ending = outcome == Outcome::Succeeded ? "finished in"
                             : outcome == Outcome::Failed  ? "failed after"
                                                           : "cancelled after";
        QTest::ignoreMessage(outcome == Outcome::Failed ? QtWarningMsg : QtInfoMsg,
                             QRegularExpression(u"^\\w+ %1 \\d+\\.\\d\\d s"_s.arg(QLatin1String(ending))));
        QCOMPARE(l.run(worker), outcome == Outcome::Succeeded);
        QVERIFY(worker.isFinished());
        QCOMPARE(worker.outcome(), outcome);
        QCOMPARE(outcome == Outcome::Failed ? worker.errorText() : worker.successText(), text);
        QCOMPARE(worker.cleanUps, outcome == Outcome::Succeeded ? QList<Outcome>() : QList<Outcome>{outcome});
        QCOMPARE(worker.reporter() != nullptr, via < Listener::Dialog && via != Listener::Nobody);

        QStringList said;
        if (asks)
            said << kTip;
        if (via == Listener::Console && outcome == Outcome::Succeeded && text.isEmpty())
            said << u"Done."_s; // a console always ends a run with a word
        else if (!text.isEmpty() && via != Listener::Nobody)
            said << (via >= Listener::Dialog && outcome == Outcome::Failed ? errorBoxText(text) : text);
        QCOMPARE(l.said(), said);
        // Without a terminal, the detail within the same tenth of the step adds no line.
        if (via == Listener::Console)
            QCOMPARE(l.lines().value(0), u"[ 10%] Saving messages..."_s);
        if (via == Listener::Recording || via == Listener::Dialog)
            QVERIFY2(l.tipHeld, "the worker went on before the tip was answered");
        if (via == Listener::Recording)
            QCOMPARE(l.recording.percents, QList<int>({10, -1}));
        if (via == Listener::Dialog)
            QCOMPARE(l.dialogCancelled, cancelled);
    }
    // A long list is searched in two halves side by side: the matches of both come back
    // in list order, those at the seam included, and a stop ends both.
    void searchCoversBothHalves()
    {
        testsupport::MessageFixture f;
        _ViberChat *chat = f.addChat();
        const QDateTime when(QDate(2020, 1, 1), QTime(8, 0));
        constexpr int kCount = 70000;
        QList<qsizetype> expected;
        for (int i = 0; i < kCount; ++i) {
            const bool hit = i % 4099 == 7 || i == kCount / 2 - 1 || i == kCount / 2 || i == kCount - 1;
            f.addMessage(chat, ViberMsgTypeText, when, false, hit ? u"a NeedLe"_s : u"hay"_s);
            if (hit)
                expected << i;
        }
        SearchMessagesThread search(f.messages(), u"needle"_s);
        search.start();
        search.wait();
        QCOMPARE(search.outcome(), WorkerThread::Outcome::Succeeded);
        QCOMPARE(search.matches(), expected);
        SearchMessagesThread stopped(f.messages(), u"needle"_s);
        stopped.requestStop();
        stopped.start();
        stopped.wait();
        QCOMPARE(stopped.outcome(), WorkerThread::Outcome::Cancelled);
    }
    void dialogCancelsOnceAndIgnoresLateReports()
    {
        ModalUser user;
        ProgressForm form(u"Exporting..."_s);
        QSignalSpy cancelled(&form, &ProgressForm::userCacel);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        // While a worker commits, Cancel is off and Escape must not cancel either.
        form.enableCancel(false);
        QTest::keyClick(&form, Qt::Key_Escape);
        QVERIFY(form.isVisible());
        form.enableCancel(true);
        QTest::mouseClick(form.findChild<QPushButton *>(u"btnCancel"_s), Qt::LeftButton);
        QVERIFY(!form.isVisible() && form.isCancelled() && form.endedWithoutSuccess());

        QTest::keyClick(&form, Qt::Key_Escape);
        form.succeed(u"late success"_s);
        form.errorOccurred(u"late error"_s);
        form.updateProgress(u"late status"_s, 80, QString());
        // A worker asking to wait on a closed dialog is not left waiting for ever: the
        // runner waits for it, so nobody could answer.
        std::unique_ptr<QThread> worker(QThread::create([&] { form.tipsAndWait(u"late tip"_s); }));
        worker->start();
        QVERIFY(worker->wait(10000) && !form.isWaiting());
        QTest::qWait(50); // for the user to see any box the calls had shown
        QVERIFY(user.boxes.isEmpty());
        QCOMPARE(cancelled.count(), 1);
    }
};

QTEST_MAIN(TestWorkerProtocol)
#include "tst_workerprotocol.moc"
