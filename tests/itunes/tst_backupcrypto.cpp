#include "itunes/BackupCrypto.h"
#include "itunes/BackupKeyBag.h"
#include "support/BackupCryptoFixtures.h"
#include "support/TestSupport.h"

#include <QBuffer>
#include <QTest>

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

// error: a word the error about file holds; "" when nothing may be raised.
bool raisedAsExpected(const QString &raised, const QString &error, const QString &file = DataFile)
{
    return error.isEmpty() ? raised.isEmpty() : raised.contains(file) && raised.contains(error);
}

} // namespace

class TestBackupCrypto : public QObject
{
    Q_OBJECT

private slots:
    void damagedKeyBagsAreRefused()
    {
        // Refused: a value running past the end (by one byte, by nearly 4 GB) and a class number of 2 bytes.
        const QByteArray salt = keyBagValue("SALT", "salt");
        for (const QByteArray &damaged :
             {salt + keyBagValue("ITER", "1234").chopped(1),
              salt + QByteArray("ITER\xff\xff\xff\xf0", 8) + "1234",
              salt + keyBagValue("UUID", "a") + keyBagValue("UUID", "b") + keyBagValue("CLAS", "1")})
            QVERIFY2(errorOf([&] { BackupKeyBag keyBag(damaged, Manifest); }).contains(Manifest),
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
        QTest::newRow("newer, right password") << newer << Password << true << QString();
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
        const QString raised = errorOf([&] { QCOMPARE(keyBag.unlock(password), unlocked); });
        QVERIFY2(raisedAsExpected(raised, damage, Manifest), qPrintable(raised));
        QCOMPARE(keyBag.isUnlocked(), unlocked);
        // Keys for the password's classes only, and none at all after a failure.
        QCOMPARE((QByteArrayList{keyBag.classes().value(1).value(u"KEY"_s),
                                 keyBag.classes().value(2).value(u"KEY"_s),
                                 keyBag.classes().value(3).value(u"KEY"_s)}),
                 (QByteArrayList{unlocked ? Key1 : QByteArray(), {}, unlocked ? Key3 : QByteArray()}));
    }
    void unlockProgressAndFileKeys()
    {
        BackupKeyBag keyBag(buildKeyBag(Password, Classes, {"salt", 50000, "dpsl", 200000}), Manifest);
        // A cancel passes through, never taken for a wrong password; a later attempt works.
        QVERIFY_THROWS_EXCEPTION(int, keyBag.unlock(Password, [](qint64, qint64) { throw -1; }));
        const QByteArray record = wrapFileKey(Key3, patternBytes(32, 9), 3);
        const auto fileKey = [&](int protectionClass, const QByteArray &encryptionKey) {
            QByteArray key;
            const QString error = errorOf([&] {
                key = keyBag.fileKey(protectionClass, BackupKeyBag::wrappedFileKey(encryptionKey), DataFile);
            });
            return error.isEmpty()            ? QString::fromLatin1(key.toHex())
                   : error.contains(DataFile) ? error
                                              : QString();
        };
        QStringList keys{fileKey(3, record)};
        QVERIFY(keyBag.unlock(Password));
        keys << fileKey(3, record) << fileKey(4, record) << fileKey(2, record) << fileKey(1, record)
             << fileKey(3, record.chopped(1));
        // Locked; unlocked; not in the bag; kept by the phone; wrapped by another class; 39 bytes.
        const QStringList expected{u"unlocked"_s, QString::fromLatin1(patternBytes(32, 9).toHex()),
                                   u"class 4"_s,  u"iPhone"_s,
                                   u"damaged"_s,  u"damaged"_s};
        for (int i = 0; i < keys.size(); ++i)
            QVERIFY2(keys.at(i).contains(expected.at(i)), qPrintable(keys.at(i)));
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
        qint64 reads = 0;
        const QString raised = errorOf(
            [&] { decryptBackupData(in, out, Key1, size, DataFile, [&](qint64, qint64) { ++reads; }); });
        QVERIFY2(raisedAsExpected(raised, error), qPrintable(raised));
        // Byte for byte across chunks, and read no further than the size needs.
        if (error.isEmpty())
            QCOMPARE(std::pair(out.data(), reads),
                     std::pair(patternBytes(size, 5),
                               (size + BackupCrypto::ChunkSize - 1) / BackupCrypto::ChunkSize));
    }
};

QTEST_GUILESS_MAIN(TestBackupCrypto)
#include "tst_backupcrypto.moc"
