#include "itunes/BackupCrypto.h"
#include "itunes/BackupKeyBag.h"
#include "support/BackupCryptoFixtures.h"

#include <QBuffer>
#include <QTest>

#include <functional>
#include <stdexcept>

using namespace Qt::StringLiterals;
using testsupport::KeyBagClass;
using testsupport::KeyBagDerivation;

namespace {

const QByteArray Password = QByteArrayLiteral("correct horse");
const QByteArray ClassKey1 = testsupport::patternBytes(32, 1);
const QByteArray ClassKey3 = testsupport::patternBytes(32, 3);
const QString ManifestPath = u"/backups/abc/Manifest.plist"_s;
const QString DataFile = u"/backups/abc/3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28"_s;

// The text of the runtime error fn raises; "" when it raises none.
QString raisedBy(const std::function<void()> &fn)
{
    try {
        fn();
    } catch (const std::runtime_error &e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}

// A destination whose disk fills up after a number of bytes.
class FailingDevice : public QIODevice
{
public:
    explicit FailingDevice(qint64 room) : m_room(room) { open(QIODevice::WriteOnly); }
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 n) override
    {
        if (n > m_room) {
            setErrorString(u"No space left on device"_s);
            return -1;
        }
        m_room -= n;
        return n;
    }

private:
    qint64 m_room;
};

// Decrypts encrypted into a buffer; the error text or "" and the output.
QString decrypt(const QByteArray &encrypted, const QByteArray &key, qint64 size, QByteArray *plain = nullptr)
{
    QBuffer in;
    in.setData(encrypted);
    in.open(QIODevice::ReadOnly);
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    const QString error = raisedBy([&] { decryptBackupData(in, out, key, size, DataFile); });
    if (plain)
        *plain = out.data();
    return error;
}

} // namespace

class TestBackupCrypto : public QObject
{
    Q_OBJECT

private slots:
    void aesUnwrap_data();
    void aesUnwrap();
    void pbkdf2_data();
    void pbkdf2();
    void pbkdf2ReportsAndStops();

    void keyBagSortsValuesIntoBagAndClasses();
    void damagedKeyBagRefused_data();
    void damagedKeyBagRefused();
    void unlock_data();
    void unlock();
    void unlockReportsAndCancels();
    void fileKey_data();
    void fileKey();

    void decryptCutsToSize_data();
    void decryptCutsToSize();
    void damagedDataRefused_data();
    void damagedDataRefused();
    void fullDiskReported();
};

void TestBackupCrypto::aesUnwrap_data()
{
    QTest::addColumn<QByteArray>("kek");
    QTest::addColumn<QByteArray>("wrapped");
    QTest::addColumn<QByteArray>("key");

    const QByteArray kek =
        QByteArray::fromHex("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F");
    const QByteArray wrapped128 = QByteArray::fromHex("64E8C3F9CE0F5BA263E9777905818A2A93C8191E7D6E8AE7");
    const QByteArray wrapped256 = QByteArray::fromHex(
        "28C9F404C4B810F4CBCCB35CFB87F8263F5786E2D80ED326CBC7F0E71A99F43BFB988B9B7A02DD21");
    // RFC 3394, 4.3 and 4.6
    QTest::newRow("128 bits, 256-bit KEK")
        << kek << wrapped128 << QByteArray::fromHex("00112233445566778899AABBCCDDEEFF");
    QTest::newRow("256 bits, 256-bit KEK")
        << kek << wrapped256
        << QByteArray::fromHex("00112233445566778899AABBCCDDEEFF000102030405060708090A0B0C0D0E0F");

    QByteArray flipped = wrapped256;
    flipped[30] = char(flipped[30] ^ 0x04);
    QTest::newRow("one bit flipped") << kek << flipped << QByteArray();
    QByteArray otherKek = kek;
    otherKek[0] = 'x';
    QTest::newRow("wrong KEK") << otherKek << wrapped256 << QByteArray();
    QTest::newRow("not whole blocks") << kek << wrapped256.left(39) << QByteArray();
    QTest::newRow("one block of key only") << kek << wrapped256.left(16) << QByteArray();
    QTest::newRow("KEK of 128 bits") << kek.left(16) << wrapped128 << QByteArray();
}

void TestBackupCrypto::aesUnwrap()
{
    QFETCH(QByteArray, kek);
    QFETCH(QByteArray, wrapped);
    QFETCH(QByteArray, key);
    QCOMPARE(BackupCrypto::aesUnwrap(kek, wrapped).toHex(), key.toHex());
}

void TestBackupCrypto::pbkdf2_data()
{
    QTest::addColumn<bool>("sha256");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("salt");
    QTest::addColumn<qint64>("rounds");
    QTest::addColumn<QByteArray>("key");

    // RFC 6070
    const QByteArray p = "password";
    const QByteArray s = "salt";
    QTest::newRow("SHA-1, 1 round") << false << p << s << qint64(1)
                                    << QByteArray::fromHex("0c60c80f961f0e71f3a9b524af6012062fe037a6");
    QTest::newRow("SHA-1, 2 rounds") << false << p << s << qint64(2)
                                     << QByteArray::fromHex("ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957");
    QTest::newRow("SHA-1, 4096 rounds")
        << false << p << s << qint64(4096) << QByteArray::fromHex("4b007901b765489abead49d926f721d065a429c1");
    QTest::newRow("SHA-1, two blocks of output")
        << false << QByteArray("passwordPASSWORDpassword")
        << QByteArray("saltSALTsaltSALTsaltSALTsaltSALTsalt") << qint64(4096)
        << QByteArray::fromHex("3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038");
    QTest::newRow("SHA-1, NUL inside")
        << false << QByteArray("pass\0word", 9) << QByteArray("sa\0lt", 5) << qint64(4096)
        << QByteArray::fromHex("56fa6aa75548099dcc37d7f03425e0c3");
    // The same inputs with SHA-256, as the newer key bags use it
    QTest::newRow("SHA-256, 1 round")
        << true << p << s << qint64(1)
        << QByteArray::fromHex("120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b");
    QTest::newRow("SHA-256, 4096 rounds")
        << true << p << s << qint64(4096)
        << QByteArray::fromHex("c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a");
}

void TestBackupCrypto::pbkdf2()
{
    QFETCH(bool, sha256);
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, salt);
    QFETCH(qint64, rounds);
    QFETCH(QByteArray, key);
    const auto digest = sha256 ? BackupCrypto::Digest::Sha256 : BackupCrypto::Digest::Sha1;
    QCOMPARE(BackupCrypto::pbkdf2(digest, password, salt, rounds, int(key.size())).toHex(), key.toHex());
}

void TestBackupCrypto::pbkdf2ReportsAndStops()
{
    // Two SHA-1 blocks of 100,000 rounds each: several slices.
    QList<qint64> seen;
    const QByteArray key = BackupCrypto::pbkdf2(BackupCrypto::Digest::Sha1, "pw", "salt", 100000, 32,
                                                [&](qint64 done, qint64 total) {
                                                    QCOMPARE(total, 200000);
                                                    seen << done;
                                                });
    QCOMPARE(key.size(), 32);
    QVERIFY(seen.size() > 2);
    QVERIFY(std::is_sorted(seen.cbegin(), seen.cend()));
    QCOMPARE(seen.last(), 200000);

    int calls = 0;
    try {
        BackupCrypto::pbkdf2(BackupCrypto::Digest::Sha256, "pw", "salt", 10000000, 32, [&](qint64, qint64) {
            ++calls;
            throw -1;
        });
        QFAIL("a cancel did not stop the rounds");
    } catch (int cancel) {
        QCOMPARE(cancel, -1);
    }
    QCOMPARE(calls, 1);
}

void TestBackupCrypto::keyBagSortsValuesIntoBagAndClasses()
{
    using testsupport::keyBagNumber;
    using testsupport::keyBagValue;
    const QByteArray wpky(40, '\x5a');
    const QByteArray bag =
        keyBagNumber("VERS", 3) + keyBagValue("UUID", "bag-uuid") + keyBagNumber("WRAP", 2) +
        keyBagValue("SALT", "salt") + keyBagNumber("ITER", 7) + keyBagValue("UUID", "class-1") +
        keyBagNumber("CLAS", 1) + keyBagNumber("WRAP", 3) + keyBagNumber("KTYP", 0) +
        keyBagValue("WPKY", wpky) + keyBagValue("UUID", "class-2") + keyBagNumber("CLAS", 2) +
        keyBagNumber("WRAP", 1) + keyBagValue("PBKY", "public") + keyBagValue("HMCK", "signature");
    const BackupKeyBag keyBag(bag, ManifestPath);

    const QStringList headerTags{u"HMCK"_s, u"ITER"_s, u"SALT"_s, u"UUID"_s, u"VERS"_s, u"WRAP"_s};
    QCOMPARE(keyBag.header().keys(), headerTags);
    QCOMPARE(keyBag.header().value(u"UUID"_s), "bag-uuid");
    QCOMPARE(keyBag.header().value(u"WRAP"_s), QByteArray::fromHex("00000002"));

    QCOMPARE(keyBag.classes().keys(), (QList<quint32>{1, 2}));
    const BackupKeyBag::TagMap one = keyBag.classes().value(1);
    QCOMPARE(one.keys(), (QStringList{u"CLAS"_s, u"KTYP"_s, u"UUID"_s, u"WPKY"_s, u"WRAP"_s}));
    QCOMPARE(one.value(u"UUID"_s), "class-1");
    QCOMPARE(one.value(u"WRAP"_s), QByteArray::fromHex("00000003"));
    QCOMPARE(one.value(u"WPKY"_s), wpky);
    const BackupKeyBag::TagMap two = keyBag.classes().value(2);
    QCOMPARE(two.value(u"UUID"_s), "class-2");
    QCOMPARE(two.value(u"PBKY"_s), "public");
}

void TestBackupCrypto::damagedKeyBagRefused_data()
{
    QTest::addColumn<QByteArray>("bag");
    const QByteArray good = testsupport::keyBagValue("SALT", "salt");
    QTest::newRow("ends inside a tag") << good + "ITE";
    QTest::newRow("length past the end") << good + testsupport::keyBagValue("ITER", "1234").chopped(1);
    QTest::newRow("length near 4 GB") << good + QByteArray("ITER\xff\xff\xff\xf0", 8) + "1234";
    QTest::newRow("class number of 2 bytes") << good + testsupport::keyBagValue("UUID", "a") +
                                                    testsupport::keyBagValue("UUID", "b") +
                                                    testsupport::keyBagValue("CLAS", "\x00\x01");
}

void TestBackupCrypto::damagedKeyBagRefused()
{
    QFETCH(QByteArray, bag);
    const QString error = raisedBy([&] { BackupKeyBag keyBag(bag, ManifestPath); });
    QVERIFY2(error.contains(ManifestPath), qPrintable(error));
}

void TestBackupCrypto::unlock_data()
{
    QTest::addColumn<QByteArray>("bag");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<bool>("unlocked");
    QTest::addColumn<QList<quint32>>("keyed"); // the classes that get their key

    const QList<KeyBagClass> classes{{1, ClassKey1, 3}, {2, QByteArray(32, '\x02'), 1}, {3, ClassKey3, 2}};
    const QByteArray old = testsupport::buildKeyBag(Password, classes);
    KeyBagDerivation newer;
    newer.dpsl = "a salt of the newer kind";
    newer.dpic = 1000;
    const QByteArray newerBag = testsupport::buildKeyBag(Password, classes, newer);

    QTest::newRow("right password") << old << Password << true << QList<quint32>{1, 3};
    QTest::newRow("wrong password") << old << QByteArray("correct horsf") << false << QList<quint32>{};
    QTest::newRow("empty password") << old << QByteArray() << false << QList<quint32>{};
    QTest::newRow("newer derivation, right password") << newerBag << Password << true << QList<quint32>{1, 3};
    QTest::newRow("newer derivation, wrong password")
        << newerBag << QByteArray("correct") << false << QList<quint32>{};

    // Any password would open a bag in which no key is wrapped by the password.
    const QByteArray deviceOnly = testsupport::buildKeyBag(Password, {{1, ClassKey1, 1}});
    QTest::newRow("no class wrapped by the password") << deviceOnly << Password << false << QList<quint32>{};

    // A damaged class key fails the check, though the classes before it unwrapped.
    QByteArray corrupted = old;
    corrupted[corrupted.size() - 3] = char(corrupted.at(corrupted.size() - 3) ^ 1);
    QTest::newRow("last class key damaged") << corrupted << Password << false << QList<quint32>{};
}

void TestBackupCrypto::unlock()
{
    QFETCH(QByteArray, bag);
    QFETCH(QByteArray, password);
    QFETCH(bool, unlocked);
    QFETCH(QList<quint32>, keyed);

    BackupKeyBag keyBag(bag, ManifestPath);
    QCOMPARE(keyBag.unlock(password), unlocked);
    QCOMPARE(keyBag.isUnlocked(), unlocked);
    QList<quint32> withKey;
    for (auto c = keyBag.classes().cbegin(); c != keyBag.classes().cend(); ++c)
        if (c->contains(u"KEY"_s))
            withKey << c.key();
    QCOMPARE(withKey, keyed);
    if (keyed.contains(1))
        QCOMPARE(keyBag.classes().value(1).value(u"KEY"_s), ClassKey1);
    if (keyed.contains(3))
        QCOMPARE(keyBag.classes().value(3).value(u"KEY"_s), ClassKey3);
}

void TestBackupCrypto::unlockReportsAndCancels()
{
    KeyBagDerivation newer;
    newer.dpsl = "dpsl";
    newer.dpic = 200000;
    newer.iterations = 50000;
    BackupKeyBag keyBag(testsupport::buildKeyBag(Password, {{1, ClassKey1, 3}}, newer), ManifestPath);

    // One scale over both stages: no step back between them.
    QList<qint64> seen;
    QVERIFY(keyBag.unlock(Password, [&](qint64 done, qint64 total) {
        QCOMPARE(total, 300000);
        seen << done;
    }));
    QVERIFY(std::is_sorted(seen.cbegin(), seen.cend()));
    QVERIFY(seen.size() > 3);
    QCOMPARE(seen.last(), 300000);

    // A cancel takes the keys of the earlier unlocking too; a later attempt works.
    try {
        keyBag.unlock(Password, [](qint64, qint64) { throw -1; });
        QFAIL("a cancel did not stop the unlocking");
    } catch (int cancel) {
        QCOMPARE(cancel, -1);
    }
    QVERIFY(!keyBag.isUnlocked());
    QVERIFY(!keyBag.classes().value(1).contains(u"KEY"_s));
    QVERIFY(keyBag.unlock(Password));
}

void TestBackupCrypto::fileKey_data()
{
    QTest::addColumn<bool>("unlock");
    QTest::addColumn<int>("protectionClass");
    QTest::addColumn<QByteArray>("wrappedKey");
    QTest::addColumn<QString>("error"); // a word of the error; "" for none

    const QByteArray fileKey = testsupport::patternBytes(32, 9);
    const QByteArray wrapped = BackupKeyBag::wrappedFileKey(testsupport::wrapFileKey(ClassKey3, fileKey, 3));
    QTest::newRow("unlocked class") << true << 3 << wrapped << QString();
    QTest::newRow("backup locked") << false << 3 << wrapped << u"unlocked"_s;
    QTest::newRow("class not in the bag") << true << 4 << wrapped << u"class 4"_s;
    QTest::newRow("class kept by the phone") << true << 2 << wrapped << u"iPhone"_s;
    QTest::newRow("wrapped by another class") << true << 1 << wrapped << u"damaged"_s;
    QTest::newRow("39 bytes") << true << 3 << wrapped.left(39) << u"damaged"_s;
    QTest::newRow("prefix left on") << true << 3 << testsupport::wrapFileKey(ClassKey3, fileKey, 3)
                                    << u"damaged"_s;
}

void TestBackupCrypto::fileKey()
{
    QFETCH(bool, unlock);
    QFETCH(int, protectionClass);
    QFETCH(QByteArray, wrappedKey);
    QFETCH(QString, error);

    BackupKeyBag keyBag(testsupport::buildKeyBag(
                            Password, {{1, ClassKey1, 3}, {2, QByteArray(32, '\x02'), 1}, {3, ClassKey3, 3}}),
                        ManifestPath);
    if (unlock)
        QVERIFY(keyBag.unlock(Password));
    QByteArray key;
    const QString raised = raisedBy([&] { key = keyBag.fileKey(protectionClass, wrappedKey, DataFile); });
    if (error.isEmpty()) {
        QVERIFY2(raised.isEmpty(), qPrintable(raised));
        // The whole road: the unwrapped key decrypts what the file key encrypted.
        const QByteArray plain = testsupport::patternBytes(100, 5);
        QByteArray decrypted;
        QCOMPARE(decrypt(testsupport::encryptBackupData(testsupport::patternBytes(32, 9), plain), key, 100,
                         &decrypted),
                 QString());
        QCOMPARE(decrypted, plain);
    } else {
        QVERIFY2(raised.contains(DataFile) && raised.contains(error), qPrintable(raised));
    }
}

void TestBackupCrypto::decryptCutsToSize_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("encryptedSize");

    // Data files carry PKCS#7 padding: always one to sixteen bytes more.
    for (const qint64 size : {0, 1, 15, 16, 20, 32, 8191, 8192, 8193, 40000})
        QTest::addRow("%lld bytes", size) << size << (size / 16 + 1) * 16;
}

void TestBackupCrypto::decryptCutsToSize()
{
    QFETCH(qint64, size);
    QFETCH(qint64, encryptedSize);
    const QByteArray key = testsupport::patternBytes(32, 7);
    const QByteArray plain = testsupport::patternBytes(size, 11);
    const QByteArray encrypted = testsupport::encryptBackupData(key, plain);
    QCOMPARE(encrypted.size(), encryptedSize);

    QBuffer in;
    in.setData(encrypted);
    in.open(QIODevice::ReadOnly);
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QList<qint64> seen;
    decryptBackupData(in, out, key, size, DataFile, [&](qint64 done, qint64 total) {
        QCOMPARE(total, encryptedSize);
        seen << done;
    });
    // Byte for byte, also across chunks, where the chaining value must carry over.
    QCOMPARE(out.data().size(), size);
    QVERIFY(out.data() == plain);
    // Chunks of 8192 bytes, and none read once the size is reached: the padding
    // of a file of whole chunks lies in a chunk of its own.
    QCOMPARE(seen.size(), (size + BackupCrypto::ChunkSize - 1) / BackupCrypto::ChunkSize);
}

void TestBackupCrypto::damagedDataRefused_data()
{
    QTest::addColumn<QByteArray>("encrypted");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("error"); // a word of the error

    const QByteArray key = testsupport::patternBytes(32, 7);
    const QByteArray small = testsupport::encryptBackupData(key, testsupport::patternBytes(20, 1));
    const QByteArray large = testsupport::encryptBackupData(key, testsupport::patternBytes(20000, 1));
    QTest::newRow("cut inside a block") << small.left(31) << key << qint64(20) << u"16-byte"_s;
    QTest::newRow("a byte too many") << small + 'x' << key << qint64(20) << u"16-byte"_s;
    QTest::newRow("cut inside a later chunk") << large.left(9000) << key << qint64(20000) << u"16-byte"_s;
    QTest::newRow("cut after the first block") << small.left(16) << key << qint64(20) << u"incomplete"_s;
    QTest::newRow("cut after the first chunk") << large.left(8192) << key << qint64(20000) << u"incomplete"_s;
    QTest::newRow("empty file") << QByteArray() << key << qint64(20) << u"incomplete"_s;
    QTest::newRow("size beyond the padding") << small << key << qint64(33) << u"incomplete"_s;
    QTest::newRow("key of 16 bytes") << small << key.left(16) << qint64(20) << u"key"_s;
    QTest::newRow("negative size") << small << key << qint64(-1) << u"size"_s;
}

void TestBackupCrypto::damagedDataRefused()
{
    QFETCH(QByteArray, encrypted);
    QFETCH(QByteArray, key);
    QFETCH(qint64, size);
    QFETCH(QString, error);
    const QString raised = decrypt(encrypted, key, size);
    QVERIFY2(raised.contains(DataFile) && raised.contains(error), qPrintable(raised));
}

void TestBackupCrypto::fullDiskReported()
{
    const QByteArray key = testsupport::patternBytes(32, 7);
    QBuffer in;
    in.setData(testsupport::encryptBackupData(key, testsupport::patternBytes(20000, 1)));
    in.open(QIODevice::ReadOnly);
    FailingDevice out(10000);
    const QString raised = raisedBy([&] { decryptBackupData(in, out, key, 20000, DataFile); });
    QVERIFY2(raised.contains(DataFile) && raised.contains(u"No space left"_s), qPrintable(raised));
}

QTEST_GUILESS_MAIN(TestBackupCrypto)
#include "tst_backupcrypto.moc"
