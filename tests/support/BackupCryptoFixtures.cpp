#include "BackupCryptoFixtures.h"

#include <QRandomGenerator>
#include <QtEndian>

#include <openssl/evp.h>

#include <memory>
#include <stdexcept>

namespace testsupport {

namespace {

const unsigned char *u(const QByteArray &a)
{
    return reinterpret_cast<const unsigned char *>(a.constData());
}

// CBC with a zero initial vector, or RFC 3394 wrap (its default check value).
QByteArray encrypt(bool cbc, const QByteArray &key, const QByteArray &plain)
{
    const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                              &EVP_CIPHER_CTX_free);
    EVP_CIPHER_CTX_set_flags(ctx.get(), EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
    const unsigned char zeros[16] = {};
    QByteArray out(plain.size() + 16, '\0');
    auto *to = reinterpret_cast<unsigned char *>(out.data());
    int length = 0;
    int last = 0;
    if (EVP_EncryptInit_ex(ctx.get(), cbc ? EVP_aes_256_cbc() : EVP_aes_256_wrap(), nullptr, u(key),
                           cbc ? zeros : nullptr) != 1 ||
        EVP_EncryptUpdate(ctx.get(), to, &length, u(plain), int(plain.size())) != 1 ||
        EVP_EncryptFinal_ex(ctx.get(), to + length, &last) != 1)
        throw std::runtime_error("encryption failed");
    out.resize(length + last);
    return out;
}

QByteArray pbkdf2(const QByteArray &password, const QByteArray &salt, quint32 rounds, const EVP_MD *md)
{
    QByteArray key(32, '\0');
    PKCS5_PBKDF2_HMAC(password.constData(), int(password.size()), u(salt), int(salt.size()), int(rounds), md,
                      32, reinterpret_cast<unsigned char *>(key.data()));
    return key;
}

} // namespace

QByteArray keyBagValue(const char *tag, const QByteArray &value)
{
    char length[4];
    qToBigEndian(quint32(value.size()), length);
    return QByteArray(tag, 4) + QByteArray(length, 4) + value;
}

QByteArray keyBagNumber(const char *tag, quint32 value)
{
    char number[4];
    qToBigEndian(value, number);
    return keyBagValue(tag, QByteArray(number, 4));
}

QByteArray buildKeyBag(const QByteArray &password, const QList<KeyBagClass> &classes,
                       const KeyBagDerivation &d)
{
    const QByteArray input = d.dpsl.isEmpty() ? password : pbkdf2(password, d.dpsl, d.dpic, EVP_sha256());
    const QByteArray kek = pbkdf2(input, d.salt, d.iterations, EVP_sha1());
    QByteArray bag = keyBagNumber("VERS", 3) + keyBagNumber("TYPE", 1) +
                     keyBagValue("UUID", QByteArray(16, 'u')) + keyBagValue("HMCK", QByteArray(40, 'h')) +
                     keyBagNumber("WRAP", 2) + keyBagValue("SALT", d.salt) +
                     keyBagNumber("ITER", d.iterations);
    if (!d.dpsl.isEmpty())
        bag += keyBagNumber("DPWT", 1) + keyBagNumber("DPIC", d.dpic) + keyBagValue("DPSL", d.dpsl);
    for (const KeyBagClass &c : classes)
        bag += keyBagValue("UUID", QByteArray(16, char('0' + c.number))) + keyBagNumber("CLAS", c.number) +
               keyBagNumber("WRAP", c.wrap) + keyBagNumber("KTYP", 0) +
               keyBagValue("WPKY", encrypt(false, kek, c.key));
    return bag;
}

QByteArray wrapFileKey(const QByteArray &classKey, const QByteArray &fileKey, quint32 protectionClass)
{
    char prefix[4];
    qToLittleEndian(protectionClass, prefix);
    return QByteArray(prefix, 4) + encrypt(false, classKey, fileKey);
}

QByteArray encryptBackupData(const QByteArray &fileKey, const QByteArray &plain)
{
    return encrypt(true, fileKey, plain);
}

QByteArray patternBytes(qint64 n, quint32 seed)
{
    QList<quint32> words((n + 3) / 4);
    QRandomGenerator(seed).fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char *>(words.constData()), n);
}

} // namespace testsupport
