#include "BenchRegistry.h"

#include "app/Platform.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

namespace {

struct Entry
{
    std::string description;
    bench::Scenario fn;
    bench::Size size;
};

std::map<std::string, Entry> &scenarios()
{
    static std::map<std::string, Entry> all;
    return all;
}

} // namespace

namespace bench {

Registrar::Registrar(const char *name, const char *description, Scenario fn, Size size)
{
    scenarios()[name] = Entry{description, std::move(fn), size};
}

int runScenario(const QString &name, const QStringList &args)
{
    const auto it = scenarios().find(name.toStdString());
    if (it == scenarios().end()) {
        std::fprintf(stderr, "unknown scenario: %s\n", qPrintable(name));
        return 2;
    }
    return it->second.fn(args);
}

void figure(const QString &name, double value, const QString &unit)
{
    std::printf("figure %s %.6g %s\n", qPrintable(name), value, qPrintable(unit));
    std::fflush(stdout);
}

double processSeconds(const QString &program, const QStringList &arguments)
{
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return -1;
    return timer.nsecsElapsed() / 1e9;
}

double peakResidentMb()
{
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0; // ru_maxrss is in kilobytes on Linux
}

qint64 messageCount(const QStringList &args, qint64 defaultCount)
{
    qint64 count = defaultCount;
    const qsizetype at = args.indexOf(QStringLiteral("--messages"));
    if (at >= 0) {
        bool ok = false;
        count = args.value(at + 1).toLongLong(&ok);
        if (!ok || count <= 0) {
            std::fprintf(stderr, "--messages needs a positive number\n");
            return -1;
        }
    }
    figure(QStringLiteral("messages"), double(count), QStringLiteral("count"));
    return count;
}

qint64 scaled(qint64 count, qint64 messages, qint64 defaultMessages, qint64 minimum)
{
    // In double: a million times a few thousand stays far inside its exact range.
    return std::max(minimum, qint64(double(count) * double(messages) / double(defaultMessages)));
}

} // namespace bench

// Every scenario, each in a process of its own so that none inherits another's peak memory,
// environment or files; all run even when one fails.
CHATWHARF_BENCH_SCENARIO_SIZED(all, "all", bench::Size::Group,
                               "Every scenario one after another, with every figure (--messages N "
                               "sizes those that count messages)")
{
    QStringList failed;
    for (const auto &[name, entry] : scenarios()) {
        if (entry.size == bench::Size::Group)
            continue;
        const QString scenario = QString::fromStdString(name);
        std::fprintf(stderr, "scenario %s\n", name.c_str());
        std::fflush(stdout);
        // What the last scenario wrote reaches the disk now, not during this one's syncs.
        ::sync();
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QCoreApplication::applicationFilePath(),
                      QStringList{scenario} + (entry.size == bench::Size::Messages ? args : QStringList()));
        if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0)
            failed << scenario;
    }
    if (!failed.isEmpty())
        std::fprintf(stderr, "failed: %s\n", qPrintable(failed.join(QStringLiteral(", "))));
    return failed.isEmpty() ? 0 : 1;
}

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    settleLocalTimeZone();
    // Widgets, since some scenarios drive the main window (and its web view).
    prepareWebEngineForUser();
    QApplication app(argc, argv);
    // The workers log each step; the figures are what a run prints.
    QLoggingCategory::setFilterRules(QStringLiteral("*.info=false"));
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        std::printf("usage: chatwharf-bench SCENARIO [--messages N]\nscenarios:\n");
        for (const auto &[name, entry] : scenarios())
            std::printf("  %-12s %s\n", name.c_str(), entry.description.c_str());
        return 0;
    }
    const QString name = args.takeFirst();
    return bench::runScenario(name, args);
}
