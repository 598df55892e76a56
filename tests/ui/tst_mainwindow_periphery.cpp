#include "app/UpdateCheck.h"
#include "support/ModalUser.h"
#include "support/TempDataFolder.h"
#include "ui/MainWindow.h"

#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

#include <optional>

using namespace Qt::StringLiterals;

class TestMainWindowPeriphery : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_data.reset(); }
    void checkIsDueOncePerDay();
    void repliesAreReadSafely_data();
    void repliesAreReadSafely();
    void checkAsksOnceADayAndFailsQuietly();
    void windowShowsAnnouncementOnlyWhenFetched();

private:
    // The service's pages as files, which the network layer reads like any address.
    void reply(const QString &page, const QByteArray &body)
    {
        QFile file(m_data->profile() + u"/service/"_s + page);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(body) == body.size());
    }

    std::optional<TempDataFolder> m_data;
    QString m_service; // address of the service
};

void TestMainWindowPeriphery::init()
{
    m_data.emplace();
    QVERIFY(QDir(m_data->profile()).mkpath(u"service"_s));
    m_service = QUrl::fromLocalFile(m_data->profile() + u"/service"_s).toString();
}

void TestMainWindowPeriphery::checkIsDueOncePerDay()
{
    const QString stamp = m_data->profile() + u"/stamp"_s;
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1800000000);
    QVERIFY(UpdateCheck::isCheckDue(stamp, now)); // none yet
    // A stamp from the future (the clock was set back) does not silence the check.
    const std::pair<int, bool> ages[] = {{100, false}, {86400, false}, {86401, true}, {-3600, true}};
    for (const auto &[age, due] : ages) {
        QVERIFY(UpdateCheck::writeStamp(stamp, now.addSecs(-age)));
        QVERIFY2(UpdateCheck::isCheckDue(stamp, now) == due, qPrintable(QString::number(age)));
    }
    QFile file(stamp);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("yesterday");
    file.close();
    QVERIFY(UpdateCheck::isCheckDue(stamp, now));
}

void TestMainWindowPeriphery::repliesAreReadSafely_data()
{
    QTest::addColumn<bool>("download"); // else an announcement
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("shown");
    QTest::newRow("address") << true << QByteArray("  http://dl.example/setup-3.2.exe\r\n")
                             << "http://dl.example/setup-3.2.exe";
    QTest::newRow("up to date") << true << QByteArray("0") << "";
    QTest::newRow("other scheme") << true << QByteArray("ftp://x/y") << "";
    // Only the link's address and text are taken; the label's HTML is built anew.
    QTest::newRow("link")
        << false
        << QByteArray("<a href=\"https://cw.example/news\" onclick=\"x()\">New <b>release</b> & "
                      "more</a><script>bad()</script>")
        << "<a href=\"https://cw.example/news\" style=\"color:#FF8B00;\">New release &amp; more</a>";
    QTest::newRow("script address") << false << QByteArray("<a href=\"javascript:alert(1)\">x</a>") << "";
    QTest::newRow("no link") << false << QByteArray("plain text") << "";
    QTest::newRow("empty link") << false << QByteArray("<a href=\"https://x.example/\"></a>") << "";
}

void TestMainWindowPeriphery::repliesAreReadSafely()
{
    QFETCH(bool, download);
    QFETCH(QByteArray, reply);
    QFETCH(QString, shown);
    QCOMPARE(download ? UpdateCheck::downloadAddress(reply) : UpdateCheck::announcement(reply), shown);
}

void TestMainWindowPeriphery::checkAsksOnceADayAndFailsQuietly()
{
    reply(u"sms_check_update.php"_s, "http://127.0.0.1/setup-9.exe");
    UpdateCheck check(m_service, m_data->profile());
    QSignalSpy offered(&check, &UpdateCheck::newVersionAvailable);
    QVERIFY(check.checkIfDue());
    QTRY_COMPARE(offered.size(), 1);
    QCOMPARE(offered.first().first().toString(), u"http://127.0.0.1/setup-9.exe"_s);
    QVERIFY(!check.checkIfDue()); // within the day
    // Asked by the user, with nothing newer.
    reply(u"sms_check_update.php"_s, "0");
    QSignalSpy upToDate(&check, &UpdateCheck::upToDate);
    QVERIFY(check.checkNow());
    QTRY_COMPARE(upToDate.size(), 1);
    QCOMPARE(offered.size(), 1);

    // A service that does not answer: an automatic check tells only the log,
    // and the attempt counts, so the next is tomorrow rather than at every start.
    const QString lost = m_service + u"/gone"_s;
    UpdateCheck failing(lost, m_data->profile() + u"/service"_s);
    QSignalSpy failed(&failing, &UpdateCheck::checkFailed);
    QSignalSpy news(&failing, &UpdateCheck::announcementReady);
    QVERIFY(failing.checkIfDue() && failing.fetchAnnouncement());
    QTest::qWait(300);
    QCOMPARE(failed.size() + news.size(), 0);
    QVERIFY(!UpdateCheck::isCheckDue(failing.stampFile(), QDateTime::currentDateTimeUtc()));
    QVERIFY(failing.checkNow());
    QTRY_COMPARE(failed.size(), 1);
    QVERIFY(failed.first().first().toString().contains(lost));

    UpdateCheck none(QString(), m_data->profile()); // without an address nothing is asked
    QVERIFY(!none.checkIfDue() && !none.fetchAnnouncement());
}

void TestMainWindowPeriphery::windowShowsAnnouncementOnlyWhenFetched()
{
    ModalUser user;
    user.answer = QMessageBox::No; // to any offer of a new version
    reply(u"adv.php"_s, "<a href=\"https://cw.example/tips\">Tips</a>");
    reply(u"sms_check_update.php"_s, "0");
    MainWindow::Options options;
    options.serviceBaseUrl = m_service;
    options.peripheryDelayMs = 0;
    {
        MainWindow window(options);
        window.show();
        auto *label = window.findChild<QLabel *>(u"lbAdvLink"_s);
        QVERIFY(label->isHidden());
        QTRY_VERIFY(label->isVisible());
        QVERIFY(label->text().contains(u"#FF8B00;\">Tips</a>"_s));
        QFile adv(dataFolder().filePath(u"last-adv"_s));
        QVERIFY(adv.open(QIODevice::ReadOnly));
        QVERIFY(adv.readAll().contains("https://cw.example/tips"));
    }
    // The check is not due again (else it would offer this); the announcement is
    // asked every time.
    reply(u"sms_check_update.php"_s, "http://127.0.0.1/setup-9.exe");
    reply(u"adv.php"_s, "nothing today");
    MainWindow window(options);
    window.show();
    QTest::qWait(300);
    QVERIFY(window.findChild<QLabel *>(u"lbAdvLink"_s)->isHidden());
    QVERIFY(user.boxes.isEmpty());
}

QTEST_MAIN(TestMainWindowPeriphery)
#include "tst_mainwindow_periphery.moc"
