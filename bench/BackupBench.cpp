#include "BenchRegistry.h"

// The backup figures together: reading a large manifest, and decrypting a large
// data file beside the openssl tool. --messages N counts manifest records.
CHATWHARF_BENCH_SCENARIO(backup, "Manifest.mbdb of 300,000 records read, 256 MB decrypted beside openssl")
{
    const int manifest = bench::runScenario(QStringLiteral("backup-mbdb"), args);
    const int decrypt = bench::runScenario(QStringLiteral("backup-decrypt"), {});
    return manifest != 0 ? manifest : decrypt;
}
