#include "viber/TextBlocks.h"
#include "viber/TinyKv.h"
#include "viber/ViberData.h"

#include <QTest>
#include <QTimeZone>

#include <algorithm>
#include <limits>
#include <random>

using namespace Qt::StringLiterals;

class TestViberData : public QObject
{
    Q_OBJECT

private slots:
    void states()
    {
        // Store texts in any letter case; what is written reads back as the same state.
        const std::pair<QString, ViberMsgState> rows[] = {
            {u"SENDING"_s, ViberMsgStateDelivered}, {u"delivered"_s, ViberMsgStateDelivered},
            {u"Received"_s, ViberMsgStateReceived}, {u"send"_s, ViberMsgStateSend},
            {u"Pending"_s, ViberMsgStatePending},   {u"PENDINGNOTSENT"_s, ViberMsgStatePending},
            {u"failed"_s, ViberMsgStateNone},       {QString(), ViberMsgStateNone}};
        for (const auto &[text, state] : rows) {
            QCOMPARE(msgStateFromStoreText(text), state);
            QCOMPARE(msgStateFromStoreText(msgStateToStoreText(state)), state);
        }
    }
    void phoneDigits()
    {
        // A number with letters is an account name and stays whole.
        QCOMPARE(::phoneDigits(u"+1 (555) 010-99"_s), u"155501099"_s);
        QCOMPARE(::phoneDigits(u"viber1"_s), u"viber1"_s);
    }
    void outgoing()
    {
        _ViberMsg m;
        m.type = ViberMsgTypeText;
        m.state = ViberMsgStateDelivered;
        QVERIFY(isOutgoing(&m));
        m.state = ViberMsgStateReceived;
        QVERIFY(!isOutgoing(&m));
        // Notices are never the owner's, whatever their state.
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
    void storeTime()
    {
        const QDateTime ref(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
        QCOMPARE(storeTimeToDateTime(1.9).toUTC(), ref.addSecs(1));
        QCOMPARE(storeTimeToDateTime(-0.5).toUTC(), ref);
        QCOMPARE(storeTimeToMSecs(1.2345), Q_INT64_C(978307201234));
        QCOMPARE(msecsToStoreTime(Q_INT64_C(978307201500)), 1.5);
        QCOMPARE(unixSecsToStoreTime(978307260u), 60.0);
        QCOMPARE(unixSecsToStoreTime(978307100u), -100.0); // the 32-bit difference is negative
        // A corrupt store may hold NaN or absurd dates; they must not reach undefined casts.
        const double nan = std::numeric_limits<double>::quiet_NaN();
        for (double far : {nan, 1e16, 1e300, 9.2e18, -9.2e18, std::numeric_limits<double>::infinity()}) {
            QCOMPARE(storeTimeToMSecs(far), 0);
            QCOMPARE(storeTimeToDateTime(far), storeTimeToDateTime(0));
        }
    }
    void extraColumns()
    {
        const QVariantMap in{{u"Z_OPT"_s, 7},
                             {u"ZCONTEXT"_s, Q_INT64_C(-1234567890123)},
                             {u"ZDOUBLE"_s, 2.5},
                             {u"ZURL"_s, u"assets-library://ä"_s},
                             {u"ZRANGES"_s, QByteArray("\x00\x01\xff", 3)},
                             {u"ZFLAG"_s, true},
                             {u"ZNULL"_s, QVariant()}};
        const QByteArray blob = tinykv::serialize(in);
        // Local databases keep this form: Z_OPT is key length 5, "Z_OPT", 'i', 7 as little-endian 32-bit.
        QVERIFY(blob.startsWith("tinykv") &&
                blob.contains(QByteArray("\x05\x00\x00\x00Z_OPTi\x07\x00\x00\x00", 14)));
        QVariantMap out;
        QVERIFY(tinykv::deserialize(blob, out));
        QVariantMap expected = in;
        expected.insert(u"ZFLAG"_s, 1);
        QCOMPARE(out, expected);
        QCOMPARE(out.value(u"ZCONTEXT"_s).typeId(), QMetaType::LongLong);
        // An empty map is the magic alone, and reading it clears what was there.
        QCOMPARE(tinykv::serialize({}), "tinykv");
        QVERIFY(tinykv::deserialize("tinykv", out) && out.isEmpty());
    }
    void extraColumnsDamaged_data()
    {
        QTest::addColumn<QByteArray>("blob");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QVariantMap>("expected");
        const QVariantMap one{{u"ZURL"_s, u"x"_s}};
        const QVariantMap two{{u"ZURL"_s, u"x"_s}, {u"Z_OPT"_s, 3}};
        const QByteArray good = tinykv::serialize(one);
        // Damage: nothing is read.
        QTest::newRow("no magic") << QByteArray("tinyk") << false << QVariantMap();
        QTest::newRow("wrong magic") << QByteArray("tinyKV\x01\x00\x00\x00k", 11) << false << QVariantMap();
        QTest::newRow("unknown type") << QByteArray("tinykv\x01\x00\x00\x00kx", 12) << false << QVariantMap();
        QTest::newRow("int cut short")
            << QByteArray("tinykv\x01\x00\x00\x00ki\x01\x02", 14) << false << QVariantMap();
        QTest::newRow("string longer than data")
            << QByteArray("tinykv\x01\x00\x00\x00ks\x10\x00\x00\x00", 16) + "ab" << false << QVariantMap();
        // A whole key whose value is missing or cut short spoils the entries before it.
        QTest::newRow("good then value cut short")
            << good + QByteArray("\x01\x00\x00\x00kl\x01", 8) << false << QVariantMap();
        QTest::newRow("good then key without type")
            << good + QByteArray("\x01\x00\x00\x00k", 5) << false << QVariantMap();
        // Data that ends inside a key is where the entries end, not damage.
        QTest::newRow("key length 4 GiB")
            << QByteArray("tinykv\xff\xff\xff\xff", 10) << true << QVariantMap();
        QTest::newRow("partial key length") << good + QByteArray("\x01\x00\x00", 3) << true << one;
        QTest::newRow("key one byte short") << good + QByteArray("\x03\x00\x00\x00ke", 6) << true << one;
        QTest::newRow("key length 4 GiB after entries")
            << tinykv::serialize(two) + QByteArray(4, '\xff') << true << two;
    }
    void extraColumnsDamaged()
    {
        QFETCH(QByteArray, blob);
        QFETCH(bool, ok);
        QFETCH(QVariantMap, expected);
        QVariantMap out{{u"stale"_s, 1}};
        QCOMPARE(tinykv::deserialize(blob, out), ok);
        QCOMPARE(out, expected);
        _ViberMsg m;
        m.other = blob;
        QCOMPARE(readExtraColumns(&m), expected);
    }
    void sortByDateIsAStableSort()
    {
        // Equal dates, seqs and keys, calls among messages, dates that are no number: the
        // keyed sort gives what a stable sort by the comparators gives, in both directions.
        std::vector<_ViberMsg> msgs(300);
        std::vector<_ViberCall> calls(msgs.size());
        QList<_ViberMsg *> list;
        for (int i = 0; i < int(msgs.size()); ++i) {
            _ViberMsg &m = msgs[size_t(i)];
            m.date = i % 17 == 0 ? std::nan("") : double(i % 5);
            m.seq = i % 3;
            m.id = i % 7;
            if (i % 4 == 0) {
                m.type = ViberMsgTypeCall;
                calls[size_t(i)].id = i % 2;
                m.call = &calls[size_t(i)];
            }
            list.append(&m);
        }
        std::mt19937 shuffle(7);
        std::shuffle(list.begin(), list.end(), shuffle);
        for (const bool descending : {false, true}) {
            QList<_ViberMsg *> expected = list, sorted = list;
            std::stable_sort(expected.begin(), expected.end(), descending ? msgDateNotLess : msgDateLess);
            sortByDate(sorted, descending);
            QCOMPARE(sorted, expected);
            QVERIFY(std::isnan(sorted.at(descending ? sorted.size() - 1 : 0)->date));
        }
        _ViberCall call;
        QVERIFY(!callDateNotLess(&call, &call));
    }
    // Texts a load keeps in shared blocks read as Qt decodes them, and live on alone.
    void decodesAsQt_data()
    {
        QTest::addColumn<QByteArray>("utf8");
        QTest::addColumn<bool>("keptAsUtf8");                // as a message's text
        const qsizetype alone = TextBlocks::kBlockUnits / 4; // long enough to get a buffer of its own
        QTest::newRow("null") << QByteArray() << false;
        QTest::newRow("empty") << QByteArray("") << false;
        QTest::newRow("ascii") << "plain words"_ba << true;
        QTest::newRow("cyrillic, emoji") << "Привет 😀👍🏽"_ba << true;
        QTest::newRow("chinese: smaller as UTF-16") << "你好世界"_ba << false;
        QTest::newRow("invalid bytes") << "ok \xff\xfe ok"_ba << false;
        QTest::newRow("cut sequence") << "ab\xe2\x82"_ba << false;
        QTest::newRow("byte order mark") << "\xef\xbb\xbf"
                                            "after"_ba
                                         << false;
        QTest::newRow("only a byte order mark") << "\xef\xbb\xbf"_ba << false;
        QTest::newRow("mark inside") << "a\xef\xbb\xbf"
                                        "b"_ba
                                     << true;
        QTest::newRow("nul inside") << QByteArray("a\0b", 3) << true;
        QTest::newRow("long ascii") << QByteArray(alone, 'x') << false;
        QTest::newRow("long cyrillic") << QString(alone, QChar(0x0416)).toUtf8() << false;
    }
    void decodesAsQt()
    {
        QFETCH(QByteArray, utf8);
        QFETCH(bool, keptAsUtf8);
        const QString expected = QString::fromUtf8(utf8);
        TextBlocks blocks;
        const QString decoded = blocks.fromUtf8(utf8);
        const QString kept = blocks.keep(expected);
        const StoredText message = blocks.messageText(utf8);
        for (const QString &s : {decoded, kept, message.toString()}) {
            QCOMPARE(s, expected);
            QCOMPARE(s.isNull(), expected.isNull());
            QCOMPARE(s.utf16()[s.size()], u'\0'); // what C interfaces read up to
        }
        QCOMPARE(message.isUtf8(), keptAsUtf8);
        QCOMPARE(message.isNull(), expected.isNull());
        QCOMPARE(message.isEmpty(), expected.isEmpty());
        QVERIFY(message == expected && message == StoredText(expected) && message == QStringView(expected));
        QVERIFY(message != expected + u'.' && message != StoredText(u'.' + expected));
    }
    void textsOutliveTheirBlocks()
    {
        QStringList texts, expected;
        QList<StoredText> messages;
        {
            TextBlocks blocks;
            // Enough texts for several blocks, decoded and kept alternately.
            for (int i = 0; texts.size() < 4 * TextBlocks::kBlockUnits / 20; ++i) {
                const QString text = u"text %1 ü"_s.arg(i);
                texts << (i % 2 ? blocks.fromUtf8(text.toUtf8()) : blocks.keep(text));
                messages << blocks.messageText(text.toUtf8());
                expected << text;
            }
        }
        QCOMPARE(texts, expected);
        // A message's text lives on in its copies when the record's is replaced.
        StoredText copy = messages.at(1);
        messages[1] = u"replaced"_s;
        messages.append(std::move(messages[2]));
        QVERIFY(messages.at(2).isNull());
        messages.removeAt(2);
        QStringList wanted = expected;
        wanted.append(wanted.takeAt(2));
        wanted[1] = u"replaced"_s;
        QCOMPARE(messages.size(), wanted.size());
        for (qsizetype i = 0; i < messages.size(); ++i)
            QCOMPARE(messages.at(i).toString(), wanted.at(i));
        messages.clear();
        QCOMPARE(copy.toString(), texts.at(1));
        // A change stays with its string: neighbours in the block keep their text.
        texts[1].append(u" and more"_s);
        texts[2].prepend(u'>');
        texts[3].truncate(2);
        QCOMPARE(texts.mid(0, 5), QStringList({expected[0], expected[1] + u" and more"_s, u'>' + expected[2],
                                               expected[3].left(2), expected[4]}));
        // The last string of a block owns it alone and may grow in place or out of it.
        const QString was = expected[texts.size() / 2];
        QString survivor = texts[texts.size() / 2];
        texts.clear();
        const QString dots(TextBlocks::kBlockUnits, u'.');
        survivor.prepend(u"<<"_s);
        survivor.append(dots);
        QCOMPARE(survivor, u"<<"_s + was + dots);
        survivor.truncate(was.size() + 2);
        survivor.squeeze();
        QCOMPARE(survivor, u"<<"_s + was);
    }
};

QTEST_GUILESS_MAIN(TestViberData)
#include "tst_viberdata.moc"
