#include "BackupKeyBag.h"

#include <QCoreApplication>
#include <QDir>

#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

using BackupCrypto::fail;
using BackupCrypto::shown;
using BackupCrypto::text;

quint32 bigEndian32(const char *bytes)
{
    return quint32(uchar(bytes[0])) << 24 | quint32(uchar(bytes[1])) << 16 | quint32(uchar(bytes[2])) << 8 |
           quint32(uchar(bytes[3]));
}

bool isClassTag(const QString &tag)
{
    return tag == "CLAS"_L1 || tag == "WRAP"_L1 || tag == "WPKY"_L1 || tag == "KTYP"_L1 || tag == "PBKY"_L1;
}

} // namespace

BackupKeyBag::BackupKeyBag(const QByteArray &bytes, const QString &manifestPath)
    : m_manifestPath(manifestPath)
{
    parse(bytes);
}

BackupKeyBag::~BackupKeyBag()
{
    lock();
}

BackupKeyBag::BackupKeyBag(BackupKeyBag &&other) noexcept
    : m_manifestPath(std::move(other.m_manifestPath)), m_header(std::move(other.m_header)),
      m_classes(std::move(other.m_classes)), m_unlocked(other.m_unlocked)
{
    other.m_classes.clear();
    other.m_unlocked = false;
}

BackupKeyBag &BackupKeyBag::operator=(BackupKeyBag &&other) noexcept
{
    if (this != &other) {
        lock();
        m_manifestPath = std::move(other.m_manifestPath);
        m_header = std::move(other.m_header);
        m_classes = std::move(other.m_classes);
        m_unlocked = other.m_unlocked;
        other.m_classes.clear();
        other.m_unlocked = false;
    }
    return *this;
}

void BackupKeyBag::damaged(const char *key, const QString &detail) const
{
    const QString sentence = text(key);
    fail(detail.isNull() ? sentence.arg(shown(m_manifestPath)) : sentence.arg(shown(m_manifestPath), detail));
}

quint32 BackupKeyBag::number(const TagMap &map, const QString &tag) const
{
    const QByteArray value = map.value(tag);
    if (value.size() < 4)
        damaged(QT_TRANSLATE_NOOP("BackupCrypto", "IDS_KEYBAG_BAD_NUMBER"), tag.toHtmlEscaped());
    return bigEndian32(value.constData());
}

void BackupKeyBag::parse(const QByteArray &bytes)
{
    TagMap current;
    for (qsizetype at = 0; at < bytes.size();) {
        if (bytes.size() - at < 8)
            damaged(QT_TRANSLATE_NOOP("BackupCrypto", "IDS_KEYBAG_TRUNCATED"));
        const QString tag = QString::fromLatin1(bytes.constData() + at, 4);
        const qint64 length = bigEndian32(bytes.constData() + at + 4);
        at += 8;
        if (length > bytes.size() - at)
            damaged(QT_TRANSLATE_NOOP("BackupCrypto", "IDS_KEYBAG_TRUNCATED"));
        const QByteArray value = bytes.mid(at, length);
        at += length;

        // The bag's own values come first; a second "UUID" opens the first class,
        // and every class's own "WRAP" follows the bag's.
        if (tag == "UUID"_L1) {
            if (m_header.contains(tag)) {
                current = TagMap();
                current.insert(tag, value);
            } else {
                m_header.insert(tag, value);
            }
        } else if (tag == "WRAP"_L1 && !m_header.contains(tag)) {
            m_header.insert(tag, value);
        } else if (isClassTag(tag)) {
            current.insert(tag, value);
        } else {
            m_header.insert(tag, value);
        }
        if (current.contains(u"CLAS"_s))
            m_classes.insert(number(current, u"CLAS"_s), current);
    }
}

void BackupKeyBag::lock()
{
    for (TagMap &values : m_classes) {
        auto key = values.find(u"KEY"_s);
        if (key != values.end()) {
            BackupCrypto::wipe(*key);
            values.erase(key);
        }
    }
    m_unlocked = false;
}

bool BackupKeyBag::unlock(const QByteArray &password, const BackupCrypto::Progress &progress)
{
    lock();
    if (password.isEmpty())
        return false;
    if (!m_header.contains(u"SALT"_s) || !m_header.contains(u"ITER"_s))
        damaged(QT_TRANSLATE_NOOP("BackupCrypto", "IDS_KEYBAG_NO_DERIVATION"));
    const qint64 iterations = number(m_header, u"ITER"_s);
    const bool newer = m_header.contains(u"DPSL"_s) || m_header.contains(u"DPIC"_s);
    if (newer && (!m_header.contains(u"DPSL"_s) || !m_header.contains(u"DPIC"_s)))
        damaged(QT_TRANSLATE_NOOP("BackupCrypto", "IDS_KEYBAG_NO_DERIVATION"));
    const qint64 outerRounds = newer ? number(m_header, u"DPIC"_s) : 0;
    if (iterations < 1 || (newer && outerRounds < 1))
        damaged(QT_TRANSLATE_NOOP("BackupCrypto", "IDS_KEYBAG_NO_DERIVATION"));

    // One scale for both stages: SHA-1 gives 20 bytes a block, so 32 bytes take two.
    const qint64 total = outerRounds + 2 * iterations;
    const auto stage = [&](qint64 offset) -> BackupCrypto::Progress {
        if (!progress)
            return {};
        return [&progress, offset, total](qint64 done, qint64) { progress(offset + done, total); };
    };

    QByteArray derived;
    QByteArray passcodeKey;
    BackupCrypto::WipeGuard guard{&derived, &passcodeKey};
    if (newer)
        derived = BackupCrypto::pbkdf2(BackupCrypto::Digest::Sha256, password, m_header.value(u"DPSL"_s),
                                       outerRounds, 32, stage(0));
    passcodeKey = BackupCrypto::pbkdf2(BackupCrypto::Digest::Sha1, newer ? derived : password,
                                       m_header.value(u"SALT"_s), iterations, 32, stage(outerRounds));

    // A wrong password opens none of the keys; one that opens some but not others
    // met a damaged key bag, which must not be reported as a wrong password.
    qsizetype wrapped = 0, opened = 0;
    for (auto it = m_classes.begin(); it != m_classes.end(); ++it) {
        TagMap &values = it.value();
        if (!values.contains(u"WPKY"_s) || !values.contains(u"WRAP"_s))
            continue;
        // Bit 1 marks a key wrapped by the password; the others need the phone itself.
        if ((number(values, u"WRAP"_s) & 2) == 0)
            continue;
        ++wrapped;
        const QByteArray wrappedKey = values.value(u"WPKY"_s);
        // AES key wrap gives whole 8-byte blocks, at least three of them.
        if (wrappedKey.size() < 24 || wrappedKey.size() % 8 != 0) {
            lock();
            damaged(QT_TRANSLATE_NOOP("BackupCrypto", "IDS_KEYBAG_KEY_CUT_SHORT"), QString::number(it.key()));
        }
        QByteArray key = BackupCrypto::aesUnwrap(passcodeKey, wrappedKey);
        if (key.isEmpty())
            continue;
        values.insert(u"KEY"_s, std::move(key));
        ++opened;
    }
    // With no key to check it against, any password would pass.
    if (wrapped == 0)
        damaged(QT_TRANSLATE_NOOP("BackupCrypto", "IDS_KEYBAG_NO_PASSWORD_KEY"));
    if (opened == 0)
        return false;
    if (opened < wrapped) {
        lock();
        damaged(QT_TRANSLATE_NOOP("BackupCrypto", "IDS_KEYBAG_KEY_DAMAGED"));
    }
    m_unlocked = true;
    return true;
}

QByteArray BackupKeyBag::wrappedFileKey(const QByteArray &encryptionKey)
{
    return encryptionKey.size() > 4 ? encryptionKey.mid(4) : QByteArray();
}

QByteArray BackupKeyBag::fileKey(int protectionClass, const QByteArray &wrappedKey,
                                 const QString &fileNameForErrors) const
{
    const QString name = shown(fileNameForErrors);
    if (!m_unlocked)
        fail(text(QT_TRANSLATE_NOOP("BackupCrypto", "IDS_BACKUP_FILE_LOCKED")).arg(name));
    const auto values = m_classes.constFind(quint32(protectionClass));
    if (protectionClass < 0 || values == m_classes.constEnd())
        fail(text(QT_TRANSLATE_NOOP("BackupCrypto", "IDS_BACKUP_FILE_NO_CLASS"))
                 .arg(name, QString::number(protectionClass)));
    if (!values->contains(u"KEY"_s))
        fail(text(QT_TRANSLATE_NOOP("BackupCrypto", "IDS_BACKUP_FILE_CLASS_LOCKED"))
                 .arg(name, QString::number(protectionClass)));
    QByteArray key;
    if (wrappedKey.size() == 40)
        key = BackupCrypto::aesUnwrap(values->value(u"KEY"_s), wrappedKey);
    if (key.size() != 32) {
        BackupCrypto::wipe(key);
        fail(text(QT_TRANSLATE_NOOP("BackupCrypto", "IDS_BACKUP_FILE_KEY_DAMAGED")).arg(name));
    }
    return key;
}
