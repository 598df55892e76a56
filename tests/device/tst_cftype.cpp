#include "device/CFType.h"
#include "device/PlistCheck.h"

#include <plist/plist.h>

#include <QTest>
#include <QTimeZone>
#include <QtEndian>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

// The binary form as libplist's own writer makes it.
QByteArray toBinary(const CFType &value)
{
    char *bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(value.node(), &bin, &length);
    const QByteArray result(bin, qsizetype(length));
    plist_to_bin_free(bin);
    return result;
}

// A binary list made by hand, for shapes no writer produces: every object is
// given as its bytes, the first is the top one; references are one byte,
// offsets two.
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

// Arrays each referring refs times to the next, down to an integer: count
// levels deep, and with two references 2^count nodes once expanded.
QByteArray chain(int count, int refs)
{
    QList<QByteArray> objects;
    for (int i = 0; i < count; ++i)
        objects.append(arrayObject(QList<int>(refs, i + 1)));
    return handMadeBinary(objects << QByteArray("\x10\x01", 2));
}

// A date object of a binary list: its marker and the big-endian seconds.
QByteArray dateObject(double seconds)
{
    quint64 bits = 0;
    std::memcpy(&bits, &seconds, sizeof bits);
    bits = qToBigEndian(bits);
    return "\x33"_ba + QByteArray(reinterpret_cast<const char *>(&bits), sizeof bits);
}

QByteArray xmlList(const QByteArray &body)
{
    return "<?xml version=\"1.0\"?><plist version=\"1.0\">" + body + "</plist>";
}

CFType text(const QString &value)
{
    return CFType::fromString(value);
}

CFType dictOf(std::initializer_list<std::pair<const char *, CFType>> entries)
{
    CFType dict = CFType::dictionary();
    for (const auto &[key, value] : entries)
        dict.setValue(QString::fromUtf8(key), value);
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
    void initTestCase();
    void emptyValuesRefused();
    void numbersReadOnlyWithoutLoss_data();
    void numbersReadOnlyWithoutLoss();
    void dates_data();
    void dates();
    void roundTrip_data();
    void roundTrip();
    void containers();
    void borrowedValuesStayValid();
    void insertingMovesOrCopies();
    void damagedListsGiveEmptyValue();
    void gate_data();
    void gate();
    void xmlDepthAsTheReaderSeesIt_data();
    void xmlDepthAsTheReaderSeesIt();
    void emptyDataGetsABuffer();
};

void TestCFType::initTestCase()
{
    // Dates give their GMT fields as they are: any other zone shows a shift.
    qputenv("TZ", "America/Los_Angeles");
    tzset();
}

void TestCFType::emptyValuesRefused()
{
    const CFType empty;
    QVERIFY(empty.isNull() && empty.toData().isEmpty() && empty.value("k").isNull() && empty.at(0).isNull());
    QCOMPARE(empty.toInt(7), 7);
    QVERIFY(!CFType(empty).setValue("k", CFType::fromInt64(1)));
    // Containers refuse empty values and keys that are no strings; a scalar is no container.
    CFType dict = CFType::dictionary();
    QVERIFY(!dict.setValue("k", CFType()) && !dict.setValue(CFType::fromInt64(1), CFType::fromInt64(2)));
    QVERIFY(!CFType::array().append(CFType()));
    CFType number = CFType::fromInt64(1);
    QVERIFY(!number.setValue("k", CFType::fromInt64(2)) && !number.append(CFType::fromInt64(2)));
    QCOMPARE(dict.size(), 0);
}

void TestCFType::numbersReadOnlyWithoutLoss_data()
{
    // What each reading gives with -1 as the default.
    QTest::addColumn<CFType>("value");
    QTest::addColumn<int>("asInt");
    QTest::addColumn<qint64>("asLongLong");
    QTest::addColumn<double>("asDouble");
    QTest::addColumn<bool>("asBool"); // read with the default true
    const qint64 max = std::numeric_limits<qint64>::max();
    QTest::newRow("-2") << CFType::fromInt64(-2) << -2 << qint64(-2) << -2.0 << true;
    QTest::newRow("2^40") << CFType::fromInt64(Q_INT64_C(1) << 40) << -1 << (Q_INT64_C(1) << 40)
                          << 1099511627776.0 << true;
    QTest::newRow("2^53 + 1") << CFType::fromInt64((Q_INT64_C(1) << 53) + 1) << -1 << (Q_INT64_C(1) << 53) + 1
                              << -1.0 << true;
    QTest::newRow("int64 max") << CFType::fromInt64(max) << -1 << max << -1.0 << true;
    QTest::newRow("-3.0") << CFType::fromDouble(-3.0) << -3 << qint64(-3) << -3.0 << true;
    QTest::newRow("3.5") << CFType::fromDouble(3.5) << -1 << qint64(-1) << 3.5 << true;
    QTest::newRow("1e300") << CFType::fromDouble(1e300) << -1 << qint64(-1) << 1e300 << true;
    QTest::newRow("NaN") << CFType::fromDouble(std::nan("")) << -1 << qint64(-1) << std::nan("") << true;
    QTest::newRow("false") << CFType::fromBool(false) << -1 << qint64(-1) << -1.0 << false;
    QTest::newRow("text") << text(u"12"_s) << -1 << qint64(-1) << -1.0 << true;
}

void TestCFType::numbersReadOnlyWithoutLoss()
{
    QFETCH(CFType, value);
    QFETCH(int, asInt);
    QFETCH(qint64, asLongLong);
    QFETCH(double, asDouble);
    QFETCH(bool, asBool);
    QCOMPARE(value.toInt(-1), asInt);
    QCOMPARE(value.toLongLong(-1), asLongLong);
    QCOMPARE(value.toDouble(-1), asDouble);
    QCOMPARE(value.toBool(true), asBool);
}

void TestCFType::dates_data()
{
    QTest::addColumn<QDateTime>("instant");
    QTest::addColumn<QDateTime>("read"); // null when no date can hold the instant

    const QTimeZone utc = QTimeZone::utc();
    const qint64 first = (Q_INT64_C(978307200) + std::numeric_limits<int32_t>::min()) * 1000;
    const qint64 last = (Q_INT64_C(978307200) + std::numeric_limits<int32_t>::max()) * 1000 + 999;
    QTest::newRow("30.9 s after the origin")
        << QDateTime(QDate(2001, 1, 1), QTime(0, 0, 30, 900), utc) << fields(2001, 1, 1, 0, 0, 30);
    QTest::newRow("half a second before it")
        << QDateTime(QDate(2000, 12, 31), QTime(23, 59, 59, 500), utc) << fields(2000, 12, 31, 23, 59, 59);
    QTest::newRow("given in Tokyo") << QDateTime(QDate(2023, 7, 14), QTime(18, 30), QTimeZone("Asia/Tokyo"))
                                    << fields(2023, 7, 14, 9, 30, 0);
    QTest::newRow("first 32-bit second")
        << QDateTime::fromMSecsSinceEpoch(first, utc) << fields(1932, 12, 13, 20, 45, 52);
    QTest::newRow("before it") << QDateTime::fromMSecsSinceEpoch(first - 1, utc) << QDateTime();
    QTest::newRow("last 32-bit second")
        << QDateTime::fromMSecsSinceEpoch(last, utc) << fields(2069, 1, 19, 3, 14, 7);
    QTest::newRow("after it") << QDateTime::fromMSecsSinceEpoch(last + 1, utc) << QDateTime();
    // Far enough out that arithmetic before the bounds check would overflow.
    QTest::newRow("earliest date-time")
        << QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::min(), utc) << QDateTime();
    QTest::newRow("latest date-time")
        << QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::max(), utc) << QDateTime();
    QTest::newRow("invalid") << QDateTime() << QDateTime();
}

void TestCFType::dates()
{
    QFETCH(QDateTime, instant);
    QFETCH(QDateTime, read);
    const CFType date = CFType::fromDateTime(instant);
    QCOMPARE(date.isNull(), read.isNull());
    if (read.isNull())
        return;
    QCOMPARE(date.toDateTime(), read);
    QCOMPARE(CFType::fromData(toBinary(date)).toDateTime(), read);
}

void TestCFType::roundTrip_data()
{
    // A value goes out as XML holding the fragment given (or not at all, for what
    // libplist's writer cannot take) and comes back from XML and from the
    // binary form the same; it reads as the text given.
    QTest::addColumn<CFType>("value");
    QTest::addColumn<QByteArray>("fragment");
    QTest::addColumn<QString>("text");
    const qint64 min = std::numeric_limits<qint64>::min();
    QTest::newRow("text to escape") << text(u"<a> & \"b\" — ünï"_s)
                                    << "<string>&lt;a&gt; &amp; \"b\" — ünï</string>"_ba
                                    << u"<a> & \"b\" — ünï"_s;
    QTest::newRow("integer") << CFType::fromInt64(-123456789012345) << "<integer>-123456789012345<"_ba
                             << u"-123456789012345"_s;
    QTest::newRow("int64 min + 1") << CFType::fromInt64(min + 1) << "<integer>-9223372036854775807<"_ba
                                   << u"-9223372036854775807"_s;
    QTest::newRow("int64 min") << CFType::fromInt64(min) << QByteArray() << u"-9223372036854775808"_s;
    // Read from outside, such a value parses and reads; only writing it fails.
    QTest::newRow("parsed int64 min") << CFType::fromData(handMadeBinary({"\x13\x80\0\0\0\0\0\0\0"_ba}))
                                      << QByteArray() << u"-9223372036854775808"_s;
    QTest::newRow("real") << CFType::fromDouble(1234567.0) << "<real>1234567</real>"_ba << u"1.23457e+06"_s;
    QTest::newRow("below 2^63") << CFType::fromDouble(-9.2233720368547748e18)
                                << "<real>-9.2233720368547748e+18</real>"_ba << u"-9.22337e+18"_s;
    QTest::newRow("2^63") << CFType::fromDouble(9.2233720368547758e18) << QByteArray() << u"9.22337e+18"_s;
    QTest::newRow("not a number") << CFType::fromDouble(std::nan("")) << QByteArray() << u"nan"_s;
    QTest::newRow("true") << CFType::fromBool(true) << "<true/>"_ba << u"1"_s;
    QTest::newRow("data") << CFType::fromBytes("h\xC3\xA9llo\0\xFF"_ba) << "aMOpbGxvAP8="_ba
                          << u"héllo"_s + QChar(0) + QChar::ReplacementCharacter;
    QTest::newRow("date") << CFType::fromDateTime(
                                 QDateTime(QDate(2020, 2, 29), QTime(12, 0, 1), QTimeZone::utc()))
                          << "<date>2020-02-29T12:00:01Z</date>"_ba
                          << fields(2020, 2, 29, 12, 0, 1).toString();
    QTest::newRow("containers") << dictOf({{"Inner", dictOf({{"List", arrayOf({text(u"two"_s)})}})}})
                                << "<key>Inner</key>"_ba << QString();
}

void TestCFType::roundTrip()
{
    QFETCH(CFType, value);
    QFETCH(QByteArray, fragment);
    QFETCH(QString, text);
    QCOMPARE(value.toString(), text);
    // Nested, so that the writer's checks have to find it.
    const CFType list = dictOf({{"Deep", arrayOf({value})}});
    const QByteArray xml = list.toData();
    QVERIFY2(xml.contains(fragment) && xml.isEmpty() == fragment.isEmpty(), xml.constData());
    if (xml.isEmpty())
        return;
    const CFType back = CFType::fromData(xml);
    QCOMPARE(back.toData(), xml);
    QCOMPARE(back.value("Deep").at(0).toString(), text);
    QCOMPARE(CFType::fromData(toBinary(list)).toData(), xml);
}

void TestCFType::containers()
{
    CFType root =
        dictOf({{"List", arrayOf({CFType::fromInt64(1), text(u"two"_s)})}, {"B", CFType::fromInt64(2)}});
    QVERIFY(root.setValue(text(u"A"_s), CFType::fromInt64(3)));
    QCOMPARE(root.keys(), QStringList({"List", "B", "A"})); // the list's order, not sorted
    const CFType list = root.value("List");
    QCOMPARE(list.size(), 2);
    QCOMPARE(list.at(1).toString(), u"two"_s);
    QVERIFY(list.at(2).isNull() && list.at(-1).isNull() && !root.contains("Missing"));
    QCOMPARE(root.value(text(u"A"_s)).toInt(), 3);
    QVERIFY(root.value(CFType::fromInt64(1)).isNull());
    QCOMPARE(CFType::fromData(list.toData()).at(1).toString(), u"two"_s); // a child serialises on its own

    const CFType copy = root.deepCopy();
    root.setValue("A", CFType::fromInt64(30));
    QCOMPARE(copy.value("A").toInt(), 3);
    QCOMPARE(root.value("A").toInt(), 30);
    QCOMPARE(root.size(), 3);
}

void TestCFType::borrowedValuesStayValid()
{
    CFType child;
    CFType grandChild;
    {
        const CFType root = CFType::fromData(
            xmlList("<dict><key>Lockdown</key><dict><key>Version</key><string>9.3</string></dict></dict>"));
        child = root.value("Lockdown");
        grandChild = child.value("Version");
        // Changing a borrowed child changes its container.
        CFType(child).setValue("Extra", CFType::fromInt64(5));
        QCOMPARE(root.value("Lockdown").value("Extra").toInt(), 5);
    }
    // The container's last copy is gone; its children keep it alive.
    QCOMPARE(child.value("Extra").toInt(), 5);
    child = CFType();
    QCOMPARE(grandChild.toString(), u"9.3"_s);

    // libplist frees a replaced value; what was read out of it stays valid.
    CFType sub = dictOf({{"deep", text(u"old"_s)}});
    CFType dict = dictOf({{"k", sub}});
    const CFType heldSub = dict.value("k");
    const CFType heldDeep = heldSub.value("deep");
    QVERIFY(dict.setValue("k", text(u"new"_s)));
    QCOMPARE(dict.value("k").toString(), u"new"_s);
    QCOMPARE(heldSub.value("deep").toString(), u"old"_s);
    QCOMPARE(heldDeep.toString(), u"old"_s);
    QCOMPARE(sub.value("deep").toString(), u"old"_s);
    // So does a value replaced by itself, and copies of a value share it.
    CFType alias = dict;
    alias.setValue("k", dict.value("k"));
    QCOMPARE(dict.value("k").toString(), u"new"_s);
    QCOMPARE(dict.size(), 1);
}

void TestCFType::insertingMovesOrCopies()
{
    // A free-standing value moves in: later changes show in the container.
    CFType outer = CFType::dictionary();
    CFType inner = CFType::dictionary();
    outer.setValue("Inner", inner);
    inner.setValue("Late", CFType::fromInt64(9));
    QCOMPARE(outer.value("Inner").value("Late").toInt(), 9);
    // The same value put into a second container is copied there.
    CFType second = CFType::dictionary();
    second.setValue("Inner", inner);
    inner.setValue("Later", CFType::fromInt64(10));
    QVERIFY(outer.value("Inner").contains("Later") && !second.value("Inner").contains("Later"));
    // The moved value outlives its container and stays usable.
    outer = CFType();
    QCOMPARE(inner.value("Late").toInt(), 9);
    QVERIFY(inner.setValue("Again", CFType::fromInt64(11)));

    // A container put into itself or into its own child is copied: no cycle.
    CFType self = dictOf({{"x", CFType::fromInt64(1)}});
    QVERIFY(self.setValue("me", self));
    QCOMPARE(self.value("me").value("x").toInt(), 1);
    QVERIFY(self.value("me").value("me").isNull());
    CFType list = CFType::array();
    self.setValue("list", list);
    QVERIFY(list.append(self));
    QCOMPARE(list.at(0).value("x").toInt(), 1);
    QVERIFY(CFType::fromData(self.toData()).isDictionary());
    // A borrowed value put elsewhere is copied, its container stays intact.
    CFType target = CFType::array();
    target.append(self.value("me"));
    QCOMPARE(self.value("me").value("x").toInt(), 1);
    QCOMPARE(target.at(0).value("x").toInt(), 1);
}

void TestCFType::damagedListsGiveEmptyValue()
{
    for (const char *garbage :
         {"", "not a property list", "<plist version=\"1.0\"><dict><key>a</key>", "bplist00"})
        QVERIFY(CFType::fromData(garbage).isNull());

    CFType list = CFType::array();
    for (int i = 0; i < 20; ++i)
        list.append(CFType::fromInt64(qint64(i) * 1000003));
    const QByteArray binary =
        toBinary(dictOf({{"Name", text(u"a name long enough to matter"_s)}, {"List", list}}));
    // Every truncation is refused; random damage parses to something or nothing.
    for (int length = 0; length < binary.size(); ++length)
        QVERIFY(CFType::fromData(binary.left(length)).isNull());
    std::srand(12345);
    for (int round = 0; round < 3000; ++round) {
        QByteArray damaged = binary;
        for (int hits = 1 + std::rand() % 4; hits > 0; --hits)
            damaged[std::rand() % damaged.size()] = char(std::rand());
        const CFType value = CFType::fromData(damaged);
        value.toData();
        value.toString();
        value.keys();
    }
}

void TestCFType::gate_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");       // of the value read; null when the bytes are refused
    QTest::addColumn<bool>("libplistReads"); // whether libplist itself may parse the bytes
    const QString array("");                 // what an array reads as: empty, but not null

    QTest::newRow("count beyond the bytes")
        << handMadeBinary({"\xAF\x13\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF"_ba}) << QString() << false;
    QTest::newRow("reference beyond the table") << handMadeBinary({arrayObject({5})}) << QString() << false;
    QTest::newRow("list containing itself") << handMadeBinary({arrayObject({0})}) << QString() << false;
    QTest::newRow("deepest") << chain(plistcheck::kMaxDepth, 1) << array << true;
    QTest::newRow("too deep") << chain(plistcheck::kMaxDepth + 1, 1) << QString() << true;
    QTest::newRow("shared 2^10 times") << chain(10, 2) << array << true;
    // Just past the bound, and small enough for libplist to expand when let through.
    QTest::newRow("shared 2^19 times") << chain(19, 2) << QString() << false;
    QTest::newRow("NUL inside a UTF-16 key")
        << handMadeBinary({"\xD1\x01\x02"_ba, "\x62\0a\0\0"_ba, "\x10\x01"_ba}) << QString() << true;
    QTest::newRow("NUL inside a UTF-16 value")
        << handMadeBinary({"\xD1\x01\x02"_ba, "\x51k"_ba, "\x62\0a\0\0"_ba}) << QString() << true;
    QTest::newRow("date in 2317") << handMadeBinary({dateObject(1e10)})
                                  << fields(2317, 11, 21, 17, 46, 40).toString() << true;
    QTest::newRow("date after 9999") << handMadeBinary({dateObject(1e300)}) << QString() << true;
    QTest::newRow("date before year 1") << handMadeBinary({dateObject(-1e11)}) << QString() << true;
    QTest::newRow("date not a number") << handMadeBinary({dateObject(std::nan(""))}) << QString() << true;
    QTest::newRow("XML date in 9999") << xmlList("<date>9999-12-31T23:59:59Z</date>")
                                      << fields(9999, 12, 31, 23, 59, 59).toString() << true;
    QTest::newRow("XML date in year 1")
        << xmlList("<date>0001-01-01T00:00:00Z</date>") << fields(1, 1, 1, 0, 0, 0).toString() << true;
    QTest::newRow("NUL in tag names, 100000 deep")
        << xmlList(QByteArray("<array\0>", 8).repeated(100000) + QByteArray("</array>").repeated(100000))
        << QString() << false;
}

void TestCFType::gate()
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

void TestCFType::xmlDepthAsTheReaderSeesIt_data()
{
    // What comes before the list, and what opens one level of it.
    QTest::addColumn<QByteArray>("prologue");
    QTest::addColumn<QByteArray>("open");
    QTest::newRow("plain") << QByteArray() << "<array>"_ba;
    QTest::newRow("closing tag in a comment") << QByteArray() << "<array><!-- </array> -->"_ba;
    QTest::newRow("closing tag in CDATA")
        << QByteArray() << "<array><string><![CDATA[</array>]]></string>"_ba;
    QTest::newRow("closing tag in an instruction") << QByteArray() << "<array><?pi </array>?>"_ba;
    QTest::newRow("slash in a quoted attribute") << QByteArray() << "<array a=\"/>\">"_ba;
    QTest::newRow("closing tags in the DOCTYPE")
        << "<!DOCTYPE plist [<!-- " + "</array>"_ba.repeated(200) + " -->]>"
        << "<array>"_ba;
}

void TestCFType::xmlDepthAsTheReaderSeesIt()
{
    QFETCH(QByteArray, prologue);
    QFETCH(QByteArray, open);
    auto nested = [&](int depth) {
        return "<?xml version=\"1.0\"?>" + prologue + "<plist version=\"1.0\">" + open.repeated(depth) +
               "<integer>1</integer>" + "</array>"_ba.repeated(depth) + "</plist>";
    };
    QVERIFY(CFType::fromData(nested(plistcheck::kMaxDepth)).isArray());
    QVERIFY(CFType::fromData(nested(plistcheck::kMaxDepth + 1)).isNull());
    QVERIFY(CFType::fromData(nested(100000)).isNull());
}

void TestCFType::emptyDataGetsABuffer()
{
    // libplist's XML reader leaves empty data without a buffer, and its copy
    // then calls memcpy with the null pointer.
    auto buffer = [](const CFType &data) {
        uint64_t length = 1;
        return plist_get_data_ptr(data.node(), &length) != nullptr && length == 0;
    };
    const CFType parsed = CFType::fromData(xmlList("<dict><key>Empty</key><data></data></dict>"));
    QVERIFY(buffer(parsed.value("Empty")) && buffer(parsed.deepCopy().value("Empty")));
    const QByteArray xml = xmlList("<data/>");
    plist_t node = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &node);
    QVERIFY(buffer(CFType::adoptNode(node)));
}

QTEST_GUILESS_MAIN(TestCFType)
#include "tst_cftype.moc"
