#include "viber/LocalDatabases.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

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
    void openingAFolderCreatesItsStore();
    void removeDeletesOnlyItsOwnFolder();

    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

private:
    // A fresh databases folder for every test.
    std::unique_ptr<QTemporaryDir> m_dir;
    QDir parent() const { return QDir(m_dir->path()); }
    void touch(const QString &relative) const
    {
        QVERIFY(parent().mkpath(QFileInfo(parent().filePath(relative)).path()));
        QFile file(parent().filePath(relative));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
};

void TestLocalDatabases::nameRule_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("name");
    QTest::addColumn<NameCheck>("check");
    auto row = [](const char *tag, const QString &typed, const QString &name, NameCheck check) {
        QTest::newRow(tag) << typed << name << check;
    };
    row("plain", "Family", "Family", NameCheck::Valid);
    row("blanks around are dropped", "  Work 2024 \t", "Work 2024", NameCheck::Valid);
    row("empty", "", "", NameCheck::Empty);
    row("blanks only", " \t ", "", NameCheck::Empty);
    row("unicode", "Семья 😀", "Семья 😀", NameCheck::Valid);
    row("dots inside", "a.b", "a.b", NameCheck::Valid);
    for (const char *bad :
         {"a/b", "a\\b", "a:b", "a*b", "a?b", "a\"b", "a<b", "a>b", "a|b", "a\nb", "a\rb", "a\tb"})
        row(qPrintable(QStringLiteral("contains %1").arg(QString::fromLatin1(QByteArray(bad).toHex()))), bad,
            bad, NameCheck::Invalid);
    // These name the databases folder itself or its parent.
    row("dot", ".", ".", NameCheck::Invalid);
    row("dot dot", " .. ", "..", NameCheck::Invalid);
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
    QCOMPARE(LocalDatabases::existingName(names, "work"), "Work");
    QCOMPARE(LocalDatabases::existingName(names, "FAMILY"), "Family");
    QCOMPARE(LocalDatabases::existingName(names, "Work2"), QString());
}

void TestLocalDatabases::onlyFoldersWithAStoreAreDatabases()
{
    const QString store = QLatin1String(LocalDatabases::kStoreFileName);
    for (const char *name : {"beta", "Alpha", "gamma"})
        touch(QLatin1String(name) + QLatin1Char('/') + store);
    QVERIFY(parent().mkpath("no store/Documents"));
    QVERIFY(parent().mkpath("folder named like the store/" + store));
    touch("file");

    QCOMPARE(LocalDatabases::names(parent()), QStringList({"Alpha", "beta", "gamma"}));
    QVERIFY(!LocalDatabases::isDatabaseFolder(QString()));
}

void TestLocalDatabases::openingAFolderCreatesItsStore()
{
    const QString folder = parent().filePath("Work");
    QVERIFY(QDir().mkpath(folder + "/Documents"));
    QVERIFY(!LocalDatabases::isDatabaseFolder(folder));
    QVERIFY(LocalDatabases::load(folder)->messages.isEmpty());
    QVERIFY(LocalDatabases::isDatabaseFolder(folder));
    QVERIFY(QFile::exists(folder + "/Documents/Contacts-corvanta.data"));
}

void TestLocalDatabases::removeDeletesOnlyItsOwnFolder()
{
    touch("Doomed/Documents/Attachments/p.jpg");
    QVERIFY(parent().mkpath("Other"));
    QString error;
    QVERIFY(LocalDatabases::remove(parent(), "Doomed", &error));
    QVERIFY(error.isEmpty());
    QVERIFY(!parent().exists("Doomed"));

    // A name that would reach the databases folder itself or its parent removes nothing.
    for (const char *bad : {"..", "."}) {
        QVERIFY2(!LocalDatabases::remove(parent(), QLatin1String(bad), &error), bad);
        QVERIFY(!error.isEmpty());
    }
    QVERIFY(parent().exists("Other"));
}

QTEST_GUILESS_MAIN(TestLocalDatabases)
#include "tst_localdatabases.moc"
