#include "BackupCryptoFixtures.h"

#include <QRandomGenerator>
#include <QtEndian>

#include <openssl/evp.h>

#include <memory>
#include <stdexcept>

namespace testsupport {

namespace {

struct CipherFree
{
    void operator()(EVP_CIPHER_CTX *ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

const unsigned char *bytes(const QByteArray &a)
{
    return reinterpret_cast<const unsigned char *>(a.constData());
}

unsigned char *bytes(QByteArray &a)
{
    return reinterpret_cast<unsigned char *>(a.data());
}

QByteArray encrypt(const EVP_CIPHER *cipher, const QByteArray &key, const QByteArray &plain, bool wrap)
{
    std::unique_ptr<EVP_CIPHER_CTX, CipherFree> ctx(EVP_CIPHER_CTX_new());
    if (wrap)
        EVP_CIPHER_CTX_set_flags(ctx.get(), EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
    const unsigned char zeros[16] = {};
    if (EVP_EncryptInit_ex(ctx.get(), cipher, nullptr, bytes(key), wrap ? nullptr : zeros) != 1)
        throw std::runtime_error("cipher set-up failed");
    QByteArray out(plain.size() + 16, '\0');
    int length = 0;
    int last = 0;
    if (EVP_EncryptUpdate(ctx.get(), bytes(out), &length, bytes(plain), int(plain.size())) != 1 ||
        EVP_EncryptFinal_ex(ctx.get(), bytes(out) + length, &last) != 1)
        throw std::runtime_error("encryption failed");
    out.resize(length + last);
    return out;
}

QByteArray passcodeKey(const QByteArray &password, const KeyBagDerivation &derivation)
{
    QByteArray input = password;
    if (!derivation.dpsl.isEmpty()) {
        input = QByteArray(32, '\0');
        PKCS5_PBKDF2_HMAC(password.constData(), int(password.size()), bytes(derivation.dpsl),
                          int(derivation.dpsl.size()), int(derivation.dpic), EVP_sha256(), 32, bytes(input));
    }
    QByteArray key(32, '\0');
    PKCS5_PBKDF2_HMAC(input.constData(), int(input.size()), bytes(derivation.salt),
                      int(derivation.salt.size()), int(derivation.iterations), EVP_sha1(), 32, bytes(key));
    return key;
}

QByteArray aesWrap(const QByteArray &kek, const QByteArray &key)
{
    return encrypt(EVP_aes_256_wrap(), kek, key, true);
}

} // namespace

QByteArray keyBagValue(const char *tag, const QByteArray &value)
{
    QByteArray out(tag, 4);
    char length[4];
    qToBigEndian(quint32(value.size()), length);
    return out + QByteArray(length, 4) + value;
}

QByteArray keyBagNumber(const char *tag, quint32 value)
{
    char number[4];
    qToBigEndian(value, number);
    return keyBagValue(tag, QByteArray(number, 4));
}

QByteArray buildKeyBag(const QByteArray &password, const QList<KeyBagClass> &classes,
                       const KeyBagDerivation &derivation)
{
    const QByteArray kek = passcodeKey(password, derivation);
    QByteArray bag = keyBagNumber("VERS", 3) + keyBagNumber("TYPE", 1) +
                     keyBagValue("UUID", QByteArray(16, '\x11')) +
                     keyBagValue("HMCK", QByteArray(40, '\x22')) + keyBagNumber("WRAP", 2) +
                     keyBagValue("SALT", derivation.salt) + keyBagNumber("ITER", derivation.iterations);
    if (!derivation.dpsl.isEmpty())
        bag += keyBagNumber("DPWT", 1) + keyBagNumber("DPIC", derivation.dpic) +
               keyBagValue("DPSL", derivation.dpsl);
    for (const KeyBagClass &c : classes)
        bag += keyBagValue("UUID", QByteArray(16, char(0x30 + c.number))) + keyBagNumber("CLAS", c.number) +
               keyBagNumber("WRAP", c.wrap) + keyBagNumber("KTYP", 0) +
               keyBagValue("WPKY", aesWrap(kek, c.key));
    return bag;
}

QByteArray wrapFileKey(const QByteArray &classKey, const QByteArray &fileKey, quint32 protectionClass)
{
    char prefix[4];
    qToLittleEndian(protectionClass, prefix);
    return QByteArray(prefix, 4) + aesWrap(classKey, fileKey);
}

QByteArray encryptBackupData(const QByteArray &fileKey, const QByteArray &plain)
{
    return encrypt(EVP_aes_256_cbc(), fileKey, plain, false);
}

QByteArray patternBytes(qint64 n, quint32 seed)
{
    QList<quint32> words((n + 3) / 4);
    QRandomGenerator(seed).fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char *>(words.constData()), n);
}

} // namespace testsupport
