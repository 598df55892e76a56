#include "app/DataFolder.h"
#include "app/UpdateCheck.h"
#include "ui/MainWindow.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QtTest>

// A one-page web service on the loopback interface: answers every request
// with the reply for its path and remembers what was asked.
class LocalService : public QObject
{
public:
    LocalService()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        QVERIFY(m_server.listen(QHostAddress::LocalHost));
    }

    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }

    QHash<QString, QByteArray> replies; // path -> body
    QList<QUrl> requests;

private:
    void answer(QTcpSocket *socket)
    {
        m_buffers[socket] += socket->readAll();
        const QByteArray &request = m_buffers[socket];
        if (!request.contains("\r\n\r\n"))
            return;
        const QList<QByteArray> line = request.left(request.indexOf("\r\n")).split(' ');
        const QUrl url(QString::fromLatin1(line.value(1)));
        requests.append(url);
        const QByteArray body = replies.value(url.path());
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket->disconnectFromHost();
        m_buffers.remove(socket);
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

class TestMainWindowPeriphery : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void checkIsDueOncePerDay();
    void repliesAreReadSafely();
    void automaticCheckAsksAndStamps();
    void unansweredServiceFailsQuietly();
    void windowShowsAnnouncementOnlyWhenFetched();

private:
    std::unique_ptr<QTemporaryDir> m_profile;
    QByteArray m_oldXdg;
};

void TestMainWindowPeriphery::init()
{
    m_oldXdg = qgetenv("XDG_DATA_HOME");
    m_profile = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_profile->path()));
    resetDataFolderForTests();
}

void TestMainWindowPeriphery::cleanup()
{
    qputenv("XDG_DATA_HOME", m_oldXdg);
    resetDataFolderForTests();
    m_profile.reset();
}

void TestMainWindowPeriphery::checkIsDueOncePerDay()
{
    const QString stamp = m_profile->filePath(QStringLiteral("stamp"));
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1800000000);
    QVERIFY(UpdateCheck::isCheckDue(stamp, now)); // missing
    QVERIFY(UpdateCheck::writeStamp(stamp, now.addSecs(-100)));
    QVERIFY(!UpdateCheck::isCheckDue(stamp, now));
    QVERIFY(UpdateCheck::writeStamp(stamp, now.addSecs(-86400)));
    QVERIFY(!UpdateCheck::isCheckDue(stamp, now));
    QVERIFY(UpdateCheck::writeStamp(stamp, now.addSecs(-86401)));
    QVERIFY(UpdateCheck::isCheckDue(stamp, now));
    // A stamp from the future (the clock was set back) does not silence it.
    QVERIFY(UpdateCheck::writeStamp(stamp, now.addSecs(3600)));
    QVERIFY(UpdateCheck::isCheckDue(stamp, now));
    QFile file(stamp);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("yesterday");
    file.close();
    QVERIFY(UpdateCheck::isCheckDue(stamp, now)); // unreadable
}

void TestMainWindowPeriphery::repliesAreReadSafely()
{
    QCOMPARE(UpdateCheck::downloadAddress("  http://dl.chatwharf.example/setup-3.2.exe\r\n"),
             QStringLiteral("http://dl.chatwharf.example/setup-3.2.exe"));
    QCOMPARE(UpdateCheck::downloadAddress("0"), QString());
    QCOMPARE(UpdateCheck::downloadAddress("ftp://x/y"), QString());

    const QString html =
        UpdateCheck::announcement("<a href=\"https://chatwharf.example/news\" onclick=\"x()\">New "
                                  "<b>release</b> & more</a><script>bad()</script>");
    QCOMPARE(html, QStringLiteral("<a href=\"https://chatwharf.example/news\" style=\"color:#FF8B00;\">New "
                                  "release &amp; more</a>"));
    QCOMPARE(UpdateCheck::announcement("<a href=\"javascript:alert(1)\">x</a>"), QString());
    QCOMPARE(UpdateCheck::announcement("plain text"), QString());
    QCOMPARE(UpdateCheck::announcement("<a href=\"https://x.example/\"></a>"), QString());
}

void TestMainWindowPeriphery::automaticCheckAsksAndStamps()
{
    LocalService service;
    service.replies.insert(QStringLiteral("/sms_check_update.php"), "http://127.0.0.1/setup-9.exe");
    UpdateCheck check(service.baseUrl(), m_profile->path());
    QSignalSpy offered(&check, &UpdateCheck::newVersionAvailable);
    QVERIFY(check.checkIfDue());
    QTRY_COMPARE(offered.size(), 1);
    QCOMPARE(offered.first().first().toString(), QStringLiteral("http://127.0.0.1/setup-9.exe"));
    QCOMPARE(service.requests.size(), 1);
    const QUrlQuery query(service.requests.first());
    QCOMPARE(query.queryItemValue(QStringLiteral("v")), QStringLiteral("3.1.18"));
    QCOMPARE(query.queryItemValue(QStringLiteral("q")), QStringLiteral("1"));
    QVERIFY(!query.queryItemValue(QStringLiteral("id")).isEmpty());
    QVERIFY(!UpdateCheck::isCheckDue(check.stampFile(), QDateTime::currentDateTimeUtc()));
    // Within the day: no second request.
    QVERIFY(!check.checkIfDue());

    // Asked by the user, with nothing newer.
    service.replies.insert(QStringLiteral("/sms_check_update.php"), "0");
    QSignalSpy upToDate(&check, &UpdateCheck::upToDate);
    QVERIFY(check.checkNow());
    QTRY_COMPARE(upToDate.size(), 1);
    QCOMPARE(offered.size(), 1);
}

void TestMainWindowPeriphery::unansweredServiceFailsQuietly()
{
    // A port nobody listens on.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    UpdateCheck check(base, m_profile->path());
    QSignalSpy failed(&check, &UpdateCheck::checkFailed);
    QSignalSpy news(&check, &UpdateCheck::announcementReady);
    QVERIFY(check.checkIfDue());
    QVERIFY(check.fetchAnnouncement());
    QTest::qWait(300);
    QCOMPARE(failed.size(), 0); // automatic: only the log hears of it
    QCOMPARE(news.size(), 0);
    // The attempt counts: tomorrow again, not at every start.
    QVERIFY(QFileInfo::exists(check.stampFile()));
    QVERIFY(check.checkNow());
    QTRY_COMPARE(failed.size(), 1);
    QVERIFY(failed.first().first().toString().contains(base));

    // Without an address nothing is asked.
    UpdateCheck none(QString(), m_profile->path());
    QVERIFY(!none.checkIfDue());
    QVERIFY(!none.fetchAnnouncement());
}

void TestMainWindowPeriphery::windowShowsAnnouncementOnlyWhenFetched()
{
    LocalService service;
    service.replies.insert(QStringLiteral("/adv.php"), "<a href=\"https://chatwharf.example/tips\">Tips</a>");
    service.replies.insert(QStringLiteral("/sms_check_update.php"), "0");
    {
        MainWindow::Options options;
        options.serviceBaseUrl = service.baseUrl();
        options.peripheryDelayMs = 0;
        MainWindow window(options);
        window.show();
        auto *label = window.findChild<QLabel *>(QStringLiteral("lbAdvLink"));
        QVERIFY(label->isHidden());
        QTRY_VERIFY(label->isVisible());
        QVERIFY(label->text().contains(QStringLiteral("#FF8B00")));
        QVERIFY(label->text().contains(QStringLiteral(">Tips</a>")));
        QTRY_COMPARE(service.requests.size(), 2);
        QVERIFY(QFileInfo::exists(dataFolder().filePath(QStringLiteral("last-check-version-time"))));
        QFile adv(dataFolder().filePath(QStringLiteral("last-adv")));
        QVERIFY(adv.open(QIODevice::ReadOnly));
        QVERIFY(adv.readAll().contains("https://chatwharf.example/tips"));
    }
    {
        service.replies.insert(QStringLiteral("/adv.php"), "nothing today");
        service.requests.clear();
        MainWindow::Options options;
        options.serviceBaseUrl = service.baseUrl();
        options.peripheryDelayMs = 0;
        MainWindow window(options);
        window.show();
        // The check is not due again; the announcement is asked every time.
        QTRY_COMPARE(service.requests.size(), 1);
        QTest::qWait(100);
        QVERIFY(window.findChild<QLabel *>(QStringLiteral("lbAdvLink"))->isHidden());
    }
}

QTEST_MAIN(TestMainWindowPeriphery)
#include "tst_mainwindow_periphery.moc"
