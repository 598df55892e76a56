#include "BenchRegistry.h"

#include "export/MessageText.h"
#include "support/MessageFixtures.h"
#include "workers/ExportMessagesThread.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <cstdio>

#include <unistd.h>

namespace {

// Seconds one export takes, or -1 when it did not succeed.
double exportSeconds(const QList<_ViberMsg *> &messages, const QString &path, int format)
{
    QElapsedTimer timer;
    timer.start();
    ExportMessagesThread worker(messages, path, format);
    worker.start();
    worker.wait();
    if (worker.outcome() != WorkerThread::Outcome::Succeeded) {
        std::fprintf(stderr, "export to %s failed: %s\n", qPrintable(path), qPrintable(worker.errorText()));
        return -1;
    }
    return timer.nsecsElapsed() / 1e9;
}

// Seconds Chromium, headless and without a network, takes from its start to the
// loaded page's document; -1 when it is not installed or failed.
double browserOpenSeconds(const QString &page)
{
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty())
        return -1;
    QTemporaryDir profile;
    QStringList arguments{QStringLiteral("--headless"),
                          QStringLiteral("--disable-gpu"),
                          QStringLiteral("--user-data-dir=") + profile.path(),
                          QStringLiteral("--disable-background-networking"),
                          QStringLiteral("--no-first-run"),
                          QStringLiteral("--dump-dom"),
                          QUrl::fromLocalFile(page).toString()};
    // Chromium's sandbox refuses to start as root.
    if (geteuid() == 0)
        arguments.prepend(QStringLiteral("--no-sandbox"));
    QProcess browser;
    browser.setStandardOutputFile(QProcess::nullDevice());
    browser.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    browser.start(chromium, arguments);
    if (!browser.waitForFinished(120000) || browser.exitCode() != 0)
        return -1;
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

CHATWHARF_BENCH_SCENARIO_NAMED(
    exportScenario, "export",
    "Export 100,000 text messages in 500 chats to TXT, CSV and HTML, 10,000 to PDF; open the first "
    "HTML page of a 200,000-message chat in Chromium")
{
    const qint64 n = bench::messageCount(args, 100000);
    if (n < 0)
        return 2;
    const qint64 chats = bench::scaled(500, n, 100000, 1);
    MessageText::setPictureFolder(QCoreApplication::applicationDirPath() + QStringLiteral("/../src"));

    testsupport::MessageFixture records;
    QList<_ViberChat *> chatList;
    for (qint64 c = 0; c < chats; ++c) {
        _ViberPerson *person =
            records.addPerson(QStringLiteral("Person %1").arg(c), QStringLiteral("+49%1").arg(c));
        chatList.append(records.addChat(QString(), {person}));
    }
    const QDateTime start(QDate(2015, 3, 1), QTime(8, 0));
    for (qint64 i = 0; i < n; ++i)
        records.addMessage(
            chatList.at(i % chats), ViberMsgTypeText, start.addSecs(i * 37), i % 2 == 0,
            QStringLiteral("Message number %1, with a comma and \"quotes\" \U0001F600").arg(i));
    const QList<_ViberMsg *> all = records.messages();
    const double recordsMb = bench::peakResidentMb();

    QTemporaryDir out;
    const double txt =
        exportSeconds(all, out.filePath(QStringLiteral("all.txt")), ExportMessagesThread::Text);
    const double csv = exportSeconds(all, out.filePath(QStringLiteral("all.csv")), ExportMessagesThread::Csv);
    const double json =
        exportSeconds(all, out.filePath(QStringLiteral("all.json")), ExportMessagesThread::Json);
    const double html = exportSeconds(all, out.filePath(QStringLiteral("html")), ExportMessagesThread::Html);
    const double pdf = exportSeconds(all.mid(0, bench::scaled(10000, n, 100000, 1)),
                                     out.filePath(QStringLiteral("pdf")), ExportMessagesThread::Pdf);
    if (txt < 0 || csv < 0 || json < 0 || html < 0 || pdf < 0)
        return 1;
    const double peak = bench::peakResidentMb();

    // One chat of twice as many messages: the browser opens its first page.
    double open = -1, blank = -1;
    {
        testsupport::MessageFixture big;
        _ViberChat *chat =
            big.addChat(QString(), {big.addPerson(QStringLiteral("Ann"), QStringLiteral("+491"))});
        const qint64 count = bench::scaled(200000, n, 100000, 1);
        for (qint64 i = 0; i < count; ++i)
            big.addMessage(chat, ViberMsgTypeText, start.addSecs(i * 37), i % 2 == 0,
                           QStringLiteral("Message number %1 of a long chat, see www.example.org").arg(i));
        const QString folder = out.filePath(QStringLiteral("long-html"));
        ExportMessagesThread worker(big.messages(), folder, ExportMessagesThread::Html);
        worker.start();
        worker.wait();
        if (worker.outcome() == WorkerThread::Outcome::Succeeded && !worker.chatFiles().isEmpty()) {
            // The browser's own start, with a page of nothing, measured beside it.
            const QString empty = out.filePath(QStringLiteral("empty.html"));
            QFile file(empty);
            if (file.open(QIODevice::WriteOnly))
                file.write("<html><body></body></html>");
            file.close();
            blank = browserOpenSeconds(empty);
            open = browserOpenSeconds(worker.chatFiles().first());
        }
    }
    bench::figure(QStringLiteral("export_txt_s"), txt, QStringLiteral("s"));
    bench::figure(QStringLiteral("export_csv_s"), csv, QStringLiteral("s"));
    bench::figure(QStringLiteral("export_json_s"), json, QStringLiteral("s"));
    bench::figure(QStringLiteral("export_html_s"), html, QStringLiteral("s"));
    bench::figure(QStringLiteral("export_pdf_s"), pdf, QStringLiteral("s"));
    // Chromium opening the first page of a chat of 200,000 messages, and a blank page.
    if (open >= 0) {
        bench::figure(QStringLiteral("export_html_open_s"), open, QStringLiteral("s"));
        bench::figure(QStringLiteral("export_html_open_blank_s"), blank, QStringLiteral("s"));
        // The page's own share, beside the browser's start, which varies most with the machine.
        bench::figure(QStringLiteral("export_html_open_page_s"), open - blank, QStringLiteral("s"));
    }
    bench::figure(QStringLiteral("records_mb"), recordsMb, QStringLiteral("MB"));
    bench::figure(QStringLiteral("export_peak_mb"), peak, QStringLiteral("MB"));
    // What the exports needed beyond the records they read.
    bench::figure(QStringLiteral("export_extra_mb"), peak - recordsMb, QStringLiteral("MB"));
    return 0;
}

CHATWHARF_BENCH_SCENARIO_NAMED(exportLongMessage, "export-long",
                               "Export one text message of 50 MB (--mb N for another size) to PDF")
{
    qint64 megabytes = 50;
    if (const qsizetype at = args.indexOf(QStringLiteral("--mb")); at >= 0) {
        bool ok = false;
        megabytes = args.value(at + 1).toLongLong(&ok);
        if (!ok || megabytes <= 0) {
            std::fprintf(stderr, "--mb needs a positive number\n");
            return 2;
        }
    }
    MessageText::setPictureFolder(QCoreApplication::applicationDirPath() + QStringLiteral("/../src"));
    // Words of many lengths, as someone pasting a book writes them: one paragraph,
    // no line break for the layout to rest on.
    static const char *const words[] = {"the",   "message", "of",     "a",         "length",  "no",
                                        "phone", "would",   "send,",  "yet",       "stores",  "hold.",
                                        "Über",  "naïve",   "façade", "Ωmega",     "data",    "page",
                                        "x",     "long",    "word",   "exporting", "cancel.", "and"};
    const qint64 size = megabytes * 1000 * 1000;
    QString text;
    text.reserve(size);
    for (quint32 seed = 1; text.size() < size;) {
        seed = seed * 1103515245u + 12345u;
        text += QString::fromUtf8(words[(seed >> 16) % (sizeof words / sizeof *words)]);
        text += QLatin1Char(' ');
    }
    text.truncate(size);
    testsupport::MessageFixture records;
    _ViberChat *chat =
        records.addChat(QString(), {records.addPerson(QStringLiteral("Ann"), QStringLiteral("+1"))});
    records.addMessage(chat, ViberMsgTypeText, QDateTime(QDate(2015, 3, 1), QTime(8, 0)), false, text);
    text.clear();
    text.squeeze();
    const double recordsMb = bench::peakResidentMb();

    QTemporaryDir out;
    const double pdf =
        exportSeconds(records.messages(), out.filePath(QStringLiteral("pdf")), ExportMessagesThread::Pdf);
    if (pdf < 0)
        return 1;
    const QString name = QStringLiteral("export_pdf_%1mb").arg(megabytes);
    bench::figure(name + QStringLiteral("_s"), pdf, QStringLiteral("s"));
    bench::figure(name + QStringLiteral("_peak_mb"), bench::peakResidentMb(), QStringLiteral("MB"));
    bench::figure(QStringLiteral("records_mb"), recordsMb, QStringLiteral("MB"));
    return 0;
}
