#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <functional>

// Viber emoticon codes: bracketed words such as "(smiley)" that Viber draws as
// pictures, and the numbers by which its store refers to them.
class Emoticons
{
public:
    // Code (brackets included) to Viber emoticon number; 85 fixed entries.
    static const QHash<QString, int> &table();
    // The number of a code, or -1 when the code is not in the table.
    static int number(const QString &code);

    // One candidate emoticon code found in a text, positions in UTF-16 units.
    struct Match
    {
        qsizetype position = -1;
        qsizetype length = 0;
        QString code;
    };
    // The next bracketed run without brackets inside, at or after from; position -1 when none.
    static Match find(const QString &text, qsizetype from);

    // The store's emoticon ranges of a text: for each known code, three 32-bit
    // little-endian integers (position, length, number). Empty without known codes.
    static QByteArray ranges(const QString &text);
    // The same, calling checkCancel every few thousand bracketed runs so that a
    // caller can stop inside one long text by throwing from it.
    static QByteArray ranges(const QString &text, const std::function<void()> &checkCancel);
};
