#include "TestConfig.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

#include <algorithm>

// Every text the code passes through the translator must have an English text
// in the embedded catalogue, or the user would see a bare key.
class TestCatalogue : public QObject
{
    Q_OBJECT

private slots:
    void everyKeyHasEnglishText();
};

namespace {

struct FoundText
{
    QString context;
    QString source;
    QString comment;
    bool numerus = false;
};

QList<FoundText> readTs(const QString &path, QString *error)
{
    QList<FoundText> found;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot open %1").arg(path);
        return found;
    }
    QXmlStreamReader xml(&file);
    QString context;
    FoundText current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const auto name = xml.name();
            if (name == QLatin1String("context")) {
                context.clear();
            } else if (name == QLatin1String("name")) {
                context = xml.readElementText();
            } else if (name == QLatin1String("message")) {
                current = FoundText();
                current.context = context;
                current.numerus = xml.attributes().value(QLatin1String("numerus")) == QLatin1String("yes");
            } else if (name == QLatin1String("source")) {
                current.source = xml.readElementText();
            } else if (name == QLatin1String("comment")) {
                current.comment = xml.readElementText();
            }
        } else if (xml.isEndElement() && xml.name() == QLatin1String("message")) {
            found.append(current);
        }
    }
    if (xml.hasError())
        *error = QStringLiteral("%1: %2").arg(path, xml.errorString());
    return found;
}

} // namespace

void TestCatalogue::everyKeyHasEnglishText()
{
    QTemporaryDir dir;
    const QString ts = dir.filePath(QStringLiteral("found.ts"));
    QProcess lupdate;
    lupdate.setProcessChannelMode(QProcess::MergedChannels);
    lupdate.start(QStringLiteral(CHATWHARF_LUPDATE),
                  {QStringLiteral("-silent"), QStringLiteral("-locations"), QStringLiteral("none"),
                   QStringLiteral(CHATWHARF_SOURCE_DIR "/src"), QStringLiteral("-ts"), ts});
    QVERIFY2(lupdate.waitForFinished(300000), qPrintable(lupdate.errorString()));
    QVERIFY2(lupdate.exitStatus() == QProcess::NormalExit && lupdate.exitCode() == 0,
             lupdate.readAll().constData());

    QString error;
    const QList<FoundText> found = readTs(ts, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    // Guards against a scan that silently found nothing: start-up's own keys
    // must be among the results.
    const auto has = [&](const char *context, const char *source) {
        return std::any_of(found.begin(), found.end(), [&](const FoundText &t) {
            return t.context == QLatin1String(context) && t.source == QLatin1String(source);
        });
    };
    QVERIFY(has("Application", "IDS_NONE_INSTALL_ITUNES"));
    QVERIFY(has("MessageBoxes", "IDS_ERROR_OCCURRED"));
    QVERIFY(has("QObject", "Chatwharf"));

    QTranslator english;
    QVERIFY(english.load(QStringLiteral(":/en.qm")));
    QStringList missing;
    for (const FoundText &t : found) {
        const QString text = english.translate(t.context.toUtf8().constData(), t.source.toUtf8().constData(),
                                               t.comment.isEmpty() ? nullptr : t.comment.toUtf8().constData(),
                                               t.numerus ? 1 : -1);
        if (text.isEmpty())
            missing << QStringLiteral("%1 / %2").arg(t.context, t.source);
    }
    missing.sort();
    QVERIFY2(missing.isEmpty(),
             qPrintable(QStringLiteral("%1 texts without English text:\n  ").arg(missing.size()) +
                        missing.join(QStringLiteral("\n  "))));
}

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
