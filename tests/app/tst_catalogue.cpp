#include "TestConfig.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

// Every text the code passes through the translator must have an English text in
// the catalogue, or the user would see a bare key. The scan merges what it finds
// into a copy of the catalogue, where a key without text shows as unfinished.
class TestCatalogue : public QObject
{
    Q_OBJECT

private slots:
    void everyKeyHasEnglishText();
};

void TestCatalogue::everyKeyHasEnglishText()
{
    QTemporaryDir dir;
    const QString ts = dir.filePath(QStringLiteral("en.ts"));
    QVERIFY(QFile::copy(QStringLiteral(CHATWHARF_SOURCE_DIR "/src/resources/i18n/en.ts"), ts));
    QProcess lupdate;
    lupdate.setProcessChannelMode(QProcess::MergedChannels);
    lupdate.start(QStringLiteral(CHATWHARF_LUPDATE),
                  {"-silent", "-no-obsolete", "-locations", "none",
                   QStringLiteral(CHATWHARF_SOURCE_DIR "/src"), "-ts", ts});
    QVERIFY2(lupdate.waitForFinished(300000), qPrintable(lupdate.errorString()));
    QVERIFY2(lupdate.exitStatus() == QProcess::NormalExit && lupdate.exitCode() == 0,
             lupdate.readAll().constData());

    QFile file(ts);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    // Guards against a scan that silently found nothing: start-up's own keys are there.
    for (const char *key : {"IDS_NONE_INSTALL_ITUNES", "IDS_ERROR_OCCURRED", "Chatwharf"})
        QVERIFY2(text.contains(QStringLiteral("<source>%1</source>").arg(QLatin1String(key))), key);
    static const QRegularExpression message(
        QStringLiteral("<source>(.*?)</source>.*?<translation([^>]*)>(.*?)<"),
        QRegularExpression::DotMatchesEverythingOption);
    QStringList missing;
    for (const QRegularExpressionMatch &m : message.globalMatch(text))
        if (m.captured(2).contains(QLatin1String("unfinished")) || m.captured(3).isEmpty())
            missing << m.captured(1);
    QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("No English text for: ") + missing.join(u' ')));
}

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
