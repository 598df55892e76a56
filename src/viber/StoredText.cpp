#include "StoredText.h"

// The data pointer is only read: the non-const accessor merely lacks a const twin.
StoredText::StoredText(const QString &text) noexcept
    : m_d(const_cast<QString &>(text).data_ptr().d_ptr()), m_ptr(text.data_ptr().data()), m_size(text.size())
{
    if (m_d)
        m_d->ref();
}

StoredText::StoredText(const StoredText &other) noexcept
    : m_d(other.m_d), m_ptr(other.m_ptr), m_size(other.m_size)
{
    if (m_d)
        m_d->ref();
}

StoredText::StoredText(StoredText &&other) noexcept
{
    swap(other);
}

StoredText::~StoredText()
{
    if (m_d && !m_d->deref()) {
        if (isUtf8())
            QTypedArrayData<char>::deallocate(m_d);
        else
            QTypedArrayData<char16_t>::deallocate(m_d);
    }
}

StoredText StoredText::inUtf8Block(QArrayData *block, const char *utf8, qsizetype size) noexcept
{
    StoredText text;
    block->ref();
    text.m_d = block;
    text.m_ptr = utf8;
    text.m_size = ~size;
    return text;
}

QString StoredText::toString() const
{
    if (isUtf8())
        return QString::fromUtf8(static_cast<const char *>(m_ptr), ~m_size);
    if (m_d)
        m_d->ref();
    return QString(QString::DataPointer(static_cast<QTypedArrayData<char16_t> *>(m_d),
                                        static_cast<char16_t *>(const_cast<void *>(m_ptr)), m_size));
}
