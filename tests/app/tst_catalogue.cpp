#include "TestConfig.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

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
    const QString ts = dir.filePath(u"en.ts"_s);
    QVERIFY(QFile::copy(QStringLiteral(CHATWHARF_SOURCE_DIR "/src/resources/i18n/en.ts"), ts));
    QProcess lupdate;
    lupdate.setProcessChannelMode(QProcess::MergedChannels);
    lupdate.start(QStringLiteral(CHATWHARF_LUPDATE),
                  {u"-silent"_s, u"-no-obsolete"_s, u"-locations"_s, u"none"_s,
                   QStringLiteral(CHATWHARF_SOURCE_DIR "/src"), u"-ts"_s, ts});
    QVERIFY2(lupdate.waitForFinished(300000), qPrintable(lupdate.errorString()));
    QVERIFY2(lupdate.exitStatus() == QProcess::NormalExit && lupdate.exitCode() == 0,
             lupdate.readAll().constData());

    QFile file(ts);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
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

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
