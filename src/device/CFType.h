#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <memory>

// One property-list value: what device services exchange and what device values
// and backup files hold. The rest of the program builds, reads, serialises and
// parses property lists through this type only.
//
// Copies share one holder of the value. A value created here or parsed is owned
// and freed with its last copy. A value read out of a dictionary or an array is
// borrowed from it: it keeps the whole container alive, and changing it changes
// the container. Putting a value into a container moves a free-standing value
// into it (later changes of the value show in the container); a value that
// already belongs to a container is copied instead.
//
// One property list is used by one thread at a time.
class CFType
{
public:
    CFType() = default;
    virtual ~CFType() = default;
    CFType(const CFType &) = default;
    CFType &operator=(const CFType &) = default;

    static CFType fromString(const QString &text);
    static CFType fromBytes(const QByteArray &bytes);
    static CFType fromInt64(qint64 value);
    static CFType fromDouble(double value);
    static CFType fromBool(bool value);
    // A keyed archive's reference to another of its objects.
    static CFType fromUid(quint64 value);
    // The instant of the date-time; an empty value when it is invalid or outside
    // 1932-12-13 20:45:52 to 2069-01-19 03:14:07 GMT, what the 32-bit seconds of
    // libplist's dates can hold.
    static CFType fromDateTime(const QDateTime &value);
    static CFType dictionary();
    static CFType array();

    // Parses an XML or binary property list; an empty value when the bytes are
    // no property list, one too deep or too large to be real, or one holding a
    // key or text with a NUL inside or a binary date outside the years 1 to 9999.
    static CFType fromData(const QByteArray &bytes);
    // The value as an XML property list; empty for an empty value and for one
    // holding a number libplist's writer cannot take: the integer -2^63, a real
    // not finite or beyond ±2^63; or a key or text that is no valid UTF-8.
    QByteArray toData() const;
    // The same as a binary property list, what keyed archives are stored as.
    QByteArray toBinaryData() const;

    // A new owned value equal to this one, independent of any container.
    CFType deepCopy() const;

    bool isNull() const { return node() == nullptr; }
    bool isNumber() const { return isInteger() || isReal(); }
    bool isInteger() const;
    bool isReal() const;
    bool isBoolean() const;
    bool isString() const;
    bool isData() const;
    bool isDate() const;
    bool isDictionary() const;
    bool isArray() const;
    bool isUid() const;

    // Numbers read only when the value converts without loss (3.0 reads as the
    // integer 3, 3.5 does not); otherwise, and for other types, the default.
    int toInt(int defaultValue = 0) const;
    qint64 toLongLong(qint64 defaultValue = 0) const;
    double toDouble(double defaultValue = 0) const;
    bool toBool(bool defaultValue = false) const;
    // Text of a string; decimal of an integer (all digits) or of a real (at
    // most 6 significant digits); "1"/"0" of a boolean; the default text of the
    // local date-time of a date; the bytes of data decoded as UTF-8; else "".
    QString toString() const;
    QByteArray toByteArray() const;
    // The object index of a keyed archive's reference; -1 for other types.
    qint64 toUid() const;
    // The date's GMT wall-clock fields, whole seconds, labelled local time
    // (not shifted into the local zone); a null date-time for other types and
    // for a date outside the years 1 to 9999.
    QDateTime toDateTime() const;

    // Dictionary: the value under a key, borrowed; empty when missing or when
    // this is no dictionary.
    CFType value(const QString &key) const;
    CFType value(const CFType &key) const;
    bool contains(const QString &key) const { return !value(key).isNull(); }
    // Keys of a dictionary in the list's order.
    QStringList keys() const;
    // Puts a value under a text key (a string for the CFType key); false when
    // this is no dictionary, the key is no string or the value is empty.
    bool setValue(const QString &key, const CFType &value);
    bool setValue(const CFType &key, const CFType &value);

    // Number of elements of an array or of entries of a dictionary, else 0.
    int size() const;
    // Array element, borrowed; empty when out of range or this is no array.
    CFType at(int index) const;
    // Appends to an array; false when this is no array or the value is empty.
    bool append(const CFType &value);

    // For the device backends only: wraps a libplist node (plist_t) that the
    // caller hands over, checked like parsed bytes; the raw node of this value.
    static CFType adoptNode(void *node);
    void *node() const;

private:
    struct Holder;
    static CFType owning(void *node);
    static CFType borrowed(void *node, const std::shared_ptr<Holder> &container);
    bool insert(void *container, const char *key, const CFType &value, bool append);

    std::shared_ptr<Holder> m_holder;
};

Q_DECLARE_METATYPE(CFType)
