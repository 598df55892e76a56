#include "TextBlocks.h"

#include <cstring>

TextBlocks::~TextBlocks()
{
    release();
}

void TextBlocks::release()
{
    if (m_block && !m_block->deref())
        Block::deallocate(m_block);
    m_block = nullptr;
    m_free = nullptr;
    m_left = 0;
}

char16_t *TextBlocks::reserve(qsizetype units)
{
    if (m_left < units + 1) {
        release();
        const auto [block, data] = Block::allocate(kBlockUnits);
        if (!block)
            qBadAlloc();
        m_block = block;
        m_free = data;
        m_left = kBlockUnits;
    }
    return m_free;
}

QString TextBlocks::commit(char16_t *start, qsizetype units)
{
    start[units] = u'\0';
    m_free = start + units + 1;
    m_left -= units + 1;
    m_block->ref();
    return QString(QString::DataPointer(m_block, start, units));
}

QString TextBlocks::keep(const QString &text)
{
    const qsizetype units = text.size();
    if (units == 0)
        return text;
    if (units >= kBlockUnits / 4)
        return text.capacity() > units ? QString(text.constData(), units) : text;
    char16_t *start = reserve(units);
    std::memcpy(start, text.utf16(), size_t(units) * sizeof(char16_t));
    return commit(start, units);
}

QString TextBlocks::fromUtf8(QByteArrayView utf8)
{
    const qsizetype bytes = utf8.size();
    if (bytes == 0 || bytes >= kBlockUnits / 4)
        return keep(QString::fromUtf8(utf8));
    // Decoded straight into the block: never more units than bytes.
    char16_t *start = reserve(m_decoder.requiredSpace(bytes));
    const QChar *end = m_decoder.appendToBuffer(reinterpret_cast<QChar *>(start), utf8);
    return commit(start, reinterpret_cast<const char16_t *>(end) - start);
}
