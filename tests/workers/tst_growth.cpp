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

struct Work
{
    qint64 steps = 0, bytesRead = 0, bytesWritten = 0;
};

// Work below these at the larger size is too little to tell growth from overhead.
constexpr qint64 kFloor[] = {10000, 256 * 1024, 256 * 1024};
const char *const kUnits[] = {"steps", "bytes read", "bytes written"};

qint64 unit(const Work &w, int i)
{
    return i == 0 ? w.steps : i == 1 ? w.bytesRead : w.bytesWritten;
}

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

// One size's run: a phone's store of n messages, and one of n + n/10 whose extra
// messages are what a transfer brings; with calls, as many calls as messages.
struct Sized
{
    explicit Sized(qint64 n, bool calls = false) : messages(n)
    {
        fixtures::ScaledSizes phoneSizes(n), sourceSizes(n + n / 10);
        if (calls)
            phoneSizes.calls = n, sourceSizes.calls = n + n / 10;
        fixtures::writeScaledStore(phone(), phoneSizes);
        fixtures::writeScaledStore(dir.filePath(u"source"_s), sourceSizes);
    }
    QString phone() const { return QDir(dir.path()).absolutePath(); }
    QString archive() const { return dir.filePath(u"archive"_s); }

    QTemporaryDir dir;
    qint64 messages;
};

// A backup of n files of other apps and Viber's folder, and n/10 new files for Viber.
struct SizedBackup
{
    SizedBackup(qint64 n, bool newer)
    {
        fixtures::BackupFixture b(folder());
        b.newerLayout = newer;
        b.addFolder(kViber, u"Documents"_s);
        for (qint64 i = 0; i < n; ++i)
            b.addFile(u"AppDomain-com.example.app%1"_s.arg(i / 100), u"Library/Caches/file%1"_s.arg(i),
                      QByteArray::number(i));
        written = b.write().isEmpty();
        for (qint64 i = 0; i < n / 10 && written; ++i) {
            BackupFileItem item;
            item.domain = kViber;
            item.sourcePath = dir.filePath(u"new%1.jpg"_s.arg(i));
            item.backupPath = u"Documents/Attachments/new%1.jpg"_s.arg(i);
            written = testsupport::writeFile(item.sourcePath, QByteArray(2000, char(i)));
            items << item;
        }
    }
    QString folder() const { return dir.filePath(u"backup"_s); }

    QTemporaryDir dir;
    QList<BackupFileItem> items;
    bool written = false;
};

// The work of one path at n messages or files.
Work measure(const QString &path, qint64 n)
{
    if (path.startsWith(u"write into a backup"_s)) {
        const SizedBackup b(n, path.contains(u"Manifest.db"_s));
        if (!b.written)
            return {};
        BackupManifest manifest(b.folder());
        manifest.loadManifestPlist();
        return workOf([&] {
            IOSMergeWAFiles2iTunesBKThread worker(&manifest, b.items);
            QVERIFY(testsupport::runToEnd(worker));
        });
    }

    const Sized s(n, path == u"transfer calls");
    const ViberDataPtr source = IOSViberDb(QDir(s.dir.filePath(u"source"_s)), kFile).load();
    QList<_ViberMsg *> all = source->messages.values();
    const auto copy = [&] {
        BackupViberMsgThread worker(all, QDir(s.archive()));
        QVERIFY(testsupport::runToEnd(worker));
    };
    if (path == u"load")
        return workOf([&] { IOSViberDb(QDir(s.phone()), kFile).load(); });
    if (path == u"copy")
        return workOf(copy);
    if (path == u"copy again") {
        copy();
        return workOf(copy);
    }
    if (path == u"delete") {
        copy();
        IOSViberDb archive(QDir(s.archive()), QLatin1String(LocalDatabases::kStoreFileName));
        const ViberDataPtr copied = archive.load();
        QList<_ViberMsg *> some;
        for (_ViberMsg *m : std::as_const(copied->messages))
            if (m->id % 10 == 0)
                some << m;
        return workOf([&] {
            DeleteViberMsgThread worker(&archive, some);
            QVERIFY(testsupport::runToEnd(worker));
        });
    }
    if (path.startsWith(u"export"_s)) {
        static const QHash<QString, std::pair<int, QString>> formats{
            {u"export TXT"_s, {ExportMessagesThread::Text, u"all.txt"_s}},
            {u"export CSV"_s, {ExportMessagesThread::Csv, u"all.csv"_s}},
            {u"export JSON"_s, {ExportMessagesThread::Json, u"all.json"_s}},
            {u"export HTML"_s, {ExportMessagesThread::Html, u"html"_s}}};
        const auto [format, name] = formats.value(path);
        return workOf([&] {
            ExportMessagesThread worker(all, s.dir.filePath(name), format);
            QVERIFY(testsupport::runToEnd(worker));
        });
    }
    // A transfer brings what the phone lacks: keys, and so tokens, beyond its own.
    QList<_ViberMsg *> fresh;
    for (_ViberMsg *m : std::as_const(all))
        if (path == u"transfer calls" ? m->call && m->call->id > s.messages : m->id > s.messages)
            fresh << m;
    return workOf([&] {
        IOSRestoreViberMsgThread worker(s.phone(), fresh);
        QVERIFY(testsupport::runToEnd(worker));
    });
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
        QVERIFY2(small.steps + small.bytesWritten > 0, "the run did no work that could be counted");
        for (int i = 0; i < 3; ++i) {
            const double ratio = double(unit(large, i)) / double(std::max<qint64>(1, unit(small, i)));
            qInfo("%s, %s: %lld, then %lld (%.2f times)", qPrintable(path), kUnits[i], unit(small, i),
                  unit(large, i), ratio);
            if (unit(large, i) >= kFloor[i])
                QVERIFY2(ratio <= kMaxRatio,
                         qPrintable(u"%1: %2 for %3, %4 for %5: %6 times"_s.arg(QLatin1String(kUnits[i]))
                                        .arg(unit(small, i))
                                        .arg(kSmall)
                                        .arg(unit(large, i))
                                        .arg(4 * kSmall)
                                        .arg(ratio, 0, 'f', 2)));
        }
    }
};

QTEST_MAIN(TestGrowth)
#include "tst_growth.moc"
