#include "viber/StorePaths.h"

#include <QTest>

#include <limits>

namespace {

void row(const char *name, const QString &a, const QString &b, const QString &expected)
{
    QTest::newRow(name) << a << b << expected;
}

} // namespace

class TestStorePaths : public QObject
{
    Q_OBJECT

private slots:
    void childPath_data();
    void childPath();
    void namesStayInTheirFolder();
    void locationImageName_data();
    void locationImageName();
    void stickerPath_data();
    void stickerPath();
};

void TestStorePaths::childPath_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("expected");
    const QString root = QStringLiteral("/home/u/db");
    row("plain", root, "a.jpg", "/home/u/db/a.jpg");
    row("sub-folder", root, "sub/a.jpg", "/home/u/db/sub/a.jpg");
    row("dot segments inside", root, "./x/../a.jpg", "/home/u/db/a.jpg");
    row("dots in a name", root, "..a..jpg", "/home/u/db/..a..jpg");
    row("backslash inside", root, "sub\\a.jpg", "/home/u/db/sub/a.jpg");
    row("base with trailing slash", root + "/", "a.jpg", "/home/u/db/a.jpg");
    row("device-relative base", "/Documents/ViberIcons", "x.jpg", "/Documents/ViberIcons/x.jpg");
    row("filesystem root", "/", "a", "/a");
    row("relative base", "Documents", "a", "Documents/a");
    row("empty base", "", "a/b", "a/b");
    row("windows base", "C:\\Users\\u\\db", "a.jpg", "C:/Users/u/db/a.jpg");

    // Hostile or meaningless names give no path at all.
    row("climbs out", root, "../../x", "");
    row("climbs out after a folder", root, "a/../../x", "");
    row("absolute", root, "/etc/passwd", "");
    row("backslash climb", root, "a\\..\\..\\b", "");
    row("backslash absolute", root, "\\\\server\\share\\x", "");
    row("drive absolute", root, "C:/Windows/win.ini", "");
    row("drive relative", root, "c:win.ini", "");
    row("empty", root, "", "");
    row("the folder itself", root, ".", "");
    row("back to the folder", root, "a/..", "");
    row("parent", root, "..", "");
    row("relative base climbs", "", "../a", "");
    row("NUL", root, QStringLiteral("a.jpg") + QChar(0) + QStringLiteral("/../../x"), "");
}

void TestStorePaths::childPath()
{
    QFETCH(QString, base);
    QFETCH(QString, relative);
    QFETCH(QString, expected);
    QCOMPARE(StorePaths::childPath(base, relative), expected);
}

void TestStorePaths::namesStayInTheirFolder()
{
    const QString root = QStringLiteral("/data/store");
    QCOMPARE(StorePaths::fileInFolder(root, StorePaths::kAttachments, "p.jpg"),
             "/data/store/Documents/Attachments/p.jpg");
    // Still below the root, but in another folder of the store: the store file itself.
    QCOMPARE(StorePaths::fileInFolder(root, StorePaths::kAttachments, "../Contacts.data"), QString());
    QCOMPARE(StorePaths::fileInFolder(root, StorePaths::kVoiceMessages, "../Attachments/p.jpg"), QString());
    // A sticker id that climbs out of the sticker folder.
    QCOMPARE(
        StorePaths::fileInFolder(root, StorePaths::kStickers, StorePaths::stickerRelativePath("../../../x")),
        QString());
}

void TestStorePaths::locationImageName_data()
{
    QTest::addColumn<double>("latitude");
    QTest::addColumn<double>("longitude");
    QTest::addColumn<QString>("expected");
    QTest::newRow("one decimal") << 48.1 << 11.58 << "48.100000_11.jpg";
    QTest::newRow("eight significant digits") << 48.123456789 << 11.58 << "48.123457_11.jpg";
    QTest::newRow("already six decimals") << 1.234567 << 2.0 << "1.234567_2.jpg";
    QTest::newRow("no dot pads to six characters") << 48.0 << 11.0 << "480000_11.jpg";
    QTest::newRow("negative, truncated toward zero") << -33.8688 << -151.2093 << "-33.868800_-151.jpg";
    QTest::newRow("longitude below one") << 10.5 << 0.99 << "10.500000_0.jpg";
    QTest::newRow("longitude not a number")
        << 10.5 << std::numeric_limits<double>::quiet_NaN() << "10.500000_0.jpg";
}

void TestStorePaths::locationImageName()
{
    QFETCH(double, latitude);
    QFETCH(double, longitude);
    QFETCH(QString, expected);
    QCOMPARE(StorePaths::locationImageName(latitude, longitude), expected);
}

void TestStorePaths::stickerPath_data()
{
    QTest::addColumn<QString>("attId");
    QTest::addColumn<QString>("expected");
    QTest::newRow("1234") << "1234" << QStringLiteral("1200/100/00001234.png");
    QTest::newRow("below a hundred") << "5" << QStringLiteral("0/100/00000005.png");
    QTest::newRow("round hundred") << "40100" << QStringLiteral("40100/100/00040100.png");
    QTest::newRow("nine digits") << "123456789" << QStringLiteral("123456700/100/123456789.png");
    QTest::newRow("not a number") << "abc" << QStringLiteral("0/100/00000abc.png");
}

void TestStorePaths::stickerPath()
{
    QFETCH(QString, attId);
    QFETCH(QString, expected);
    QCOMPARE(StorePaths::stickerRelativePath(attId), expected);
}

QTEST_GUILESS_MAIN(TestStorePaths)
#include "tst_storepaths.moc"
