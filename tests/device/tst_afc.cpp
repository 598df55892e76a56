#include "device/IOSFileDownloader.h"
#include "device/ServiceSocket.h"
#include "support/BackupCryptoFixtures.h"
#include "support/SimulatedAfc.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace testsupport;
using Fault = SimulatedAfc::Fault;

static const QString kStore = u"/Documents/Contacts.data"_s;

class TestAfc : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_afc = AfcConnection(m_phone.device());
        m_phone.fault = Fault::None;
        m_progress.clear(), m_cancelAfter = -1;
    }
    void framing()
    {
        QCOMPARE(AfcHeader({73, 73, 0xFFFFFFFF, AfcOpFileOpen}).bytes().toHex(),
                 "434641364c50414149000000000000004900000000000000ffffffff000000000d00000000000000");
        int pair[2];
        QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        mobiledevice_sendmsg(pair[0],
                             CFType::fromString(QString(300 - CFType::fromString({}).toData().size(), u'x')));
        QByteArray frame(4, '\0');
        QVERIFY(recv_all(pair[1], frame.data(), 4, 1000) == 4 && frame == QByteArray("\x00\x00\x01\x2C", 4));
        QCOMPARE(send_with_timeout(pair[1], "\xFF\xFF\xFF\xFF", 4, 1000), 4);
        QVERIFY(errorOf([&]() { mobiledevice_recmsg(pair[0]); }).contains(u"4294967295 bytes"_s));
        ::close(pair[0]), ::close(pair[1]);
    }
    void faults_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QString>("expected");
        const QString path = u" while working on /Documents"_s;
        QTest::newRow("container refused") << Fault::RefuseContainer << u"can not find com.viber."_s;
        QTest::newRow("dropped mid-file") << Fault::DropMidFile << u"the iPhone was closed"_s + path;
        QTest::newRow("short answer") << Fault::StallRead << u"did not answer in time"_s + path;
        QTest::newRow("error status") << Fault::ReadStatus << u"Reading /Documents/Contacts.data from the"_s;
        QTest::newRow("nothing to read")
            << Fault::EmptyReads << u"gave only 0 of the 1,500,000 bytes of /Doc"_s;
        QTest::newRow("oversized listing") << Fault::Oversized << u"cannot be understood"_s + path;
        QTest::newRow("cancelled midway") << Fault::None << u"-1"_s;
    }
    // Each fault gives its own error naming the path; the earlier copy stays, no partial file beside.
    void faults()
    {
        QFETCH(Fault, fault);
        QFETCH(QString, expected);
        QVERIFY(writeFile(phone(kStore), patternBytes(1500000, 3)) &&
                writeFile(local(u"Contacts.data"_s), "earlier"));
        m_phone.fault = fault, m_cancelAfter = 1;
        m_afc.setTimeoutMs(300);
        QString error;
        try {
            error = errorOf([&]() {
                afc_connect(m_afc, u"com.viber"_s);
                afc_list_dir(m_afc, u"/Documents"_s);
                m_downloader.download(m_afc, kStore, local(u"Contacts.data"_s), false);
            });
        } catch (int code) { // a cancel
            error = QString::number(code);
        }
        QVERIFY2(error.contains(expected), qPrintable(error));
        QCOMPARE(readFile(local(u"Contacts.data"_s)), QByteArray("earlier"));
        QCOMPARE(QDir(local({})).entryList(QDir::Files), (QStringList{u"Contacts.data"_s}));
    }

    // The phone refuses reads over 64 KiB and writes over 32 KiB: larger ones go in pieces.
    void filesBothWays()
    {
        const QByteArray data = patternBytes(200000, 7);
        QVERIFY(writeFile(phone(kStore), data));
        afc_connect(m_afc, u"com.viber"_s);
        AfcFile file;
        QVERIFY(afc_make_dir(m_afc, u"/New/Deeper"_s) && afc_open_write(m_afc, u"/New/a"_s, file));
        QCOMPARE(afc_write(file, data.constData(), 70000), 70000);
        QVERIFY(file.close() && afc_rename(m_afc, u"/New/a"_s, u"/b"_s));
        QCOMPARE(readFile(phone(u"/b"_s)), data.left(70000));
        QVERIFY(afc_remove(m_afc, u"/New/Deeper"_s) && !afc_remove(m_afc, u"/New/Deeper"_s));
        QByteArray back(200001, '\0');
        QVERIFY(afc_open_read(m_afc, kStore, file) && afc_read(file, back.data(), back.size()) == 200000);
        QCOMPARE(back.left(200000), data);
        const AfcFileInfo info = afc_file_info(m_afc, kStore);
        QVERIFY(info.isFile() && info.size == 200000 &&
                info.modified == QFileInfo(phone(kStore)).lastModified());
        QVERIFY(!afc_file_info(m_afc, u"/none"_s).exists() && afc_list_dir(m_afc, u"/None"_s).isEmpty());

        // An unchanged file is not copied again unless its copy went; "_" is no wildcard.
        const QString picture = u"/Documents/Attachments/picX1.jpg"_s;
        QVERIFY(writeFile(phone(picture), data) && writeFile(phone(u"/small"_s), QByteArray(1023, 's')) &&
                writeFile(phone(u"/empty"_s), QByteArray()));
        const auto fetch = [&](const QString &path, const QString &to) {
            return m_downloader.download(m_afc, path, local(to), true);
        };
        QVERIFY(fetch(picture, u"pic"_s) && fetch(u"/small"_s, u"small"_s) && fetch(u"/empty"_s, u"0"_s));
        QVERIFY(readFile(local(u"pic"_s)) == data && QFileInfo(local(u"0"_s)).size() == 0);
        QVERIFY(!fetch(u"/Documents"_s, u"dir"_s) && !fetch(u"/Documents/none"_s, u"none"_s));

        QVERIFY(!fetch(picture, u"pic"_s));
        QCOMPARE(m_downloader.manifest().lastDate(picture),
                 QFileInfo(phone(picture)).lastModified().toSecsSinceEpoch());
        QCOMPARE(m_downloader.manifest().lastDate(u"/Documents/Attachments/pic_1.jpg"_s), 0);
        QVERIFY(QFile::remove(local(u"pic"_s)) && fetch(picture, u"pic"_s));

        // The media area: links and names reaching outside the folder (they are there) are left out.
        const QString media = m_dir.filePath(u"media/PhotoData/"_s);
        QVERIFY(writeFile(media + u"Photos.sqlite"_s, "db") && writeFile(media + u"a/b"_s, "x") &&
                writeFile(media + u"../outside"_s, "x") &&
                QFile::link(u"Photos.sqlite"_s, media + u"link"_s));
        m_phone.extraNames = {"..", ".", "a/b", "../outside", ""};
        afc_connect(m_afc, QString());
        QStringList listed;
        for (const AfcFileInfo &entry : afc_list_dir(m_afc, u"/PhotoData"_s))
            listed << entry.path + (entry.isDir() ? u"/"_s : QString());
        listed.sort();
        QCOMPARE(listed, (QStringList{u"/PhotoData/Photos.sqlite"_s, u"/PhotoData/a/"_s}));
    }

private:
    QString phone(const QString &path) const { return m_dir.filePath(u"container"_s + path); }
    QString local(const QString &name) const { return m_dir.filePath(u"local/"_s + name); }

    QTemporaryDir m_dir;
    SimulatedAfc m_phone{m_dir.filePath(u"container"_s), m_dir.filePath(u"media"_s)};
    AfcConnection m_afc;
    QStringList m_progress;
    int m_cancelAfter = -1; // progress reports before the download is cancelled
    IOSFileDownloader m_downloader{m_dir.filePath(u"manifest.db"_s),
                                   [this]() { return m_progress.size() == m_cancelAfter; },
                                   [this](const QString &status) { m_progress << status; }};
};

QTEST_GUILESS_MAIN(TestAfc)
#include "tst_afc.moc"
