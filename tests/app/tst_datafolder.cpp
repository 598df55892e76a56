#include "app/AppConstants.h"
#include "support/TempDataFolder.h"

#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;

static const QString kAppId = QString::fromLatin1(AppConstants::kAppId);

// A fresh profile for each case, and a folder elsewhere holding the folders X and
// X-Düsseldorf and the plain file F, for the redirect file to name.
class TestDataFolder : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_profile.reset(); }
    void redirect_data();
    void redirect();
    void resolvedOnceAndMadeAgain();

private:
    void writeRedirect(const QString &content);
    QString inProfile() const { return m_profile->profile() + u"/CorVanta/"_s + kAppId; }

    std::optional<TempDataFolder> m_profile;
    QTemporaryDir m_elsewhere;
};

void TestDataFolder::init()
{
    m_profile.emplace();
    const QDir elsewhere(m_elsewhere.path());
    QVERIFY(elsewhere.mkpath(u"X"_s) && elsewhere.mkpath(u"X-Düsseldorf"_s));
    QVERIFY(QFile(elsewhere.filePath(u"F"_s)).open(QIODevice::WriteOnly));
}

void TestDataFolder::writeRedirect(const QString &content)
{
    QVERIFY(QDir().mkpath(QFileInfo(inProfile()).path()));
    QFile file(inProfile() + u".redirect"_s);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content.arg(m_elsewhere.path()).toUtf8()) >= 0);
}

void TestDataFolder::redirect_data()
{
    // The redirect file's content ("%1" being the folder elsewhere), taken exactly as written.
    QTest::addColumn<QString>("content"); // null: no redirect file
    QTest::addColumn<bool>("taken");
    QTest::newRow("no redirect file") << QString() << false;
    QTest::newRow("non-ASCII folder") << u"%1/X-Düsseldorf"_s << true;
    QTest::newRow("missing folder") << u"%1/missing"_s << false;
    QTest::newRow("trailing line feed") << u"%1/X\n"_s << false;
    QTest::newRow("plain file") << u"%1/F"_s << false;
    QTest::newRow("empty content") << u""_s << false;
}

void TestDataFolder::redirect()
{
    QFETCH(QString, content);
    QFETCH(bool, taken);
    if (!content.isNull())
        writeRedirect(content);
    const QString expected = taken ? content.arg(m_elsewhere.path()) + u'/' + kAppId : inProfile();
    QCOMPARE(dataFolder().path(), expected);
    QVERIFY(QFileInfo(expected).isDir());
    QVERIFY(QFileInfo(m_elsewhere.filePath(u"F"_s)).isFile());
}

void TestDataFolder::resolvedOnceAndMadeAgain()
{
    QCOMPARE(dataFolder().path(), inProfile());
    writeRedirect(u"%1/X"_s);
    QVERIFY(QDir(inProfile()).removeRecursively());
    // Kept for the process, and made again when removed meanwhile.
    QCOMPARE(dataFolder().path(), inProfile());
    QVERIFY(QFileInfo(inProfile()).isDir());
    QCOMPARE(localDatabasesFolder().path(), inProfile() + u"/local_databases"_s);
    QVERIFY(QFileInfo(localDatabasesFolder().path()).isDir());
    resetDataFolderForTests();
    QCOMPARE(dataFolder().path(), m_elsewhere.filePath(u"X/"_s) + kAppId);
}

QTEST_GUILESS_MAIN(TestDataFolder)
#include "tst_datafolder.moc"
