#include "FuzzSupport.h"

#include "itunes/ManifestDb.h"

#include <stdexcept>

CHATWHARF_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray archive = fuzzsupport::bytesOf(data, size);
    MbdbRecord record;
    record.domain = MbdbString::fromText(QStringLiteral("AppDomain-com.viber"));
    record.path = MbdbString::fromText(QStringLiteral("Documents/Contacts.data"));
    bool readable = true;
    try {
        ManifestDb::decodeFile(archive, record);
    } catch (const std::runtime_error &) {
        readable = false;
    }
    // Read straight from the bytes or through libplist's tree, an archive gives one record or none.
    MbdbRecord tree = record;
    bool treeReadable = true;
    try {
        ManifestDb::decodeFileThroughTree(archive, tree);
    } catch (const std::runtime_error &) {
        treeReadable = false;
    }
    if (treeReadable != readable ||
        (readable &&
         (tree.mode != record.mode || tree.inodeHigh != record.inodeHigh ||
          tree.inodeLow != record.inodeLow || tree.uid != record.uid || tree.gid != record.gid ||
          tree.mtime != record.mtime || tree.atime != record.atime || tree.ctime != record.ctime ||
          tree.size != record.size || tree.protectionClass != record.protectionClass ||
          tree.linkTarget != record.linkTarget || tree.encryptionKey != record.encryptionKey ||
          tree.dataHash != record.dataHash)))
        fuzzsupport::fail("an archive reads differently from its bytes and through libplist");
    record.size = 1234, record.mtime = 1420000000, record.mode = 0100644;
    // An archive that could be read stays readable, with the record's new values; a
    // damaged one may keep its damage beside them.
    const QByteArray updated = ManifestDb::updatedFile(archive, record);
    if (!readable)
        return 0;
    MbdbRecord back;
    try {
        ManifestDb::decodeFile(updated, back);
    } catch (const std::runtime_error &e) {
        std::fprintf(stderr, "%s\n", e.what());
        fuzzsupport::fail("an updated archive cannot be read back");
    }
    if (back.size != record.size || back.mtime != record.mtime)
        fuzzsupport::fail("an updated archive lost the record's size or time");
    return 0;
}
