#include "BinaryPlist.h"

#include <cstring>

bool BinaryPlist::open()
{
    if (m_size < 8 + 32 || std::memcmp(m_data, "bplist00", 8) != 0)
        return false;
    const quint64 trailer = m_size - 32;
    m_offsetSize = m_data[trailer + 6];
    m_refSize = m_data[trailer + 7];
    m_objectCount = number(trailer + 8, 8);
    m_top = number(trailer + 16, 8);
    m_tableOffset = number(trailer + 24, 8);
    if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8)
        return false;
    if (m_tableOffset < 9 || m_tableOffset > trailer)
        return false;
    return m_objectCount > 0 && m_objectCount <= (trailer - m_tableOffset) / quint64(m_offsetSize) &&
           m_top < m_objectCount;
}

bool BinaryPlist::object(quint64 index, Object &out) const
{
    if (index >= m_objectCount)
        return false;
    quint64 pos = number(m_tableOffset + index * quint64(m_offsetSize), m_offsetSize);
    if (pos < 8 || pos >= m_tableOffset)
        return false;
    const uchar marker = m_data[pos++];
    out.type = marker >> 4;
    out.info = marker & 0x0F;
    out.count = 0;
    quint64 unit = 1; // bytes per counted element
    switch (out.type) {
    case Simple:
        break;
    case Integer:
    case Real:
        if (out.info > 4)
            return false;
        out.count = quint64(1) << out.info;
        break;
    case Date:
        out.count = 8;
        break;
    case Uid:
        out.count = quint64(out.info) + 1;
        break;
    case Data:
    case Ascii:
    case Utf16:
    case Array:
    case Set:
    case Dictionary:
        out.count = out.info;
        if (out.info == 0x0F) {
            // A longer count follows as an integer object of 1, 2, 4 or 8 bytes.
            if (pos >= m_tableOffset || (m_data[pos] & 0xF0) != 0x10 || (m_data[pos] & 0x0F) > 3)
                return false;
            const int width = 1 << (m_data[pos++] & 0x0F);
            if (m_tableOffset - pos < quint64(width))
                return false;
            out.count = number(pos, width);
            pos += quint64(width);
        }
        if (out.type == Utf16)
            unit = 2;
        else if (out.type == Array || out.type == Set || out.type == Dictionary)
            unit = quint64(m_refSize) * (out.type == Dictionary ? 2 : 1);
        break;
    default:
        return false;
    }
    if (out.count > (m_tableOffset - pos) / unit)
        return false;
    out.pos = pos;
    return true;
}
