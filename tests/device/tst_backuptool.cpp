#include "device/CFType.h"
#include "support/TestSupport.h"
#include "workers/IOSMobileBackupThread.h"
#include "workers/IOSMobileRestoreThread.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using Outcome = WorkerThread::Outcome;

namespace {

QString standIn(const QTemporaryDir &dir, const QString &script)
{
    return testsupport::backupToolStandIn(dir.path(), script);
}

void writeBackup(const QString &folder, const QString &state, const QString &version)
{
    CFType status = CFType::dictionary(), lockdown = CFType::dictionary(), manifest = CFType::dictionary();
    status.setValue(u"SnapshotState"_s, CFType::fromString(state));
    lockdown.setValue(u"ProductVersion"_s, CFType::fromString(version));
    manifest.setValue(u"Lockdown"_s, lockdown);
    testsupport::writeFile(folder + u"/Status.plist"_s, status.toData());
    testsupport::writeFile(folder + u"/Manifest.plist"_s, manifest.toData());
    testsupport::writeFile(folder + u"/Manifest.db"_s, "index");
}

} // namespace

class TestBackupTool : public QObject
{
    Q_OBJECT

private slots:
    // A backup keeps a finished one of the same iOS version (incremental) and removes any other.
    void backupFolderReuse_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("kept");
        QTest::newRow("finished, same version") << u"finished"_s << u"17.1"_s << true;
        QTest::newRow("unfinished") << u"new"_s << u"17.1"_s << false;
        QTest::newRow("older iOS") << u"finished"_s << u"16.4"_s << false;
    }
    void backupFolderReuse()
    {
        QFETCH(QString, state);
        QFETCH(QString, version);
        QFETCH(bool, kept);
        QTemporaryDir dir;
        writeBackup(dir.filePath(u"root/U1"_s), state, version);
        IOSMobileBackupThread worker(nullptr, u"U1"_s, u"17.1"_s, dir.filePath(u"root"_s));
        worker.tool().setToolPath(
            standIn(dir, u"echo '[=====     ] 50% Finished'; echo 'Backup Successful.'"_s));
        QVERIFY(testsupport::runToEnd(worker));
        QCOMPARE(QFileInfo::exists(dir.filePath(u"root/U1/Manifest.db"_s)), kept);
        QCOMPARE(testsupport::readFile(dir.filePath(u"calls"_s)).trimmed(),
                 "-u U1 backup " + dir.filePath(u"root"_s).toUtf8());
    }

    // What the tool says when it fails reaches the user, whole or as the sentence that helps.
    void failures_data()
    {
        QTest::addColumn<bool>("restore");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("error");
        QTest::newRow("error in capitals")
            << false << u"echo 'ERROR: Could not perform backup <x>'"_s
            << u"ERROR: Could not perform backup &lt;x&gt;<br/><br/>Note: You can restart"_s;
        QTest::newRow("failing exit") << false << u"echo 'Protocol version mismatch'; exit 3"_s
                                      << u"Protocol version mismatch<br/><br/>Note"_s;
        QTest::newRow("locked phone") << false << u"echo 'ErrorCode 208: Device locked (MBErrorDomain/208)'"_s
                                      << u"enter its passcode on it"_s;
        QTest::newRow("find my iphone") << true << u"echo 'Error: Find My iPhone must be disabled'"_s
                                        << u"to disable \"Find my iPhone\" first"_s;
        QTest::newRow("no space")
            << true
            << u"echo 'ERROR: Insufficient free disk space on device to restore (1024 of 5368709120)'"_s
            << u"5 GB free disk space on your device is required"_s;
    }
    void failures()
    {
        QFETCH(bool, restore);
        QFETCH(QString, script);
        QFETCH(QString, error);
        QTemporaryDir dir;
        IOSMobileRestoreThread restoring(nullptr, u"U1"_s, dir.path());
        IOSMobileBackupThread backingUp(nullptr, u"U1"_s, u"17.1"_s, dir.path());
        (restore ? restoring.tool() : backingUp.tool()).setToolPath(standIn(dir, script));
        WorkerThread &worker = restore ? static_cast<WorkerThread &>(restoring) : backingUp;
        QVERIFY(!testsupport::runToEnd(worker));
        QVERIFY2(worker.errorText().contains(error), qPrintable(worker.errorText()));
    }

    // A cancel kills the tool at once, without waiting for it.
    void cancelKillsTheTool()
    {
        QTemporaryDir dir;
        IOSMobileBackupThread worker(nullptr, u"U1"_s, u"17.1"_s, dir.path());
        worker.tool().setToolPath(standIn(dir, u"sleep 30"_s));
        QElapsedTimer timer;
        timer.start();
        worker.start();
        QTRY_VERIFY(QFileInfo::exists(dir.filePath(u"calls"_s)));
        worker.requestStop();
        worker.wait();
        QCOMPARE(worker.outcome(), Outcome::Cancelled);
        QVERIFY(timer.elapsed() < 10000);
    }
};

QTEST_GUILESS_MAIN(TestBackupTool)
#include "tst_backuptool.moc"
