#include "TextBlocks.h"

#include <cstring>

TextBlocks::~TextBlocks()
{
    release();
}

namespace {

// Lets go of the current block (freed with its last string), leaving none current.
template <typename Block> void letGo(Block *&block)
{
    if (block && !block->deref())
        Block::deallocate(block);
    block = nullptr;
}

// Lets go of the current block and makes a new one of units, returning where it starts.
template <typename Block, typename Unit> Unit *renew(Block *&block, qsizetype units)
{
    letGo(block);
    const auto [fresh, data] = Block::allocate(units);
    if (!fresh)
        qBadAlloc();
    block = fresh;
    return data;
}

} // namespace

void TextBlocks::release()
{
    letGo(m_block);
    m_free = nullptr;
    m_left = 0;
    letGo(m_byteBlock);
    m_byteFree = nullptr;
    m_byteLeft = 0;
}

char16_t *TextBlocks::reserve(qsizetype units)
{
    if (m_left < units + 1) {
        m_free = renew<Block, char16_t>(m_block, kBlockUnits);
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

StoredText TextBlocks::messageText(QByteArrayView utf8)
{
    const qsizetype bytes = utf8.size();
    // A leading byte order mark is dropped in decoding, and invalid bytes become
    // replacement characters: such texts are kept decoded, as are long ones.
    if (bytes == 0 || bytes >= kBlockUnits / 4 || utf8.startsWith("\xef\xbb\xbf") || !utf8.isValidUtf8())
        return StoredText(fromUtf8(utf8));
    // Its UTF-16 units: one for each byte that starts a character, two for four-byte ones.
    qsizetype units = 0;
    for (const char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        units += (b & 0xc0) != 0x80;
        units += b >= 0xf0;
    }
    if (bytes > 2 * units) // mostly three-byte characters, as in Chinese
        return StoredText(fromUtf8(utf8));
    if (m_byteLeft < bytes) {
        m_byteFree = renew<ByteBlock, char>(m_byteBlock, 2 * kBlockUnits);
        m_byteLeft = 2 * kBlockUnits;
    }
    char *start = m_byteFree;
    std::memcpy(start, utf8.data(), size_t(bytes));
    m_byteFree += bytes;
    m_byteLeft -= bytes;
    return StoredText::inUtf8Block(m_byteBlock, start, bytes);
}
