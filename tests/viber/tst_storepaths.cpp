#include "viber/LocalDatabases.h"
#include "viber/StorePaths.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;

// Every path built from a store name goes through these rules; the other suites rely on
// them and do not test an escape again. Removing one of this program's databases stays in its folder.
class TestStorePaths : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QDir d(m_dir.path());
        for (const QString &file : {u"store-evil/x.jpg"_s, u"store/Documents/Attachments/p.jpg"_s,
                                    u"outside/secret.jpg"_s, u"store/Documents/Attachments/dir/d.jpg"_s})
            QVERIFY(testsupport::writeFile(d.filePath(file), {}));
        const std::pair<QString, QString> links[] = {
            {u"outside/secret.jpg"_s, u"Attachments/leak.jpg"_s},
            {u"store/Documents/Attachments/p.jpg"_s, u"Attachments/alias.jpg"_s},
            {u"outside"_s, u"Attachments/sub"_s},
            {u"outside"_s, u"ContactIcons"_s},
            {u"store-evil/x.jpg"_s, u"Attachments/sibling.jpg"_s}};
        for (const auto &[target, name] : links)
            QVERIFY(QFile::link(d.filePath(target), d.filePath(u"store/Documents/"_s + name)));
    }
    void childPath_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("relative");
        QTest::addColumn<QString>("expected"); // empty: refused
        const QString root = u"/home/u/db"_s;
        const auto row = [](const char *tag, const QString &base, const QString &relative,
                            const QString &expected) { QTest::newRow(tag) << base << relative << expected; };
        row("plain", root, u"sub/a.jpg"_s, u"/home/u/db/sub/a.jpg"_s);
        row("dot segments inside", root, u"./x/../a.jpg"_s, u"/home/u/db/a.jpg"_s);
        row("dots in a name", root, u"..a..jpg"_s, u"/home/u/db/..a..jpg"_s);
        row("backslash inside", root, u"sub\\a.jpg"_s, u"/home/u/db/sub/a.jpg"_s);
        row("base with trailing slash", root + u'/', u"a.jpg"_s, u"/home/u/db/a.jpg"_s);
        row("filesystem root", u"/"_s, u"a"_s, u"/a"_s);
        row("relative base", u"Documents"_s, u"a"_s, u"Documents/a"_s);
        row("empty base", QString(), u"a/b"_s, u"a/b"_s);
        row("windows base", u"C:\\Users\\u\\db"_s, u"a.jpg"_s, u"C:/Users/u/db/a.jpg"_s);
        // Hostile or meaningless names give no path at all.
        row("climbs out", root, u"../../x"_s, QString());
        row("climbs out after a folder", root, u"a/../../x"_s, QString());
        row("absolute", root, u"/etc/passwd"_s, QString());
        row("backslash climb", root, u"a\\..\\..\\b"_s, QString());
        row("backslash absolute", root, u"\\\\server\\share\\x"_s, QString());
        row("drive absolute", root, u"C:/Windows/win.ini"_s, QString());
        row("drive relative", root, u"c:win.ini"_s, QString());
        row("empty", root, QString(), QString());
        row("the folder itself", root, u"."_s, QString());
        row("back to the folder", root, u"a/.."_s, QString());
        row("relative base climbs", QString(), u"../a"_s, QString());
        row("NUL in a name", root, u"a"_s + QChar(0) + u".jpg"_s, QString());
        row("NUL, then a climb", root, u"a.jpg"_s + QChar(0) + u"/../../x"_s, QString());
    }
    void childPath()
    {
        QFETCH(QString, base);
        QFETCH(QString, relative);
        QTEST(StorePaths::childPath(base, relative), "expected");
    }
    void fileInFolder_data()
    {
        // A name stays in its own folder of the store, and links count by where they lead.
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<bool>("file");
        const QString attachments = QString::fromLatin1(StorePaths::kAttachments);
        QTest::newRow("in its folder") << attachments << u"p.jpg"_s << true << true;
        QTest::newRow("another case") << attachments << u"P.jpg"_s << true << false;
        QTest::newRow("a folder") << attachments << u"dir"_s << true << false;
        QTest::newRow("in a nested folder") << attachments << u"dir/d.jpg"_s << true << true;
        QTest::newRow("not yet on disk, nested") << attachments << u"new/deep.jpg"_s << true << false;
        QTest::newRow("link inside the store") << attachments << u"alias.jpg"_s << true << true;
        QTest::newRow("into the store file") << attachments << u"../Contacts.data"_s << false << false;
        QTest::newRow("into another folder")
            << QString::fromLatin1(StorePaths::kVoiceMessages) << u"../Attachments/p.jpg"_s << false << false;
        QTest::newRow("sticker id climbing out")
            << QString::fromLatin1(StorePaths::kStickers) << StorePaths::stickerRelativePath(u"../../../x"_s)
            << false << false;
        QTest::newRow("link to a file outside") << attachments << u"leak.jpg"_s << false << false;
        // A folder beside the store whose name begins with the store's is not inside it.
        QTest::newRow("link to a sibling named alike") << attachments << u"sibling.jpg"_s << false << false;
        QTest::newRow("through a linked folder") << attachments << u"sub/secret.jpg"_s << false << false;
        QTest::newRow("folder itself a link out")
            << QString::fromLatin1(StorePaths::kContactIcons) << u"a.jpg"_s << false << false;
    }
    void fileInFolder()
    {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QFETCH(bool, taken);
        QFETCH(bool, file);
        const QString root = m_dir.filePath(u"store"_s);
        const QString expected = taken ? root + u'/' + folder + u'/' + name : QString();
        // Answered from a look at each file, and from the listings a load keeps.
        for (const bool listed : {false, true}) {
            StorePaths::forgetResolvedFolders();
            std::optional<StorePaths::FolderListings> listings;
            if (listed)
                listings.emplace();
            bool isFile = !file;
            QCOMPARE(StorePaths::fileInFolder(root, folder.toLatin1().constData(), name, &isFile), expected);
            QCOMPARE(isFile, file);
        }
    }
    // A database's name never reaches a folder other than its own below the databases folder.
    void nameRule()
    {
        QCOMPARE(LocalDatabases::normalizedName(u"  Work 2024 \t"_s), u"Work 2024"_s);
        for (const QString &bad : {u"a/b"_s, u"a\\b"_s, u"."_s, u".."_s, u"a:b"_s, u"a\nb"_s})
            QVERIFY2(LocalDatabases::checkName(bad) == LocalDatabases::NameCheck::Invalid, qPrintable(bad));
        QVERIFY(LocalDatabases::checkName(QString()) == LocalDatabases::NameCheck::Empty);
        QVERIFY(LocalDatabases::checkName(u"Семья.b 😀"_s) == LocalDatabases::NameCheck::Valid);
        QCOMPARE(LocalDatabases::folderOf(QDir(u"/d"_s), u".."_s), QString());
    }
    void removeDeletesOnlyItsOwnFolder()
    {
        QVERIFY(testsupport::writeFile(parent().filePath(u"Doomed/Documents/Attachments/p.jpg"_s), {}));
        QVERIFY(parent().mkpath(u"Other"_s));
        QString error;
        QVERIFY(LocalDatabases::remove(parent(), u"Doomed"_s, &error) && error.isEmpty());
        QVERIFY(!parent().exists(u"Doomed"_s));
        // A name that would reach the databases folder itself or its parent removes nothing.
        for (const QString &bad : {u".."_s, u"."_s, u"Other/.."_s}) {
            QVERIFY2(!LocalDatabases::remove(parent(), bad, &error), qPrintable(bad));
            QVERIFY(!error.isEmpty());
        }
        QVERIFY(parent().exists(u"Other"_s));
    }

private:
    QTemporaryDir m_dir; // "store", "outside" that links in the store lead to, and "databases"
    QDir parent() const { return QDir(m_dir.filePath(u"databases"_s)); }
};

QTEST_GUILESS_MAIN(TestStorePaths)
#include "tst_storepaths.moc"
