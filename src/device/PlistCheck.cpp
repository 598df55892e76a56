#include "PlistCheck.h"

#include "BinaryPlist.h"

#include <plist/plist.h>

#include <QList>
#include <QString>
#include <QVector>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace plistcheck {

namespace {

// Estimated bytes libplist spends on one node, besides its payload.
constexpr quint64 kNodeCost = 96;

quint64 readBigEndian(const uchar *p, int size)
{
    quint64 v = 0;
    for (int i = 0; i < size; ++i)
        v = (v << 8) | p[i];
    return v;
}

double readDouble(const uchar *p)
{
    const quint64 bits = readBigEndian(p, 8);
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

bool dateInRange(double seconds)
{
    return seconds >= kDatesFrom && seconds < kDatesUntil; // false for NaN
}

// Follows libplist 2.2's XML reader (node_from_xml, get_text_parts) token by
// token, so that comments, CDATA, processing instructions, a DOCTYPE and quoted
// attribute values hide from this count exactly what they hide from the reader.
// Where the reader fails, the bytes are refused; where it stops, so does this.
class XmlScan
{
public:
    explicit XmlScan(const QByteArray &bytes) : m_pos(bytes.constData()), m_end(m_pos + bytes.size()) {}

    bool run()
    {
        // The reader copies tag names and compares texts as C strings: a NUL
        // would make it see names that this scan does not. No XML text holds
        // one; only what follows the end of the reading may.
        const char *begin = m_pos;
        return scan() && std::memchr(begin, 0, size_t(m_pos - begin)) == nullptr;
    }

private:
    bool scan();
    bool at(std::string_view s) const
    {
        return m_end - m_pos >= qsizetype(s.size()) && std::memcmp(m_pos, s.data(), s.size()) == 0;
    }
    void skipSpace()
    {
        while (m_pos < m_end && (*m_pos == ' ' || *m_pos == '\t' || *m_pos == '\r' || *m_pos == '\n'))
            ++m_pos;
    }
    void findChar(char c)
    {
        while (m_pos < m_end && *m_pos != c)
            ++m_pos;
    }
    // Stops before the string or short of the end by its length, as the reader
    // does; with quotes, skips quoted text on the way.
    void findString(std::string_view s, bool quotes);
    // Stops at one of the characters or at the end; with quotes, skips quoted
    // text.
    void findNext(std::string_view chars, bool quotes);
    // The text of a value up to and with its closing tag.
    bool skipText(std::string_view tag);

    const char *m_pos;
    const char *m_end;
};

void XmlScan::findString(std::string_view s, bool quotes)
{
    while (m_end - m_pos > qsizetype(s.size())) {
        if (std::memcmp(m_pos, s.data(), s.size()) == 0)
            return;
        if (quotes && *m_pos == '"') {
            ++m_pos;
            findChar('"');
            if (m_pos >= m_end)
                return;
        }
        ++m_pos;
    }
}

void XmlScan::findNext(std::string_view chars, bool quotes)
{
    while (m_pos < m_end) {
        if (quotes && *m_pos == '"') {
            ++m_pos;
            findChar('"');
            if (m_pos >= m_end)
                return;
        }
        if (chars.find(*m_pos) != std::string_view::npos)
            return;
        ++m_pos;
    }
}

bool XmlScan::skipText(std::string_view tag)
{
    for (;;) {
        findChar('<');
        if (m_pos >= m_end || ++m_pos >= m_end)
            return false;
        if (*m_pos == '/')
            break;
        if (*m_pos != '!' || m_end - ++m_pos <= 1)
            return false;
        if (at("--")) {
            m_pos += 2;
            findString("-->", false);
            if (!at("-->"))
                return false;
            m_pos += 3;
        } else if (*m_pos == '[' && m_end - ++m_pos > 8 && at("CDATA[")) {
            m_pos += 6;
            findString("]]>", false);
            if (!at("]]>"))
                return false;
            m_pos += 3;
        } else {
            return false;
        }
    }
    ++m_pos;
    if (m_end - m_pos <= qsizetype(tag.size()) || !at(tag))
        return false;
    m_pos += tag.size();
    skipSpace();
    if (m_pos >= m_end || *m_pos != '>')
        return false;
    ++m_pos;
    return true;
}

bool XmlScan::scan()
{
    std::string path;     // the reader's open elements: p(list), d(ict), a(rray)
    int depth = 0;        // containers holding the reader's current parent, with it
    bool root = false;    // whether the top value is read
    bool content = false; // whether the innermost <plist> holds a value
    while (m_pos < m_end) {
        skipSpace();
        if (m_pos >= m_end)
            break;
        if (*m_pos != '<' || ++m_pos >= m_end)
            return false;
        if (*m_pos == '?') {
            findString("?>", true);
            if (!at("?>"))
                return false;
            m_pos += 2;
            continue;
        }
        if (*m_pos == '!') {
            if (m_end - m_pos > 3 && at("!--")) {
                m_pos += 3;
                findString("-->", false);
                if (!at("-->"))
                    return false;
                m_pos += 3;
            } else if (m_end - m_pos > 8 && at("!DOCTYPE")) {
                m_pos += 8;
                bool embedded = false;
                while (m_pos < m_end) {
                    findNext(" \t\r\n[>", true);
                    if (m_pos >= m_end)
                        return false;
                    if (*m_pos == '[') {
                        embedded = true;
                        break;
                    }
                    if (*m_pos == '>') {
                        ++m_pos;
                        break;
                    }
                    skipSpace();
                }
                if (embedded) {
                    findString("]>", true);
                    if (!at("]>"))
                        return false;
                    m_pos += 2;
                }
            } else {
                return false;
            }
            continue;
        }

        const char *name = m_pos;
        findNext(" \r\n\t<>", false);
        if (m_pos >= m_end)
            return false;
        std::string_view tag(name, size_t(m_pos - name));
        if (*m_pos != '>')
            findNext("<>", true);
        if (m_pos >= m_end || *m_pos != '>')
            return false;
        const bool empty = m_pos[-1] == '/';
        if (empty)
            tag = tag.substr(0, size_t(m_pos - name - 1)); // "<array/>" names "array"
        ++m_pos;

        if (tag == "plist") {
            content = false;
            if (path.empty() && root)
                return true; // the reader ignores a second list
            if (empty)
                return false;
            path += 'p';
            continue;
        }
        if (tag == "/plist") {
            if (!content || path.empty() || path.back() != 'p')
                return false;
            path.pop_back();
            continue;
        }
        content = true;
        if (tag == "dict" || tag == "array") {
            if (!root) {
                // The reader adds what follows to the top container even when
                // it is empty.
                root = true;
                depth = 1;
            } else if (depth + 1 > kMaxDepth) {
                return false;
            } else if (!empty) {
                ++depth;
            }
            if (!empty)
                path += tag[0];
        } else if (tag == "key" || tag == "string" || tag == "integer" || tag == "real" || tag == "true" ||
                   tag == "false" || tag == "data" || tag == "date") {
            if (!empty && !skipText(tag))
                return false;
            if (!root)
                return true; // a lone value: the reader stops after it
        } else if (!tag.empty() && tag[0] == '/') {
            const std::string_view closed = tag.substr(1);
            if (path.empty() ||
                !((closed == "dict" && path.back() == 'd') || (closed == "array" && path.back() == 'a')))
                return false;
            path.pop_back();
            if (--depth == 0)
                return true; // the top container is closed: the reader stops
        } else {
            return false;
        }
    }
    return true;
}

// What libplist would build from a binary property list: every object it accepts,
// the cost of the tree and its depth, reached without recursion.
class BinaryScan
{
public:
    explicit BinaryScan(const QByteArray &bytes) : m_plist(bytes), m_size(quint64(bytes.size())) {}

    bool run();

private:
    struct Object
    {
        quint64 payloadBytes = 0; // scalar bytes libplist copies
        quint64 payload = 0;      // offset of the references of a container
        quint64 refCount = 0;     // references of a container
        BinaryPlist::Object read;
    };
    enum State : uchar { Unvisited, OnPath, Done };

    bool readObject(quint64 index, Object &object) const;
    quint64 childRef(const Object &object, quint64 i) const { return m_plist.ref(object.read, i); }

    BinaryPlist m_plist;
    quint64 m_size;
    quint64 m_objectCount = 0;
};

bool BinaryScan::readObject(quint64 index, Object &object) const
{
    BinaryPlist::Object &o = object.read;
    if (!m_plist.object(index, o))
        return false;
    const uchar *payload = m_plist.data() + o.pos;
    if (o.type == BinaryPlist::Date) {
        // libplist reads 8-byte dates only, and converts them to integers.
        if (o.info != 3 || !dateInRange(readDouble(payload)))
            return false;
    } else if (o.type == BinaryPlist::Utf16) {
        // A NUL unit stays inside libplist's UTF-8 text, whose length then
        // disagrees with its C string: keys trip libplist's assertions, and a
        // copy ends at the NUL but keeps the length, which the writer reads.
        for (quint64 i = 0; i < o.count; ++i) {
            if (payload[2 * i] == 0 && payload[2 * i + 1] == 0)
                return false;
        }
    }
    if (o.type == BinaryPlist::Array || o.type == BinaryPlist::Set || o.type == BinaryPlist::Dictionary) {
        object.payload = o.pos;
        object.refCount = BinaryPlist::references(o);
    } else {
        // UTF-16 text becomes UTF-8 of up to 3 bytes per unit.
        object.payloadBytes = o.type == BinaryPlist::Utf16 ? o.count * 3 : o.count;
    }
    return true;
}

bool BinaryScan::run()
{
    if (!m_plist.open())
        return false;
    m_objectCount = m_plist.objectCount();
    const quint64 top = m_plist.top();

    const quint64 costLimit = 64 * 1024 * 1024 + 32 * m_size;
    QVector<State> state(qsizetype(m_objectCount), Unvisited);
    QVector<quint64> cost(qsizetype(m_objectCount),
                          0); // expanded bytes below and with an object
    QVector<int> depth(qsizetype(m_objectCount),
                       0); // containers on the deepest path from it

    struct Frame
    {
        quint64 index;
        Object object;
        quint64 next; // next child reference to visit
    };
    QList<Frame> path;
    int containersOnPath = 0;
    auto enter = [&](quint64 index) {
        Frame frame{index, Object(), 0};
        if (!readObject(index, frame.object))
            return false;
        state[qsizetype(index)] = OnPath;
        path.append(frame);
        if (frame.object.payload > 0)
            ++containersOnPath;
        return containersOnPath <= kMaxDepth;
    };
    if (!enter(top))
        return false;
    while (!path.isEmpty()) {
        Frame &frame = path.last();
        if (frame.next < frame.object.refCount) {
            const quint64 child = childRef(frame.object, frame.next++);
            if (child >= m_objectCount)
                return false;
            if (state[qsizetype(child)] == OnPath)
                return false; // a list that contains itself
            if (state[qsizetype(child)] == Unvisited && !enter(child))
                return false;
            continue;
        }
        // All children are done: fold them into this object.
        const bool container = frame.object.payload > 0;
        quint64 total = kNodeCost + frame.object.payloadBytes;
        int deepest = 0;
        for (quint64 i = 0; i < frame.object.refCount; ++i) {
            const qsizetype child = qsizetype(childRef(frame.object, i));
            total += cost[child];
            if (total > costLimit)
                return false;
            deepest = qMax(deepest, depth[child]);
        }
        const qsizetype index = qsizetype(frame.index);
        cost[index] = total;
        depth[index] = deepest + (container ? 1 : 0);
        if (depth[index] > kMaxDepth)
            return false; // reached through objects shared with an earlier path
        state[index] = Done;
        if (container)
            --containersOnPath;
        path.removeLast();
    }
    return depth[qsizetype(top)] <= kMaxDepth;
}

// Visits every node of a tree, the top one included, without recursion: the
// visitor gets the node and the number of containers above it, and ends the
// walk by returning false.
template <typename Visit> bool walk(plist_t top, Visit visit)
{
    if (top == nullptr)
        return true;
    QList<std::pair<plist_t, int>> pending{{top, 0}};
    while (!pending.isEmpty()) {
        const auto [current, depth] = pending.takeLast();
        if (!visit(current, depth))
            return false;
        const plist_type type = plist_get_node_type(current);
        if (type == PLIST_ARRAY) {
            const uint32_t size = plist_array_get_size(current);
            for (uint32_t i = 0; i < size; ++i)
                pending.append({plist_array_get_item(current, i), depth + 1});
        } else if (type == PLIST_DICT) {
            plist_dict_iter it = nullptr;
            plist_dict_new_iter(current, &it);
            plist_t value = nullptr;
            do {
                value = nullptr;
                plist_dict_next_item(current, it, nullptr, &value);
                if (value != nullptr)
                    pending.append({value, depth + 1});
            } while (value != nullptr);
            std::free(it);
        }
    }
    return true;
}

// Valid UTF-8 survives the trip through UTF-16; anything else comes back with
// replacement characters.
bool isUtf8(const char *text, size_t length)
{
    const QByteArrayView bytes(text, qsizetype(length));
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

} // namespace

bool bytesAreSafe(const QByteArray &bytes)
{
    if (bytes.startsWith("bplist"))
        return BinaryScan(bytes).run();
    return XmlScan(bytes).run();
}

bool treeIsSafe(void *node)
{
    return walk(node, [](plist_t current, int depth) {
        // A value's key: libplist has no accessor that gives a key's length
        // without asserting it, but its XML writer copies all of the key.
        if (plist_t key = plist_dict_item_get_key(current)) {
            char *xml = nullptr;
            uint32_t length = 0;
            plist_to_xml(key, &xml, &length);
            const bool nul = xml == nullptr || std::memchr(xml, 0, length) != nullptr;
            plist_to_xml_free(xml);
            if (nul)
                return false;
        }
        switch (plist_get_node_type(current)) {
        case PLIST_ARRAY:
        case PLIST_DICT:
            return depth < kMaxDepth;
        case PLIST_STRING: {
            // As for keys: copies end at a NUL but keep the whole length.
            uint64_t length = 0;
            const char *text = plist_get_string_ptr(current, &length);
            return text != nullptr && std::memchr(text, 0, size_t(length)) == nullptr;
        }
        case PLIST_DATE: {
            double seconds = 0;
            return dateSeconds(current, seconds);
        }
        default:
            return true;
        }
    });
}

void fillEmptyData(void *node)
{
    walk(node, [](plist_t current, int) {
        uint64_t length = 0;
        if (plist_get_node_type(current) == PLIST_DATA && plist_get_data_ptr(current, &length) == nullptr)
            plist_set_data_val(current, "", 0);
        return true;
    });
}

bool treeIsWritable(void *node)
{
    return walk(node, [](plist_t current, int) {
        // The binary writer turns text that is not ASCII into UTF-16 and writes a
        // broken list for text that is no valid UTF-8, which parsing gives for a
        // binary list's ASCII text with bytes above 127 or UTF-16 with a lone surrogate.
        if (plist_t key = plist_dict_item_get_key(current)) {
            char *text = nullptr;
            plist_get_key_val(key, &text);
            const bool valid = text != nullptr && isUtf8(text, std::strlen(text));
            std::free(text);
            if (!valid)
                return false;
        }
        switch (plist_get_node_type(current)) {
        case PLIST_STRING: {
            uint64_t length = 0;
            const char *text = plist_get_string_ptr(current, &length);
            return text != nullptr && isUtf8(text, size_t(length));
        }
        case PLIST_UINT:
        case PLIST_UID: {
            uint64_t value = 0;
            if (plist_get_node_type(current) == PLIST_UINT)
                plist_get_uint_val(current, &value);
            else
                plist_get_uid_val(current, &value);
            return value != (Q_UINT64_C(1) << 63);
        }
        case PLIST_REAL: {
            double value = 0;
            plist_get_real_val(current, &value);
            return std::fabs(value) < 9.2233720368547758e18; // false for NaN
        }
        case PLIST_DATE: {
            double seconds = 0;
            return dateSeconds(current, seconds);
        }
        default:
            return true;
        }
    });
}

bool dateSeconds(void *node, double &seconds)
{
    if (node == nullptr || plist_get_node_type(node) != PLIST_DATE)
        return false;
    // The binary writer keeps the date's double as it is: the top object
    // follows the 8-byte header as its marker and 8 big-endian bytes.
    char *bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(node, &bin, &length);
    const bool ok = bin != nullptr && length >= 8 + 9 && uchar(bin[8]) == 0x33;
    if (ok)
        seconds = readDouble(reinterpret_cast<const uchar *>(bin) + 9);
    plist_to_bin_free(bin);
    return ok && dateInRange(seconds);
}

} // namespace plistcheck
