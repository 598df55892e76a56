#include "BenchRegistry.h"

#include "itunes/BackupManifest.h"
#include "itunes/ManifestDb.h"
#include "support/BackupCryptoFixtures.h"
#include "support/BackupFixtures.h"
#include "viber/Sqlite3DB.h"

#include <QElapsedTimer>
#include <QStandardPaths>
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

CHATWHARF_BENCH_SCENARIO_SIZED(backupMbdb, "backup-mbdb", bench::Size::Own,
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

namespace {

// Seconds the openssl tool takes for one PBKDF2 derivation, or -1 when it cannot.
double opensslPbkdf2Seconds(const QString &tool, const char *digest, const QByteArray &password,
                            const QByteArray &salt, qint64 rounds)
{
    return bench::processSeconds(
        tool, {QStringLiteral("kdf"), QStringLiteral("-keylen"), QStringLiteral("32"),
               QStringLiteral("-kdfopt"), QStringLiteral("digest:") + QLatin1String(digest),
               QStringLiteral("-kdfopt"), QStringLiteral("hexpass:") + QString::fromLatin1(password.toHex()),
               QStringLiteral("-kdfopt"), QStringLiteral("hexsalt:") + QString::fromLatin1(salt.toHex()),
               QStringLiteral("-kdfopt"), QStringLiteral("iter:%1").arg(rounds), QStringLiteral("PBKDF2")});
}

} // namespace

CHATWHARF_BENCH_SCENARIO_SIZED(
    backupNewer, "backup-newer", bench::Size::Own,
    "Read a Manifest.db of 300,000 files into the tree; unlock a current encrypted "
    "backup beside openssl's PBKDF2 over the same parameters")
{
    const qint64 n = bench::messageCount(args, 300000);
    if (n < 0)
        return 2;
    QTemporaryDir folder;
    try {
        const QList<MbdbRecord> records = phoneRecords(n);
        {
            Sqlite3DB db;
            db.openThrow(folder.filePath(QStringLiteral("Manifest.db")),
                         Sqlite3DB::ReadWrite | Sqlite3DB::Create);
            ManifestDb::createTables(db);
            db.execThrow(QStringLiteral("BEGIN"));
            for (const MbdbRecord &r : records)
                ManifestDb::writeRecord(db, r);
            db.execThrow(QStringLiteral("COMMIT"));
        }
        BackupManifest manifest(folder.path());
        QElapsedTimer timer;
        timer.start();
        manifest.loadFileTree();
        const double load = timer.nsecsElapsed() / 1e9;
        if (manifest.findNode(QStringLiteral("Media/DCIM/100APPLE/IMG_0000.JPG")) == nullptr) {
            std::fprintf(stderr, "the tree lacks a record of the manifest\n");
            return 1;
        }
        bench::figure(QStringLiteral("manifestdb_300k_s"), load, QStringLiteral("s"));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }

    // The derivation as current iPhones set it: ten million SHA-256 rounds, then ten thousand SHA-1.
    const QByteArray password("correct horse battery staple");
    testsupport::KeyBagDerivation derivation;
    derivation.iterations = 10000;
    derivation.dpsl = testsupport::patternBytes(20, 7);
    derivation.dpic = 10000000;
    fixtures::BackupFixture backup(folder.filePath(QStringLiteral("encrypted")));
    backup.keyBag = testsupport::buildKeyBag(password, {{3, testsupport::patternBytes(32, 3)}}, derivation);
    if (!backup.write().isEmpty())
        return 1;
    BackupManifest manifest(backup.folder());
    QElapsedTimer timer;
    try {
        manifest.loadManifestPlist();
        timer.start();
        if (!manifest.unlockWithPassword(QString::fromUtf8(password))) {
            std::fprintf(stderr, "the password did not unlock the backup\n");
            return 1;
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    const double unlock = timer.nsecsElapsed() / 1e9;
    bench::figure(QStringLiteral("unlock_s"), unlock, QStringLiteral("s"));
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (tool.isEmpty()) {
        std::fprintf(stderr, "no openssl tool on the PATH: its figure is left out\n");
        return 0;
    }
    // The second derivation takes the first's output as its password; its time does not depend on the bytes.
    const double outer = opensslPbkdf2Seconds(tool, "SHA256", password, derivation.dpsl, derivation.dpic);
    const double inner =
        opensslPbkdf2Seconds(tool, "SHA1", QByteArray(32, 'k'), derivation.salt, derivation.iterations);
    if (outer < 0 || inner < 0) {
        std::fprintf(stderr, "openssl kdf failed\n");
        return 1;
    }
    bench::figure(QStringLiteral("openssl_pbkdf2_s"), outer + inner, QStringLiteral("s"));
    bench::figure(QStringLiteral("unlock_ratio"), unlock / (outer + inner), QStringLiteral("ratio"));
    return 0;
}
