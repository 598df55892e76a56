#include "app/FileHelpers.h"
#include "app/Platform.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestFileHelpers : public QObject
{
    Q_OBJECT

private slots:
    void uniqueFilePath_data();
    void uniqueFilePath();
    void sanitizeFileName_data();
    void sanitizeFileName();
    void removeFolderTree();
    void removeFolderTreeLeavesLinkedFolders();
    void removeFolderTreeOnNothing();
    void md5Hex_data();
    void md5Hex();
    void shellUrl();
};

namespace {

void touch(const QString &path)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
    f.write("x");
}

} // namespace

void TestFileHelpers::uniqueFilePath_data()
{
    QTest::addColumn<QStringList>("existing"); // names made in the folder; a trailing "/" makes a folder
    QTest::addColumn<QString>("wanted");
    QTest::addColumn<QString>("expected");
    QTest::newRow("free") << QStringList{QStringLiteral("other.txt")} << "chat.txt"
                          << "chat.txt";
    QTest::newRow("series") << QStringList{QStringLiteral("chat.txt"), QStringLiteral("chat(1).txt")}
                            << "chat.txt"
                            << "chat(2).txt";
    QTest::newRow("gap reused") << QStringList{QStringLiteral("chat.txt"), QStringLiteral("chat(2).txt")}
                                << "chat.txt"
                                << "chat(1).txt";
    QTest::newRow("several dots") << QStringList{QStringLiteral("a.b.txt")} << "a.b.txt"
                                  << "a(1).txt";
    QTest::newRow("several dots, series")
        << QStringList{QStringLiteral("a.b.txt"), QStringLiteral("a(1).txt")} << "a.b.txt"
        << "a(2).txt";
    QTest::newRow("no suffix") << QStringList{QStringLiteral("README")} << "README"
                               << "README(1)";
    QTest::newRow("folder in the way") << QStringList{QStringLiteral("files/")} << "files"
                                       << "files(1)";
    QTest::newRow("non-ASCII") << QStringList{QStringLiteral("Чат.html")} << "Чат.html"
                               << "Чат(1).html";
}

void TestFileHelpers::uniqueFilePath()
{
    QFETCH(QStringList, existing);
    QFETCH(QString, wanted);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    for (const QString &name : existing) {
        if (name.endsWith(QLatin1Char('/')))
            QVERIFY(QDir(dir.path()).mkdir(name.chopped(1)));
        else
            touch(dir.filePath(name));
    }
    QCOMPARE(::uniqueFilePath(dir.filePath(wanted)), dir.filePath(expected));
}

void TestFileHelpers::sanitizeFileName_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("mixed") << " a:b*c?.txt\t"
                           << "abc.txt";
    QTest::newRow("every forbidden character") << "1\\2/3:4*5?6\"7<8>9|0\n-\r-\t."
                                               << "1234567890--.";
    QTest::newRow("inner spaces kept") << "  My chat – Anna  "
                                       << "My chat – Anna";
    QTest::newRow("only forbidden") << "\\/:*?\"<>|"
                                    << "";
    QTest::newRow("clean") << "Chat 2024-03-05.txt"
                           << "Chat 2024-03-05.txt";
}

void TestFileHelpers::sanitizeFileName()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(::sanitizeFileName(text), expected);
}

void TestFileHelpers::removeFolderTree()
{
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("tree"));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/a/b/c")));
    touch(root + QStringLiteral("/top.txt"));
    touch(root + QStringLiteral("/.hidden"));
    touch(root + QStringLiteral("/a/b/c/deep.bin"));
    touch(dir.filePath(QStringLiteral("sibling.txt")));
    ::removeFolderTree(root);
    QVERIFY(!QFileInfo::exists(root));
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("sibling.txt"))));
}

void TestFileHelpers::removeFolderTreeLeavesLinkedFolders()
{
    QTemporaryDir dir;
    const QString outside = dir.filePath(QStringLiteral("outside"));
    QVERIFY(QDir().mkpath(outside));
    touch(outside + QStringLiteral("/keep.txt"));

    // A link inside the tree: the link goes, the folder it points to stays whole.
    const QString root = dir.filePath(QStringLiteral("tree"));
    QVERIFY(QDir().mkpath(root));
    QVERIFY(QFile::link(outside, root + QStringLiteral("/link")));
    ::removeFolderTree(root);
    QVERIFY(!QFileInfo::exists(root));
    QVERIFY(QFileInfo::exists(outside + QStringLiteral("/keep.txt")));

    // The tree itself a link.
    const QString rootLink = dir.filePath(QStringLiteral("rootlink"));
    QVERIFY(QFile::link(outside, rootLink));
    ::removeFolderTree(rootLink);
    QVERIFY(!QFileInfo(rootLink).isSymLink());
    QVERIFY(QFileInfo::exists(outside + QStringLiteral("/keep.txt")));
}

void TestFileHelpers::removeFolderTreeOnNothing()
{
    QTemporaryDir dir;
    ::removeFolderTree(dir.filePath(QStringLiteral("missing")));

    // An empty path would mean the working folder.
    touch(dir.filePath(QStringLiteral("work.txt")));
    const QString oldCwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    ::removeFolderTree(QString());
    QDir::setCurrent(oldCwd);
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("work.txt"))));

    // A plain file is not a folder.
    ::removeFolderTree(dir.filePath(QStringLiteral("work.txt")));
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("work.txt"))));
}

void TestFileHelpers::md5Hex_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("digest");
    // RFC 1321 test suite, plus a non-ASCII text (UTF-8 bytes c3 a9).
    QTest::newRow("empty") << ""
                           << "d41d8cd98f00b204e9800998ecf8427e";
    QTest::newRow("abc") << "abc"
                         << "900150983cd24fb0d6963f7d28e17f72";
    QTest::newRow("message digest") << "message digest"
                                    << "f96b697d7cb7938d525a2f31aaf161d0";
    QTest::newRow("fox") << "The quick brown fox jumps over the lazy dog"
                         << "9e107d9d372bb6826bd81d3542a419d6";
    QTest::newRow("utf-8") << "é"
                           << "66ddcd97cfdeabb2f6fb8a999b4bc76f";
}

void TestFileHelpers::md5Hex()
{
    QFETCH(QString, text);
    QFETCH(QString, digest);
    QCOMPARE(::md5Hex(text), digest);
}

void TestFileHelpers::shellUrl()
{
    QCOMPARE(::shellUrl(QStringLiteral("https://chatwharf.example/help?x=1")),
             QUrl(QStringLiteral("https://chatwharf.example/help?x=1")));
    QCOMPARE(::shellUrl(QStringLiteral("mailto:someone@chatwharf.example")).scheme(),
             QStringLiteral("mailto"));
    const QUrl path = ::shellUrl(QStringLiteral("/tmp/out dir/#1 chat.html"));
    QVERIFY(path.isLocalFile());
    QCOMPARE(path.toLocalFile(), QStringLiteral("/tmp/out dir/#1 chat.html"));
    // A drive letter is not a scheme.
    QVERIFY(::shellUrl(QStringLiteral("C:/out/chat.txt")).isLocalFile());
}

QTEST_GUILESS_MAIN(TestFileHelpers)
#include "tst_filehelpers.moc"
