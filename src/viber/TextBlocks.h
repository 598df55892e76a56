#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include "StoredText.h"

// Texts of many records that are made together (one load of a store) kept side by
// side in shared blocks instead of an allocation each: for a text of a typical
// message, the string header, the allocator's header and its rounding cost a fifth
// of its size. Each string holds a reference to its block like any shared string,
// so copies stay valid when the records and the TextBlocks are gone, and a change
// copies the text out first. A block is freed with the last string of it.
class TextBlocks
{
public:
    TextBlocks() = default;
    TextBlocks(const TextBlocks &) = delete;
    TextBlocks &operator=(const TextBlocks &) = delete;
    ~TextBlocks();

    // A string equal to text. Empty and null strings are returned as they are, long
    // ones (which would waste a block's rest) as a copy of their own size.
    QString keep(const QString &text);
    // The bytes decoded as QString::fromUtf8 does; a null view gives a null string.
    QString fromUtf8(QByteArrayView utf8);
    // A message's text, reading as fromUtf8 gives it: kept as UTF-8 when that is valid and
    // smaller than UTF-16.
    StoredText messageText(QByteArrayView utf8);

    // Units of a block; a text of a quarter of it or more gets an allocation of its own.
    static constexpr qsizetype kBlockUnits = 8192;

private:
    using Block = QTypedArrayData<char16_t>;
    using ByteBlock = QTypedArrayData<char>;

    // Room for units characters and a terminating null in the current block, a new
    // one when it is full.
    char16_t *reserve(qsizetype units);
    // The string of the units just written at start (its null written too).
    QString commit(char16_t *start, qsizetype units);
    void release();

    // Decodes as QString::fromUtf8 does (a leading byte order mark is dropped).
    QStringDecoder m_decoder{QStringDecoder::Utf8, QStringDecoder::Flag::Stateless};
    Block *m_block = nullptr; // holds one reference while it is current
    char16_t *m_free = nullptr;
    qsizetype m_left = 0;
    ByteBlock *m_byteBlock = nullptr; // as m_block, for UTF-8 texts
    char *m_byteFree = nullptr;
    qsizetype m_byteLeft = 0;
};
