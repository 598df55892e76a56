#include "TestConfig.h"
#include "support/BackupFixtures.h"
#include "support/StoreFixtures.h"
#include "support/TempDataFolder.h"
#include "support/TestSupport.h"

#include "export/MessageText.h"
#include "itunes/BackupManifest.h"
#include "viber/IOSViberDb.h"
#include "viber/LocalDatabases.h"
#include "workers/BackupViberMsgThread.h"
#include "workers/DeleteViberMsgThread.h"
#include "workers/ExportMessagesThread.h"
#include "workers/IOSMergeWAFiles2iTunesBKThread.h"
#include "workers/IOSRestoreViberMsgThread.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <functional>

using namespace Qt::StringLiterals;

// No work may grow faster than its input: each path that meets a large store runs at
// two sizes, and the larger may cost at most 4.5 times the smaller for 4 times the
// rows. Work is counted in units that are the same on any machine, so that a slow or
// busy machine neither hides a fault nor makes one up: SQLite's virtual-machine steps,
// and the bytes the process reads and writes through the kernel (a file rewritten for
// every record shows there, where no SQLite runs).

namespace {

constexpr qint64 kSmall = 1500;
constexpr double kMaxRatio = 4.5;

const QString kFile = QString::fromLatin1(fixtures::kStoreFileName);
const QString kViber = QString::fromLatin1(IOSRestoreViberMsgThread::kViberDomain);

// SQLite steps, bytes read, bytes written; below its floor at the larger size, work is too
// little to tell growth from overhead.
using Work = std::array<qint64, 3>;
constexpr Work kFloor{10000, 256 * 1024, 256 * 1024};
const char *const kUnits[] = {"steps", "bytes read", "bytes written"};

// The kernel's count of bytes this process passed to read and write calls; -1 where
// it keeps none.
std::pair<qint64, qint64> ioCounts()
{
    QFile io(u"/proc/self/io"_s);
    if (!io.open(QIODevice::ReadOnly))
        return {-1, -1};
    qint64 read = -1, written = -1;
    for (const QByteArray &line : io.readAll().split('\n')) {
        if (line.startsWith("rchar: "))
            read = line.mid(7).toLongLong();
        else if (line.startsWith("wchar: "))
            written = line.mid(7).toLongLong();
    }
    return {read, written};
}

Work workOf(const std::function<void()> &run)
{
    const qint64 steps = Sqlite3DB::vmSteps();
    const auto [read, written] = ioCounts();
    run();
    const auto [readAfter, writtenAfter] = ioCounts();
    return {Sqlite3DB::vmSteps() - steps, readAfter - read, writtenAfter - written};
}

void finish(WorkerThread &&worker)
{
    QVERIFY(testsupport::runToEnd(worker));
}

// The work of one path at n messages or files.
Work measure(const QString &path, qint64 n)
{
    QTemporaryDir dir;
    if (path.startsWith(u"write into a backup"_s)) {
        // A backup of n files of other apps and Viber's folder, and n/10 new files for Viber.
        fixtures::BackupFixture b(dir.filePath(u"backup"_s));
        b.newerLayout = path.contains(u"Manifest.db"_s);
        b.addFolder(kViber, u"Documents"_s);
        for (qint64 i = 0; i < n; ++i)
            b.addFile(u"AppDomain-com.example.app%1"_s.arg(i / 100), u"Library/Caches/file%1"_s.arg(i),
                      QByteArray::number(i));
        if (!b.write().isEmpty())
            return {};
        QList<BackupFileItem> items;
        for (qint64 i = 0; i < n / 10; ++i) {
            items.append({kViber, dir.filePath(u"new%1.jpg"_s.arg(i)),
                          u"Documents/Attachments/new%1.jpg"_s.arg(i), false});
            if (!testsupport::writeFile(items.last().sourcePath, QByteArray(2000, char(i))))
                return {};
        }
        BackupManifest manifest(b.folder());
        manifest.loadManifestPlist();
        return workOf([&] { finish(IOSMergeWAFiles2iTunesBKThread(&manifest, items)); });
    }

    // A phone's store of n messages, and a source of n + n/10 whose extra messages are what a
    // transfer brings; with calls, as many calls as messages.
    const bool calls = path == u"transfer calls";
    fixtures::ScaledSizes phoneSizes(n), sourceSizes(n + n / 10);
    if (calls)
        phoneSizes.calls = n, sourceSizes.calls = n + n / 10;
    const QString phone = QDir(dir.path()).absolutePath(), archive = dir.filePath(u"archive"_s);
    fixtures::writeScaledStore(phone, phoneSizes);
    fixtures::writeScaledStore(dir.filePath(u"source"_s), sourceSizes);
    const ViberDataPtr source = IOSViberDb(QDir(dir.filePath(u"source"_s)), kFile).load();
    QList<_ViberMsg *> all = source->messages.values();
    const auto copy = [&] { finish(BackupViberMsgThread(all, QDir(archive))); };
    if (path == u"load")
        return workOf([&] { IOSViberDb(QDir(phone), kFile).load(); });
    if (path == u"copy")
        return workOf(copy);
    if (path == u"copy again") {
        copy();
        return workOf(copy);
    }
    if (path == u"delete") {
        copy();
        IOSViberDb copied(QDir(archive), QLatin1String(LocalDatabases::kStoreFileName));
        QList<_ViberMsg *> some;
        const ViberDataPtr data = copied.load();
        for (_ViberMsg *m : std::as_const(data->messages))
            if (m->id % 10 == 0)
                some << m;
        return workOf([&] { finish(DeleteViberMsgThread(&copied, some)); });
    }
    if (path.startsWith(u"export"_s)) {
        static const QHash<QString, std::pair<int, QString>> formats{
            {u"export TXT"_s, {ExportMessagesThread::Text, u"all.txt"_s}},
            {u"export CSV"_s, {ExportMessagesThread::Csv, u"all.csv"_s}},
            {u"export JSON"_s, {ExportMessagesThread::Json, u"all.json"_s}},
            {u"export HTML"_s, {ExportMessagesThread::Html, u"html"_s}}};
        const auto [format, name] = formats.value(path);
        return workOf([&] { finish(ExportMessagesThread(all, dir.filePath(name), format)); });
    }
    // A transfer brings what the phone lacks: keys, and so tokens, beyond its own.
    QList<_ViberMsg *> fresh;
    for (_ViberMsg *m : std::as_const(all))
        if (calls ? m->call && m->call->id > n : m->id > n)
            fresh << m;
    return workOf([&] { finish(IOSRestoreViberMsgThread(phone, fresh)); });
}

} // namespace

class TestGrowth : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        MessageText::setPictureFolder(QStringLiteral(CHATWHARF_BINARY_DIR "/src"));
        if (ioCounts().first < 0)
            QSKIP("the kernel keeps no count of the bytes a process reads and writes");
    }
    void pathsGrowWithTheirInput_data()
    {
        QTest::addColumn<QString>("path");
        for (const char *path : {"load", "copy", "copy again", "delete", "transfer", "transfer calls",
                                 "write into a backup (Manifest.mbdb)", "write into a backup (Manifest.db)",
                                 "export TXT", "export CSV", "export JSON", "export HTML"})
            QTest::newRow(path) << QString::fromLatin1(path);
    }
    void pathsGrowWithTheirInput()
    {
        QFETCH(QString, path);
        const TempDataFolder data;
        const Work small = measure(path, kSmall);
        QVERIFY(!QTest::currentTestFailed());
        const Work large = measure(path, 4 * kSmall);
        QVERIFY(!QTest::currentTestFailed());
        QVERIFY2(small[0] + small[2] > 0, "the run did no work that could be counted");
        for (int i = 0; i < 3; ++i) {
            const double ratio = double(large[i]) / double(std::max<qint64>(1, small[i]));
            const QString says =
                QString::asprintf("%s, %s: %lld for %lld, %lld for %lld: %.2f times", qPrintable(path),
                                  kUnits[i], small[i], kSmall, large[i], 4 * kSmall, ratio);
            qInfo("%s", qPrintable(says));
            QVERIFY2(large[i] < kFloor[i] || ratio <= kMaxRatio, qPrintable(says));
        }
    }
};

QTEST_MAIN(TestGrowth)
#include "tst_growth.moc"
