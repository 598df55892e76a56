#include "support/StoreFixtures.h"

#include "viber/LocalDatabases.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using NameCheck = LocalDatabases::NameCheck;

Q_DECLARE_METATYPE(LocalDatabases::NameCheck)

class TestLocalDatabases : public QObject
{
    Q_OBJECT

private slots:
    void nameRule_data();
    void nameRule();
    void otherLetterCaseIsTheExistingDatabase();
    void onlyFoldersWithAStoreAreDatabases();
    void folderNeverLeavesTheDatabasesFolder();
    void openingAFolderCreatesItsStore();
    void removeDeletesTheWholeFolder();
};

void TestLocalDatabases::nameRule_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("name");
    QTest::addColumn<NameCheck>("check");
    QTest::newRow("plain") << "Family"
                           << "Family" << NameCheck::Valid;
    QTest::newRow("blanks around are dropped") << "  Work 2024 \t"
                                               << "Work 2024" << NameCheck::Valid;
    QTest::newRow("empty") << ""
                           << "" << NameCheck::Empty;
    QTest::newRow("blanks only") << " \t "
                                 << "" << NameCheck::Empty;
    QTest::newRow("unicode") << "Семья 😀"
                             << "Семья 😀" << NameCheck::Valid;
    QTest::newRow("dots inside") << "a.b"
                                 << "a.b" << NameCheck::Valid;
    for (const char *bad :
         {"a/b", "a\\b", "a:b", "a*b", "a?b", "a\"b", "a<b", "a>b", "a|b", "a\nb", "a\rb", "a\tb"})
        QTest::newRow(
            qPrintable(QStringLiteral("contains %1").arg(QString::fromLatin1(bad).toUtf8().toHex())))
            << QString::fromLatin1(bad) << QString::fromLatin1(bad) << NameCheck::Invalid;
    // These name the databases folder itself or its parent.
    QTest::newRow("dot") << "."
                         << "." << NameCheck::Invalid;
    QTest::newRow("dot dot") << " .. "
                             << ".." << NameCheck::Invalid;
}

void TestLocalDatabases::nameRule()
{
    QFETCH(QString, typed);
    QFETCH(QString, name);
    QFETCH(NameCheck, check);
    QCOMPARE(LocalDatabases::normalizedName(typed), name);
    QCOMPARE(LocalDatabases::checkName(name), check);
}

void TestLocalDatabases::otherLetterCaseIsTheExistingDatabase()
{
    const QStringList names{QStringLiteral("Family"), QStringLiteral("Work")};
    QCOMPARE(LocalDatabases::existingName(names, QStringLiteral("work")), QStringLiteral("Work"));
    QCOMPARE(LocalDatabases::existingName(names, QStringLiteral("FAMILY")), QStringLiteral("Family"));
    QCOMPARE(LocalDatabases::existingName(names, QStringLiteral("Work2")), QString());
}

void TestLocalDatabases::onlyFoldersWithAStoreAreDatabases()
{
    QTemporaryDir dir;
    QDir parent(dir.path());
    for (const char *name : {"beta", "Alpha", "gamma"}) {
        QVERIFY(parent.mkpath(QStringLiteral("%1/Documents").arg(QLatin1String(name))));
        QFile store(parent.filePath(
            QStringLiteral("%1/%2").arg(QLatin1String(name), QLatin1String(LocalDatabases::kStoreFileName))));
        QVERIFY(store.open(QIODevice::WriteOnly));
    }
    QVERIFY(parent.mkpath(QStringLiteral("no store/Documents")));
    QVERIFY(parent.mkpath(QStringLiteral("folder named like the store/Documents/Contacts-corvanta.data")));
    QFile stray(parent.filePath(QStringLiteral("file")));
    QVERIFY(stray.open(QIODevice::WriteOnly));

    QCOMPARE(LocalDatabases::names(parent), QStringList({"Alpha", "beta", "gamma"}));
    QVERIFY(LocalDatabases::isDatabaseFolder(parent.filePath(QStringLiteral("beta"))));
    QVERIFY(!LocalDatabases::isDatabaseFolder(parent.filePath(QStringLiteral("no store"))));
    QVERIFY(!LocalDatabases::isDatabaseFolder(QString()));
}

void TestLocalDatabases::folderNeverLeavesTheDatabasesFolder()
{
    QTemporaryDir dir;
    const QDir parent(dir.path());
    QCOMPARE(LocalDatabases::folderOf(parent, QStringLiteral("Work")), parent.absolutePath() + "/Work");
    for (const char *bad : {"..", ".", "", "a/../../x", "../x", "/etc", "C:x"})
        QVERIFY2(LocalDatabases::folderOf(parent, QString::fromLatin1(bad)).isEmpty(), bad);
}

void TestLocalDatabases::openingAFolderCreatesItsStore()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("Work"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/Documents")));
    QVERIFY(!LocalDatabases::isDatabaseFolder(folder));
    const ViberDataPtr data = LocalDatabases::load(folder);
    QVERIFY(data->messages.isEmpty());
    QVERIFY(LocalDatabases::isDatabaseFolder(folder));
    QVERIFY(QFile::exists(folder + QStringLiteral("/Documents/Contacts-corvanta.data")));
}

void TestLocalDatabases::removeDeletesTheWholeFolder()
{
    QTemporaryDir dir;
    QDir parent(dir.path());
    QVERIFY(parent.mkpath(QStringLiteral("Work/Documents/Attachments")));
    QFile file(parent.filePath(QStringLiteral("Work/Documents/Attachments/p.jpg")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(parent.mkpath(QStringLiteral("Other")));

    QString error;
    QVERIFY(LocalDatabases::remove(parent, QStringLiteral("Work"), &error));
    QVERIFY(error.isEmpty());
    QVERIFY(!parent.exists(QStringLiteral("Work")));
    QVERIFY(parent.exists(QStringLiteral("Other")));

    // A name that would reach the databases folder itself or its parent removes nothing.
    QVERIFY(!LocalDatabases::remove(parent, QStringLiteral(".."), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!LocalDatabases::remove(parent, QStringLiteral("."), &error));
    QVERIFY(parent.exists(QStringLiteral("Other")));
    QVERIFY(QDir(dir.path()).exists());
}

QTEST_GUILESS_MAIN(TestLocalDatabases)
#include "tst_localdatabases.moc"
