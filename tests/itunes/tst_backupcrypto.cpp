#include "itunes/BackupCrypto.h"
#include "itunes/BackupKeyBag.h"
#include "support/BackupCryptoFixtures.h"

#include <QBuffer>
#include <QSet>
#include <QTest>

#include <functional>
#include <stdexcept>

using namespace Qt::StringLiterals;
using namespace testsupport;

namespace {

const QByteArray Password = "correct horse";
const QByteArray Key1 = patternBytes(32, 1);
const QByteArray Key3 = patternBytes(32, 3);
// Class 2 is kept by the phone (WRAP 1), class 3 by the password alone.
const QList<KeyBagClass> Classes{{1, Key1, 3}, {2, patternBytes(32, 2), 1}, {3, Key3, 2}};
const QString Manifest = u"/backups/abc/Manifest.plist"_s;
const QString DataFile = u"/backups/abc/3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28"_s;

// The text of the runtime error fn raises; "" when none.
QString raisedBy(const std::function<void()> &fn)
{
    try {
        fn();
    } catch (const std::runtime_error &e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}

// error: a word the error about DataFile holds; "" for none.
bool raisedAsExpected(const QString &raised, const QString &error)
{
    return error.isEmpty() ? raised.isEmpty() : raised.contains(DataFile) && raised.contains(error);
}

} // namespace

class TestBackupCrypto : public QObject
{
    Q_OBJECT

private slots:
    // RFC 3394 4.3 and 4.6 (KEK 000102...1F), and RFC 6070 rows, one with SHA-256 as newer key bags use it.
    void publishedVectors()
    {
        const auto hex = [](const char *digits) { return QByteArray::fromHex(digits); };
        const QByteArray kek = hex("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F");
        const QByteArray wrapped256 =
            hex("28C9F404C4B810F4CBCCB35CFB87F8263F5786E2D80ED326CBC7F0E71A99F43BFB988B9B7A02DD21");
        QCOMPARE(
            BackupCrypto::aesUnwrap(kek, hex("64E8C3F9CE0F5BA263E9777905818A2A93C8191E7D6E8AE7")).toHex(),
            "00112233445566778899aabbccddeeff");
        QCOMPARE(BackupCrypto::aesUnwrap(kek, wrapped256).toHex(),
                 "00112233445566778899aabbccddeeff000102030405060708090a0b0c0d0e0f");
        QByteArray flipped = wrapped256;
        flipped[30] = char(flipped[30] ^ 0x04);
        QCOMPARE(BackupCrypto::aesUnwrap(kek, flipped), QByteArray());
        QCOMPARE(BackupCrypto::aesUnwrap(kek, wrapped256.left(39)), QByteArray());

        using BackupCrypto::Digest;
        QCOMPARE(BackupCrypto::pbkdf2(Digest::Sha1, "password", "salt", 1, 20).toHex(),
                 "0c60c80f961f0e71f3a9b524af6012062fe037a6");
        QCOMPARE(BackupCrypto::pbkdf2(Digest::Sha1, "passwordPASSWORDpassword",
                                      "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25)
                     .toHex(),
                 "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038");
        QCOMPARE(BackupCrypto::pbkdf2(Digest::Sha256, "password", "salt", 4096, 32).toHex(),
                 "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a");
    }
    void keyBagParsing()
    {
        const QByteArray bag = keyBagValue("UUID", "bag") + keyBagNumber("WRAP", 2) +
                               keyBagValue("SALT", "s") + keyBagValue("UUID", "one") +
                               keyBagNumber("CLAS", 1) + keyBagNumber("WRAP", 3) + keyBagNumber("KTYP", 0) +
                               keyBagValue("WPKY", QByteArray(40, 'w')) + keyBagValue("UUID", "two") +
                               keyBagNumber("CLAS", 2) + keyBagValue("HMCK", "h");
        const BackupKeyBag keyBag(bag, Manifest);
        QCOMPARE(keyBag.header().keys(), (QStringList{u"HMCK"_s, u"SALT"_s, u"UUID"_s, u"WRAP"_s}));
        QCOMPARE(keyBag.header().value(u"UUID"_s) + keyBag.header().value(u"WRAP"_s).toHex(), "bag00000002");
        const BackupKeyBag::TagMap one = keyBag.classes().value(1);
        QCOMPARE(one.keys(), (QStringList{u"CLAS"_s, u"KTYP"_s, u"UUID"_s, u"WPKY"_s, u"WRAP"_s}));
        QCOMPARE(one.value(u"UUID"_s) + one.value(u"WRAP"_s).toHex(), "one00000003");
        QCOMPARE(keyBag.classes().value(2).value(u"UUID"_s), "two");

        // Refused: a value running past the end (by one byte, by nearly 4 GB) and a class number of 2 bytes.
        const QByteArray salt = keyBagValue("SALT", "salt");
        for (const QByteArray &damaged :
             {salt + keyBagValue("ITER", "1234").chopped(1),
              salt + QByteArray("ITER\xff\xff\xff\xf0", 8) + "1234",
              salt + keyBagValue("UUID", "a") + keyBagValue("UUID", "b") + keyBagValue("CLAS", "1")})
            QVERIFY2(raisedBy([&] { BackupKeyBag keyBag(damaged, Manifest); }).contains(Manifest),
                     damaged.toHex());
    }
    void unlock_data()
    {
        QTest::addColumn<QByteArray>("bag");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<bool>("unlocked");
        QTest::addColumn<QString>("damage"); // what the error says of a damaged bag
        const QByteArray old = buildKeyBag(Password, Classes);
        const QByteArray newer = buildKeyBag(Password, Classes, {"salt", 10, "newer salt", 1000});
        QByteArray damaged = old; // in the last class key
        damaged[damaged.size() - 3] = char(damaged.at(damaged.size() - 3) ^ 1);
        QTest::newRow("right password") << old << Password << true << QString();
        QTest::newRow("wrong password") << old << QByteArray("correct horsf") << false << QString();
        QTest::newRow("empty password") << old << QByteArray() << false << QString();
        QTest::newRow("newer, right password") << newer << Password << true << QString();
        QTest::newRow("newer, wrong password") << newer << QByteArray("correct") << false << QString();
        // A damaged bag is said to be damaged, never taken for a wrong password.
        QTest::newRow("last class key damaged") << damaged << Password << false << u"some of its keys"_s;
        QTest::newRow("class key cut short") << old.chopped(48) + keyBagValue("WPKY", old.right(40).left(37))
                                             << Password << false << u"cut short"_s;
        // Nothing to check a password against: any password would pass.
        QTest::newRow("no key wrapped by the password")
            << buildKeyBag(Password, {{1, Key1, 1}}) << Password << false << u"no key protected"_s;
    }
    void unlock()
    {
        QFETCH(QByteArray, bag);
        QFETCH(QByteArray, password);
        QFETCH(bool, unlocked);
        QFETCH(QString, damage);
        BackupKeyBag keyBag(bag, Manifest);
        const QString raised = raisedBy([&] { QCOMPARE(keyBag.unlock(password), unlocked); });
        QVERIFY2(damage.isEmpty() ? raised.isEmpty() : raised.contains(Manifest) && raised.contains(damage),
                 qPrintable(raised));
        QCOMPARE(keyBag.isUnlocked(), unlocked);
        // Keys for the password's classes only, and none at all after a failure.
        QCOMPARE(keyBag.classes().value(1).value(u"KEY"_s), unlocked ? Key1 : QByteArray());
        QVERIFY(!keyBag.classes().value(2).contains(u"KEY"_s));
        QCOMPARE(keyBag.classes().value(3).value(u"KEY"_s), unlocked ? Key3 : QByteArray());
    }
    void unlockReportsAndCancels()
    {
        BackupKeyBag keyBag(buildKeyBag(Password, Classes, {"salt", 50000, "dpsl", 200000}), Manifest);
        // One scale over both derivations, in several slices, ending at the total.
        QList<qint64> seen;
        QSet<qint64> totals;
        QVERIFY(keyBag.unlock(Password, [&](qint64 done, qint64 total) { seen << done, totals << total; }));
        QVERIFY(seen.size() > 3 && std::is_sorted(seen.cbegin(), seen.cend()));
        QCOMPARE(seen.last(), 300000);
        QCOMPARE(totals, QSet<qint64>{300000});
        // A cancel passes through and takes the earlier keys too; a later attempt works.
        QVERIFY_THROWS_EXCEPTION(int, keyBag.unlock(Password, [](qint64, qint64) { throw -1; }));
        QVERIFY(!keyBag.isUnlocked() && !keyBag.classes().value(1).contains(u"KEY"_s));
        QVERIFY(keyBag.unlock(Password));
    }
    void fileKey_data()
    {
        QTest::addColumn<bool>("unlock");
        QTest::addColumn<int>("protectionClass");
        QTest::addColumn<QByteArray>("encryptionKey");
        QTest::addColumn<QString>("error");
        const QByteArray record = wrapFileKey(Key3, patternBytes(32, 9), 3);
        QTest::newRow("unlocked class") << true << 3 << record << QString();
        QTest::newRow("backup locked") << false << 3 << record << u"unlocked"_s;
        QTest::newRow("class not in the bag") << true << 4 << record << u"class 4"_s;
        QTest::newRow("class kept by the phone") << true << 2 << record << u"iPhone"_s;
        QTest::newRow("wrapped by another class") << true << 1 << record << u"damaged"_s;
        QTest::newRow("39 bytes") << true << 3 << record.chopped(1) << u"damaged"_s;
    }
    void fileKey()
    {
        QFETCH(bool, unlock);
        QFETCH(int, protectionClass);
        QFETCH(QByteArray, encryptionKey);
        QFETCH(QString, error);
        BackupKeyBag keyBag(buildKeyBag(Password, Classes), Manifest);
        QCOMPARE(unlock && keyBag.unlock(Password), unlock);
        QByteArray key;
        const QString raised = raisedBy([&] {
            key = keyBag.fileKey(protectionClass, BackupKeyBag::wrappedFileKey(encryptionKey), DataFile);
        });
        QVERIFY2(raisedAsExpected(raised, error), qPrintable(raised));
        QCOMPARE(key, error.isEmpty() ? patternBytes(32, 9) : QByteArray());
    }
    void decrypt_data()
    {
        QTest::addColumn<QByteArray>("encrypted");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("error");
        // Whole chunks, a chunk and a bit, and padding: 20 bytes are stored as 32, 32 as 48.
        for (const qint64 size : {0, 20, 32, 8192, 40000})
            QTest::addRow("%lld bytes", size)
                << encryptBackupData(Key1, patternBytes(size, 5)) << size << QString();
        const QByteArray small = encryptBackupData(Key1, patternBytes(20, 5));
        QTest::newRow("cut inside a block") << small.left(31) << qint64(20) << u"16-byte"_s;
        QTest::newRow("cut after a chunk")
            << encryptBackupData(Key1, patternBytes(20000, 5)).left(8192) << qint64(20000) << u"incomplete"_s;
        QTest::newRow("size beyond the data") << small << qint64(33) << u"incomplete"_s;
    }
    void decrypt()
    {
        QFETCH(QByteArray, encrypted);
        QFETCH(qint64, size);
        QFETCH(QString, error);
        QBuffer in(&encrypted);
        QBuffer out;
        QVERIFY(in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly));
        QList<qint64> seen;
        const QString raised = raisedBy(
            [&] { decryptBackupData(in, out, Key1, size, DataFile, [&](qint64 n, qint64) { seen << n; }); });
        QVERIFY2(raisedAsExpected(raised, error), qPrintable(raised));
        if (error.isEmpty()) {
            // Byte for byte across chunks, and read no further than the size needs.
            QVERIFY(out.data() == patternBytes(size, 5));
            QCOMPARE(seen.size(), (size + BackupCrypto::ChunkSize - 1) / BackupCrypto::ChunkSize);
        }
    }
};

QTEST_GUILESS_MAIN(TestBackupCrypto)
#include "tst_backupcrypto.moc"
