#include "FuzzSupport.h"

#include "viber/TinyKv.h"

CHATWHARF_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QVariantMap map;
    if (!tinykv::deserialize(fuzzsupport::bytesOf(data, size), map))
        return 0;
    // What was read must be written and read back alike. Compared as bytes, since a
    // NaN read from a store is unequal to itself as a QVariant.
    QByteArray written;
    if (!tinykv::serialize(map, written))
        fuzzsupport::fail("a map read could not be written");
    QVariantMap again;
    if (!tinykv::deserialize(written, again))
        fuzzsupport::fail("a map written could not be read");
    if (again.keys() != map.keys() || tinykv::serialize(again) != written)
        fuzzsupport::fail("a map written and read back differs");
    return 0;
}
