#include "FuzzSupport.h"

#include "viber/PCViberDb.h"
#include "viber/ViberData.h"

#include <QDir>

#include <exception>

CHATWHARF_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString folder = fuzzsupport::scratchFolder();
    static const QString path = folder + QStringLiteral("/viber.db");
    const QByteArray bytes = fuzzsupport::bytesOf(data, size);
    fuzzsupport::writeFile(path, bytes);
    try {
        PCViberDb store(path);
        (void)store.load();
    } catch (const std::exception &) {
    }
    if (fuzzsupport::readFile(path) != bytes)
        fuzzsupport::fail("loading changed viber.db");
    if (QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot).size() != 1)
        fuzzsupport::fail("loading left a file beside viber.db");
    return 0;
}
