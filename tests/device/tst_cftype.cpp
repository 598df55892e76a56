#include "device/CFType.h"
#include "device/PlistCheck.h"

#include <plist/plist.h>

#include <QTest>
#include <QTimeZone>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

namespace {

// The binary form as libplist's own writer makes it.
QByteArray toBinary(plist_t node)
{
    char *bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(node, &bin, &length);
    QByteArray result(bin, qsizetype(length));
    plist_to_bin_free(bin);
    return result;
}

// A binary list made by hand, for shapes no writer produces: every object is
// given as its bytes, references are one byte, offsets four.
QByteArray handMadeBinary(const QList<QByteArray> &objects, int top = 0)
{
    QByteArray out("bplist00");
    QList<quint32> offsets;
    for (const QByteArray &object : objects) {
        offsets.append(quint32(out.size()));
        out += object;
    }
    const quint32 table = quint32(out.size());
    for (quint32 offset : offsets) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out += char((offset >> shift) & 0xFF);
    }
    QByteArray trailer(32, '\0');
    trailer[6] = 4; // offset size
    trailer[7] = 1; // reference size
    trailer[15] = char(objects.size());
    trailer[23] = char(top);
    for (int i = 0; i < 4; ++i)
        trailer[28 + i] = char((table >> (24 - 8 * i)) & 0xFF);
    return out + trailer;
}

QByteArray arrayObject(const QList<int> &refs)
{
    QByteArray object(1, char(0xA0 | refs.size()));
    for (int ref : refs)
        object += char(ref);
    return object;
}

QByteArray nestedXml(int depth)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">" +
           QByteArray("<array>").repeated(depth) + "<integer>1</integer>" +
           QByteArray("</array>").repeated(depth) + "</plist>";
}

// A date object of a binary list: its marker and the big-endian seconds.
QByteArray dateObject(double seconds)
{
    quint64 bits = 0;
    std::memcpy(&bits, &seconds, sizeof bits);
    QByteArray object(1, char(0x33));
    for (int shift = 56; shift >= 0; shift -= 8)
        object += char((bits >> shift) & 0xFF);
    return object;
}

QByteArray xmlList(const QByteArray &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">" + body + "</plist>";
}

plist_t nestedTree(int depth)
{
    plist_t root = plist_new_array();
    plist_t current = root;
    for (int i = 1; i < depth; ++i) {
        plist_t next = plist_new_array();
        plist_array_append_item(current, next);
        current = next;
    }
    return root;
}

class ZoneGuard
{
public:
    explicit ZoneGuard(const QByteArray &zone) : m_old(qgetenv("TZ")), m_had(qEnvironmentVariableIsSet("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~ZoneGuard()
    {
        if (m_had)
            qputenv("TZ", m_old);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    QByteArray m_old;
    bool m_had;
};

} // namespace

class TestCFType : public QObject
{
    Q_OBJECT

private slots:
    void emptyValue();
    void texts_data();
    void texts();
    void numbersConvertOnlyWithoutLoss();
    void dateTruncation_data();
    void dateTruncation();
    void createdDateKeepsItsInstant();
    void xmlRoundTrip();
    void binaryParsed();
    void nestedDictionariesAndArrays();
    void borrowedChildren();
    void insertingMovesOrCopies();
    void replacedValueKeepsItsOldContent();
    void garbageGivesEmptyValue();
    void tooDeepOrTooLargeRejected();
    void hostileListsRefused_data();
    void hostileListsRefused();
    void xmlDepthAsTheReaderSeesIt_data();
    void xmlDepthAsTheReaderSeesIt();
    void datesAtTheEdges_data();
    void datesAtTheEdges();
    void farDatesRead_data();
    void farDatesRead();
    void unwritableNumbersNotWritten_data();
    void unwritableNumbersNotWritten();
    void emptyDataGetsABuffer();
};

void TestCFType::emptyValue()
{
    const CFType empty;
    QVERIFY(empty.isNull());
    QVERIFY(!empty.isNumber() && !empty.isBoolean() && !empty.isString() && !empty.isData() &&
            !empty.isDate() && !empty.isDictionary() && !empty.isArray());
    QCOMPARE(empty.toInt(7), 7);
    QCOMPARE(empty.toLongLong(-8), Q_INT64_C(-8));
    QCOMPARE(empty.toDouble(2.5), 2.5);
    QCOMPARE(empty.toBool(true), true);
    QCOMPARE(empty.toString(), QString());
    QVERIFY(empty.toByteArray().isEmpty());
    QVERIFY(empty.toDateTime().isNull());
    QVERIFY(empty.toData().isEmpty());
    QVERIFY(empty.value(QStringLiteral("k")).isNull());
    QCOMPARE(empty.size(), 0);
    QVERIFY(empty.at(0).isNull());
    QVERIFY(!CFType(empty).setValue(QStringLiteral("k"), CFType::fromInt64(1)));

    // An empty value is refused by containers, and a scalar is no container.
    CFType dict = CFType::dictionary();
    QVERIFY(!dict.setValue(QStringLiteral("k"), CFType()));
    QVERIFY(!dict.setValue(CFType::fromInt64(1), CFType::fromInt64(2))); // keys are strings
    CFType number = CFType::fromInt64(1);
    QVERIFY(!number.setValue(QStringLiteral("k"), CFType::fromInt64(2)));
    QVERIFY(!number.append(CFType::fromInt64(2)));
    QCOMPARE(dict.size(), 0);
}

void TestCFType::texts_data()
{
    QTest::addColumn<CFType>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("int64 max") << CFType::fromInt64(Q_INT64_C(9223372036854775807))
                               << QStringLiteral("9223372036854775807");
    QTest::newRow("int64 min") << CFType::fromInt64(std::numeric_limits<qint64>::min())
                               << QStringLiteral("-9223372036854775808");
    QTest::newRow("negative") << CFType::fromInt64(-5) << QStringLiteral("-5");
    QTest::newRow("0.1") << CFType::fromDouble(0.1) << QStringLiteral("0.1");
    QTest::newRow("1234567.0") << CFType::fromDouble(1234567.0) << QStringLiteral("1.23457e+06");
    QTest::newRow("2.5") << CFType::fromDouble(2.5) << QStringLiteral("2.5");
    QTest::newRow("true") << CFType::fromBool(true) << QStringLiteral("1");
    QTest::newRow("false") << CFType::fromBool(false) << QStringLiteral("0");
    QTest::newRow("string") << CFType::fromString(QStringLiteral("iPhone de José ✓"))
                            << QStringLiteral("iPhone de José ✓");
    QTest::newRow("data as UTF-8") << CFType::fromBytes(QStringLiteral("héllo").toUtf8())
                                   << QStringLiteral("héllo");
    QTest::newRow("dictionary") << CFType::dictionary() << QString();
    QTest::newRow("array") << CFType::array() << QString();
}

void TestCFType::texts()
{
    QFETCH(CFType, value);
    QFETCH(QString, text);
    QCOMPARE(value.toString(), text);
}

void TestCFType::numbersConvertOnlyWithoutLoss()
{
    const CFType big = CFType::fromInt64(Q_INT64_C(1) << 40);
    QVERIFY(big.isNumber() && big.isInteger() && !big.isReal());
    QCOMPARE(big.toInt(-1), -1);
    QCOMPARE(big.toLongLong(), Q_INT64_C(1) << 40);
    QCOMPARE(big.toDouble(), 1099511627776.0);

    const CFType odd = CFType::fromInt64((Q_INT64_C(1) << 53) + 1); // no double holds it
    QCOMPARE(odd.toDouble(-1), -1.0);
    QCOMPARE(CFType::fromInt64(std::numeric_limits<qint64>::max()).toDouble(-1), -1.0);

    QCOMPARE(CFType::fromDouble(3.0).toInt(-1), 3);
    QCOMPARE(CFType::fromDouble(-3.0).toLongLong(-1), Q_INT64_C(-3));
    QCOMPARE(CFType::fromDouble(3.5).toInt(-1), -1);
    QCOMPARE(CFType::fromDouble(1e300).toLongLong(-1), Q_INT64_C(-1));
    QCOMPARE(CFType::fromDouble(std::nan("")).toInt(-1), -1);
    QCOMPARE(CFType::fromInt64(-2).toInt(), -2);

    // Booleans are no numbers and numbers no booleans.
    QCOMPARE(CFType::fromBool(true).toInt(-1), -1);
    QCOMPARE(CFType::fromInt64(1).toBool(false), false);
    QCOMPARE(CFType::fromBool(true).toBool(false), true);
    QCOMPARE(CFType::fromBool(false).toBool(true), false);
    QCOMPARE(CFType::fromString(QStringLiteral("12")).toInt(-1), -1);
    QVERIFY(CFType::fromString(QStringLiteral("x")).toByteArray().isEmpty());
}

void TestCFType::dateTruncation_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::newRow("UTC") << QByteArray("UTC");
    QTest::newRow("Tokyo") << QByteArray("Asia/Tokyo");
    QTest::newRow("Los Angeles") << QByteArray("America/Los_Angeles");
}

void TestCFType::dateTruncation()
{
    QFETCH(QByteArray, zone);
    const ZoneGuard guard(zone);

    // 2001-01-01 00:00:30.9 GMT, as a device sends it in a binary list.
    plist_t node = plist_new_date(30, 900000);
    const CFType parsed = CFType::fromData(toBinary(node));
    plist_free(node);
    QVERIFY(parsed.isDate());
    const QDateTime read = parsed.toDateTime();
    QCOMPARE(read.timeSpec(), Qt::LocalTime);
    QCOMPARE(read.date(), QDate(2001, 1, 1));
    QCOMPARE(read.time(), QTime(0, 0, 30));
    QCOMPARE(read.time().msec(), 0);
    QCOMPARE(parsed.toString(), QDateTime(QDate(2001, 1, 1), QTime(0, 0, 30), Qt::LocalTime).toString());

    // Before the origin the seconds still truncate downwards.
    const CFType early =
        CFType::fromDateTime(QDateTime(QDate(2000, 12, 31), QTime(23, 59, 58, 500), QTimeZone::utc()));
    QCOMPARE(early.toDateTime(), QDateTime(QDate(2000, 12, 31), QTime(23, 59, 58), Qt::LocalTime));
}

void TestCFType::createdDateKeepsItsInstant()
{
    const QDateTime utc(QDate(2023, 7, 14), QTime(9, 30, 15), QTimeZone::utc());
    CFType date = CFType::fromDateTime(utc);
    QVERIFY(date.isDate());
    QCOMPARE(date.toDateTime(), QDateTime(utc.date(), utc.time(), Qt::LocalTime));
    // The same instant given in another zone stores the same value.
    const CFType shifted = CFType::fromDateTime(utc.toTimeZone(QTimeZone("Asia/Tokyo")));
    QCOMPARE(shifted.toDateTime(), date.toDateTime());

    QVERIFY(CFType::fromDateTime(QDateTime()).isNull());
    QVERIFY(CFType::fromDateTime(QDateTime(QDate(2100, 1, 1), QTime(0, 0), QTimeZone::utc())).isNull());
}

void TestCFType::xmlRoundTrip()
{
    CFType dict = CFType::dictionary();
    QVERIFY(dict.setValue(QStringLiteral("Command"), CFType::fromString(QStringLiteral("VendContainer"))));
    QVERIFY(dict.setValue(CFType::fromString(QStringLiteral("Size")), CFType::fromInt64(-123456789012345)));
    dict.setValue(QStringLiteral("Ratio"), CFType::fromDouble(0.25));
    dict.setValue(QStringLiteral("Flag"), CFType::fromBool(true));
    dict.setValue(QStringLiteral("Blob"), CFType::fromBytes(QByteArray("\x00\x01\xFF<&>", 6)));
    dict.setValue(QStringLiteral("When"),
                  CFType::fromDateTime(QDateTime(QDate(2020, 2, 29), QTime(12, 0, 1), QTimeZone::utc())));
    dict.setValue(QStringLiteral("Text"), CFType::fromString(QStringLiteral("<a> & \"b\" — ünï")));

    const QByteArray xml = dict.toData();
    QVERIFY(xml.startsWith("<?xml"));
    QVERIFY(xml.contains("<key>Command</key>"));
    QVERIFY(xml.contains("<string>VendContainer</string>"));
    QVERIFY(xml.contains("&lt;a&gt; &amp;"));

    const CFType back = CFType::fromData(xml);
    QVERIFY(back.isDictionary());
    QCOMPARE(back.keys(), dict.keys());
    QCOMPARE(back.value(QStringLiteral("Command")).toString(), QStringLiteral("VendContainer"));
    QCOMPARE(back.value(QStringLiteral("Size")).toLongLong(), Q_INT64_C(-123456789012345));
    QCOMPARE(back.value(QStringLiteral("Ratio")).toDouble(), 0.25);
    QCOMPARE(back.value(QStringLiteral("Flag")).toBool(), true);
    QCOMPARE(back.value(QStringLiteral("Blob")).toByteArray(), QByteArray("\x00\x01\xFF<&>", 6));
    QCOMPARE(back.value(QStringLiteral("When")).toDateTime(),
             QDateTime(QDate(2020, 2, 29), QTime(12, 0, 1), Qt::LocalTime));
    QCOMPARE(back.value(QStringLiteral("Text")).toString(), QStringLiteral("<a> & \"b\" — ünï"));
    QCOMPARE(back.toData(), xml);

    // A child serialises on its own.
    const CFType child = back.value(QStringLiteral("Command"));
    QCOMPARE(CFType::fromData(child.toData()).toString(), QStringLiteral("VendContainer"));
}

void TestCFType::binaryParsed()
{
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "ProductVersion", plist_new_string("16.4.1"));
    plist_dict_set_item(root, "TotalDataCapacity", plist_new_uint(Q_UINT64_C(255000000000)));
    plist_t list = plist_new_array();
    plist_array_append_item(list, plist_new_string("com.viber"));
    plist_array_append_item(list, plist_new_real(1.5));
    plist_dict_set_item(root, "Apps", list);
    const QByteArray binary = toBinary(root);
    plist_free(root);
    QVERIFY(binary.startsWith("bplist00"));

    const CFType parsed = CFType::fromData(binary);
    QVERIFY(parsed.isDictionary());
    QCOMPARE(parsed.value(QStringLiteral("ProductVersion")).toString(), QStringLiteral("16.4.1"));
    QCOMPARE(parsed.value(QStringLiteral("TotalDataCapacity")).toLongLong(), Q_INT64_C(255000000000));
    const CFType apps = parsed.value(QStringLiteral("Apps"));
    QCOMPARE(apps.size(), 2);
    QCOMPARE(apps.at(0).toString(), QStringLiteral("com.viber"));
    QCOMPARE(apps.at(1).toDouble(), 1.5);
    // And it serialises to XML like any other value.
    QCOMPARE(CFType::fromData(parsed.toData()).value(QStringLiteral("ProductVersion")).toString(),
             QStringLiteral("16.4.1"));
}

void TestCFType::nestedDictionariesAndArrays()
{
    CFType root = CFType::dictionary();
    CFType inner = CFType::dictionary();
    CFType list = CFType::array();
    QVERIFY(list.append(CFType::fromInt64(1)));
    QVERIFY(list.append(CFType::fromString(QStringLiteral("two"))));
    QVERIFY(inner.setValue(QStringLiteral("List"), list));
    QVERIFY(root.setValue(QStringLiteral("Inner"), inner));
    root.setValue(QStringLiteral("B"), CFType::fromInt64(2));
    root.setValue(QStringLiteral("A"), CFType::fromInt64(3));

    QCOMPARE(root.size(), 3);
    QCOMPARE(root.keys(), QStringList({"Inner", "B", "A"}));
    const CFType readList = root.value(QStringLiteral("Inner")).value(QStringLiteral("List"));
    QVERIFY(readList.isArray());
    QCOMPARE(readList.size(), 2);
    QCOMPARE(readList.at(0).toInt(), 1);
    QCOMPARE(readList.at(1).toString(), QStringLiteral("two"));
    QVERIFY(readList.at(2).isNull());
    QVERIFY(readList.at(-1).isNull());
    QVERIFY(root.value(QStringLiteral("Missing")).isNull());
    QVERIFY(!root.contains(QStringLiteral("Missing")));
    QVERIFY(root.contains(QStringLiteral("A")));
    QVERIFY(root.value(CFType::fromString(QStringLiteral("A"))).isNumber());
    QVERIFY(root.value(CFType::fromInt64(1)).isNull());

    const CFType back = CFType::fromData(root.toData());
    QCOMPARE(back.value(QStringLiteral("Inner")).value(QStringLiteral("List")).at(1).toString(),
             QStringLiteral("two"));

    const CFType copy = root.deepCopy();
    root.setValue(QStringLiteral("A"), CFType::fromInt64(30));
    QCOMPARE(copy.value(QStringLiteral("A")).toInt(), 3);
    QCOMPARE(root.value(QStringLiteral("A")).toInt(), 30);
    QCOMPARE(root.size(), 3);
}

void TestCFType::borrowedChildren()
{
    CFType child;
    CFType grandChild;
    {
        const CFType root =
            CFType::fromData("<plist version=\"1.0\"><dict><key>Lockdown</key><dict><key>ProductVersion</key>"
                             "<string>9.3</string></dict></dict></plist>");
        QVERIFY(root.isDictionary());
        child = root.value(QStringLiteral("Lockdown"));
        grandChild = child.value(QStringLiteral("ProductVersion"));
        // Changing a borrowed child changes its container.
        CFType(child).setValue(QStringLiteral("Extra"), CFType::fromInt64(5));
        QCOMPARE(root.value(QStringLiteral("Lockdown")).value(QStringLiteral("Extra")).toInt(), 5);
    }
    // The container's last copy is gone; its children keep it alive.
    QCOMPARE(grandChild.toString(), QStringLiteral("9.3"));
    QCOMPARE(child.value(QStringLiteral("Extra")).toInt(), 5);
    child = CFType();
    QCOMPARE(grandChild.toString(), QStringLiteral("9.3"));

    // Copies of a value share it.
    CFType dict = CFType::dictionary();
    CFType alias = dict;
    alias.setValue(QStringLiteral("k"), CFType::fromInt64(1));
    QCOMPARE(dict.value(QStringLiteral("k")).toInt(), 1);
}

void TestCFType::insertingMovesOrCopies()
{
    // A free-standing value moves in: later changes show in the container.
    CFType outer = CFType::dictionary();
    CFType inner = CFType::dictionary();
    outer.setValue(QStringLiteral("Inner"), inner);
    inner.setValue(QStringLiteral("Late"), CFType::fromInt64(9));
    QCOMPARE(outer.value(QStringLiteral("Inner")).value(QStringLiteral("Late")).toInt(), 9);

    // The same value put into a second container is copied there.
    CFType second = CFType::dictionary();
    second.setValue(QStringLiteral("Inner"), inner);
    inner.setValue(QStringLiteral("Later"), CFType::fromInt64(10));
    QVERIFY(outer.value(QStringLiteral("Inner")).contains(QStringLiteral("Later")));
    QVERIFY(!second.value(QStringLiteral("Inner")).contains(QStringLiteral("Later")));

    // The moved value outlives its container and stays usable.
    outer = CFType();
    QCOMPARE(inner.value(QStringLiteral("Late")).toInt(), 9);
    QVERIFY(inner.setValue(QStringLiteral("Again"), CFType::fromInt64(11)));

    // A container put into itself or into its own child is copied: no cycle.
    CFType self = CFType::dictionary();
    self.setValue(QStringLiteral("x"), CFType::fromInt64(1));
    QVERIFY(self.setValue(QStringLiteral("me"), self));
    QCOMPARE(self.value(QStringLiteral("me")).value(QStringLiteral("x")).toInt(), 1);
    QVERIFY(self.value(QStringLiteral("me")).value(QStringLiteral("me")).isNull());
    CFType list = CFType::array();
    self.setValue(QStringLiteral("list"), list);
    QVERIFY(list.append(self));
    QCOMPARE(list.at(0).value(QStringLiteral("x")).toInt(), 1);
    QVERIFY(CFType::fromData(self.toData()).isDictionary());

    // A borrowed value put elsewhere is copied, its container stays intact.
    CFType target = CFType::array();
    target.append(self.value(QStringLiteral("me")));
    QCOMPARE(self.value(QStringLiteral("me")).value(QStringLiteral("x")).toInt(), 1);
    QCOMPARE(target.at(0).value(QStringLiteral("x")).toInt(), 1);
}

void TestCFType::replacedValueKeepsItsOldContent()
{
    CFType dict = CFType::dictionary();
    CFType sub = CFType::dictionary();
    sub.setValue(QStringLiteral("deep"), CFType::fromString(QStringLiteral("old")));
    dict.setValue(QStringLiteral("k"), sub);
    const CFType heldSub = dict.value(QStringLiteral("k"));
    const CFType heldDeep = heldSub.value(QStringLiteral("deep"));

    // libplist frees a replaced value; what was read out of it stays valid.
    QVERIFY(dict.setValue(QStringLiteral("k"), CFType::fromString(QStringLiteral("new"))));
    QCOMPARE(dict.value(QStringLiteral("k")).toString(), QStringLiteral("new"));
    QCOMPARE(heldSub.value(QStringLiteral("deep")).toString(), QStringLiteral("old"));
    QCOMPARE(heldDeep.toString(), QStringLiteral("old"));
    QCOMPARE(sub.value(QStringLiteral("deep")).toString(), QStringLiteral("old"));

    // Replacing a value by itself works too.
    dict.setValue(QStringLiteral("k"), dict.value(QStringLiteral("k")));
    QCOMPARE(dict.value(QStringLiteral("k")).toString(), QStringLiteral("new"));
    QCOMPARE(dict.size(), 1);
}

void TestCFType::garbageGivesEmptyValue()
{
    QVERIFY(CFType::fromData(QByteArray()).isNull());
    QVERIFY(CFType::fromData("not a property list").isNull());
    QVERIFY(CFType::fromData("<plist version=\"1.0\"><dict><key>a</key>").isNull());
    QVERIFY(CFType::fromData("bplist00").isNull());

    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "Name", plist_new_string("a name long enough to matter"));
    plist_t list = plist_new_array();
    for (int i = 0; i < 20; ++i)
        plist_array_append_item(list, plist_new_uint(uint64_t(i) * 1000003));
    plist_dict_set_item(root, "List", list);
    const QByteArray binary = toBinary(root);
    plist_free(root);

    // Every truncation, and random damage, parses to something or nothing.
    for (int length = 0; length < binary.size(); ++length)
        QVERIFY(CFType::fromData(binary.left(length)).isNull() || length > 8);
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

    // A binary list whose one object claims far more elements than there are.
    QByteArray hugeCount("\xAF\x13\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10);
    QVERIFY(CFType::fromData(handMadeBinary({hugeCount})).isNull());
    // References beyond the object table.
    QVERIFY(CFType::fromData(handMadeBinary({arrayObject({5})})).isNull());
    // A well-formed hand-made list parses, so the checks above are not vacuous.
    const CFType ok = CFType::fromData(handMadeBinary({arrayObject({1, 1}), QByteArray("\x10\x07", 2)}));
    QVERIFY(ok.isArray());
    QCOMPARE(ok.size(), 2);
    QCOMPARE(ok.at(1).toInt(), 7);
}

void TestCFType::tooDeepOrTooLargeRejected()
{
    QVERIFY(CFType::fromData(nestedXml(plistcheck::kMaxDepth)).isArray());
    QVERIFY(CFType::fromData(nestedXml(plistcheck::kMaxDepth + 1)).isNull());
    QVERIFY(CFType::fromData(nestedXml(100000)).isNull());

    // A list that contains itself.
    QVERIFY(CFType::fromData(handMadeBinary({arrayObject({0})})).isNull());

    // Deep chains in binary form.
    auto chain = [](int depth) {
        QList<QByteArray> objects;
        for (int i = 0; i < depth; ++i)
            objects.append(arrayObject({i + 1}));
        objects.append(QByteArray("\x10\x01", 2));
        return handMadeBinary(objects);
    };
    QVERIFY(CFType::fromData(chain(plistcheck::kMaxDepth)).isArray());
    QVERIFY(CFType::fromData(chain(plistcheck::kMaxDepth + 1)).isNull());

    // Arrays each referring twice to the next: forty of them expand to 2^40 nodes.
    auto doubling = [](int count) {
        QList<QByteArray> objects;
        for (int i = 0; i < count; ++i)
            objects.append(arrayObject({i + 1, i + 1}));
        objects.append(QByteArray("\x10\x01", 2));
        return handMadeBinary(objects);
    };
    QVERIFY(CFType::fromData(doubling(40)).isNull());
    // Sharing within bounds is accepted and expanded.
    const CFType shared = CFType::fromData(doubling(10));
    QVERIFY(shared.isArray());
    QCOMPARE(shared.at(1).at(0).size(), 2);

    // Trees handed over by a backend get the same depth limit.
    QVERIFY(CFType::adoptNode(nestedTree(plistcheck::kMaxDepth)).isArray());
    QVERIFY(CFType::adoptNode(nestedTree(plistcheck::kMaxDepth + 1)).isNull());
}

void TestCFType::hostileListsRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("libplistReads"); // whether libplist itself parses the bytes

    QTest::newRow("NUL inside a UTF-16 key")
        << QByteArray::fromHex("62706c6973743030d1010262006100001001080b1000000000000001010000000000000003"
                               "00000000000000000000000000000012")
        << true;
    QTest::newRow("NUL inside a UTF-16 value")
        << handMadeBinary({QByteArray("\xD1\x01\x02", 3), QByteArray("\x51k"), QByteArray("\x62\0a\0\0", 5)})
        << true;
    QTest::newRow("date after 9999") << handMadeBinary({dateObject(1e300)}) << true;
    QTest::newRow("date before year 1") << handMadeBinary({dateObject(-1e11)}) << true;
    QTest::newRow("date not a number") << handMadeBinary({dateObject(std::nan(""))}) << true;
    QTest::newRow("NUL in tag names, 100000 deep")
        << xmlList(QByteArray("<array\0>", 8).repeated(100000) + QByteArray("</array>").repeated(100000))
        << false;
}

void TestCFType::hostileListsRefused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, libplistReads);
    QVERIFY(CFType::fromData(bytes).isNull());
    if (libplistReads) {
        // A backend hands over what libplist parsed without these checks.
        plist_t node = nullptr;
        plist_from_memory(bytes.constData(), uint32_t(bytes.size()), &node);
        QVERIFY(node != nullptr);
        QVERIFY(CFType::adoptNode(node).isNull());
    }
}

void TestCFType::xmlDepthAsTheReaderSeesIt_data()
{
    // What comes before the list, and what opens one level of it.
    QTest::addColumn<QByteArray>("prologue");
    QTest::addColumn<QByteArray>("open");
    QTest::newRow("plain") << QByteArray() << QByteArray("<array>");
    QTest::newRow("closing tag in a comment") << QByteArray() << QByteArray("<array><!-- </array> -->");
    QTest::newRow("closing tag in CDATA")
        << QByteArray() << QByteArray("<array><string><![CDATA[</array>]]></string>");
    QTest::newRow("closing tag in an instruction") << QByteArray() << QByteArray("<array><?pi </array>?>");
    QTest::newRow("slash in a quoted attribute") << QByteArray() << QByteArray("<array a=\"/>\">");
    QTest::newRow("closing tags in the DOCTYPE")
        << "<!DOCTYPE plist [<!-- " + QByteArray("</array>").repeated(200) + " -->]>"
        << QByteArray("<array>");
}

void TestCFType::xmlDepthAsTheReaderSeesIt()
{
    QFETCH(QByteArray, prologue);
    QFETCH(QByteArray, open);
    auto nested = [&](int depth) {
        return "<?xml version=\"1.0\"?>" + prologue + "<plist version=\"1.0\">" + open.repeated(depth) +
               "<integer>1</integer>" + QByteArray("</array>").repeated(depth) + "</plist>";
    };
    const CFType deepest = CFType::fromData(nested(plistcheck::kMaxDepth));
    QVERIFY(deepest.isArray());
    QVERIFY(CFType::fromData(nested(plistcheck::kMaxDepth + 1)).isNull());
    QVERIFY(CFType::fromData(nested(100000)).isNull());
}

void TestCFType::datesAtTheEdges_data()
{
    QTest::addColumn<QDateTime>("instant");
    QTest::addColumn<QDateTime>("read"); // null when no date can hold the instant

    const QTimeZone utc = QTimeZone::utc();
    const qint64 first = (Q_INT64_C(978307200) + std::numeric_limits<int32_t>::min()) * 1000;
    const qint64 last = (Q_INT64_C(978307200) + std::numeric_limits<int32_t>::max()) * 1000 + 999;
    QTest::newRow("half a second before the origin")
        << QDateTime(QDate(2000, 12, 31), QTime(23, 59, 59, 500), utc)
        << QDateTime(QDate(2000, 12, 31), QTime(23, 59, 59), Qt::LocalTime);
    QTest::newRow("first 32-bit second") << QDateTime::fromMSecsSinceEpoch(first, utc)
                                         << QDateTime(QDate(1932, 12, 13), QTime(20, 45, 52), Qt::LocalTime);
    QTest::newRow("before it") << QDateTime::fromMSecsSinceEpoch(first - 1, utc) << QDateTime();
    QTest::newRow("last 32-bit second") << QDateTime::fromMSecsSinceEpoch(last, utc)
                                        << QDateTime(QDate(2069, 1, 19), QTime(3, 14, 7), Qt::LocalTime);
    QTest::newRow("after it") << QDateTime::fromMSecsSinceEpoch(last + 1, utc) << QDateTime();
    // Far enough out that arithmetic before the bounds check would overflow.
    QTest::newRow("earliest date-time")
        << QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::min(), utc) << QDateTime();
    QTest::newRow("latest date-time")
        << QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::max(), utc) << QDateTime();
}

void TestCFType::datesAtTheEdges()
{
    QFETCH(QDateTime, instant);
    QFETCH(QDateTime, read);
    const CFType date = CFType::fromDateTime(instant);
    QCOMPARE(date.isNull(), read.isNull());
    if (read.isNull())
        return;
    QCOMPARE(date.toDateTime(), read);
    QCOMPARE(CFType::fromData(toBinary(date.node())).toDateTime(), read);
}

void TestCFType::farDatesRead_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QDateTime>("read");
    QTest::newRow("XML, 2100") << xmlList("<date>2100-01-01T00:00:00Z</date>")
                               << QDateTime(QDate(2100, 1, 1), QTime(0, 0), Qt::LocalTime);
    QTest::newRow("XML, year 1") << xmlList("<date>0001-01-01T00:00:00Z</date>")
                                 << QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::LocalTime);
    QTest::newRow("XML, 9999") << xmlList("<date>9999-12-31T23:59:59Z</date>")
                               << QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59), Qt::LocalTime);
    QTest::newRow("binary, 2317") << handMadeBinary({dateObject(1e10)})
                                  << QDateTime(QDate(2317, 11, 21), QTime(17, 46, 40), Qt::LocalTime);
}

void TestCFType::farDatesRead()
{
    QFETCH(QByteArray, list);
    QFETCH(QDateTime, read);
    const CFType date = CFType::fromData(list);
    QVERIFY(date.isDate());
    QCOMPARE(date.toDateTime(), read);
}

void TestCFType::unwritableNumbersNotWritten_data()
{
    QTest::addColumn<CFType>("value");
    QTest::addColumn<bool>("writable");
    QTest::newRow("int64 min") << CFType::fromInt64(std::numeric_limits<qint64>::min()) << false;
    QTest::newRow("int64 min + 1") << CFType::fromInt64(std::numeric_limits<qint64>::min() + 1) << true;
    QTest::newRow("not a number") << CFType::fromDouble(std::nan("")) << false;
    QTest::newRow("infinity") << CFType::fromDouble(-std::numeric_limits<double>::infinity()) << false;
    QTest::newRow("2^63") << CFType::fromDouble(9.2233720368547758e18) << false;
    QTest::newRow("below 2^63") << CFType::fromDouble(-9.2233720368547748e18) << true;
    // Read from outside, such a value parses and reads; only writing it fails.
    QTest::newRow("parsed int64 min")
        << CFType::fromData(handMadeBinary({QByteArray("\x13\x80\0\0\0\0\0\0\0", 9)})) << false;
}

void TestCFType::unwritableNumbersNotWritten()
{
    QFETCH(CFType, value);
    QFETCH(bool, writable);
    QVERIFY(value.isNumber());
    CFType dict = CFType::dictionary();
    QVERIFY(dict.setValue(QStringLiteral("Deep"), CFType::array()));
    QVERIFY(dict.value(QStringLiteral("Deep")).append(value));
    QCOMPARE(!dict.toData().isEmpty(), writable);
    if (writable)
        QCOMPARE(CFType::fromData(dict.toData()).value(QStringLiteral("Deep")).at(0).toString(),
                 value.toString());
}

void TestCFType::emptyDataGetsABuffer()
{
    // libplist's XML reader leaves empty data without a buffer, and its copy
    // then calls memcpy with the null pointer.
    auto buffer = [](const CFType &data) {
        uint64_t length = 1;
        const char *bytes = plist_get_data_ptr(data.node(), &length);
        return bytes != nullptr && length == 0;
    };
    const CFType parsed = CFType::fromData(xmlList("<dict><key>Empty</key><data></data></dict>"));
    QVERIFY(buffer(parsed.value(QStringLiteral("Empty"))));
    QVERIFY(buffer(parsed.deepCopy().value(QStringLiteral("Empty"))));

    const QByteArray xml = xmlList("<data/>");
    plist_t node = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &node);
    QVERIFY(buffer(CFType::adoptNode(node)));
}

QTEST_GUILESS_MAIN(TestCFType)
#include "tst_cftype.moc"
