#include "FuzzSupport.h"

#include "itunes/BackupKeyBag.h"

#include <stdexcept>

using namespace Qt::StringLiterals;

CHATWHARF_FUZZ_INIT

namespace {

// Real bags ask for ten million rounds: only bags asking for a few are unlocked,
// so that a run stays a matter of microseconds.
constexpr quint32 kMostRounds = 64;

quint32 rounds(const BackupKeyBag::TagMap &values, const QString &tag)
{
    const QByteArray value = values.value(tag);
    if (value.size() < 4)
        return 0;
    return quint32(uchar(value[0])) << 24 | quint32(uchar(value[1])) << 16 | quint32(uchar(value[2])) << 8 |
           quint32(uchar(value[3]));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    try {
        BackupKeyBag bag(fuzzsupport::bytesOf(data, size), u"/fuzz/Manifest.plist"_s);
        if (rounds(bag.header(), u"ITER"_s) > kMostRounds || rounds(bag.header(), u"DPIC"_s) > kMostRounds)
            return 0;
        if (!bag.unlock(QByteArrayLiteral("password")))
            return 0;
        const QByteArray wrapped(40, '\x5a');
        for (auto it = bag.classes().cbegin(); it != bag.classes().cend(); ++it) {
            try {
                (void)bag.fileKey(int(it.key()), wrapped, u"file"_s);
            } catch (const std::runtime_error &) {
            }
        }
    } catch (const std::runtime_error &) {
    }
    return 0;
}
