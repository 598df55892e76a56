#include "FuzzSupport.h"

#include "itunes/BackupManifest.h"

#include <stdexcept>

CHATWHARF_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = fuzzsupport::scratchFolder() + QStringLiteral("/Manifest.mbdb");
    fuzzsupport::writeFile(path, fuzzsupport::bytesOf(data, size));
    try {
        for (const MbdbRecord &record : BackupManifest::readMbdbRecords(path)) {
            (void)record.isFolder();
            (void)record.isSafe();
        }
    } catch (const std::runtime_error &) {
        return 0; // a damaged file is refused with a sentence: what must happen
    }
    try {
        (void)BackupManifest::readMbdb(path);
    } catch (const std::runtime_error &) {
        fuzzsupport::fail("readMbdb refused what readMbdbRecords read");
    }
    return 0;
}
