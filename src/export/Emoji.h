#pragma once

#include <QMap>
#include <QString>
#include <QStringView>

// Emoji in message texts, and the names of their pictures.
//
// An emoji is a whole sequence of current Unicode as its emoji test data lists it
// (built in, see EmojiTable.h): a single character, a keycap, a flag, a skin tone,
// a family joined by U+200D, each qualified or not. Old stores also hold the
// carrier emoji of the private-use block U+E000..U+E537: those with a Unicode
// counterpart stand for it; the others, which no font draws, keep a picture of their own.
//
// A picture is named by its code points in upper-case hexadecimal of at least four
// digits, joined by "-", without U+FE0F, so that the qualified and unqualified
// forms of an emoji share it: "1F604", "0023-20E3", "1F468-200D-1F469-200D-1F466".
class Emoji
{
public:
    struct Match
    {
        qsizetype position = -1; // -1: no emoji
        qsizetype length = 0;
        QString picture; // the picture's name, without folder and ".png"
    };

    // The first emoji at or after from, the longest sequence where several start at
    // one place. Linear in the text: a sequence is at most a few code points long.
    static Match find(QStringView text, qsizetype from);

    // True when the text holds a carrier emoji: only then does withUnicodeEmoji change it.
    static bool hasCarrierEmoji(QStringView text);

    // The text with each carrier emoji written as its Unicode emoji, or as the
    // placeholder where it has none; everything else stays as it is.
    static QString withUnicodeEmoji(const QString &text, const QString &placeholder);

    // Every picture find() can name, with the text to draw for it: the fully
    // qualified emoji, or nothing for a carrier emoji without a Unicode counterpart.
    static const QMap<QString, QString> &pictures();
};
