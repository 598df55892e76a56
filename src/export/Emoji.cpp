#include "Emoji.h"

#include <algorithm>
#include <iterator>

namespace {

// The symbols outside the private-use block that Viber shows as emoji, sorted.
constexpr char16_t kSymbols[] = {
    0x203C, 0x2049, 0x2139, 0x2194, 0x2195, 0x21A9, 0x21AA, 0x231A, 0x231B, 0x23EB, 0x23EC,
    0x23F0, 0x23F3, 0x24C2, 0x25AA, 0x25AB, 0x25FB, 0x25FC, 0x25FD, 0x25FE, 0x2611, 0x267B,
    0x2693, 0x26AA, 0x26AB, 0x26C5, 0x26D4, 0x2705, 0x2709, 0x270F, 0x2712, 0x2714, 0x2744,
    0x2747, 0x274E, 0x2795, 0x2796, 0x2797, 0x27B0, 0x2934, 0x2935, 0x2B1B, 0x2B1C, 0x3030,
};

} // namespace

bool Emoji::isSingleCharEmoji(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= 0xE000 && u <= 0xE537)
        return true;
    return std::binary_search(std::begin(kSymbols), std::end(kSymbols), u);
}

bool Emoji::isEmojiHighSurrogate(QChar c)
{
    return c.unicode() == 0xD83C || c.unicode() == 0xD83D;
}

QString Emoji::code(char32_t codePoint)
{
    return QString::number(quint32(codePoint), 16).toUpper();
}

QString Emoji::replace(const QString &text, const Replacement &replacement)
{
    // Pass 1: single units. A replacement may itself contain characters of the
    // pair class; they are replaced in pass 2, in the order the classes are defined.
    QString pass1;
    pass1.reserve(text.size());
    for (QChar c : text) {
        if (isSingleCharEmoji(c))
            pass1 += replacement(code(c.unicode()));
        else
            pass1 += c;
    }

    // Pass 2: surrogate pairs. Only a real pair counts: a lone high surrogate
    // (broken store text) is left alone rather than swallowing the next character.
    QString result;
    result.reserve(pass1.size());
    for (qsizetype i = 0; i < pass1.size(); ++i) {
        const QChar c = pass1.at(i);
        if (isEmojiHighSurrogate(c) && i + 1 < pass1.size() && pass1.at(i + 1).isLowSurrogate()) {
            result += replacement(code(QChar::surrogateToUcs4(c, pass1.at(i + 1))));
            ++i;
        } else {
            result += c;
        }
    }
    return result;
}
