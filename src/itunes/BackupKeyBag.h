#pragma once

#include "itunes/BackupCrypto.h"

#include <QByteArray>
#include <QMap>
#include <QString>

// The key bag of an encrypted iTunes backup (the BackupKeyBag value of
// Manifest.plist): the values of the bag itself and, per protection class, the
// class's values, to which unlocking adds the unwrapped class key under "KEY".
// It holds keys: it wipes them when it goes, and it is moved, never copied.
class BackupKeyBag
{
public:
    using TagMap = QMap<QString, QByteArray>;

    BackupKeyBag() = default;
    // Parses the bag; raises a sentence naming manifestPath when it is damaged.
    BackupKeyBag(const QByteArray &bytes, const QString &manifestPath);
    ~BackupKeyBag();
    BackupKeyBag(BackupKeyBag &&other) noexcept;
    BackupKeyBag &operator=(BackupKeyBag &&other) noexcept;
    BackupKeyBag(const BackupKeyBag &) = delete;
    BackupKeyBag &operator=(const BackupKeyBag &) = delete;

    // Derives the passcode key from the password and unwraps every class key the
    // password protects. False for a wrong (or empty) password, and when no class
    // key at all could prove the password right; no key is kept then. Raises when
    // the bag lacks what the derivation needs, and passes on what progress raises
    // (a cancel). Bags with "DPSL"/"DPIC" first run the password through
    // PBKDF2-HMAC-SHA256 (ten million rounds as iPhones write them): progress
    // reports rounds, so that the wait can be shown and cancelled.
    bool unlock(const QByteArray &password, const BackupCrypto::Progress &progress = {});
    bool isUnlocked() const { return m_unlocked; }
    // Drops the class keys, wiping them.
    void lock();

    // The 32-byte key of one backed-up file: wrappedKey (40 bytes, the record's
    // encryptionKey without its first 4 bytes) unwrapped with the key of its
    // protection class. Raises a sentence naming fileNameForErrors when the
    // backup is locked, the class is missing or not unlockable by password, or
    // the wrapped key is damaged.
    QByteArray fileKey(int protectionClass, const QByteArray &wrappedKey,
                       const QString &fileNameForErrors = QString()) const;
    // The wrapped file key inside a record's encryptionKey (empty when too short).
    static QByteArray wrappedFileKey(const QByteArray &encryptionKey);

    const TagMap &header() const { return m_header; }
    const QMap<quint32, TagMap> &classes() const { return m_classes; }

private:
    void parse(const QByteArray &bytes);
    quint32 number(const TagMap &map, const QString &tag) const;
    [[noreturn]] void damaged(const char *key, const QString &detail = QString()) const;

    QString m_manifestPath;
    TagMap m_header;
    QMap<quint32, TagMap> m_classes;
    bool m_unlocked = false;
};
