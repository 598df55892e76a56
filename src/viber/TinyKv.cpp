#include "TinyKv.h"

#include <QtEndian>

#include <cstring>
#include <limits>

namespace tinykv {

namespace {

const char kMagic[] = "tinykv";
constexpr int kMagicSize = 6;

void putU32(QByteArray &out, quint32 v)
{
    char buf[4];
    qToLittleEndian(v, buf);
    out.append(buf, 4);
}

void putU64(QByteArray &out, quint64 v)
{
    char buf[8];
    qToLittleEndian(v, buf);
    out.append(buf, 8);
}

bool putBytes(QByteArray &out, const QByteArray &bytes)
{
    if (bytes.size() > std::numeric_limits<qint32>::max())
        return false;
    putU32(out, quint32(bytes.size()));
    out.append(bytes);
    return true;
}

// Reads forward over untrusted bytes; every read checks what remains first.
class Reader
{
public:
    explicit Reader(const QByteArray &data) : m_data(data), m_pos(kMagicSize) {}

    bool atEnd() const { return m_pos >= m_data.size(); }
    qsizetype remaining() const { return m_data.size() - m_pos; }

    bool u8(quint8 &v)
    {
        if (remaining() < 1)
            return false;
        v = quint8(m_data[m_pos++]);
        return true;
    }
    bool u32(quint32 &v)
    {
        if (remaining() < 4)
            return false;
        v = qFromLittleEndian<quint32>(m_data.constData() + m_pos);
        m_pos += 4;
        return true;
    }
    bool u64(quint64 &v)
    {
        if (remaining() < 8)
            return false;
        v = qFromLittleEndian<quint64>(m_data.constData() + m_pos);
        m_pos += 8;
        return true;
    }
    // A length is only trusted after it has been checked against the bytes left.
    bool bytes(QByteArray &v)
    {
        quint32 len = 0;
        if (!u32(len) || qsizetype(len) > remaining())
            return false;
        v = m_data.mid(m_pos, qsizetype(len));
        m_pos += qsizetype(len);
        return true;
    }

private:
    const QByteArray &m_data;
    qsizetype m_pos;
};

} // namespace

bool serialize(const QVariantMap &map, QByteArray &out)
{
    QByteArray buf(kMagic, kMagicSize);
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        if (!putBytes(buf, it.key().toUtf8()))
            return false;
        const QVariant &v = it.value();
        switch (v.typeId()) {
        case QMetaType::Bool:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::QChar:
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::UChar:
        case QMetaType::Short:
        case QMetaType::UShort:
            buf.append('i');
            putU32(buf, quint32(v.toInt()));
            break;
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            buf.append('l');
            putU64(buf, quint64(v.toLongLong()));
            break;
        case QMetaType::Double:
        case QMetaType::Float: {
            buf.append('d');
            const double d = v.toDouble();
            quint64 bits;
            std::memcpy(&bits, &d, sizeof bits);
            putU64(buf, bits);
            break;
        }
        case QMetaType::QString:
            buf.append('s');
            if (!putBytes(buf, v.toString().toUtf8()))
                return false;
            break;
        case QMetaType::QByteArray:
            buf.append('v');
            if (!putBytes(buf, v.toByteArray()))
                return false;
            break;
        default:
            buf.append('n');
            break;
        }
    }
    out = buf;
    return true;
}

QByteArray serialize(const QVariantMap &map)
{
    QByteArray out;
    serialize(map, out);
    return out;
}

bool deserialize(const QByteArray &data, QVariantMap &out)
{
    out.clear();
    if (data.size() < kMagicSize || std::memcmp(data.constData(), kMagic, kMagicSize) != 0)
        return false;
    Reader r(data);
    QVariantMap map;
    while (!r.atEnd()) {
        QByteArray key;
        // Data that ends inside a key (its length or its bytes) ends the entries:
        // those read so far are kept. A value cut short is still damage.
        if (!r.bytes(key))
            break;
        quint8 type = 0;
        if (!r.u8(type))
            return false;
        QVariant value;
        switch (type) {
        case 'i': {
            quint32 v;
            if (!r.u32(v))
                return false;
            value = qint32(v);
            break;
        }
        case 'l': {
            quint64 v;
            if (!r.u64(v))
                return false;
            value = qint64(v);
            break;
        }
        case 'd': {
            quint64 bits;
            if (!r.u64(bits))
                return false;
            double d;
            std::memcpy(&d, &bits, sizeof d);
            value = d;
            break;
        }
        case 's': {
            QByteArray s;
            if (!r.bytes(s))
                return false;
            value = QString::fromUtf8(s);
            break;
        }
        case 'v': {
            QByteArray b;
            if (!r.bytes(b))
                return false;
            value = b;
            break;
        }
        case 'n':
            break;
        default:
            return false;
        }
        map.insert(QString::fromUtf8(key), value);
    }
    out = map;
    return true;
}

QVariantMap deserialize(const QByteArray &data)
{
    QVariantMap out;
    deserialize(data, out);
    return out;
}

} // namespace tinykv
