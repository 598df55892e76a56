#pragma once

#include <QByteArray>
#include <QList>

// The encrypting side of encrypted iTunes backups, on libcrypto rather than the code under test.
namespace testsupport {

struct KeyBagClass
{
    quint32 number = 0;
    QByteArray key;   // 32 bytes
    quint32 wrap = 3; // bit 1: wrapped by the password; without it only the phone has the key
};

// dpsl set: a newer bag, PBKDF2-HMAC-SHA256 before the SHA-1 rounds.
struct KeyBagDerivation
{
    QByteArray salt = QByteArrayLiteral("pepper and salt, twenty");
    quint32 iterations = 10;
    QByteArray dpsl;
    quint32 dpic = 0;
};

// One tagged value of a key bag: tag, big-endian length, bytes.
QByteArray keyBagValue(const char *tag, const QByteArray &value);
QByteArray keyBagNumber(const char *tag, quint32 value);
QByteArray buildKeyBag(const QByteArray &password, const QList<KeyBagClass> &classes,
                       const KeyBagDerivation &derivation = {});
// A record's encryptionKey: the class (little-endian), the file key wrapped by the class key.
QByteArray wrapFileKey(const QByteArray &classKey, const QByteArray &fileKey, quint32 protectionClass);
// A data file: AES-256-CBC, zero initial vector, PKCS#7 padding.
QByteArray encryptBackupData(const QByteArray &fileKey, const QByteArray &plain);
// n bytes in which no two 16-byte blocks are alike, so that a misplaced block shows.
QByteArray patternBytes(qint64 n, quint32 seed = 1);

} // namespace testsupport
