#include "BackupCrypto.h"

#include <QCoreApplication>
#include <QDir>
#include <QIODevice>

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace {

// Rounds between two progress reports: a few hundredths of a second.
constexpr qint64 RoundsPerSlice = 65536;

using BackupCrypto::fail;
using BackupCrypto::shown;
using BackupCrypto::text;

struct MacFree
{
    void operator()(EVP_MAC *mac) const { EVP_MAC_free(mac); }
    void operator()(EVP_MAC_CTX *ctx) const { EVP_MAC_CTX_free(ctx); }
    void operator()(EVP_CIPHER_CTX *ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

// Stack buffers holding intermediate key material are wiped on every way out.
struct CleanseOnExit
{
    void *data;
    size_t size;
    ~CleanseOnExit() { OPENSSL_cleanse(data, size); }
};

[[noreturn]] void libcryptoFailed()
{
    fail(text(QT_TRANSLATE_NOOP("BackupCrypto", "IDS_BACKUP_CRYPTO_LIBRARY_FAILED")));
}

} // namespace

namespace BackupCrypto {

void fail(const QString &text)
{
    throw std::runtime_error(text.toUtf8().toStdString());
}

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path).toHtmlEscaped();
}

QString text(const char *key)
{
    return QCoreApplication::translate("BackupCrypto", key);
}

void wipe(QByteArray &bytes)
{
    if (!bytes.isEmpty())
        OPENSSL_cleanse(bytes.data(), size_t(bytes.size()));
    bytes.clear();
}

WipeGuard::~WipeGuard()
{
    for (QByteArray *bytes : m_arrays)
        wipe(*bytes);
}

QByteArray pbkdf2(Digest digest, const QByteArray &password, const QByteArray &salt, qint64 rounds,
                  int keyLength, const Progress &progress)
{
    if (rounds < 1 || keyLength < 1)
        libcryptoFailed();
    const int hashLength = digest == Digest::Sha1 ? 20 : 32;
    const qint64 blocks = (keyLength + hashLength - 1) / hashLength;
    const qint64 total = rounds * blocks;

    // OpenSSL's one-shot PBKDF2 cannot report or stop; this loop is the RFC 8018
    // one on libcrypto's HMAC, re-keyed cheaply from the keyed context each round.
    std::unique_ptr<EVP_MAC, MacFree> mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
    if (!mac)
        libcryptoFailed();
    std::unique_ptr<EVP_MAC_CTX, MacFree> ctx(EVP_MAC_CTX_new(mac.get()));
    char digestName[8] = {};
    qstrcpy(digestName, digest == Digest::Sha1 ? "SHA1" : "SHA256");
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digestName, 0),
                                 OSSL_PARAM_construct_end()};
    // An empty password is a key of no bytes, not an absent key: constData() is never null.
    if (!ctx || EVP_MAC_init(ctx.get(), reinterpret_cast<const unsigned char *>(password.constData()),
                             size_t(password.size()), params) != 1)
        libcryptoFailed();

    unsigned char u[32];
    unsigned char t[32];
    CleanseOnExit wipeU{u, sizeof u};
    CleanseOnExit wipeT{t, sizeof t};
    QByteArray key(keyLength, '\0');
    try {
        qint64 done = 0;
        for (qint64 block = 1; block <= blocks; ++block) {
            const unsigned char index[4] = {uchar(block >> 24), uchar(block >> 16), uchar(block >> 8),
                                            uchar(block)};
            size_t length = 0;
            if (EVP_MAC_init(ctx.get(), nullptr, 0, nullptr) != 1 ||
                EVP_MAC_update(ctx.get(), reinterpret_cast<const unsigned char *>(salt.constData()),
                               size_t(salt.size())) != 1 ||
                EVP_MAC_update(ctx.get(), index, sizeof index) != 1 ||
                EVP_MAC_final(ctx.get(), u, &length, sizeof u) != 1)
                libcryptoFailed();
            std::copy(u, u + hashLength, t);
            ++done;
            for (qint64 round = 2; round <= rounds; ++round) {
                if (EVP_MAC_init(ctx.get(), nullptr, 0, nullptr) != 1 ||
                    EVP_MAC_update(ctx.get(), u, size_t(hashLength)) != 1 ||
                    EVP_MAC_final(ctx.get(), u, &length, sizeof u) != 1)
                    libcryptoFailed();
                for (int i = 0; i < hashLength; ++i)
                    t[i] ^= u[i];
                if (++done % RoundsPerSlice == 0 && progress)
                    progress(done, total);
            }
            const qint64 offset = (block - 1) * hashLength;
            std::copy(t, t + std::min<qint64>(hashLength, keyLength - offset), key.data() + offset);
        }
        if (progress)
            progress(total, total);
    } catch (...) {
        wipe(key);
        throw;
    }
    return key;
}

QByteArray aesUnwrap(const QByteArray &kek, const QByteArray &wrapped)
{
    if (kek.size() != 32 || wrapped.size() < 24 || wrapped.size() % 8 != 0)
        return QByteArray();
    std::unique_ptr<EVP_CIPHER_CTX, MacFree> ctx(EVP_CIPHER_CTX_new());
    if (!ctx)
        libcryptoFailed();
    // libcrypto hides the wrap modes from EVP users who have not asked for them.
    EVP_CIPHER_CTX_set_flags(ctx.get(), EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
    // No initial vector: RFC 3394's default A6A6A6A6A6A6A6A6 is the check value.
    if (EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_wrap(), nullptr,
                           reinterpret_cast<const unsigned char *>(kek.constData()), nullptr) != 1)
        libcryptoFailed();
    QByteArray key(wrapped.size(), '\0');
    int length = 0;
    int last = 0;
    if (EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char *>(key.data()), &length,
                          reinterpret_cast<const unsigned char *>(wrapped.constData()),
                          int(wrapped.size())) <= 0 ||
        EVP_DecryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char *>(key.data()) + length, &last) <= 0 ||
        length + last != wrapped.size() - 8) {
        wipe(key);
        return QByteArray();
    }
    key.resize(length + last);
    return key;
}

} // namespace BackupCrypto

namespace {

// Reads up to capacity bytes, waiting on a pipe-like device; -1 on a read error.
qint64 fill(QIODevice &in, char *buffer, qint64 capacity)
{
    qint64 got = 0;
    while (got < capacity) {
        const qint64 n = in.read(buffer + got, capacity - got);
        if (n < 0)
            return -1;
        if (n == 0) {
            if (in.isSequential() && in.waitForReadyRead(30000))
                continue;
            break;
        }
        got += n;
    }
    return got;
}

} // namespace

void decryptBackupData(QIODevice &in, QIODevice &out, const QByteArray &fileKey, qint64 size,
                       const QString &fileNameForErrors, const BackupCrypto::Progress &progress)
{
    const QString name = shown(fileNameForErrors);
    if (fileKey.size() != 32)
        fail(text(QT_TRANSLATE_NOOP("BackupCrypto", "IDS_BACKUP_DATA_KEY_LENGTH")).arg(name));
    if (size < 0)
        fail(text(QT_TRANSLATE_NOOP("BackupCrypto", "IDS_BACKUP_DATA_BAD_SIZE")).arg(name));

    std::unique_ptr<EVP_CIPHER_CTX, MacFree> ctx(EVP_CIPHER_CTX_new());
    const unsigned char iv[16] = {};
    if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr,
                                   reinterpret_cast<const unsigned char *>(fileKey.constData()), iv) != 1)
        libcryptoFailed();
    // The length is cut to the record's size by hand: the padding is not checked.
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);

    const qint64 total = in.isSequential() ? size : in.size();
    QByteArray encrypted(BackupCrypto::ChunkSize, '\0');
    QByteArray plain(BackupCrypto::ChunkSize, '\0');
    qint64 read = 0;
    qint64 written = 0;
    // The chaining value carries over from chunk to chunk inside the cipher context.
    while (written < size) {
        const qint64 got = fill(in, encrypted.data(), BackupCrypto::ChunkSize);
        if (got < 0)
            fail(text(QT_TRANSLATE_NOOP("BackupCrypto", "IDS_BACKUP_DATA_READ_FAILED"))
                     .arg(name, in.errorString().toHtmlEscaped()));
        if (got == 0)
            break;
        read += got;
        if (got % 16 != 0)
            fail(text(QT_TRANSLATE_NOOP("BackupCrypto", "IDS_BACKUP_DATA_NOT_BLOCKS"))
                     .arg(name, QString::number(read)));
        int length = 0;
        if (EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char *>(plain.data()), &length,
                              reinterpret_cast<const unsigned char *>(encrypted.constData()),
                              int(got)) != 1 ||
            length != got)
            libcryptoFailed();
        const qint64 keep = std::min<qint64>(length, size - written);
        if (out.write(plain.constData(), keep) != keep)
            fail(text(QT_TRANSLATE_NOOP("BackupCrypto", "IDS_BACKUP_DATA_WRITE_FAILED"))
                     .arg(name, out.errorString().toHtmlEscaped()));
        written += keep;
        if (progress)
            progress(read, total);
    }
    if (written < size)
        fail(text(QT_TRANSLATE_NOOP("BackupCrypto", "IDS_BACKUP_DATA_SHORT"))
                 .arg(name, QString::number(read), QString::number(size)));
}
