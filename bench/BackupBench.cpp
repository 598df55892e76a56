#include "BenchRegistry.h"

// The backup figures together: reading large manifests of both layouts, decrypting a
// large data file and unlocking a current backup beside the openssl tool. --messages N counts manifest
// records.
CHATWHARF_BENCH_SCENARIO_SIZED(backup, "backup", bench::Size::Group,
                               "Manifest.mbdb and Manifest.db of 300,000 records read, 256 MB decrypted and "
                               "a current backup unlocked beside openssl")
{
    const int manifest = bench::runScenario(QStringLiteral("backup-mbdb"), args);
    const int decrypt = bench::runScenario(QStringLiteral("backup-decrypt"), {});
    const int newer = bench::runScenario(QStringLiteral("backup-newer"), args);
    return manifest != 0 ? manifest : decrypt != 0 ? decrypt : newer;
}
