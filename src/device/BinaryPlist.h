#pragma once

#include <QByteArray>
#include <QtGlobal>

// The objects of a binary property list read in place: "bplist00", the objects, a
// table of their offsets and a 32-byte trailer naming the widths, the object count,
// the top object and the table's offset. Every step checks its range, since the
// bytes come from outside; what a reader accepts beyond that is its own choice.
// The bytes must outlive the reader.
class BinaryPlist
{
public:
    enum Type : uchar {
        Simple = 0x0, // null, booleans, fill
        Integer = 0x1,
        Real = 0x2,
        Date = 0x3,
        Data = 0x4,
        Ascii = 0x5,
        Utf16 = 0x6,
        Uid = 0x8,
        Array = 0xA,
        Set = 0xC,
        Dictionary = 0xD
    };
    struct Object
    {
        uchar type = 0;
        uchar info = 0;    // the marker's low four bits
        quint64 pos = 0;   // first byte after the marker and the count
        quint64 count = 0; // bytes of a number or UID, units of a text or data, entries of a container
    };

    explicit BinaryPlist(const QByteArray &bytes)
        : m_data(reinterpret_cast<const uchar *>(bytes.constData())), m_size(quint64(bytes.size()))
    {
    }

    // Reads the trailer: false unless the tables it names lie inside the bytes.
    bool open();

    quint64 objectCount() const { return m_objectCount; }
    quint64 top() const { return m_top; }
    int offsetSize() const { return m_offsetSize; }
    int refSize() const { return m_refSize; }
    const uchar *data() const { return m_data; }

    // The object at index with its count read; false when its marker is unknown or its
    // payload (a container's references) would reach past the objects.
    bool object(quint64 index, Object &out) const;
    // References in a container: a dictionary's keys first, then its values.
    static quint64 references(const Object &container)
    {
        return container.count * (container.type == Dictionary ? 2 : 1);
    }
    quint64 ref(const Object &container, quint64 i) const
    {
        return number(container.pos + i * quint64(m_refSize), m_refSize);
    }
    quint64 number(quint64 pos, int width) const
    {
        quint64 v = 0;
        for (int i = 0; i < width; ++i)
            v = (v << 8) | m_data[pos + quint64(i)];
        return v;
    }

private:
    const uchar *m_data;
    quint64 m_size;
    int m_offsetSize = 0;
    int m_refSize = 0;
    quint64 m_objectCount = 0;
    quint64 m_top = 0;
    quint64 m_tableOffset = 0;
};
