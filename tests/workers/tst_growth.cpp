#include "support/StoreFixtures.h"
#include "support/TempDataFolder.h"
#include "support/TestSupport.h"

#include "viber/IOSViberDb.h"
#include "viber/LocalDatabases.h"
#include "workers/BackupViberMsgThread.h"
#include "workers/DeleteViberMsgThread.h"
#include "workers/IOSRestoreViberMsgThread.h"

#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;

// No work may grow faster than its input: each path that meets a large store runs at
// two sizes, and the larger may cost at most 4.5 times the smaller for 4 times the
// rows. Work is counted in SQLite's virtual-machine steps, the same on any machine,
// so that a slow or busy machine neither hides a fault nor makes one up.

namespace {

constexpr qint64 kSmall = 1500;
constexpr double kMaxRatio = 4.5;

const QString kFile = QString::fromLatin1(fixtures::kStoreFileName);

// One size's run: a phone's store of n messages, and one of n + n/10 whose extra
// messages are what a transfer brings.
struct Sized
{
    explicit Sized(qint64 n) : messages(n)
    {
        fixtures::writeScaledStore(phone(), fixtures::ScaledSizes(n));
        fixtures::writeScaledStore(dir.filePath(u"source"_s), fixtures::ScaledSizes(n + n / 10));
    }
    QString phone() const { return QDir(dir.path()).absolutePath(); }
    QString archive() const { return dir.filePath(u"archive"_s); }

    QTemporaryDir dir;
    qint64 messages;
};

// The steps that run takes.
qint64 stepsOf(const std::function<void()> &run)
{
    const qint64 before = Sqlite3DB::vmSteps();
    run();
    return Sqlite3DB::vmSteps() - before;
}

} // namespace

class TestGrowth : public QObject
{
    Q_OBJECT

private slots:
    void pathsGrowWithTheirInput_data()
    {
        QTest::addColumn<QString>("path");
        for (const char *path : {"load", "copy", "copy again", "delete", "transfer"})
            QTest::newRow(path) << QString::fromLatin1(path);
    }
    void pathsGrowWithTheirInput()
    {
        QFETCH(QString, path);
        const TempDataFolder data;
        qint64 steps[2] = {0, 0};
        for (int i = 0; i < 2; ++i) {
            const Sized s(kSmall * (i == 0 ? 1 : 4));
            const ViberDataPtr source = IOSViberDb(QDir(s.dir.filePath(u"source"_s)), kFile).load();
            QList<_ViberMsg *> all = source->messages.values();
            const auto copy = [&] {
                BackupViberMsgThread worker(all, QDir(s.archive()));
                QVERIFY(testsupport::runToEnd(worker));
            };
            if (path == u"load") {
                steps[i] = stepsOf([&] { IOSViberDb(QDir(s.phone()), kFile).load(); });
            } else if (path == u"copy") {
                steps[i] = stepsOf(copy);
            } else if (path == u"copy again") {
                copy();
                steps[i] = stepsOf(copy);
            } else if (path == u"delete") {
                copy();
                IOSViberDb archive(QDir(s.archive()), QLatin1String(LocalDatabases::kStoreFileName));
                const ViberDataPtr copied = archive.load();
                QList<_ViberMsg *> some;
                for (_ViberMsg *m : std::as_const(copied->messages))
                    if (m->id % 10 == 0)
                        some << m;
                steps[i] = stepsOf([&] {
                    DeleteViberMsgThread worker(&archive, some);
                    QVERIFY(testsupport::runToEnd(worker));
                });
            } else {
                // What the phone lacks: keys, and so tokens, beyond its own.
                QList<_ViberMsg *> fresh;
                for (_ViberMsg *m : std::as_const(all))
                    if (m->id > s.messages)
                        fresh << m;
                steps[i] = stepsOf([&] {
                    IOSRestoreViberMsgThread worker(s.phone(), fresh);
                    QVERIFY(testsupport::runToEnd(worker));
                });
            }
            QVERIFY(steps[i] > 0);
        }
        const double ratio = double(steps[1]) / double(steps[0]);
        QVERIFY2(ratio <= kMaxRatio,
                 qPrintable(u"%1 steps for %2 messages, %3 for %4: %5 times"_s.arg(steps[0])
                                .arg(kSmall)
                                .arg(steps[1])
                                .arg(4 * kSmall)
                                .arg(ratio, 0, 'f', 2)));
        qInfo("%s: %lld steps, then %lld (%.2f times)", qPrintable(path), steps[0], steps[1], ratio);
    }
};

QTEST_GUILESS_MAIN(TestGrowth)
#include "tst_growth.moc"
