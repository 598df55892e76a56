#include "TestConfig.h"
#include "app/AppConstants.h"
#include "app/Clock.h"
#include "app/FileHelpers.h"
#include "app/Logging.h"
#include "app/Platform.h"
#include "support/TempDataFolder.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;

static const QString kAppId = QString::fromLatin1(AppConstants::kAppId);

// The program's files: its data folder, its logs, the file helpers, its texts. Each test has a
// fresh profile with the logs' folder, the clock pinned so that log names are known, and
// elsewhere the folders X and X-Düsseldorf and the plain file F, for a redirect file to name.
class TestAppFiles : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_profile.emplace();
        const QDir elsewhere(m_elsewhere.path());
        QVERIFY(elsewhere.mkpath(u"X"_s) && elsewhere.mkpath(u"X-Düsseldorf"_s));
        QVERIFY(testsupport::writeFile(elsewhere.filePath(u"F"_s), "F"));
        m_folder = m_profile->path() + u"/qlogs"_s;
        QVERIFY(QDir().mkpath(m_folder));
        Clock::setOverride([] { return QDateTime(QDate(2024, 3, 5), QTime(14, 3, 7)); });
    }
    void cleanup()
    {
        resetLoggingForTests();
        Clock::setOverride({});
        m_profile.reset();
    }
    void redirect_data()
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
    void redirect()
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
    // The folder is resolved once for the process, and made again when removed meanwhile.
    void resolvedOnceAndMadeAgain()
    {
        QCOMPARE(dataFolder().path(), inProfile());
        writeRedirect(u"%1/X"_s);
        QVERIFY(QDir(inProfile()).removeRecursively());
        QCOMPARE(dataFolder().path(), inProfile());
        QVERIFY(QFileInfo(inProfile()).isDir());
        QCOMPARE(localDatabasesFolder().path(), inProfile() + u"/local_databases"_s);
        QVERIFY(QFileInfo(localDatabasesFolder().path()).isDir());
        resetDataFolderForTests();
        QCOMPARE(dataFolder().path(), m_elsewhere.filePath(u"X/"_s) + kAppId);
    }
    void uniqueFilePath_data()
    {
        QTest::addColumn<QStringList>("existing"); // made first: "x/" a folder, "x>y" a link to y
        QTest::addColumn<QString>("wanted");
        QTest::addColumn<QString>("expected");
        QTest::newRow("free") << QStringList{u"other.txt"_s} << u"chat.txt"_s << u"chat.txt"_s;
        QTest::newRow("gap reused") << QStringList{u"chat.txt"_s, u"chat(2).txt"_s} << u"chat.txt"_s
                                    << u"chat(1).txt"_s;
        QTest::newRow("several dots")
            << QStringList{u"a.b.txt"_s, u"a(1).txt"_s} << u"a.b.txt"_s << u"a(2).txt"_s;
        QTest::newRow("folder in the way") << QStringList{u"files/"_s} << u"files"_s << u"files(1)"_s;
        QTest::newRow("dangling links")
            << QStringList{u"c.txt>gone"_s, u"c(1).txt>gone"_s} << u"c.txt"_s << u"c(2).txt"_s;
        QTest::newRow("non-ASCII") << QStringList{u"Чат.html"_s} << u"Чат.html"_s << u"Чат(1).html"_s;
    }
    void uniqueFilePath()
    {
        QFETCH(QStringList, existing);
        QFETCH(QString, wanted);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        for (const QString &name : std::as_const(existing)) {
            if (name.endsWith(u'/'))
                QVERIFY(QDir(dir.path()).mkdir(name.chopped(1)));
            else if (name.contains(u'>'))
                QVERIFY(
                    QFile::link(dir.filePath(name.section(u'>', 1)), dir.filePath(name.section(u'>', 0, 0))));
            else
                QVERIFY(testsupport::writeFile(dir.filePath(name), "x"));
        }
        QCOMPARE(::uniqueFilePath(dir.filePath(wanted)), dir.filePath(expected));
    }
    void removeFolderTreeStaysInside()
    {
        QTemporaryDir dir;
        const QDir d(dir.path());
        QVERIFY(d.mkpath(u"tree/a/b"_s) && d.mkpath(u"outside"_s));
        for (const QString &file :
             {u"tree/.hidden"_s, u"tree/a/b/deep.bin"_s, u"outside/keep.txt"_s, u"work.txt"_s})
            QVERIFY(testsupport::writeFile(d.filePath(file), "x"));
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
    void textHelpers()
    {
        QCOMPARE(::sanitizeFileName(u" 1\\2/3:4*5?6\"7<8>9|0\n-\r-\t.txt "_s), u"1234567890--.txt"_s);
        QCOMPARE(::sanitizeFileName(u"  My chat – Anna  "_s), u"My chat – Anna"_s);
        // A copy's name: shortened, never through a character, and keeping its extension.
        QCOMPARE(::exportCopyName(u"x/"_s + QString(200, u'a') + u".tar.gz"_s), QString(60, u'a') + u".gz"_s);
        QCOMPARE(::exportCopyName(QString(59, u'a') + u"😀.jpg"_s), QString(59, u'a') + u".jpg"_s);
        QCOMPARE(::exportCopyName(u".jpg"_s), QString());
        QCOMPARE(::exportCopyName(u".jpg"_s, u"file"_s), u"file.jpg"_s);
        // The digest of a non-ASCII text is that of its UTF-8 bytes (c3 a9).
        QCOMPARE(::md5Hex(u"é"_s), u"66ddcd97cfdeabb2f6fb8a999b4bc76f"_s);
        // A scheme is kept; a path (a drive letter is not a scheme) becomes a local file.
        QCOMPARE(::shellUrl(u"mailto:someone@chatwharf.example"_s).scheme(), u"mailto"_s);
        QCOMPARE(::shellUrl(u"/tmp/out dir/#a chat.html"_s).toLocalFile(), u"/tmp/out dir/#a chat.html"_s);
        QVERIFY(::shellUrl(u"C:/out/chat.txt"_s).isLocalFile());
    }
    // Ten logs are kept, chosen by their names' dates; other files are never counted nor deleted.
    void rotation()
    {
        for (int logs : {12, 11, 10, 0}) {
            resetLoggingForTests();
            QDir(m_folder).removeRecursively();
            QStringList made{u"notes.txt"_s, u"log-old.txt.bak"_s};
            for (int day = logs; day >= 1; --day) // made out of date order
                made << u"log-202403%1.txt"_s.arg(day, 2, 10, QChar(u'0'));
            for (const QString &name : std::as_const(made))
                QVERIFY(testsupport::writeFile(m_folder + u'/' + name, {}));
            setupLogging(m_folder, 10);
            made.sort();
            QCOMPARE(QDir(m_folder).entryList(QDir::Files, QDir::Name), made.mid(qMax(logs - 10, 0)));
        }
    }
    // Every text the code passes through the translator must have an English text in
    // the catalogue, or the user would see a bare key. The scan merges what it finds
    // into a copy of the catalogue, where a key without text shows as unfinished.
    void everyKeyHasEnglishText()
    {
        const QString ts = m_profile->path() + u"/en.ts"_s;
        QVERIFY(QFile::copy(QStringLiteral(CHATWHARF_SOURCE_DIR "/src/resources/i18n/en.ts"), ts));
        QProcess lupdate;
        lupdate.setProcessChannelMode(QProcess::MergedChannels);
        lupdate.start(QStringLiteral(CHATWHARF_LUPDATE),
                      {u"-silent"_s, u"-no-obsolete"_s, u"-locations"_s, u"none"_s,
                       QStringLiteral(CHATWHARF_SOURCE_DIR "/src"), u"-ts"_s, ts});
        QVERIFY2(lupdate.waitForFinished(300000), qPrintable(lupdate.errorString()));
        QVERIFY2(lupdate.exitStatus() == QProcess::NormalExit && lupdate.exitCode() == 0,
                 lupdate.readAll().constData());

        const QString text = QString::fromUtf8(testsupport::readFile(ts));
        // Guards against a scan that silently found nothing: start-up's own keys are there.
        for (const QString &key : {u"IDS_NONE_INSTALL_ITUNES"_s, u"IDS_ERROR_OCCURRED"_s, u"Chatwharf"_s})
            QVERIFY2(text.contains(u"<source>%1</source>"_s.arg(key)), qPrintable(key));
        static const QRegularExpression message(u"<source>(.*?)</source>.*?<translation([^>]*)>(.*?)<"_s,
                                                QRegularExpression::DotMatchesEverythingOption);
        QStringList missing;
        for (const QRegularExpressionMatch &m : message.globalMatch(text))
            if (m.captured(2).contains(u"unfinished"_s) || m.captured(3).isEmpty())
                missing << m.captured(1);
        QVERIFY2(missing.isEmpty(), qPrintable(u"No English text for: "_s + missing.join(u' ')));
    }

private:
    void writeRedirect(const QString &content);
    QString inProfile() const { return m_profile->profile() + u"/CorVanta/"_s + kAppId; }

    std::optional<TempDataFolder> m_profile;
    QTemporaryDir m_elsewhere;
    QString m_folder; // of the logs
};

void TestAppFiles::writeRedirect(const QString &content)
{
    QVERIFY(testsupport::writeFile(inProfile() + u".redirect"_s, content.arg(m_elsewhere.path()).toUtf8()));
}

QTEST_GUILESS_MAIN(TestAppFiles)
#include "tst_appfiles.moc"
