#include "FuzzSupport.h"

#include "device/CFType.h"

CHATWHARF_FUZZ_INIT

namespace {

// Reads every value the way the program does, down to the leaves.
void walk(const CFType &value, int depth)
{
    if (depth > 64)
        return;
    (void)value.toString();
    (void)value.toLongLong();
    (void)value.toInt();
    (void)value.toDouble();
    (void)value.toBool();
    (void)value.toByteArray();
    (void)value.toUid();
    (void)value.toDateTime();
    if (value.isDictionary()) {
        for (const QString &key : value.keys())
            walk(value.value(key), depth + 1);
    } else if (value.isArray()) {
        for (int i = 0; i < value.size(); ++i)
            walk(value.at(i), depth + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const CFType value = CFType::fromData(fuzzsupport::bytesOf(data, size));
    if (value.isNull())
        return 0;
    walk(value, 0);
    const CFType copy = value.deepCopy();
    walk(copy, 0);
    // What is written of a value accepted must parse again: backup files and
    // device messages are rewritten from what was read.
    for (const QByteArray &bytes : {value.toData(), value.toBinaryData()}) {
        if (bytes.isEmpty())
            continue;
        const CFType again = CFType::fromData(bytes);
        if (again.isNull())
            fuzzsupport::fail("a list written from a value read cannot be read back");
        walk(again, 0);
    }
    return 0;
}
