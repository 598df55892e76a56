#pragma once

#include <QByteArray>
#include <QList>

// The encrypting side of an encrypted iTunes backup, built on libcrypto's one-shot
// calls (not on the code under test): key bags wrapped under a password, wrapped
// file keys and encrypted data files.
namespace testsupport {

struct KeyBagClass
{
    quint32 number = 0;
    QByteArray key;   // 32 bytes
    quint32 wrap = 3; // bit 1: wrapped by the password; without it the key is left out of reach
};

struct KeyBagDerivation
{
    QByteArray salt = QByteArrayLiteral("pepper and salt, twenty");
    quint32 iterations = 10;
    // The newer derivation when dpsl is not empty: PBKDF2-HMAC-SHA256 first.
    QByteArray dpsl;
    quint32 dpic = 0;
};

// One tagged value of a key bag: 4-byte tag, 4-byte big-endian length, bytes.
QByteArray keyBagValue(const char *tag, const QByteArray &value);
QByteArray keyBagNumber(const char *tag, quint32 value);

// A key bag as iPhones write it: the bag's values, then per class UUID, CLAS,
// WRAP, KTYP and WPKY (the class key wrapped by the password's passcode key).
QByteArray buildKeyBag(const QByteArray &password, const QList<KeyBagClass> &classes,
                       const KeyBagDerivation &derivation = {});

// A record's encryptionKey: 4 bytes of protection class (little-endian) and the
// file key wrapped by the class key.
QByteArray wrapFileKey(const QByteArray &classKey, const QByteArray &fileKey, quint32 protectionClass);

// AES-256-CBC with a zero initial vector and PKCS#7 padding, as a data file is
// stored: 20 bytes become 32, 32 bytes become 48.
QByteArray encryptBackupData(const QByteArray &fileKey, const QByteArray &plain);

// n bytes in which no two 16-byte blocks are alike, so that a misplaced block shows.
QByteArray patternBytes(qint64 n, quint32 seed = 1);

} // namespace testsupport
