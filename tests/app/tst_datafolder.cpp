#include "app/AppConstants.h"
#include "app/DataFolder.h"

#include <QTemporaryDir>
#include <QTest>

// The data folder under a roaming profile folder that each case makes afresh (the
// XDG data home here), and a folder elsewhere holding the folders X and
// X-Düsseldorf and the plain file F, for the redirect file to name.
class TestDataFolder : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { resetDataFolderForTests(); }
    void redirect_data();
    void redirect();
    void resolvedOnceAndMadeAgain();

private:
    void writeRedirect(const QString &content);
    QString inProfile() const
    {
        return m_profile->path() + QStringLiteral("/CorVanta/") + AppConstants::kAppId;
    }

    std::unique_ptr<QTemporaryDir> m_profile;
    QTemporaryDir m_elsewhere;
};

void TestDataFolder::init()
{
    m_profile = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_profile->path()));
    resetDataFolderForTests();
    QVERIFY(QDir(m_elsewhere.path()).mkpath(QStringLiteral("X")));
    QVERIFY(QDir(m_elsewhere.path()).mkpath(QStringLiteral("X-Düsseldorf")));
    QVERIFY(QFile(m_elsewhere.filePath(QStringLiteral("F"))).open(QIODevice::WriteOnly));
}

void TestDataFolder::writeRedirect(const QString &content)
{
    QVERIFY(QDir().mkpath(QFileInfo(inProfile()).path()));
    QFile file(inProfile() + QStringLiteral(".redirect"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content.arg(m_elsewhere.path()).toUtf8()) >= 0);
}

void TestDataFolder::redirect_data()
{
    // The redirect file's content ("%1" being the folder elsewhere), taken exactly as written.
    QTest::addColumn<QString>("content"); // null: no redirect file
    QTest::addColumn<bool>("taken");
    QTest::newRow("no redirect file") << QString() << false;
    QTest::newRow("existing folder") << "%1/X" << true;
    QTest::newRow("non-ASCII folder") << "%1/X-Düsseldorf" << true;
    QTest::newRow("missing folder") << "%1/missing" << false;
    QTest::newRow("trailing line feed") << "%1/X\n" << false;
    QTest::newRow("plain file") << "%1/F" << false;
    QTest::newRow("empty content") << "" << false;
}

void TestDataFolder::redirect()
{
    QFETCH(QString, content);
    QFETCH(bool, taken);
    if (!content.isNull())
        writeRedirect(content);
    const QString expected =
        taken ? content.arg(m_elsewhere.path()) + u'/' + AppConstants::kAppId : inProfile();
    QCOMPARE(dataFolder().path(), expected);
    QVERIFY(QFileInfo(expected).isDir());
    QVERIFY(QFileInfo(m_elsewhere.filePath(QStringLiteral("F"))).isFile());
}

void TestDataFolder::resolvedOnceAndMadeAgain()
{
    QCOMPARE(dataFolder().path(), inProfile());
    writeRedirect(QStringLiteral("%1/X"));
    QVERIFY(QDir(inProfile()).removeRecursively());
    // Kept for the process, and made again when removed meanwhile.
    QCOMPARE(dataFolder().path(), inProfile());
    QVERIFY(QFileInfo(inProfile()).isDir());
    QCOMPARE(localDatabasesFolder().path(), inProfile() + QStringLiteral("/local_databases"));
    QVERIFY(QFileInfo(localDatabasesFolder().path()).isDir());

    resetDataFolderForTests();
    QCOMPARE(dataFolder().path(), m_elsewhere.filePath(QStringLiteral("X/")) + AppConstants::kAppId);
}

QTEST_GUILESS_MAIN(TestDataFolder)
#include "tst_datafolder.moc"
