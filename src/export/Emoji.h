#pragma once

#include <QString>

#include <functional>

// Emoji characters as Viber's iOS store holds them, and their picture codes.
//
// Two classes are recognised: single UTF-16 units (the private-use block
// U+E000..U+E537 of the old carrier emoji sets plus a fixed list of symbols), and
// characters outside the BMP whose high surrogate is D83C or D83D (U+1F000..U+1F7FF).
class Emoji
{
public:
    // Receives the emoji code ("E415", "1F604") and returns what replaces the emoji.
    using Replacement = std::function<QString(const QString &code)>;

    // True for a unit of the single-character class.
    static bool isSingleCharEmoji(QChar c);
    // True for a high surrogate that starts an emoji of the pair class.
    static bool isEmojiHighSurrogate(QChar c);

    // The code of an emoji: its code point in upper-case hexadecimal, no leading zeros.
    static QString code(char32_t codePoint);

    // The text with every single-character emoji replaced, then every pair emoji.
    static QString replace(const QString &text, const Replacement &replacement);
};
