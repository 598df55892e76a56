#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Scenarios register themselves at static-initialisation time; main() runs one by name.
namespace bench {

using Scenario = std::function<int(const QStringList &args)>;

// What "--messages N" sizes in a scenario, for "all", which hands its N on only to those
// it counts messages in: megabytes or manifest records of a million would run for hours.
enum class Size {
    Messages,
    Own,   // N counts something else; "all" runs the scenario at its own default
    Group, // runs other scenarios; "all" runs those itself
};

struct Registrar
{
    Registrar(const char *name, const char *description, Scenario fn, Size size = Size::Messages);
};

// Runs the scenario called name; 2 when there is none.
int runScenario(const QString &name, const QStringList &args);

// Prints one figure on a line of its own, as the tooling expects.
void figure(const QString &name, double value, const QString &unit);

// Peak resident set size of this process so far, in megabytes.
double peakResidentMb();
// Seconds a run of program with arguments takes (its output discarded, its errors
// shown); -1 when it could not run or failed.
double processSeconds(const QString &program, const QStringList &arguments);

// The size of a run: N from "--messages N" among args, else defaultCount; -1
// (after saying why) when N is not a positive number. Printed as the run's first
// figure, "messages N count", so that figures of runs of several sizes can be told apart.
qint64 messageCount(const QStringList &args, qint64 defaultCount);

// count grown or shrunk with the run: count * messages / defaultMessages, at least minimum.
qint64 scaled(qint64 count, qint64 messages, qint64 defaultMessages, qint64 minimum = 1);

} // namespace bench

#define CHATWHARF_BENCH_SCENARIO(ident, description)                                                         \
    CHATWHARF_BENCH_SCENARIO_NAMED(ident, #ident, description)

// For a scenario whose name is no C++ identifier (a keyword such as "export").
#define CHATWHARF_BENCH_SCENARIO_NAMED(ident, name, description)                                             \
    CHATWHARF_BENCH_SCENARIO_SIZED(ident, name, bench::Size::Messages, description)

// For a scenario whose N is no message count (size is a bench::Size).
#define CHATWHARF_BENCH_SCENARIO_SIZED(ident, name, size, description)                                       \
    static int ident(const QStringList &args);                                                               \
    static bench::Registrar ident##_registrar(name, description, ident, size);                               \
    static int ident(const QStringList &args)
