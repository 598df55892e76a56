#include "device/CFType.h"
#include "support/TestSupport.h"
#include "workers/IOSMobileBackupThread.h"
#include "workers/IOSMobileRestoreThread.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

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
    // What the tool says when it fails reaches the user, whole or as the sentence that helps.
    void runs_data()
    {
        QTest::addColumn<bool>("restore");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("earlier"); // "state version" of the backup there before
        QTest::addColumn<QString>("result"); // after a success "kept" or "removed"; else a piece of the error
        const QString ok = u"echo '[=====     ] 50% Finished'; echo 'Backup Successful.'"_s;
        QTest::newRow("finished, same version") << false << ok << u"finished 17.1"_s << u"kept"_s;
        QTest::newRow("unfinished") << false << ok << u"new 17.1"_s << u"removed"_s;
        QTest::newRow("older iOS") << false << ok << u"finished 16.4"_s << u"removed"_s;
        QTest::newRow("error in capitals")
            << false << u"echo 'ERROR: Could not perform backup <x>'"_s << QString()
            << u"ERROR: Could not perform backup &lt;x&gt;<br/><br/>Note: You can restart"_s;
        QTest::newRow("failing exit") << false << u"echo 'Protocol version mismatch'; exit 3"_s << QString()
                                      << u"Protocol version mismatch<br/><br/>Note"_s;
        QTest::newRow("no space")
            << true
            << u"echo 'ERROR: Insufficient free disk space on device to restore (1024 of 5368709120)'"_s
            << QString() << u"5 GB free disk space on your device is required"_s;
    }
    void runs()
    {
        QFETCH(bool, restore);
        QFETCH(QString, script);
        QFETCH(QString, earlier);
        QFETCH(QString, result);
        QTemporaryDir dir;
        const QString root = dir.filePath(u"root"_s);
        QVERIFY(QDir().mkpath(root));
        if (!earlier.isEmpty())
            writeBackup(root + u"/U1"_s, earlier.section(u' ', 0, 0), earlier.section(u' ', 1));
        IOSMobileRestoreThread restoring(nullptr, u"U1"_s, root);
        IOSMobileBackupThread backingUp(nullptr, u"U1"_s, u"17.1"_s, root);
        (restore ? restoring.tool() : backingUp.tool())
            .setToolPath(testsupport::backupToolStandIn(dir.path(), script));
        WorkerThread &worker = restore ? static_cast<WorkerThread &>(restoring) : backingUp;
        const bool succeeded = testsupport::runToEnd(worker);
        QVERIFY2(succeeded != earlier.isEmpty(), qPrintable(worker.errorText()));
        if (!succeeded) {
            QVERIFY2(worker.errorText().contains(result), qPrintable(worker.errorText()));
            return;
        }
        QCOMPARE(QFileInfo::exists(root + u"/U1/Manifest.db"_s), result == u"kept"_s);
        QCOMPARE(testsupport::readFile(dir.filePath(u"calls"_s)).trimmed(), "-u U1 backup " + root.toUtf8());
    }
    // A cancel kills the tool at once, without waiting for it.
    void cancelKillsTheTool()
    {
        QTemporaryDir dir;
        IOSMobileBackupThread worker(nullptr, u"U1"_s, u"17.1"_s, dir.path());
        worker.tool().setToolPath(testsupport::backupToolStandIn(dir.path(), u"sleep 30"_s));
        QElapsedTimer timer;
        timer.start();
        worker.start();
        QTRY_VERIFY(QFileInfo::exists(dir.filePath(u"calls"_s)));
        worker.requestStop();
        worker.wait();
        QCOMPARE(worker.outcome(), WorkerThread::Outcome::Cancelled);
        QVERIFY(timer.elapsed() < 10000);
    }
};

QTEST_GUILESS_MAIN(TestBackupTool)
#include "tst_backuptool.moc"
