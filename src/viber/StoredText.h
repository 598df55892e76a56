#pragma once

#include <QAnyStringView>
#include <QString>

#include <utility>

// A message's text as its record holds it. A load keeps a text as the UTF-8 it read,
// in blocks shared by many texts, when that is smaller than UTF-16 (for most texts
// about half; texts are most of a large store's memory). Any other text keeps its
// UTF-16 data as the QString it came from did, shared with it. toString() gives the
// QString the rest of the program works with (for UTF-8 a new one each time); view()
// reads the text without making one.
class StoredText
{
public:
    StoredText() noexcept = default;
    explicit StoredText(const QString &text) noexcept;
    StoredText(const StoredText &other) noexcept;
    StoredText(StoredText &&other) noexcept;
    StoredText &operator=(StoredText other) noexcept
    {
        swap(other);
        return *this;
    }
    StoredText &operator=(const QString &text) noexcept { return *this = StoredText(text); }
    ~StoredText();

    // size bytes of UTF-8 at utf8, inside block, which gains a reference. The bytes must
    // be valid UTF-8 without a leading byte order mark: decoding then drops or replaces
    // nothing, so the text is empty only when the bytes are.
    static StoredText inUtf8Block(QArrayData *block, const char *utf8, qsizetype size) noexcept;

    QString toString() const;
    QAnyStringView view() const noexcept
    {
        if (isUtf8())
            return QUtf8StringView(static_cast<const char *>(m_ptr), ~m_size);
        return QStringView(static_cast<const char16_t *>(m_ptr), m_size);
    }
    bool isNull() const noexcept { return !m_ptr; }
    bool isEmpty() const noexcept { return m_size == 0; }
    bool isUtf8() const noexcept { return m_size < 0; }
    // Where the characters lie, to fetch them ahead of a read.
    const void *constData() const noexcept { return m_ptr; }

    void swap(StoredText &other) noexcept
    {
        std::swap(m_d, other.m_d);
        std::swap(m_ptr, other.m_ptr);
        std::swap(m_size, other.m_size);
    }

    // Equal characters, however each is held; a null text equals an empty one, as with QString.
    friend bool operator==(const StoredText &a, const StoredText &b) noexcept
    {
        return QAnyStringView::equal(a.view(), b.view());
    }
    friend bool operator!=(const StoredText &a, const StoredText &b) noexcept { return !(a == b); }
    friend bool operator==(const StoredText &a, const QString &b) noexcept
    {
        return QAnyStringView::equal(a.view(), b);
    }
    friend bool operator!=(const StoredText &a, const QString &b) noexcept { return !(a == b); }
    friend bool operator==(const QString &a, const StoredText &b) noexcept { return b == a; }
    friend bool operator!=(const QString &a, const StoredText &b) noexcept { return !(b == a); }
    friend bool operator==(const StoredText &a, QStringView b) noexcept
    {
        return QAnyStringView::equal(a.view(), b);
    }
    friend bool operator!=(const StoredText &a, QStringView b) noexcept { return !(a == b); }

private:
    QArrayData *m_d = nullptr;   // holds a reference; none for static data
    const void *m_ptr = nullptr; // none for a null text
    qsizetype m_size = 0;        // UTF-16 units, or the complement of the UTF-8 bytes
};
