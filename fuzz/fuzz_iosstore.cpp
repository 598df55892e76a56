#include "FuzzSupport.h"

#include "viber/IOSViberDb.h"
#include "viber/ViberData.h"

#include <QDir>

#include <exception>

CHATWHARF_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString root = fuzzsupport::scratchFolder() + QStringLiteral("/store");
    static const QString documents = root + QStringLiteral("/Documents");
    static const bool made = QDir().mkpath(documents);
    if (!made)
        fuzzsupport::fail("cannot make the store folder");
    const QByteArray bytes = fuzzsupport::bytesOf(data, size);
    fuzzsupport::writeFile(documents + QStringLiteral("/Contacts.data"), bytes);
    try {
        IOSViberDb store(QDir(root), QStringLiteral("Documents/Contacts.data"));
        (void)store.load();
    } catch (const std::exception &) {
    }
    if (fuzzsupport::readFile(documents + QStringLiteral("/Contacts.data")) != bytes)
        fuzzsupport::fail("loading changed the store");
    if (QDir(documents).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot).size() != 1)
        fuzzsupport::fail("loading left a file beside the store");
    return 0;
}
