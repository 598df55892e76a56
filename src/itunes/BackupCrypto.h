#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

class QIODevice;

// The primitives of encrypted iTunes backups, on OpenSSL's libcrypto, and the
// decrypting copy of one backed-up file. Failures raise std::runtime_error with a
// sentence (UTF-8, may hold HTML) naming the file concerned.
namespace BackupCrypto {

// Called with the work done so far and the whole work (rounds, bytes). It may
// raise (a worker's cancel, the int -1) to stop: nothing is kept then.
using Progress = std::function<void(qint64 done, qint64 total)>;

enum class Digest { Sha1, Sha256 };

// PBKDF2 with HMAC over password and salt, keyLength bytes of output. Runs the
// rounds in slices and reports after each, so that ten million rounds can be
// followed and cancelled. Raises only when libcrypto fails or progress raises.
QByteArray pbkdf2(Digest digest, const QByteArray &password, const QByteArray &salt, qint64 rounds,
                  int keyLength, const Progress &progress = {});

// RFC 3394 key unwrap with a 256-bit key-encryption key; empty when the integrity
// check fails or the wrapped bytes are no whole key (at least 24 bytes, a multiple of 8).
QByteArray aesUnwrap(const QByteArray &kek, const QByteArray &wrapped);

// Overwrites the bytes before letting them go. Only this copy is wiped: a shared
// copy made elsewhere keeps its own.
void wipe(QByteArray &bytes);

// Wipes the given arrays when the scope ends, however it ends.
class WipeGuard
{
public:
    explicit WipeGuard(std::initializer_list<QByteArray *> arrays) : m_arrays(arrays) {}
    ~WipeGuard();
    WipeGuard(const WipeGuard &) = delete;
    WipeGuard &operator=(const WipeGuard &) = delete;

private:
    std::vector<QByteArray *> m_arrays;
};

inline constexpr qint64 ChunkSize = 8192;

// Raises text (UTF-8) as a std::runtime_error.
[[noreturn]] void fail(const QString &text);
// A path inside an error, which the dialogs show as rich text.
QString shown(const QString &path);
// The translated text of a key of the cryptography's own.
QString text(const char *key);

} // namespace BackupCrypto

// Copies the encrypted data file `in` to `out`, decrypting it with AES-256-CBC,
// the file key and a zero initial vector, in chunks of 8192 bytes, and writes
// exactly `size` bytes: the padding after them is dropped. Data that is not whole
// 16-byte blocks or ends before `size` bytes raises an error naming
// fileNameForErrors (a plain path); `out` may then hold a part and is the caller's
// to remove. progress gets the encrypted bytes read so far and the input's size.
void decryptBackupData(QIODevice &in, QIODevice &out, const QByteArray &fileKey, qint64 size,
                       const QString &fileNameForErrors, const BackupCrypto::Progress &progress = {});
