#include "BenchRegistry.h"

#include "itunes/BackupCrypto.h"
#include "support/BackupCryptoFixtures.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 MiB = 1024 * 1024;

struct CipherFree
{
    void operator()(EVP_CIPHER_CTX *ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

// Writes size bytes of varied data, encrypted as a backup stores a file (CBC, zero
// initial vector, PKCS#7 padding), in slices; returns the SHA-1 of the plain data.
QByteArray writeEncryptedFile(const QString &path, const QByteArray &key, qint64 size)
{
    QFile file(path);
    std::unique_ptr<EVP_CIPHER_CTX, CipherFree> ctx(EVP_CIPHER_CTX_new());
    const unsigned char iv[16] = {};
    if (!file.open(QIODevice::WriteOnly) ||
        EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr,
                           reinterpret_cast<const unsigned char *>(key.constData()), iv) != 1)
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Sha1);
    QByteArray slice = testsupport::patternBytes(MiB, 42);
    QByteArray encrypted(MiB + 16, '\0');
    for (qint64 done = 0; done < size;) {
        const qint64 n = std::min(MiB, size - done);
        // No two slices alike: the slice number goes into the first bytes.
        std::memcpy(slice.data(), &done, sizeof done);
        hash.addData(QByteArrayView(slice.constData(), n));
        int length = 0;
        if (EVP_EncryptUpdate(ctx.get(), reinterpret_cast<unsigned char *>(encrypted.data()), &length,
                              reinterpret_cast<const unsigned char *>(slice.constData()), int(n)) != 1 ||
            file.write(encrypted.constData(), length) != length)
            return QByteArray();
        done += n;
    }
    int length = 0;
    if (EVP_EncryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char *>(encrypted.data()), &length) != 1 ||
        file.write(encrypted.constData(), length) != length)
        return QByteArray();
    return hash.result();
}

// SHA-1 of the first size bytes of a file.
QByteArray fileHash(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (qint64 done = 0; done < size;) {
        const QByteArray bytes = file.read(std::min(MiB, size - done));
        if (bytes.isEmpty())
            return QByteArray();
        hash.addData(bytes);
        done += bytes.size();
    }
    return hash.result();
}

// Seconds our decrypting copy takes, or -1 after saying why.
double ourSeconds(const QString &source, const QString &target, const QByteArray &key, qint64 size)
{
    QElapsedTimer timer;
    timer.start();
    QFile in(source);
    QFile out(target);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return -1;
    try {
        decryptBackupData(in, out, key, size, source);
        out.close();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "decryption failed: %s\n", e.what());
        return -1;
    }
    return timer.nsecsElapsed() / 1e9;
}

// Seconds "openssl enc" takes for the same file, or -1 when it failed.
double opensslSeconds(const QString &tool, const QString &source, const QString &target,
                      const QByteArray &key)
{
    return bench::processSeconds(tool, {u"enc"_s, u"-d"_s, u"-aes-256-cbc"_s, u"-nopad"_s, u"-K"_s,
                                        QString::fromLatin1(key.toHex()), u"-iv"_s, QString(32, u'0'),
                                        u"-in"_s, source, u"-out"_s, target});
}

} // namespace

CHATWHARF_BENCH_SCENARIO_SIZED(
    backupDecryptScenario, "backup-decrypt", bench::Size::Own,
    "Decrypt a 256 MB backup file (--messages gives megabytes), beside openssl enc")
{
    const qint64 megabytes = bench::messageCount(args, 256);
    if (megabytes < 0)
        return 2;
    const qint64 size = megabytes * MiB;
    const QByteArray key = testsupport::patternBytes(32, 17);

    QTemporaryDir dir;
    const QString encrypted = dir.filePath(u"encrypted"_s);
    const QString ours = dir.filePath(u"ours"_s);
    const QString theirs = dir.filePath(u"openssl"_s);
    const QByteArray expected = writeEncryptedFile(encrypted, key, size);
    if (expected.isEmpty()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(encrypted));
        return 1;
    }
    const QString tool = QStandardPaths::findExecutable(u"openssl"_s);

    // Best of two runs each, taken in turn, so that neither profits alone from a
    // warm cache or suffers alone from another build on the machine.
    double oursBest = -1;
    double theirsBest = -1;
    for (int run = 0; run < 2; ++run) {
        const double s = ourSeconds(encrypted, ours, key, size);
        if (s < 0)
            return 1;
        if (QFileInfo(ours).size() != size || fileHash(ours, size) != expected) {
            std::fprintf(stderr, "our output differs from the plain data\n");
            return 1;
        }
        QFile::remove(ours);
        oursBest = oursBest < 0 ? s : std::min(oursBest, s);
        if (tool.isEmpty())
            continue;
        const double t = opensslSeconds(tool, encrypted, theirs, key);
        if (t < 0 || fileHash(theirs, size) != expected) {
            std::fprintf(stderr, "openssl enc failed or gave other bytes\n");
            return 1;
        }
        QFile::remove(theirs);
        theirsBest = theirsBest < 0 ? t : std::min(theirsBest, t);
    }
    const double oursRate = double(megabytes) / oursBest;
    bench::figure(u"decrypt_mb_s"_s, oursRate, u"MB/s"_s);
    if (theirsBest > 0) {
        const double theirsRate = double(megabytes) / theirsBest;
        bench::figure(u"openssl_mb_s"_s, theirsRate, u"MB/s"_s);
        bench::figure(u"decrypt_ratio"_s, oursRate / theirsRate, u"ratio"_s);
    } else {
        std::fprintf(stderr, "no openssl tool on the PATH: its figure is left out\n");
    }
    return 0;
}
