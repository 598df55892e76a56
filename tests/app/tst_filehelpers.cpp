#include "app/FileHelpers.h"
#include "app/Platform.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

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
    QTest::newRow("free") << QStringList{u"other.txt"_s} << u"chat.txt"_s << u"chat.txt"_s;
    QTest::newRow("gap reused") << QStringList{u"chat.txt"_s, u"chat(2).txt"_s} << u"chat.txt"_s
                                << u"chat(1).txt"_s;
    QTest::newRow("several dots") << QStringList{u"a.b.txt"_s, u"a(1).txt"_s} << u"a.b.txt"_s
                                  << u"a(2).txt"_s;
    QTest::newRow("folder in the way") << QStringList{u"files/"_s} << u"files"_s << u"files(1)"_s;
    QTest::newRow("dangling links") << QStringList{u"c.txt>gone"_s, u"c(1).txt>gone"_s} << u"c.txt"_s
                                    << u"c(2).txt"_s;
    QTest::newRow("non-ASCII") << QStringList{u"Чат.html"_s} << u"Чат.html"_s << u"Чат(1).html"_s;
}

void TestFileHelpers::uniqueFilePath()
{
    QFETCH(QStringList, existing);
    QFETCH(QString, wanted);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    for (const QString &name : std::as_const(existing)) {
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
    QVERIFY(d.mkpath(u"tree/a/b"_s) && d.mkpath(u"outside"_s));
    for (const QString &file :
         {u"tree/.hidden"_s, u"tree/a/b/deep.bin"_s, u"outside/keep.txt"_s, u"work.txt"_s})
        touch(d.filePath(file));
    // Links, inside the tree or the tree itself, go; never what they lead to.
    QVERIFY(QFile::link(d.filePath(u"outside"_s), d.filePath(u"tree/link"_s)));
    QVERIFY(QFile::link(d.filePath(u"outside"_s), d.filePath(u"rootlink"_s)));
    for (const QString &path : {u"tree"_s, u"rootlink"_s, u"missing"_s, u"work.txt"_s})
        ::removeFolderTree(d.filePath(path));
    // "" would mean the working folder.
    const QString oldCwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    ::removeFolderTree(QString());
    QDir::setCurrent(oldCwd);
    QCOMPARE(d.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
             QStringList({u"outside"_s, u"work.txt"_s}));
    QVERIFY(QFileInfo::exists(d.filePath(u"outside/keep.txt"_s)));
}

void TestFileHelpers::textHelpers()
{
    QCOMPARE(::sanitizeFileName(u" 1\\2/3:4*5?6\"7<8>9|0\n-\r-\t.txt "_s), u"1234567890--.txt"_s);
    QCOMPARE(::sanitizeFileName(u"  My chat – Anna  "_s), u"My chat – Anna"_s);
    // RFC 1321's digest, and a non-ASCII text's (UTF-8 bytes c3 a9).
    QCOMPARE(::md5Hex(u"message digest"_s), u"f96b697d7cb7938d525a2f31aaf161d0"_s);
    QCOMPARE(::md5Hex(u"é"_s), u"66ddcd97cfdeabb2f6fb8a999b4bc76f"_s);
    // A scheme is kept; a path (a drive letter is not a scheme) becomes a local file.
    QCOMPARE(::shellUrl(u"https://chatwharf.example/help?x=1"_s),
             QUrl(u"https://chatwharf.example/help?x=1"_s));
    QCOMPARE(::shellUrl(u"mailto:someone@chatwharf.example"_s).scheme(), u"mailto"_s);
    QCOMPARE(::shellUrl(u"/tmp/out dir/#a chat.html"_s).toLocalFile(), u"/tmp/out dir/#a chat.html"_s);
    QVERIFY(::shellUrl(u"C:/out/chat.txt"_s).isLocalFile());
}

QTEST_GUILESS_MAIN(TestFileHelpers)
#include "tst_filehelpers.moc"
