#include "device/CFType.h"
#include "device/PlistCheck.h"

#include <plist/plist.h>

#include <QTest>
#include <QTimeZone>
#include <QtEndian>

#include <cmath>
#include <ctime>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

QByteArray toBinary(const CFType &value)
{
    char *bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(value.node(), &bin, &length);
    const QByteArray result(bin, qsizetype(length));
    plist_to_bin_free(bin);
    return result;
}

// A binary list made by hand, the first object the top one; one-byte references, two-byte offsets.
QByteArray handMadeBinary(const QList<QByteArray> &objects)
{
    QByteArray out("bplist00");
    QByteArray offsets;
    for (const QByteArray &object : objects) {
        offsets += char(out.size() >> 8);
        offsets += char(out.size() & 0xFF);
        out += object;
    }
    QByteArray trailer(32, '\0');
    trailer[6] = 2; // offset size
    trailer[7] = 1; // reference size
    trailer[15] = char(objects.size());
    trailer[30] = char(out.size() >> 8); // the offset table follows the objects
    trailer[31] = char(out.size() & 0xFF);
    return out + offsets + trailer;
}

QByteArray arrayObject(const QList<int> &refs)
{
    QByteArray object(1, char(0xA0 | refs.size()));
    for (int ref : refs)
        object += char(ref);
    return object;
}

// Arrays each referring refs times to the next, down to an integer: count levels deep.
QByteArray chain(int count, int refs)
{
    QList<QByteArray> objects;
    for (int i = 0; i < count; ++i)
        objects.append(arrayObject(QList<int>(refs, i + 1)));
    return handMadeBinary(objects << "\x10\x01"_ba);
}

QByteArray dateObject(double seconds)
{
    QByteArray object(9, '\x33');
    qToBigEndian(seconds, object.data() + 1);
    return object;
}

QByteArray xmlList(const QByteArray &body, const QByteArray &prologue = {})
{
    return "<?xml version=\"1.0\"?>" + prologue + "<plist version=\"1.0\">" + body + "</plist>";
}

CFType dictOf(std::initializer_list<std::pair<QString, CFType>> entries)
{
    CFType dict = CFType::dictionary();
    for (const auto &[key, value] : entries)
        dict.setValue(key, value);
    return dict;
}

CFType arrayOf(std::initializer_list<CFType> items)
{
    CFType array = CFType::array();
    for (const CFType &item : items)
        array.append(item);
    return array;
}

QDateTime fields(int year, int month, int day, int h, int m, int s)
{
    return QDateTime(QDate(year, month, day), QTime(h, m, s), Qt::LocalTime);
}

} // namespace

class TestCFType : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Dates give their GMT fields as they are: any other zone shows a shift.
        qputenv("TZ", "America/Los_Angeles");
        tzset();
    }
    void scalars_data()
    {
        // Numbers read only without loss (-1 is the default); the value goes out as XML holding the
        // fragment (nothing when the writer cannot take it) and comes back alike from XML and binary.
        QTest::addColumn<CFType>("value");
        QTest::addColumn<QString>("numbers");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("fragment");
        const QString min = QString::number(std::numeric_limits<qint64>::min());
        const auto row = [](const char *tag, const CFType &value, const QString &numbers, const QString &text,
                            const QByteArray &fragment) {
            QTest::newRow(tag) << value << numbers << text << fragment;
        };
        row("-2", CFType::fromInt64(-2), u"-2 -2 -2"_s, u"-2"_s, "<integer>-2<"_ba);
        row("2^53 + 1", CFType::fromInt64((Q_INT64_C(1) << 53) + 1), u"-1 9007199254740993 -1"_s,
            u"9007199254740993"_s, "<integer>9007199254740993<"_ba);
        row("int64 min", CFType::fromInt64(std::numeric_limits<qint64>::min()),
            u"-1 "_s + min + u" -9.2233720368547758e+18"_s, min, {});
        // Read from outside, such a value parses and reads; only writing it fails.
        row("parsed int64 min", CFType::fromData(handMadeBinary({"\x13\x80\0\0\0\0\0\0\0"_ba})),
            u"-1 "_s + min + u" -9.2233720368547758e+18"_s, min, {});
        row("-3.0", CFType::fromDouble(-3.0), u"-3 -3 -3"_s, u"-3"_s, "<real>-3<"_ba);
        row("3.5", CFType::fromDouble(3.5), u"-1 -1 3.5"_s, u"3.5"_s, "<real>3.5<"_ba);
        row("below 2^63", CFType::fromDouble(-9.2233720368547748e18),
            u"-1 -9223372036854774784 -9.2233720368547748e+18"_s, u"-9.22337e+18"_s,
            "<real>-9.2233720368547748e+18</real>"_ba);
        row("2^63", CFType::fromDouble(9.2233720368547758e18), u"-1 -1 9.2233720368547758e+18"_s,
            u"9.22337e+18"_s, {});
        row("NaN", CFType::fromDouble(std::nan("")), u"-1 -1 nan"_s, u"nan"_s, {});
        row("false", CFType::fromBool(false), u"-1 -1 -1"_s, u"0"_s, "<false/>"_ba);
        row("text, escaped", CFType::fromString(u"12 <a> & \"b\" — ünï"_s), u"-1 -1 -1"_s,
            u"12 <a> & \"b\" — ünï"_s, "<string>12 &lt;a&gt; &amp; \"b\" — ünï</string>"_ba);
        // Parsed text that is no UTF-8 reads with replacement characters; no writer takes it.
        row("binary ASCII text above 127", CFType::fromData(handMadeBinary({"\x52\xae\xbd"_ba})),
            u"-1 -1 -1"_s, u"\ufffd\ufffd"_s, {});
        row("data", CFType::fromBytes("h\xC3\xA9llo\0\xFF"_ba), u"-1 -1 -1"_s,
            u"héllo"_s + QChar(0) + QChar::ReplacementCharacter, "aMOpbGxvAP8="_ba);
        row("date", CFType::fromDateTime(QDateTime(QDate(2020, 2, 29), QTime(12, 0, 1), QTimeZone::utc())),
            u"-1 -1 -1"_s, fields(2020, 2, 29, 12, 0, 1).toString(), "<date>2020-02-29T12:00:01Z</date>"_ba);
        row("containers", dictOf({{u"Inner"_s, dictOf({{u"List"_s, arrayOf({CFType::fromInt64(2)})}})}}),
            u"-1 -1 -1"_s, QString(), "<key>Inner</key>"_ba);
    }
    void scalars()
    {
        QFETCH(CFType, value);
        QFETCH(QString, text);
        QFETCH(QByteArray, fragment);
        const QString numbers = u"%1 %2 %3"_s.arg(value.toInt(-1))
                                    .arg(value.toLongLong(-1))
                                    .arg(QString::number(value.toDouble(-1), 'g', 17));
        QTEST(numbers, "numbers");
        QCOMPARE(value.toBool(true), !value.isBoolean()); // the one boolean row is false
        QCOMPARE(value.toString(), text);
        // Nested, so that the writer's checks have to find it.
        const CFType list = dictOf({{u"Deep"_s, arrayOf({value})}});
        const QByteArray xml = list.toData();
        QVERIFY2(xml.contains(fragment) && xml.isEmpty() == fragment.isEmpty(), xml.constData());
        if (xml.isEmpty())
            return;
        const CFType back = CFType::fromData(xml);
        QCOMPARE(back.toData(), xml);
        QCOMPARE(back.value(u"Deep"_s).at(0).toString(), text);
        const QByteArray binary = toBinary(list);
        QCOMPARE(CFType::fromData(binary).toData(), xml);
        for (int length = 0; length < binary.size(); ++length)
            QVERIFY(CFType::fromData(binary.left(length)).isNull()); // every truncation is refused
    }
    void dates_data()
    {
        QTest::addColumn<QDateTime>("instant");
        QTest::addColumn<QDateTime>("read"); // null when no date can hold the instant
        const QTimeZone utc = QTimeZone::utc();
        const qint64 first = (Q_INT64_C(978307200) + std::numeric_limits<int32_t>::min()) * 1000;
        const qint64 last = (Q_INT64_C(978307200) + std::numeric_limits<int32_t>::max()) * 1000 + 999;
        QTest::newRow("30.9 s after the origin")
            << QDateTime(QDate(2001, 1, 1), QTime(0, 0, 30, 900), utc) << fields(2001, 1, 1, 0, 0, 30);
        QTest::newRow("given in Tokyo")
            << QDateTime(QDate(2023, 7, 14), QTime(18, 30), QTimeZone("Asia/Tokyo"))
            << fields(2023, 7, 14, 9, 30, 0);
        QTest::newRow("before it") << QDateTime::fromMSecsSinceEpoch(first - 1, utc) << QDateTime();
        QTest::newRow("after it") << QDateTime::fromMSecsSinceEpoch(last + 1, utc) << QDateTime();
        // Far enough out that arithmetic before the bounds check would overflow.
        QTest::newRow("latest date-time")
            << QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::max(), utc) << QDateTime();
    }
    void dates()
    {
        QFETCH(QDateTime, instant);
        QFETCH(QDateTime, read);
        const CFType date = CFType::fromDateTime(instant);
        QCOMPARE(date.toDateTime(), read);
        QCOMPARE(date.isNull(), read.isNull());
        if (!read.isNull())
            QCOMPARE(CFType::fromData(toBinary(date)).toDateTime(), read);
    }
    void containers()
    {
        // Empty values and keys that are no strings are refused; keys keep their order.
        CFType keyed = CFType::dictionary(), one = CFType::fromInt64(1);
        QVERIFY(!keyed.setValue(u"k"_s, CFType()) && !keyed.setValue(one, one) &&
                !CFType::array().append(CFType()) && !one.setValue(u"k"_s, one) && keyed.size() == 0);
        QVERIFY(keyed.setValue(u"B"_s, one) && keyed.setValue(CFType::fromString(u"A"_s), one));
        QCOMPARE(keyed.keys(), QStringList({u"B"_s, u"A"_s}));
        const CFType copy = keyed.deepCopy();
        keyed.setValue(u"A"_s, CFType::fromInt64(30));
        QCOMPARE(copy.value(u"A"_s).toInt(), 1);

        CFType child, grandChild;
        {
            const CFType root = CFType::fromData(xmlList(
                "<dict><key>Lockdown</key><dict><key>Version</key><string>9.3</string></dict></dict>"));
            child = root.value(u"Lockdown"_s);
            grandChild = child.value(u"Version"_s);
            CFType(child).setValue(u"Extra"_s, CFType::fromInt64(5)); // changes its container
            QCOMPARE(root.value(u"Lockdown"_s).value(u"Extra"_s).toInt(), 5);
        }
        // The container's last copy is gone; its children keep it alive.
        QCOMPARE(child.value(u"Extra"_s).toInt(), 5);
        child = CFType();
        QCOMPARE(grandChild.toString(), u"9.3"_s);

        // libplist frees a replaced value; what was read out of it stays valid, also replaced by itself.
        CFType sub = dictOf({{u"deep"_s, CFType::fromString(u"old"_s)}});
        CFType dict = dictOf({{u"k"_s, sub}});
        const CFType heldSub = dict.value(u"k"_s), heldDeep = heldSub.value(u"deep"_s);
        QVERIFY(dict.setValue(u"k"_s, CFType::fromString(u"new"_s)));
        QCOMPARE(heldSub.value(u"deep"_s).toString() + heldDeep.toString() + sub.value(u"deep"_s).toString(),
                 u"oldoldold"_s);
        CFType(dict).setValue(u"k"_s, dict.value(u"k"_s));
        QCOMPARE(dict.value(u"k"_s).toString(), u"new"_s);

        // A free value moves in, so later changes show; into a second container it is copied.
        CFType outer = CFType::dictionary(), inner = CFType::dictionary(), second = CFType::dictionary();
        outer.setValue(u"Inner"_s, inner);
        inner.setValue(u"Late"_s, CFType::fromInt64(9));
        second.setValue(u"Inner"_s, inner);
        inner.setValue(u"Later"_s, CFType::fromInt64(10));
        QVERIFY(outer.value(u"Inner"_s).contains(u"Later"_s) &&
                !second.value(u"Inner"_s).contains(u"Later"_s));
        outer = CFType();
        QCOMPARE(inner.value(u"Late"_s).toInt(), 9);
        QVERIFY(inner.setValue(u"Again"_s, CFType::fromInt64(11)));
    }
    void gate_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");       // of the value read; null when the bytes are refused
        QTest::addColumn<bool>("libplistReads"); // whether libplist itself may parse the bytes
        const QString array(u""_s);              // what an array reads as: empty, but not null
        const auto row = [](const char *tag, const QByteArray &bytes, const QString &text,
                            bool libplistReads) { QTest::newRow(tag) << bytes << text << libplistReads; };
        row("no bytes", ""_ba, QString(), false);
        row("no property list", "not a property list"_ba, QString(), false);
        row("unfinished XML", "<plist version=\"1.0\"><dict><key>a</key>"_ba, QString(), false);
        row("count beyond the bytes", handMadeBinary({"\xAF\x13\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF"_ba}),
            QString(), false);
        row("reference beyond the table", handMadeBinary({arrayObject({5})}), QString(), false);
        row("list containing itself", handMadeBinary({arrayObject({0})}), QString(), false);
        row("deepest", chain(plistcheck::kMaxDepth, 1), array, true);
        row("too deep", chain(plistcheck::kMaxDepth + 1, 1), QString(), true);
        row("shared 2^10 times", chain(10, 2), array, true);
        // Just past the bound, and small enough for libplist to expand when let through.
        row("shared 2^19 times", chain(19, 2), QString(), false);
        row("NUL inside a UTF-16 key", handMadeBinary({"\xD1\x01\x02"_ba, "\x62\0a\0\0"_ba, "\x10\x01"_ba}),
            QString(), true);
        row("NUL inside a UTF-16 value", handMadeBinary({"\xD1\x01\x02"_ba, "\x51k"_ba, "\x62\0a\0\0"_ba}),
            QString(), true);
        row("date in 2317", handMadeBinary({dateObject(1e10)}), fields(2317, 11, 21, 17, 46, 40).toString(),
            true);
        row("date after 9999", handMadeBinary({dateObject(1e300)}), QString(), true);
        row("date before year 1", handMadeBinary({dateObject(-1e11)}), QString(), true);
        row("date not a number", handMadeBinary({dateObject(std::nan(""))}), QString(), true);
        row("XML date in 9999", xmlList("<date>9999-12-31T23:59:59Z</date>"),
            fields(9999, 12, 31, 23, 59, 59).toString(), true);
        row("NUL in tag names, 100000 deep",
            xmlList(QByteArray("<array\0>", 8).repeated(100000) + "</array>"_ba.repeated(100000)), QString(),
            false);
        // XML depth as libplist counts it: what hides a closing tag from it hides it from the count.
        const struct
        {
            const char *tag;
            QByteArray prologue, open;
        } shapes[] = {{"plain", {}, "<array>"_ba},
                      {"closing tag in a comment", {}, "<array><!-- </array> -->"_ba},
                      {"closing tag in CDATA", {}, "<array><string><![CDATA[</array>]]></string>"_ba},
                      {"closing tag in an instruction", {}, "<array><?pi </array>?>"_ba},
                      {"slash in a quoted attribute", {}, "<array a=\"/>\">"_ba},
                      {"closing tags in the DOCTYPE",
                       "<!DOCTYPE plist [<!-- " + "</array>"_ba.repeated(200) + " -->]>", "<array>"_ba}};
        for (const auto &shape : shapes) {
            for (int depth : {plistcheck::kMaxDepth, plistcheck::kMaxDepth + 1, 100000})
                QTest::addRow("XML %s, %d deep", shape.tag, depth)
                    << xmlList(shape.open.repeated(depth) + "<integer>1</integer>" +
                                   "</array>"_ba.repeated(depth),
                               shape.prologue)
                    << (depth == plistcheck::kMaxDepth ? array : QString()) << false;
        }
    }
    void gate()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QFETCH(bool, libplistReads);
        const CFType value = CFType::fromData(bytes);
        QCOMPARE(value.isNull(), text.isNull());
        QCOMPARE(value.toString(), text);
        if (libplistReads) {
            // A backend hands over what libplist parsed without these checks.
            plist_t node = nullptr;
            plist_from_memory(bytes.constData(), uint32_t(bytes.size()), &node);
            QVERIFY(node != nullptr);
            QCOMPARE(CFType::adoptNode(node).isNull(), text.isNull());
        }
    }
};

QTEST_GUILESS_MAIN(TestCFType)
#include "tst_cftype.moc"
