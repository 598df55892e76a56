#include "BenchRegistry.h"

#include "device/IOSFileDownloader.h"
#include "support/BackupCryptoFixtures.h"
#include "support/SimulatedAfc.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 MiB = 1024 * 1024;

// Writes size bytes of varied data; false when it cannot.
bool writeBig(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray slice = testsupport::patternBytes(MiB, 11);
    for (qint64 done = 0; done < size; done += MiB) {
        std::memcpy(slice.data(), &done, sizeof done);
        if (file.write(slice.constData(), std::min(MiB, size - done)) != std::min(MiB, size - done))
            return false;
    }
    return true;
}

// A plain copy through a buffer as large as the downloader's: what the disk
// alone allows. Seconds, or -1.
double localCopySeconds(const QString &from, const QString &to)
{
    QElapsedTimer timer;
    timer.start();
    QFile in(from), out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return -1;
    QByteArray buffer(524288, Qt::Uninitialized);
    for (qint64 n; (n = in.read(buffer.data(), buffer.size())) > 0;) {
        if (out.write(buffer.constData(), n) != n)
            return -1;
    }
    out.close();
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

CHATWHARF_BENCH_SCENARIO_SIZED(
    deviceScenario, "device", bench::Size::Own,
    "Download a 256 MB file and 2,000 files of 100 KB from a simulated iPhone over AFC (--messages gives "
    "megabytes), beside a plain local copy")
{
    const qint64 megabytes = bench::messageCount(args, 256);
    if (megabytes < 0)
        return 2;
    const qint64 files = bench::scaled(2000, megabytes, 256, 10);
    QTemporaryDir dir;
    const QString container = dir.filePath(u"container"_s);
    const QString big = container + u"/Documents/big.bin"_s;
    const QByteArray small = testsupport::patternBytes(100 * 1024, 5);
    bool written = QDir().mkpath(container + u"/Documents/Attachments"_s) &&
                   QDir().mkpath(dir.filePath(u"media"_s)) && writeBig(big, megabytes * MiB);
    for (qint64 i = 0; written && i < files; ++i) {
        QFile file(container + u"/Documents/Attachments/%1.jpg"_s.arg(i));
        written = file.open(QIODevice::WriteOnly) && file.write(small) == small.size();
    }
    if (!written) {
        std::fprintf(stderr, "cannot write the phone's files in %s\n", qPrintable(dir.path()));
        return 1;
    }

    // The plain copy first, before the downloads leave the disk busy writing back.
    const double copySeconds = localCopySeconds(big, dir.filePath(u"copy.bin"_s));
    if (copySeconds < 0) {
        std::fprintf(stderr, "the local copy failed\n");
        return 1;
    }
    SimulatedAfc phone(container, dir.filePath(u"media"_s));
    AfcConnection afc(phone.device());
    try {
        afc_connect(afc, u"com.viber"_s);
        IOSFileDownloader downloader(dir.filePath(u"manifest.db"_s));
        QElapsedTimer timer;
        timer.start();
        downloader.download(afc, u"/Documents/big.bin"_s, dir.filePath(u"local/big.bin"_s), false);
        const double bigSeconds = timer.nsecsElapsed() / 1e9;
        if (QFileInfo(dir.filePath(u"local/big.bin"_s)).size() != megabytes * MiB) {
            std::fprintf(stderr, "the downloaded file has another size\n");
            return 1;
        }
        // The attachments as a load fetches them: listed, then each with the cache.
        timer.restart();
        const QList<AfcFileInfo> listed = afc_list_dir(afc, u"/Documents/Attachments"_s);
        for (const AfcFileInfo &info : listed)
            downloader.download(
                afc, info, dir.filePath(u"local/Attachments/"_s + QFileInfo(info.path).fileName()), true);
        const double smallSeconds = timer.nsecsElapsed() / 1e9;
        if (listed.size() != files ||
            QDir(dir.filePath(u"local/Attachments"_s)).entryList(QDir::Files).size() != files) {
            std::fprintf(stderr, "not every attachment arrived\n");
            return 1;
        }
        bench::figure(u"afc_mb_s"_s, double(megabytes) / bigSeconds, u"MB/s"_s);
        bench::figure(u"afc_files_s"_s, double(files) / smallSeconds, u"files/s"_s);
        bench::figure(u"local_copy_mb_s"_s, double(megabytes) / copySeconds, u"MB/s"_s);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "download failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
