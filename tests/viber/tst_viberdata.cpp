#include "viber/TinyKv.h"
#include "viber/ViberData.h"

#include <QTest>
#include <QTimeZone>

#include <algorithm>
#include <cstdlib>
#include <ctime>

class TestViberData : public QObject
{
    Q_OBJECT

private slots:
    void states_data();
    void states();
    void labels();
    void phoneDigitsRule();
    void outgoing();
    void storeTime();
    void storeTimeHostileValues();
    void tinykvRoundTrip();
    void tinykvEmptyMap();
    void tinykvHostile_data();
    void tinykvHostile();
    void tinykvCutShortKey_data();
    void tinykvCutShortKey();
    void extraColumnsAndAssetId();
    void sortingWithEqualDates();
    void containerOwnsRecords();
};

void TestViberData::states_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("state");
    QTest::newRow("SENDING") << "SENDING" << int(ViberMsgStateDelivered);
    QTest::newRow("delivered") << "delivered" << int(ViberMsgStateDelivered);
    QTest::newRow("Received") << "Received" << int(ViberMsgStateReceived);
    QTest::newRow("send") << "send" << int(ViberMsgStateSend);
    QTest::newRow("Pending") << "Pending" << int(ViberMsgStatePending);
    QTest::newRow("pendingNotSent") << "PENDINGNOTSENT" << int(ViberMsgStatePending);
    QTest::newRow("failed") << "failed" << int(ViberMsgStateNone);
    QTest::newRow("empty") << "" << int(ViberMsgStateNone);
}

void TestViberData::states()
{
    QFETCH(QString, text);
    QFETCH(int, state);
    QCOMPARE(int(msgStateFromStoreText(text)), state);
    // What is written reads back as the same state.
    QCOMPARE(int(msgStateFromStoreText(msgStateToStoreText(ViberMsgState(state)))), state);
}

void TestViberData::labels()
{
    _ViberPerson p;
    p.name = QStringLiteral("Ann");
    p.phone = QStringLiteral("+123");
    QCOMPARE(personLabel(&p), QStringLiteral("Ann(+123)"));
    QCOMPARE(personDisplayName(&p), QStringLiteral("Ann"));
    p.name.clear();
    QCOMPARE(personLabel(&p), QStringLiteral("+123"));
    QCOMPARE(personDisplayName(&p), QStringLiteral("+123"));
    p.phone.clear();
    p.name = QStringLiteral("  Bob \t");
    QCOMPARE(personLabel(&p), QStringLiteral("Bob"));

    p.phone = QStringLiteral("+49 (171) 555-01");
    QCOMPARE(personPhoneNumber(&p), Q_INT64_C(4917155501));
    p.phone = QStringLiteral("none");
    QCOMPARE(personPhoneNumber(&p), Q_INT64_C(0));
}

void TestViberData::phoneDigitsRule()
{
    QCOMPARE(phoneDigits(QStringLiteral("+1 (555) 010-99")), QStringLiteral("155501099"));
    QCOMPARE(phoneDigits(QStringLiteral("viber1")), QStringLiteral("viber1"));
    QCOMPARE(phoneDigits(QString()), QString());
}

void TestViberData::outgoing()
{
    _ViberMsg m;
    m.type = ViberMsgTypeText;
    m.state = ViberMsgStateDelivered;
    QVERIFY(isOutgoing(&m));
    m.state = ViberMsgStateReceived;
    QVERIFY(!isOutgoing(&m));
    m.state = ViberMsgStateSend;
    m.type = ViberMsgTypeSystem;
    m.systemKind = ViberSystemKindMemberAdded;
    QVERIFY(!isOutgoing(&m));
    m.systemKind = ViberSystemKindNameChanged;
    QVERIFY(!isOutgoing(&m));
}

void TestViberData::storeTime()
{
    const QDateTime ref(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
    QCOMPARE(storeTimeToDateTime(0).toUTC(), ref);
    QCOMPARE(storeTimeToDateTime(1.9).toUTC(), ref.addSecs(1));
    QCOMPARE(storeTimeToDateTime(-0.5).toUTC(), ref);
    QCOMPARE(storeTimeToDateTime(0).timeSpec(), Qt::LocalTime);

    QCOMPARE(storeTimeToMSecs(0), Q_INT64_C(978307200000));
    QCOMPARE(storeTimeToMSecs(1.2345), Q_INT64_C(978307201234));
    QCOMPARE(msecsToStoreTime(Q_INT64_C(978307201500)), 1.5);
    QCOMPARE(unixSecsToStoreTime(978307260u), 60.0);
    // Before the reference date the 32-bit difference is negative.
    QCOMPARE(unixSecsToStoreTime(978307100u), -100.0);
}

void TestViberData::storeTimeHostileValues()
{
    // A corrupt store may hold NaN or absurd dates; they must not produce undefined casts.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QCOMPARE(storeTimeToMSecs(nan), Q_INT64_C(0));
    QCOMPARE(storeTimeToMSecs(1e300), Q_INT64_C(0));
    QVERIFY(storeTimeToDateTime(nan).isValid());
    for (double far : {9.2e18, -9.2e18, std::numeric_limits<double>::infinity()})
        QCOMPARE(storeTimeToDateTime(far), storeTimeToDateTime(0));
}

void TestViberData::tinykvRoundTrip()
{
    QVariantMap in;
    in.insert(QStringLiteral("Z_OPT"), 7);
    in.insert(QStringLiteral("ZCONTEXT"), Q_INT64_C(-1234567890123));
    in.insert(QStringLiteral("ZDOUBLE"), 2.5);
    in.insert(QStringLiteral("ZURL"), QStringLiteral("assets-library://ä"));
    in.insert(QStringLiteral("ZRANGES"), QByteArray("\x00\x01\xff", 3));
    in.insert(QStringLiteral("ZFLAG"), true);
    in.insert(QStringLiteral("ZNULL"), QVariant());

    const QByteArray blob = tinykv::serialize(in);
    QVERIFY(blob.startsWith("tinykv"));
    // Z_OPT: key length 5, "Z_OPT", 'i', 7 as little-endian 32-bit.
    QVERIFY(blob.contains(QByteArray("\x05\x00\x00\x00Z_OPTi\x07\x00\x00\x00", 14)));

    QVariantMap out;
    QVERIFY(tinykv::deserialize(blob, out));
    QCOMPARE(out.size(), in.size());
    QCOMPARE(out.value(QStringLiteral("Z_OPT")).toInt(), 7);
    QCOMPARE(out.value(QStringLiteral("ZCONTEXT")).toLongLong(), Q_INT64_C(-1234567890123));
    QCOMPARE(out.value(QStringLiteral("ZDOUBLE")).toDouble(), 2.5);
    QCOMPARE(out.value(QStringLiteral("ZURL")).toString(), QStringLiteral("assets-library://ä"));
    QCOMPARE(out.value(QStringLiteral("ZRANGES")).toByteArray(), QByteArray("\x00\x01\xff", 3));
    QCOMPARE(out.value(QStringLiteral("ZFLAG")).toInt(), 1);
    QVERIFY(out.contains(QStringLiteral("ZNULL")));
    QVERIFY(out.value(QStringLiteral("ZNULL")).isNull());
}

void TestViberData::tinykvEmptyMap()
{
    const QByteArray blob = tinykv::serialize(QVariantMap());
    QCOMPARE(blob, QByteArray("tinykv"));
    QVariantMap out;
    out.insert(QStringLiteral("stale"), 1);
    QVERIFY(tinykv::deserialize(blob, out));
    QVERIFY(out.isEmpty());
}

void TestViberData::tinykvHostile_data()
{
    QTest::addColumn<QByteArray>("blob");
    const QByteArray good = tinykv::serialize(QVariantMap{{QStringLiteral("ZURL"), QStringLiteral("x")}});
    QTest::newRow("no magic") << QByteArray("tinyk");
    QTest::newRow("wrong magic") << QByteArray("tinyKV\x01\x00\x00\x00k", 11);
    QTest::newRow("key without type") << QByteArray("tinykv\x01\x00\x00\x00k", 11);
    QTest::newRow("unknown type") << QByteArray("tinykv\x01\x00\x00\x00kx", 12);
    QTest::newRow("int cut short") << QByteArray("tinykv\x01\x00\x00\x00ki\x01\x02", 14);
    QTest::newRow("string longer than data")
        << QByteArray("tinykv\x01\x00\x00\x00ks\x10\x00\x00\x00", 16) + "ab";
    // A whole key whose value is missing or cut short spoils the entries before it.
    QTest::newRow("good then value cut short") << good + QByteArray("\x01\x00\x00\x00kl\x01", 8);
    QTest::newRow("good then key without type") << good + QByteArray("\x01\x00\x00\x00k", 5);
    QTest::newRow("good then unknown type") << good + QByteArray("\x01\x00\x00\x00k?", 6);
}

void TestViberData::tinykvHostile()
{
    QFETCH(QByteArray, blob);
    QVariantMap out;
    QVERIFY(!tinykv::deserialize(blob, out));
    QVERIFY(out.isEmpty());
    _ViberMsg m;
    m.other = blob;
    QVERIFY(readExtraColumns(&m).isEmpty());
}

void TestViberData::tinykvCutShortKey_data()
{
    QTest::addColumn<QByteArray>("blob");
    QTest::addColumn<QVariantMap>("expected");
    const QVariantMap one{{QStringLiteral("ZURL"), QStringLiteral("x")}};
    const QVariantMap two{{QStringLiteral("ZURL"), QStringLiteral("x")}, {QStringLiteral("Z_OPT"), 3}};
    const QByteArray good = tinykv::serialize(one);
    QTest::newRow("key longer than data") << QByteArray("tinykv\xff\xff\xff\x7f", 10) << QVariantMap();
    QTest::newRow("key length 4 GiB") << QByteArray("tinykv\xff\xff\xff\xff", 10) << QVariantMap();
    QTest::newRow("partial key length") << good + QByteArray("\x01\x00", 2) << one;
    QTest::newRow("three bytes of key length") << good + QByteArray("\x01\x00\x00", 3) << one;
    QTest::newRow("key one byte short") << good + QByteArray("\x03\x00\x00\x00ke", 6) << one;
    QTest::newRow("key length 4 GiB after entries") << tinykv::serialize(two) + QByteArray(4, '\xff') << two;
}

void TestViberData::tinykvCutShortKey()
{
    // Data that ends inside a key is where the entries end, not damage.
    QFETCH(QByteArray, blob);
    QFETCH(QVariantMap, expected);
    QVariantMap out;
    QVERIFY(tinykv::deserialize(blob, out));
    QCOMPARE(out, expected);
    _ViberMsg m;
    m.other = blob;
    QCOMPARE(readExtraColumns(&m), expected);
}

void TestViberData::extraColumnsAndAssetId()
{
    _ViberAtta a;
    QVERIFY(readExtraColumns(&a).isEmpty());
    QCOMPARE(photoAssetId(&a), QString());

    writeExtraColumns(&a, {{QStringLiteral("ZURL"),
                            QStringLiteral("ASSETS-LIBRARY://asset/asset.JPG?id=ab12cd-34ef&ext=JPG")}});
    QCOMPARE(photoAssetId(&a), QStringLiteral("AB12CD-34EF"));
    writeExtraColumns(&a, {{QStringLiteral("ZURL"), QStringLiteral("file:///asset/x?id=1")}});
    QCOMPARE(photoAssetId(&a), QString());
    writeExtraColumns(&a, {});
    QCOMPARE(a.other, QByteArray("tinykv"));
}

void TestViberData::sortingWithEqualDates()
{
    // Many equal dates: a non-strict comparator corrupts std::sort.
    std::vector<_ViberMsg> msgs(200);
    QList<_ViberMsg *> list;
    for (int i = 0; i < int(msgs.size()); ++i) {
        msgs[i].date = double(i % 3);
        msgs[i].id = i;
        list.append(&msgs[i]);
    }
    std::sort(list.begin(), list.end(), msgDateNotLess);
    QVERIFY(std::is_sorted(list.begin(), list.end(), msgDateNotLess));
    QCOMPARE(list.first()->date, 2.0);
    QCOMPARE(list.last()->date, 0.0);
    std::stable_sort(list.begin(), list.end(), msgDateLess);
    QCOMPARE(list.first()->date, 0.0);
    QVERIFY(!msgDateLess(list[0], list[1]) && !msgDateNotLess(list[0], list[1]));

    _ViberCall c1, c2;
    c1.date = 5;
    c2.date = 6;
    QVERIFY(callDateLess(&c1, &c2) && !callDateLess(&c2, &c1));
    QVERIFY(callDateNotLess(&c2, &c1) && !callDateNotLess(&c1, &c1));
    _ViberChat h1, h2;
    h1.date = 10;
    h2.date = 20;
    QVERIFY(chatDateGreater(&h2, &h1) && !chatDateGreater(&h1, &h2));
}

namespace {
int g_destroyed = 0;
struct CountedMsg : _ViberMsg
{
    ~CountedMsg() override { ++g_destroyed; }
};
} // namespace

void TestViberData::containerOwnsRecords()
{
    g_destroyed = 0;
    {
        ViberDataPtr data = makeEmptyViberData();
        QVERIFY(data && data->messages.isEmpty());
        for (int i = 1; i <= 3; ++i) {
            auto *m = new CountedMsg;
            m->id = i;
            data->messages.insert(m->id, m);
        }
        ViberDataPtr second = data;
        data.reset();
        QCOMPARE(g_destroyed, 0); // still held by the second pointer
    }
    QCOMPARE(g_destroyed, 3);

    const _ViberMsg fresh;
    QCOMPARE(fresh.id, Q_INT64_C(0));
    QVERIFY(!fresh.chat && !fresh.attachment && !fresh.person && !fresh.call);
    QCOMPARE(_ViberCall().type, ViberCallTypeIncoming);
}

QTEST_GUILESS_MAIN(TestViberData)
#include "tst_viberdata.moc"
