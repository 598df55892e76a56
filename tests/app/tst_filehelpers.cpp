#include "app/FileHelpers.h"
#include "app/Platform.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

void touch(const QString &path)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly) && f.write("x") == 1, qPrintable(path));
}

} // namespace

class TestFileHelpers : public QObject
{
    Q_OBJECT

private slots:
    void uniqueFilePath_data();
    void uniqueFilePath();
    void removeFolderTreeStaysInside();
    void textHelpers();
};

void TestFileHelpers::uniqueFilePath_data()
{
    QTest::addColumn<QStringList>("existing"); // made first: "x/" a folder, "x>y" a link to y
    QTest::addColumn<QString>("wanted");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const QStringList &existing, const char *wanted,
                        const char *expected) {
        QTest::newRow(name) << existing << QString::fromUtf8(wanted) << QString::fromUtf8(expected);
    };
    row("free", {"other.txt"}, "chat.txt", "chat.txt");
    row("series", {"chat.txt", "chat(1).txt"}, "chat.txt", "chat(2).txt");
    row("gap reused", {"chat.txt", "chat(2).txt"}, "chat.txt", "chat(1).txt");
    row("several dots", {"a.b.txt", "a(1).txt"}, "a.b.txt", "a(2).txt");
    row("no suffix", {"README"}, "README", "README(1)");
    row("folder in the way", {"files/"}, "files", "files(1)");
    row("dangling links", {"c.txt>gone", "c(1).txt>gone"}, "c.txt", "c(2).txt");
    row("non-ASCII", {"Чат.html"}, "Чат.html", "Чат(1).html");
}

void TestFileHelpers::uniqueFilePath()
{
    QFETCH(QStringList, existing);
    QFETCH(QString, wanted);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    for (const QString &name : existing) {
        if (name.endsWith(u'/'))
            QVERIFY(QDir(dir.path()).mkdir(name.chopped(1)));
        else if (name.contains(u'>'))
            QVERIFY(QFile::link(dir.filePath(name.section(u'>', 1)), dir.filePath(name.section(u'>', 0, 0))));
        else
            touch(dir.filePath(name));
    }
    QCOMPARE(::uniqueFilePath(dir.filePath(wanted)), dir.filePath(expected));
}

void TestFileHelpers::removeFolderTreeStaysInside()
{
    QTemporaryDir dir;
    const QDir d(dir.path());
    QVERIFY(d.mkpath("tree/a/b") && d.mkpath("outside"));
    for (const char *file : {"tree/.hidden", "tree/a/b/deep.bin", "outside/keep.txt", "work.txt"})
        touch(d.filePath(file));
    // Links, inside the tree or the tree itself, go; never what they lead to.
    QVERIFY(QFile::link(d.filePath("outside"), d.filePath("tree/link")));
    QVERIFY(QFile::link(d.filePath("outside"), d.filePath("rootlink")));
    ::removeFolderTree(d.filePath("tree"));
    ::removeFolderTree(d.filePath("rootlink"));
    // Nothing, a plain file, and "" (which would mean the working folder) are left alone.
    ::removeFolderTree(d.filePath("missing"));
    ::removeFolderTree(d.filePath("work.txt"));
    const QString oldCwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    ::removeFolderTree(QString());
    QDir::setCurrent(oldCwd);
    QCOMPARE(d.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
             (QStringList{"outside", "work.txt"}));
    QVERIFY(QFileInfo::exists(d.filePath("outside/keep.txt")));
}

void TestFileHelpers::textHelpers()
{
    QCOMPARE(::sanitizeFileName(" 1\\2/3:4*5?6\"7<8>9|0\n-\r-\t.txt "), "1234567890--.txt");
    QCOMPARE(::sanitizeFileName("  My chat – Anna  "), "My chat – Anna");
    // RFC 1321's digests, and a non-ASCII text's (UTF-8 bytes c3 a9).
    QCOMPARE(::md5Hex(QString()), "d41d8cd98f00b204e9800998ecf8427e");
    QCOMPARE(::md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    QCOMPARE(::md5Hex("é"), "66ddcd97cfdeabb2f6fb8a999b4bc76f");
    // A scheme is kept; a path (a drive letter is not a scheme) becomes a local file.
    QCOMPARE(::shellUrl("https://chatwharf.example/help?x=1"), QUrl("https://chatwharf.example/help?x=1"));
    QCOMPARE(::shellUrl("mailto:someone@chatwharf.example").scheme(), "mailto");
    QCOMPARE(::shellUrl("/tmp/out dir/#a chat.html").toLocalFile(), "/tmp/out dir/#a chat.html");
    QVERIFY(::shellUrl("C:/out/chat.txt").isLocalFile());
}

QTEST_GUILESS_MAIN(TestFileHelpers)
#include "tst_filehelpers.moc"
