#include "BenchRegistry.h"

#include "export/MessageText.h"
#include "viber/Emoticons.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

// Best of three, in seconds, so that no figure pays for a cold start.
double bestSeconds(const std::function<qsizetype()> &work)
{
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer timer;
        timer.start();
        const qsizetype size = work();
        best = std::min(best, timer.nsecsElapsed() / 1e9);
        if (size <= 0)
            return -1;
    }
    return best;
}

// A message text of about chars units: codes, markup characters, line breaks and emoji.
QString mixedText(qsizetype chars)
{
    const QString unit = QStringLiteral("(smiley) a&b<c> (sad)\n") + QString::fromUcs4(U"\U0001F604");
    return unit.repeated(chars / unit.size());
}

} // namespace

CHATWHARF_BENCH_SCENARIO_SIZED(text, "text", bench::Size::Own,
                               "Emoticon ranges and HTML of 40,000 codes and of a 4.8 MB message text")
{
    // N counts the emoticon codes of the first text; the long text grows with it.
    const qint64 n = bench::messageCount(args, 40000);
    if (n < 0)
        return 2;
    QTemporaryDir pictures;
    QDir().mkpath(pictures.filePath(QStringLiteral("vb_emoji")));
    QFile picture(pictures.filePath(QStringLiteral("vb_emoji/(smiley).png")));
    if (!picture.open(QIODevice::WriteOnly) || picture.write("png") != 3) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(picture.fileName()));
        return 1;
    }
    picture.close();
    MessageText::setPictureFolder(pictures.path());

    const QString codes = QStringLiteral("(smiley)").repeated(n);
    const QString big = mixedText(bench::scaled(4800000, n, 40000, 1000));
    const QString twice = mixedText(2 * bench::scaled(4800000, n, 40000, 1000));
    const double ranges40k = bestSeconds([&] { return Emoticons::ranges(codes).size(); });
    const double html40k = bestSeconds([&] { return MessageText::messageHtml(codes).size(); });
    const double rangesBig = bestSeconds([&] { return Emoticons::ranges(big).size(); });
    const double htmlBig = bestSeconds([&] { return MessageText::messageHtml(big).size(); });
    const double htmlTwice = bestSeconds([&] { return MessageText::messageHtml(twice).size(); });
    if (ranges40k < 0 || html40k < 0 || rangesBig < 0 || htmlBig < 0 || htmlTwice < 0) {
        std::fprintf(stderr, "a text gave no output\n");
        return 1;
    }
    bench::figure(QStringLiteral("ranges_40k_codes_s"), ranges40k, QStringLiteral("s"));
    bench::figure(QStringLiteral("html_40k_codes_s"), html40k, QStringLiteral("s"));
    bench::figure(QStringLiteral("ranges_4m8_s"), rangesBig, QStringLiteral("s"));
    bench::figure(QStringLiteral("html_4m8_s"), htmlBig, QStringLiteral("s"));
    // About 2 while the HTML stays linear in the text's length.
    bench::figure(QStringLiteral("html_double_ratio"), htmlTwice / htmlBig, QStringLiteral("x"));
    return 0;
}
