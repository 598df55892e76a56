#include "viber/TinyKv.h"
#include "viber/ViberData.h"

#include <QTest>
#include <QTimeZone>

#include <algorithm>
#include <limits>

class TestViberData : public QObject
{
    Q_OBJECT

private slots:
    void states_data();
    void states();
    void personFields();
    void outgoing();
    void storeTime();
    void tinykvRoundTrip();
    void tinykvDamaged_data();
    void tinykvDamaged();
    void assetIdFromUrl();
    void newerFirstIsAStrictOrder();
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

void TestViberData::personFields()
{
    _ViberPerson p;
    p.name = QStringLiteral("Ann");
    p.phone = QStringLiteral("+123");
    QCOMPARE(personLabel(&p) + '/' + personDisplayName(&p), "Ann(+123)/Ann");
    p.name.clear();
    QCOMPARE(personLabel(&p) + '/' + personDisplayName(&p), "+123/+123");
    p.phone.clear();
    p.name = QStringLiteral("  Bob \t");
    QCOMPARE(personLabel(&p), "Bob");

    // A right-to-left name is isolated, so that it cannot carry the number with it.
    p.name = QStringLiteral("محمد");
    p.phone = QStringLiteral("+123");
    QCOMPARE(personLabel(&p), u"\u2068محمد\u2069(+123)");
    for (const QString &text : {QStringLiteral("abc"), QStringLiteral("a\u202Eb"), QStringLiteral("שלום"),
                                QStringLiteral("x\u2067y"), QString::fromUcs4(U"\U00010900"), QString()}) {
        const bool rtl = text.size() > 1 && text != u"abc";
        QCOMPARE(isolatedText(text), rtl ? QChar(0x2068) + text + QChar(0x2069) : text);
    }

    p.phone = QStringLiteral("+49 (171) 555-01");
    QCOMPARE(personPhoneNumber(&p), Q_INT64_C(4917155501));
    p.phone = QStringLiteral("none");
    QCOMPARE(personPhoneNumber(&p), 0);
    // A number with letters is an account name and stays whole.
    QCOMPARE(phoneDigits("+1 (555) 010-99"), "155501099");
    QCOMPARE(phoneDigits("viber1"), "viber1");
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
    for (ViberSystemKind kind : {ViberSystemKindMemberAdded, ViberSystemKindNameChanged}) {
        m.systemKind = kind;
        QVERIFY(!isOutgoing(&m));
    }
    // A call entry goes by the call's direction, not by a state it does not have.
    _ViberCall call;
    m.type = ViberMsgTypeCall;
    QVERIFY(!isOutgoing(&m));
    m.call = &call;
    for (ViberCallType type : {ViberCallTypeIncoming, ViberCallTypeMissed, ViberCallTypeOutgoing}) {
        call.type = type;
        QCOMPARE(isOutgoing(&m), type == ViberCallTypeOutgoing);
    }
}

void TestViberData::storeTime()
{
    const QDateTime ref(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
    QCOMPARE(storeTimeToDateTime(0).toUTC(), ref);
    QCOMPARE(storeTimeToDateTime(1.9).toUTC(), ref.addSecs(1));
    QCOMPARE(storeTimeToDateTime(-0.5).toUTC(), ref);
    QCOMPARE(storeTimeToDateTime(0).timeSpec(), Qt::LocalTime);
    QCOMPARE(storeTimeToMSecs(1.2345), Q_INT64_C(978307201234));
    QCOMPARE(msecsToStoreTime(Q_INT64_C(978307201500)), 1.5);
    QCOMPARE(unixSecsToStoreTime(978307260u), 60.0);
    // Before the reference date the 32-bit difference is negative.
    QCOMPARE(unixSecsToStoreTime(978307100u), -100.0);

    // A corrupt store may hold NaN or absurd dates; they must not produce undefined casts.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QCOMPARE(storeTimeToMSecs(nan), 0);
    QCOMPARE(storeTimeToMSecs(1e300), 0);
    QVERIFY(storeTimeToDateTime(nan).isValid());
    for (double far : {9.2e18, -9.2e18, std::numeric_limits<double>::infinity()})
        QCOMPARE(storeTimeToDateTime(far), storeTimeToDateTime(0));
}

void TestViberData::tinykvRoundTrip()
{
    const QVariantMap in{{"Z_OPT", 7},
                         {"ZCONTEXT", Q_INT64_C(-1234567890123)},
                         {"ZDOUBLE", 2.5},
                         {"ZURL", QStringLiteral("assets-library://ä")},
                         {"ZRANGES", QByteArray("\x00\x01\xff", 3)},
                         {"ZFLAG", true},
                         {"ZNULL", QVariant()}};
    const QByteArray blob = tinykv::serialize(in);
    // Local databases keep this form: Z_OPT is key length 5, "Z_OPT", 'i', 7 as little-endian 32-bit.
    QVERIFY(blob.startsWith("tinykv"));
    QVERIFY(blob.contains(QByteArray("\x05\x00\x00\x00Z_OPTi\x07\x00\x00\x00", 14)));

    QVariantMap out;
    QVERIFY(tinykv::deserialize(blob, out));
    QVariantMap expected = in;
    expected.insert("ZFLAG", 1);
    QCOMPARE(out, expected);
    QCOMPARE(out.value("ZCONTEXT").typeId(), QMetaType::LongLong);

    // An empty map is the magic alone, and reading it clears what was there.
    QCOMPARE(tinykv::serialize({}), "tinykv");
    QVERIFY(tinykv::deserialize("tinykv", out));
    QVERIFY(out.isEmpty());
}

void TestViberData::tinykvDamaged_data()
{
    QTest::addColumn<QByteArray>("blob");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QVariantMap>("expected");
    const QVariantMap one{{"ZURL", "x"}};
    const QVariantMap two{{"ZURL", "x"}, {"Z_OPT", 3}};
    const QByteArray good = tinykv::serialize(one);
    auto row = [](const char *tag, const QByteArray &blob, bool ok, const QVariantMap &expected) {
        QTest::newRow(tag) << blob << ok << expected;
    };
    // Damage: nothing is read.
    row("no magic", QByteArray("tinyk"), false, {});
    row("wrong magic", QByteArray("tinyKV\x01\x00\x00\x00k", 11), false, {});
    row("key without type", QByteArray("tinykv\x01\x00\x00\x00k", 11), false, {});
    row("unknown type", QByteArray("tinykv\x01\x00\x00\x00kx", 12), false, {});
    row("int cut short", QByteArray("tinykv\x01\x00\x00\x00ki\x01\x02", 14), false, {});
    row("string longer than data", QByteArray("tinykv\x01\x00\x00\x00ks\x10\x00\x00\x00", 16) + "ab", false,
        {});
    // A whole key whose value is missing or cut short spoils the entries before it.
    row("good then value cut short", good + QByteArray("\x01\x00\x00\x00kl\x01", 8), false, {});
    row("good then key without type", good + QByteArray("\x01\x00\x00\x00k", 5), false, {});
    row("good then unknown type", good + QByteArray("\x01\x00\x00\x00k?", 6), false, {});
    // Data that ends inside a key is where the entries end, not damage.
    row("key longer than data", QByteArray("tinykv\xff\xff\xff\x7f", 10), true, {});
    row("key length 4 GiB", QByteArray("tinykv\xff\xff\xff\xff", 10), true, {});
    row("partial key length", good + QByteArray("\x01\x00", 2), true, one);
    row("three bytes of key length", good + QByteArray("\x01\x00\x00", 3), true, one);
    row("key one byte short", good + QByteArray("\x03\x00\x00\x00ke", 6), true, one);
    row("key length 4 GiB after entries", tinykv::serialize(two) + QByteArray(4, '\xff'), true, two);
}

void TestViberData::tinykvDamaged()
{
    QFETCH(QByteArray, blob);
    QFETCH(bool, ok);
    QFETCH(QVariantMap, expected);
    QVariantMap out{{"stale", 1}};
    QCOMPARE(tinykv::deserialize(blob, out), ok);
    QCOMPARE(out, expected);
    _ViberMsg m;
    m.other = blob;
    QCOMPARE(readExtraColumns(&m), expected);
}

void TestViberData::assetIdFromUrl()
{
    _ViberAtta a;
    QCOMPARE(photoAssetId(&a), QString());
    writeExtraColumns(&a, {{"ZURL", "ASSETS-LIBRARY://asset/asset.JPG?id=ab12cd-34ef&ext=JPG"}});
    QCOMPARE(photoAssetId(&a), "AB12CD-34EF");
    writeExtraColumns(&a, {{"ZURL", "file:///asset/x?id=1"}});
    QCOMPARE(photoAssetId(&a), QString());
}

void TestViberData::newerFirstIsAStrictOrder()
{
    // Many equal dates: a non-strict comparator corrupts std::sort.
    std::vector<_ViberMsg> msgs(200);
    QList<_ViberMsg *> list;
    for (int i = 0; i < int(msgs.size()); ++i) {
        msgs[i].date = double(i % 3);
        list.append(&msgs[i]);
    }
    std::sort(list.begin(), list.end(), msgDateNotLess);
    QVERIFY(std::is_sorted(list.begin(), list.end(), msgDateNotLess));
    QVERIFY(list.first()->date == 2.0 && list.last()->date == 0.0);
    std::stable_sort(list.begin(), list.end(), msgDateLess);
    QCOMPARE(list.first()->date, 0.0);
    QVERIFY(!msgDateNotLess(list[0], list[1]));
    _ViberCall call;
    QVERIFY(!callDateNotLess(&call, &call));
}

void TestViberData::containerOwnsRecords()
{
    // Every record holds a copy of the marker: it is alone again only when all are deleted.
    const QByteArray marker("owned by the records");
    {
        ViberDataPtr data = makeEmptyViberData();
        auto own = [&](auto *record, auto &table) {
            record->id = table.size() + 1;
            record->other = marker;
            table.insert(record->id, record);
        };
        for (int i = 0; i < 3; ++i) {
            own(new _ViberMsg, data->messages);
            own(new _ViberChat, data->chats);
            own(new _ViberPerson, data->persons);
            own(new _ViberAtta, data->attachments);
            own(new _ViberCall, data->calls);
        }
        ViberDataPtr second = data;
        data.reset();
        QVERIFY(!marker.isDetached()); // still held by the second pointer
    }
    QVERIFY(marker.isDetached());
}

QTEST_GUILESS_MAIN(TestViberData)
#include "tst_viberdata.moc"
