#include "BenchRegistry.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <map>
#include <string>

#include <sys/resource.h>

namespace {

struct Entry
{
    std::string description;
    bench::Scenario fn;
};

std::map<std::string, Entry> &scenarios()
{
    static std::map<std::string, Entry> all;
    return all;
}

} // namespace

namespace bench {

Registrar::Registrar(const char *name, const char *description, Scenario fn)
{
    scenarios()[name] = Entry{description, std::move(fn)};
}

void figure(const QString &name, double value, const QString &unit)
{
    std::printf("figure %s %.6g %s\n", qPrintable(name), value, qPrintable(unit));
    std::fflush(stdout);
}

double peakResidentMb()
{
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0; // ru_maxrss is in kilobytes on Linux
}

} // namespace bench

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    // Widgets, since some scenarios drive the main window.
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        std::printf("usage: chatwharf-bench SCENARIO\nscenarios:\n");
        for (const auto &[name, entry] : scenarios())
            std::printf("  %-12s %s\n", name.c_str(), entry.description.c_str());
        return 0;
    }
    const std::string name = args.takeFirst().toStdString();
    auto it = scenarios().find(name);
    if (it == scenarios().end()) {
        std::fprintf(stderr, "unknown scenario: %s\n", name.c_str());
        return 2;
    }
    return it->second.fn(args);
}
