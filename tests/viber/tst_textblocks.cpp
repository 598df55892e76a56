#include "viber/TextBlocks.h"

#include <QStringList>
#include <QTest>

using namespace Qt::StringLiterals;

class TestTextBlocks : public QObject
{
    Q_OBJECT

private slots:
    void decodesAsQt_data()
    {
        QTest::addColumn<QByteArray>("utf8");
        const qsizetype alone = TextBlocks::kBlockUnits / 4; // long enough to get a buffer of its own
        QTest::newRow("null") << QByteArray();
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("cyrillic, emoji") << "Привет 😀👍🏽"_ba;
        QTest::newRow("invalid bytes") << "ok \xff\xfe ok"_ba;
        QTest::newRow("cut sequence") << "ab\xe2\x82"_ba;
        QTest::newRow("byte order mark") << "\xef\xbb\xbf"
                                            "after"_ba;
        QTest::newRow("only a byte order mark") << "\xef\xbb\xbf"_ba;
        QTest::newRow("mark inside") << "a\xef\xbb\xbf"
                                        "b"_ba;
        QTest::newRow("nul inside") << QByteArray("a\0b", 3);
        QTest::newRow("long ascii") << QByteArray(alone, 'x');
        QTest::newRow("long cyrillic") << QString(alone, QChar(0x0416)).toUtf8();
    }
    void decodesAsQt()
    {
        QFETCH(QByteArray, utf8);
        const QString expected = QString::fromUtf8(utf8);
        TextBlocks blocks;
        const QString decoded = blocks.fromUtf8(utf8);
        const QString kept = blocks.keep(expected);
        for (const QString &s : {decoded, kept}) {
            QCOMPARE(s, expected);
            QCOMPARE(s.isNull(), expected.isNull());
            QCOMPARE(s.utf16()[s.size()], u'\0'); // what C interfaces read up to
        }
    }
    void textsOutliveTheirBlocks()
    {
        QStringList texts, expected;
        {
            TextBlocks blocks;
            // Enough texts for several blocks, decoded and kept alternately.
            for (int i = 0; texts.size() < 4 * TextBlocks::kBlockUnits / 20; ++i) {
                const QString text = u"text %1 ü"_s.arg(i);
                texts << (i % 2 ? blocks.fromUtf8(text.toUtf8()) : blocks.keep(text));
                expected << text;
            }
        }
        QCOMPARE(texts, expected);
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

QTEST_GUILESS_MAIN(TestTextBlocks)
#include "tst_textblocks.moc"
