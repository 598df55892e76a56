#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Scenarios register themselves at static-initialisation time; main() runs one by name.
namespace bench {

using Scenario = std::function<int(const QStringList &args)>;

struct Registrar
{
    Registrar(const char *name, const char *description, Scenario fn);
};

// Prints one figure on a line of its own, as the tooling expects.
void figure(const QString &name, double value, const QString &unit);

// Peak resident set size of this process so far, in megabytes.
double peakResidentMb();

} // namespace bench

#define CHATWHARF_BENCH_SCENARIO(ident, description)                                                         \
    static int ident(const QStringList &args);                                                               \
    static bench::Registrar ident##_registrar(#ident, description, ident);                                   \
    static int ident(const QStringList &args)
