#include "app/AppConstants.h"
#include "app/DataFolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The data folder under a roaming profile folder that each case makes afresh
// (the XDG data home here), with or without a redirect file.
class TestDataFolder : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void redirect_data();
    void redirect();
    void resolvedOnce();
    void localDatabases();

private:
    QString makerFolder() const { return m_profile->path() + QStringLiteral("/CorVanta"); }
    void writeRedirect(const QByteArray &content);

    std::unique_ptr<QTemporaryDir> m_profile;
    QByteArray m_oldXdg;
};

void TestDataFolder::init()
{
    m_oldXdg = qgetenv("XDG_DATA_HOME");
    m_profile = std::make_unique<QTemporaryDir>();
    QVERIFY(m_profile->isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_profile->path()));
    resetDataFolderForTests();
}

void TestDataFolder::cleanup()
{
    qputenv("XDG_DATA_HOME", m_oldXdg);
    resetDataFolderForTests();
    m_profile.reset();
}

void TestDataFolder::writeRedirect(const QByteArray &content)
{
    QVERIFY(QDir().mkpath(makerFolder()));
    QFile file(makerFolder() + QLatin1Char('/') + QLatin1String(AppConstants::kAppId) +
               QStringLiteral(".redirect"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
}

void TestDataFolder::redirect_data()
{
    // target: "" for no redirect file, "X" for a folder X made in the profile,
    // "F" for a plain file; the rest of the content is appended as it stands.
    QTest::addColumn<QString>("target");
    QTest::addColumn<QByteArray>("suffix");
    QTest::addColumn<bool>("redirected");
    QTest::newRow("no redirect file") << "" << QByteArray() << false;
    QTest::newRow("existing folder") << "X" << QByteArray() << true;
    QTest::newRow("missing folder") << "missing" << QByteArray() << false;
    QTest::newRow("non-ASCII folder") << "X-Düsseldorf" << QByteArray() << true;
    // The content is taken unchanged: a line end makes it another (missing) path.
    QTest::newRow("trailing line feed") << "X" << QByteArray("\n") << false;
    QTest::newRow("plain file") << "F" << QByteArray() << false;
    QTest::newRow("empty content") << "empty" << QByteArray() << false;
}

void TestDataFolder::redirect()
{
    QFETCH(QString, target);
    QFETCH(QByteArray, suffix);
    QFETCH(bool, redirected);

    QTemporaryDir elsewhere;
    QString targetPath;
    if (target == QLatin1String("F")) {
        targetPath = elsewhere.filePath(QStringLiteral("afile"));
        QFile f(targetPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
    } else if (target == QLatin1String("missing")) {
        targetPath = elsewhere.filePath(QStringLiteral("missing"));
    } else if (!target.isEmpty() && target != QLatin1String("empty")) {
        targetPath = elsewhere.filePath(target);
        QVERIFY(QDir().mkpath(targetPath));
    }
    if (!target.isEmpty())
        writeRedirect(targetPath.toUtf8() + suffix);

    const QString expected = redirected
                                 ? targetPath + QLatin1Char('/') + QLatin1String(AppConstants::kAppId)
                                 : makerFolder() + QLatin1Char('/') + QLatin1String(AppConstants::kAppId);
    const QDir folder = dataFolder();
    QCOMPARE(folder.path(), expected);
    QVERIFY(folder.isAbsolute());
    QVERIFY(QFileInfo(expected).isDir());
    if (target == QLatin1String("F"))
        QVERIFY(QFileInfo(targetPath).isFile());
}

void TestDataFolder::resolvedOnce()
{
    const QString first = dataFolder().path();
    QTemporaryDir elsewhere;
    writeRedirect(elsewhere.path().toUtf8());
    QCOMPARE(dataFolder().path(), first);

    // Removed meanwhile: the next call creates it again.
    QVERIFY(QDir(first).removeRecursively());
    QCOMPARE(dataFolder().path(), first);
    QVERIFY(QFileInfo(first).isDir());

    resetDataFolderForTests();
    QCOMPARE(dataFolder().path(), elsewhere.path() + QLatin1Char('/') + QLatin1String(AppConstants::kAppId));
}

void TestDataFolder::localDatabases()
{
    const QDir local = localDatabasesFolder();
    QCOMPARE(local.path(), dataFolder().filePath(QStringLiteral("local_databases")));
    QVERIFY(local.exists());
}

QTEST_GUILESS_MAIN(TestDataFolder)
#include "tst_datafolder.moc"
