#include "Emoji.h"

#include "EmojiTable.h"

#include <QHash>
#include <QList>
#include <QStringList>

#include <algorithm>
#include <string_view>

namespace {

constexpr char16_t kCarrierFirst = 0xE000;
constexpr char16_t kCarrierLast = 0xE537;

bool isCarrier(QChar c)
{
    return c.unicode() >= kCarrierFirst && c.unicode() <= kCarrierLast;
}

// The code point at i and the UTF-16 units it takes: a surrogate without its
// partner is one unit of its own, which no sequence contains.
char32_t codePointAt(QStringView text, qsizetype i, qsizetype *units)
{
    const QChar c = text[i];
    if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
        *units = 2;
        return QChar::surrogateToUcs4(c, text[i + 1]);
    }
    *units = 1;
    return c.unicode();
}

QString pictureName(std::u32string_view sequence)
{
    QStringList parts;
    for (char32_t cp : sequence)
        if (cp != 0xFE0F)
            parts.append(QStringLiteral("%1").arg(uint(cp), 4, 16, QLatin1Char('0')).toUpper());
    return parts.join(QLatin1Char('-'));
}

// The table's lists, each ended by a 0.
template <typename Visit> void forEachList(const char32_t *values, std::size_t size, Visit visit)
{
    const std::u32string_view all(values, size);
    for (std::size_t start = 0; start < all.size();) {
        const std::size_t end = all.find(U'\0', start);
        visit(all.substr(start, end - start));
        start = end + 1;
    }
}

// Every sequence as a path of code points from the root, node 0; the node where
// a sequence ends holds its picture's name. Built once, read by any thread.
class SequenceTree
{
public:
    static const SequenceTree &instance()
    {
        static const SequenceTree tree;
        return tree;
    }

    // -1 when no sequence goes on with this code point.
    qint32 child(qint32 node, char32_t cp) const { return m_children.value(key(node, cp), -1); }
    // Null where no sequence ends.
    const QString &picture(qint32 node) const { return m_pictures.at(node); }
    const QHash<char16_t, QString> &carrierText() const { return m_carrierText; }
    const QMap<QString, QString> &drawnText() const { return m_drawnText; }

private:
    SequenceTree();
    static quint64 key(qint32 node, char32_t cp) { return quint64(node) << 21 | cp; }
    void add(std::u32string_view sequence, const QString &picture);

    QHash<quint64, qint32> m_children;
    QList<QString> m_pictures;
    QHash<char16_t, QString> m_carrierText;
    QMap<QString, QString> m_drawnText;
};

SequenceTree::SequenceTree()
{
    m_pictures.append(QString());
    forEachList(EmojiTable::sequences, EmojiTable::sequencesSize, [this](std::u32string_view sequence) {
        const QString name = pictureName(sequence);
        add(sequence, name);
        // The fully qualified form is the longest: it carries every selector.
        const QString text = QString::fromUcs4(sequence.data(), qsizetype(sequence.size()));
        QString &drawn = m_drawnText[name];
        if (text.size() > drawn.size())
            drawn = text;
    });

    QHash<char16_t, std::u32string_view> counterparts;
    forEachList(EmojiTable::carrier, EmojiTable::carrierSize, [&counterparts](std::u32string_view list) {
        counterparts.insert(char16_t(list.front()), list.substr(1));
    });
    for (char32_t code = kCarrierFirst; code <= kCarrierLast; ++code) {
        const std::u32string_view single(&code, 1);
        const auto it = counterparts.constFind(char16_t(code));
        if (it == counterparts.constEnd()) {
            add(single, pictureName(single));
            m_drawnText.insert(pictureName(single), QString());
            continue;
        }
        add(single, pictureName(*it));
        m_carrierText.insert(char16_t(code), QString::fromUcs4(it->data(), qsizetype(it->size())));
    }
}

void SequenceTree::add(std::u32string_view sequence, const QString &picture)
{
    qint32 node = 0;
    for (char32_t cp : sequence) {
        auto it = m_children.find(key(node, cp));
        if (it == m_children.end()) {
            it = m_children.insert(key(node, cp), qint32(m_pictures.size()));
            m_pictures.append(QString());
        }
        node = *it;
    }
    m_pictures[node] = picture;
}

} // namespace

Emoji::Match Emoji::find(QStringView text, qsizetype from)
{
    const SequenceTree &tree = SequenceTree::instance();
    qsizetype units = 0;
    for (qsizetype i = std::max<qsizetype>(from, 0); i < text.size(); i += units) {
        codePointAt(text, i, &units);
        // Down the tree as far as the text follows it, remembering the last end.
        qint32 node = 0;
        qint32 found = 0;
        qsizetype end = i;
        for (qsizetype j = i; j < text.size();) {
            qsizetype n = 0;
            node = tree.child(node, codePointAt(text, j, &n));
            if (node < 0)
                break;
            j += n;
            if (!tree.picture(node).isNull()) {
                found = node;
                end = j;
            }
        }
        // U+FE0E asks for the character as text ("©︎"), unless a U+FE0F asked first.
        const bool asText = end < text.size() && text[end] == u'\uFE0E' && text[end - 1] != u'\uFE0F';
        if (end > i && !asText)
            return {i, end - i, tree.picture(found)};
    }
    return {};
}

bool Emoji::hasCarrierEmoji(QStringView text)
{
    return std::any_of(text.begin(), text.end(), isCarrier);
}

QString Emoji::withUnicodeEmoji(const QString &text, const QString &placeholder)
{
    if (!hasCarrierEmoji(text))
        return text;
    const QHash<char16_t, QString> &carrierText = SequenceTree::instance().carrierText();
    QString result;
    result.reserve(text.size() + 16);
    // Carrier codes lie in the BMP: no unit taken here is half of a pair.
    for (QChar c : text) {
        if (!isCarrier(c)) {
            result += c;
            continue;
        }
        const auto it = carrierText.constFind(c.unicode());
        result += it == carrierText.constEnd() ? placeholder : *it;
    }
    return result;
}

const QMap<QString, QString> &Emoji::pictures()
{
    return SequenceTree::instance().drawnText();
}
