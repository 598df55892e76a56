#include "BenchRegistry.h"

#include "itunes/BackupManifest.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

namespace {

MbdbRecord benchRecord(const QString &domain, const QString &path, quint64 size, qint64 i)
{
    MbdbRecord r;
    r.domain = MbdbString::fromText(domain);
    r.path = MbdbString::fromText(path);
    r.mode = size == 0 ? 040755 : 0100644;
    r.inodeLow = quint32(i);
    r.uid = r.gid = 501;
    r.mtime = r.atime = r.ctime = quint32(1400000000 + i);
    r.size = size;
    if (size != 0)
        r.dataHash = MbdbString::fromBytes(QByteArray(20, char(i)));
    r.protectionClass = 3;
    return r;
}

// A phone's mix: a camera roll of photos in folders of a thousand, and apps with
// a few folders of caches and documents each.
QList<MbdbRecord> phoneRecords(qint64 count)
{
    QList<MbdbRecord> records;
    records.reserve(count);
    const qint64 photos = count / 2;
    for (qint64 i = 0; records.size() < photos; ++i) {
        const QString folder = QStringLiteral("Media/DCIM/%1APPLE").arg(100 + i / 1000);
        if (i % 1000 == 0)
            records.append(benchRecord(QStringLiteral("CameraRollDomain"), folder, 0, i));
        records.append(benchRecord(QStringLiteral("CameraRollDomain"),
                                   folder + QStringLiteral("/IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0')),
                                   2000000, i));
    }
    for (qint64 i = 0; records.size() < count; ++i) {
        const QString domain = QStringLiteral("AppDomain-com.example.app%1").arg(i / 400);
        const QString folder = QStringLiteral("Library/Caches/part%1").arg(i / 50 % 8);
        if (i % 400 == 0)
            records.append(benchRecord(domain, QString(), 0, i));
        if (i % 50 == 0)
            records.append(benchRecord(domain, folder, 0, i));
        records.append(benchRecord(domain, folder + QStringLiteral("/file%1.dat").arg(i), 4096, i));
    }
    return records;
}

} // namespace

CHATWHARF_BENCH_SCENARIO_NAMED(backupMbdb, "backup-mbdb",
                               "Read a Manifest.mbdb of 300,000 records and build the backup's file tree")
{
    const qint64 n = bench::messageCount(args, 300000);
    if (n < 0)
        return 2;
    QTemporaryDir folder;
    QList<MbdbRecord> records = phoneRecords(n);
    const qsizetype written = records.size();
    try {
        QElapsedTimer timer;
        timer.start();
        BackupManifest::writeMbdb(records, folder.filePath(QStringLiteral("Manifest.mbdb")));
        const double write = timer.nsecsElapsed() / 1e9;
        records.clear();

        timer.restart();
        const qsizetype read =
            BackupManifest::readMbdb(folder.filePath(QStringLiteral("Manifest.mbdb"))).size();
        const double readOnly = timer.nsecsElapsed() / 1e9;

        BackupManifest manifest(folder.path());
        timer.restart();
        manifest.loadFileTree();
        const double load = timer.nsecsElapsed() / 1e9;
        if (read != written ||
            manifest.findNode(QStringLiteral("Media/DCIM/100APPLE/IMG_0000.JPG")) == nullptr) {
            std::fprintf(stderr, "the manifest read back holds %lld of %lld records\n", qint64(read),
                         qint64(written));
            return 1;
        }
        bench::figure(QStringLiteral("mbdb_write_s"), write, QStringLiteral("s"));
        bench::figure(QStringLiteral("mbdb_read_s"), readOnly, QStringLiteral("s"));
        bench::figure(QStringLiteral("mbdb_300k_s"), load, QStringLiteral("s"));
        bench::figure(QStringLiteral("mbdb_peak_mb"), bench::peakResidentMb(), QStringLiteral("MB"));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
