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
    // A transfer rewrites the manifest it read: what was read is written and read back alike.
    static const QString rewritten = fuzzsupport::scratchFolder() + QStringLiteral("/Rewritten.mbdb");
    QList<MbdbRecord> records = BackupManifest::readMbdbRecords(path);
    try {
        BackupManifest::writeMbdb(records, rewritten);
    } catch (const std::runtime_error &) {
        fuzzsupport::fail("records read could not be written");
    }
    const QList<MbdbRecord> back = BackupManifest::readMbdbRecords(rewritten);
    if (back.size() != records.size())
        fuzzsupport::fail("a rewritten manifest holds another number of records");
    for (qsizetype i = 0; i < back.size(); ++i) {
        const MbdbRecord &a = records.at(i), &b = back.at(i);
        if (a.domain != b.domain || a.path != b.path || a.linkTarget != b.linkTarget ||
            a.dataHash != b.dataHash || a.encryptionKey != b.encryptionKey || a.mode != b.mode ||
            a.inodeHigh != b.inodeHigh || a.inodeLow != b.inodeLow || a.uid != b.uid || a.gid != b.gid ||
            a.mtime != b.mtime || a.atime != b.atime || a.ctime != b.ctime || a.size != b.size ||
            a.protectionClass != b.protectionClass || a.properties != b.properties)
            fuzzsupport::fail("a rewritten manifest reads back different");
    }
    return 0;
}
