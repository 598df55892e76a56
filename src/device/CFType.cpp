#include "CFType.h"

#include "PlistCheck.h"

#include <plist/plist.h>

#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

namespace {

// Milliseconds from 1970-01-01 to 2001-01-01, the origin of property-list dates.
constexpr qint64 kDateOriginMSecs = Q_INT64_C(978307200000);

plist_type typeOf(plist_t node)
{
    return node == nullptr ? PLIST_NONE : plist_get_node_type(node);
}

plist_t topOf(plist_t node)
{
    while (plist_t parent = plist_get_parent(node))
        node = parent;
    return node;
}

bool isWithin(plist_t node, plist_t ancestor)
{
    for (; node != nullptr; node = plist_get_parent(node)) {
        if (node == ancestor)
            return true;
    }
    return false;
}

// An integer or a real that holds a whole number representable in 64 bits.
bool readWhole(plist_t node, qint64 &out)
{
    const plist_type type = typeOf(node);
    if (type == PLIST_UINT) {
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        out = qint64(v); // signed integers are stored as their two's complement
        return true;
    }
    if (type == PLIST_REAL) {
        double d = 0;
        plist_get_real_val(node, &d);
        if (!std::isfinite(d) || std::trunc(d) != d || d < -9.2233720368547758e18 ||
            d >= 9.2233720368547758e18)
            return false;
        out = qint64(d);
        return true;
    }
    return false;
}

} // namespace

struct CFType::Holder
{
    plist_t node = nullptr;
    bool owned = false;
    // For a value inside a tree: the holder that keeps the tree alive.
    std::shared_ptr<Holder> container;
    // For the holder owning a tree: the values handed out from inside it, so
    // that one whose node is about to be freed by a replacement can be given
    // its own copy instead of a dangling node.
    std::vector<std::weak_ptr<Holder>> borrowers;
    size_t pruneAt = 16;

    Holder(plist_t n, bool o) : node(n), owned(o) {}
    Holder(const Holder &) = delete;
    Holder &operator=(const Holder &) = delete;
    ~Holder()
    {
        if (owned && node != nullptr)
            plist_free(node);
    }

    static std::shared_ptr<Holder> ownerOf(std::shared_ptr<Holder> holder)
    {
        while (!holder->owned && holder->container)
            holder = holder->container;
        return holder;
    }

    void addBorrower(const std::shared_ptr<Holder> &holder)
    {
        if (borrowers.size() >= pruneAt) {
            borrowers.erase(std::remove_if(borrowers.begin(), borrowers.end(),
                                           [](const std::weak_ptr<Holder> &w) { return w.expired(); }),
                            borrowers.end());
            pruneAt = std::max<size_t>(16, borrowers.size() * 2);
        }
        borrowers.push_back(holder);
    }

    // Gives every value handed out from inside the subtree its own copy.
    void detachBorrowers(plist_t subtree)
    {
        auto detach = [subtree](const std::weak_ptr<Holder> &w) {
            const std::shared_ptr<Holder> b = w.lock();
            if (!b)
                return true;
            if (!isWithin(b->node, subtree))
                return false;
            b->node = plist_copy(b->node);
            b->owned = true;
            b->container.reset();
            return true;
        };
        borrowers.erase(std::remove_if(borrowers.begin(), borrowers.end(), detach), borrowers.end());
    }
};

CFType CFType::owning(void *node)
{
    CFType result;
    if (node != nullptr)
        result.m_holder = std::make_shared<Holder>(node, true);
    return result;
}

CFType CFType::borrowed(void *node, const std::shared_ptr<Holder> &container)
{
    CFType result;
    if (node == nullptr)
        return result;
    std::shared_ptr<Holder> owner = Holder::ownerOf(container);
    result.m_holder = std::make_shared<Holder>(node, false);
    result.m_holder->container = owner;
    owner->addBorrower(result.m_holder);
    return result;
}

CFType CFType::adoptNode(void *node)
{
    if (node == nullptr || plist_get_parent(node) != nullptr)
        return CFType();
    if (!plistcheck::treeIsSafe(node)) {
        plist_free(node);
        return CFType();
    }
    plistcheck::fillEmptyData(node);
    return owning(node);
}

void *CFType::node() const
{
    return m_holder ? m_holder->node : nullptr;
}

CFType CFType::fromString(const QString &text)
{
    // libplist keeps text NUL-terminated: a NUL ends it.
    return owning(plist_new_string(text.toUtf8().constData()));
}

CFType CFType::fromBytes(const QByteArray &bytes)
{
    return owning(plist_new_data(bytes.constData(), uint64_t(bytes.size())));
}

CFType CFType::fromUid(quint64 value)
{
    return owning(plist_new_uid(value));
}

CFType CFType::fromInt64(qint64 value)
{
    return owning(plist_new_uint(uint64_t(value)));
}

CFType CFType::fromDouble(double value)
{
    return owning(plist_new_real(value));
}

CFType CFType::fromBool(bool value)
{
    return owning(plist_new_bool(value ? 1 : 0));
}

CFType CFType::fromDateTime(const QDateTime &value)
{
    // The bounds come first: the instant may lie near either end of qint64.
    constexpr qint64 kFirstMSecs = kDateOriginMSecs + qint64(std::numeric_limits<int32_t>::min()) * 1000;
    constexpr qint64 kEndMSecs = kDateOriginMSecs + (qint64(std::numeric_limits<int32_t>::max()) + 1) * 1000;
    if (!value.isValid())
        return CFType();
    const qint64 instant = value.toMSecsSinceEpoch();
    if (instant < kFirstMSecs || instant >= kEndMSecs)
        return CFType();
    const qint64 msecs = instant - kDateOriginMSecs;
    const qint64 secs = msecs >= 0 ? msecs / 1000 : -((-msecs + 999) / 1000);
    return owning(plist_new_date(int32_t(secs), int32_t((msecs - secs * 1000) * 1000)));
}

CFType CFType::dictionary()
{
    return owning(plist_new_dict());
}

CFType CFType::array()
{
    return owning(plist_new_array());
}

CFType CFType::fromData(const QByteArray &bytes)
{
    if (bytes.isEmpty() || bytes.size() > std::numeric_limits<int32_t>::max() ||
        !plistcheck::bytesAreSafe(bytes))
        return CFType();
    plist_t node = nullptr;
    plist_from_memory(bytes.constData(), uint32_t(bytes.size()), &node);
    plistcheck::fillEmptyData(node);
    return owning(node);
}

QByteArray CFType::toData() const
{
    if (isNull() || !plistcheck::treeIsWritable(node()))
        return QByteArray();
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node(), &xml, &length);
    QByteArray result(xml, xml != nullptr ? qsizetype(length) : 0);
    if (xml != nullptr)
        plist_to_xml_free(xml);
    return result;
}

QByteArray CFType::toBinaryData() const
{
    if (isNull() || !plistcheck::treeIsWritable(node()))
        return QByteArray();
    char *bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(node(), &bin, &length);
    QByteArray result(bin, bin != nullptr ? qsizetype(length) : 0);
    if (bin != nullptr)
        plist_to_bin_free(bin);
    return result;
}

CFType CFType::deepCopy() const
{
    return isNull() ? CFType() : owning(plist_copy(node()));
}

bool CFType::isInteger() const
{
    return typeOf(node()) == PLIST_UINT;
}

bool CFType::isUid() const
{
    return typeOf(node()) == PLIST_UID;
}

qint64 CFType::toUid() const
{
    if (!isUid())
        return -1;
    uint64_t value = 0;
    plist_get_uid_val(node(), &value);
    return value > uint64_t(std::numeric_limits<qint64>::max()) ? -1 : qint64(value);
}

bool CFType::isReal() const
{
    return typeOf(node()) == PLIST_REAL;
}

bool CFType::isBoolean() const
{
    return typeOf(node()) == PLIST_BOOLEAN;
}

bool CFType::isString() const
{
    return typeOf(node()) == PLIST_STRING;
}

bool CFType::isData() const
{
    return typeOf(node()) == PLIST_DATA;
}

bool CFType::isDate() const
{
    return typeOf(node()) == PLIST_DATE;
}

bool CFType::isDictionary() const
{
    return typeOf(node()) == PLIST_DICT;
}

bool CFType::isArray() const
{
    return typeOf(node()) == PLIST_ARRAY;
}

int CFType::toInt(int defaultValue) const
{
    qint64 v = 0;
    if (!readWhole(node(), v) || v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        return defaultValue;
    return int(v);
}

qint64 CFType::toLongLong(qint64 defaultValue) const
{
    qint64 v = 0;
    return readWhole(node(), v) ? v : defaultValue;
}

double CFType::toDouble(double defaultValue) const
{
    if (isReal()) {
        double d = 0;
        plist_get_real_val(node(), &d);
        return d;
    }
    qint64 v = 0;
    if (!isInteger() || !readWhole(node(), v))
        return defaultValue;
    const double d = double(v);
    if (d >= 9.2233720368547758e18 || qint64(d) != v)
        return defaultValue; // not representable as a double
    return d;
}

bool CFType::toBool(bool defaultValue) const
{
    if (!isBoolean())
        return defaultValue;
    uint8_t v = defaultValue ? 1 : 0;
    plist_get_bool_val(node(), &v);
    return v != 0;
}

QString CFType::toString() const
{
    switch (typeOf(node())) {
    case PLIST_STRING: {
        uint64_t length = 0;
        const char *text = plist_get_string_ptr(node(), &length);
        return text != nullptr ? QString::fromUtf8(text, qsizetype(length)) : QString();
    }
    case PLIST_UINT:
        return QString::number(toLongLong());
    case PLIST_REAL:
        return QString::number(toDouble(), 'g', 6);
    case PLIST_BOOLEAN:
        return toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case PLIST_DATE:
        return toDateTime().toString();
    case PLIST_DATA:
        return QString::fromUtf8(toByteArray());
    default:
        return QString();
    }
}

QByteArray CFType::toByteArray() const
{
    if (!isData())
        return QByteArray();
    uint64_t length = 0;
    const char *bytes = plist_get_data_ptr(node(), &length);
    return bytes != nullptr ? QByteArray(bytes, qsizetype(length)) : QByteArray();
}

QDateTime CFType::toDateTime() const
{
    // libplist's own reading converts the seconds to 32-bit integers, which is
    // undefined for dates outside that range.
    double seconds = 0;
    if (!plistcheck::dateSeconds(node(), seconds))
        return QDateTime();
    const qint64 whole = qint64(std::floor(seconds));
    const QDateTime gmt = QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc()).addSecs(whole);
    return QDateTime(gmt.date(), gmt.time(), Qt::LocalTime);
}

CFType CFType::value(const QString &key) const
{
    if (!isDictionary())
        return CFType();
    return borrowed(plist_dict_get_item(node(), key.toUtf8().constData()), m_holder);
}

CFType CFType::value(const CFType &key) const
{
    return key.isString() ? value(key.toString()) : CFType();
}

QStringList CFType::keys() const
{
    QStringList result;
    if (!isDictionary())
        return result;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(node(), &it);
    for (;;) {
        char *key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node(), it, &key, &item);
        if (item == nullptr) {
            std::free(key);
            break;
        }
        result.append(QString::fromUtf8(key));
        std::free(key);
    }
    std::free(it);
    return result;
}

bool CFType::setValue(const QString &key, const CFType &value)
{
    if (!isDictionary() || value.isNull())
        return false;
    return insert(node(), key.toUtf8().constData(), value, false);
}

bool CFType::setValue(const CFType &key, const CFType &value)
{
    return key.isString() && setValue(key.toString(), value);
}

int CFType::size() const
{
    if (isArray())
        return int(plist_array_get_size(node()));
    if (isDictionary())
        return int(plist_dict_get_size(node()));
    return 0;
}

CFType CFType::at(int index) const
{
    if (!isArray() || index < 0 || index >= size())
        return CFType();
    return borrowed(plist_array_get_item(node(), uint32_t(index)), m_holder);
}

bool CFType::append(const CFType &value)
{
    if (!isArray() || value.isNull())
        return false;
    return insert(node(), nullptr, value, true);
}

bool CFType::insert(void *container, const char *key, const CFType &value, bool append)
{
    const std::shared_ptr<Holder> owner = Holder::ownerOf(m_holder);
    Holder &incoming = *value.m_holder;
    // A free-standing value moves in; one inside a tree (or the tree this
    // container belongs to) is copied, since a node can have only one parent.
    const bool move =
        incoming.owned && plist_get_parent(incoming.node) == nullptr && topOf(container) != incoming.node;
    plist_t item = move ? incoming.node : plist_copy(incoming.node);
    if (append) {
        plist_array_append_item(container, item);
    } else {
        if (plist_t old = plist_dict_get_item(container, key))
            owner->detachBorrowers(old); // libplist frees the value it replaces
        plist_dict_set_item(container, key, item);
    }
    if (move) {
        incoming.owned = false;
        incoming.container = owner;
        for (const std::weak_ptr<Holder> &w : incoming.borrowers) {
            if (const std::shared_ptr<Holder> b = w.lock())
                owner->addBorrower(b);
        }
        incoming.borrowers.clear();
        owner->addBorrower(value.m_holder);
    }
    return true;
}
