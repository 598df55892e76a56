#include "FuzzSupport.h"

#include "itunes/ManifestDb.h"

#include <QDir>

#include <stdexcept>

CHATWHARF_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = fuzzsupport::scratchFolder() + QStringLiteral("/Manifest.db");
    const QByteArray bytes = fuzzsupport::bytesOf(data, size);
    fuzzsupport::writeFile(path, bytes);
    try {
        QHash<QString, QByteArray> archives;
        (void)ManifestDb::readRecords(path, &archives);
    } catch (const std::runtime_error &) {
    }
    // Reading never writes: not the file, nor a journal beside it.
    if (fuzzsupport::readFile(path) != bytes)
        fuzzsupport::fail("reading changed Manifest.db");
    if (QDir(fuzzsupport::scratchFolder()).entryList(QDir::Files).size() != 1)
        fuzzsupport::fail("reading left a file beside Manifest.db");
    return 0;
}
