#include "export/MessageText.h"
#include "export/TimeText.h"
#include "viber/Emoticons.h"
#include "viber/ViberData.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QtEndian>

using namespace Qt::StringLiterals;

namespace {

const QString kSmile = QString::fromUcs4(U"\U0001F604"); // surrogate pair D83D DE04
const QChar kHigh(0xD83D);
// Man, woman, girl and boy joined by U+200D.
const QString kFamily = QString::fromUcs4(U"\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466");
const QString kFamilyPicture = u"emoji/1F468-200D-1F469-200D-1F467-200D-1F466"_s;

// The element messageHtml writes for a picture, path given without ".png".
QString pic(const QString &path)
{
    // Emoji are shown a line high; emoticons at their own size.
    const QString size = path.startsWith(u"emoji/"_s) ? u"width:20px;height:20px;"_s : QString();
    return u"<img src=\"%1.png\" style=\"vertical-align:top;%2\" />"_s.arg(path, size);
}

QByteArray triples(std::initializer_list<qint32> values)
{
    QByteArray out;
    for (qint32 v : values) {
        char b[4];
        qToLittleEndian(v, b);
        out.append(b, 4);
    }
    return out;
}

} // namespace

class TestMessageText : public QObject
{
    Q_OBJECT

private slots:
    // Times read in the locale's own forms; lengths as minutes and seconds, hours when there are any.
    void timesInTheUsersLocale_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("dateTime");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("day");
        QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates) << u"1/31/14 2:05:09 PM"_s
                               << u"2:05 PM"_s << u"Friday, January 31, 2014"_s;
        QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany) << u"31.01.14 14:05:09"_s
                               << u"14:05"_s << u"Freitag, 31. Januar 2014"_s;
    }
    void timesInTheUsersLocale()
    {
        QFETCH(QLocale, locale);
        const QLocale before;
        QLocale::setDefault(locale);
        const double when =
            msecsToStoreTime(QDateTime(QDate(2014, 1, 31), QTime(14, 5, 9)).toMSecsSinceEpoch());
        const QString dateTime = TimeText::dateTime(when), time = TimeText::time(when),
                      day = TimeText::day(when);
        QLocale::setDefault(before);
        QTEST(dateTime, "dateTime");
        QTEST(time, "time");
        QTEST(day, "day");
    }
    void durations_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("shown");
        QTest::newRow("none") << 0.0 << u"0:00"_s;
        QTest::newRow("59.9 s") << 59.9 << u"0:59"_s;
        QTest::newRow("150 s") << 150.0 << u"2:30"_s;
        QTest::newRow("an hour and a bit") << 3750.0 << u"1:02:30"_s;
        QTest::newRow("negative") << -5.0 << u"0:00"_s;
        QTest::newRow("not a number") << qQNaN() << u"0:00"_s;
    }
    void durations()
    {
        QFETCH(double, seconds);
        QTEST(TimeText::duration(seconds), "shown");
    }
    void initTestCase()
    {
        MessageText::setPictureFolder(m_programDir.path());
        // Pictures of two codes and of a bracketed word outside the table; then files
        // named as crafted bracket runs, and what "vb_emoji/(/../smiley).png" reaches.
        QVERIFY(QDir().mkpath(m_programDir.filePath(u"vb_emoji/("_s)));
        for (const QString &name : {u"(smiley)"_s, u"(!)"_s, u"(walrus)"_s, u"(x\" onerror=\"alert`1`)"_s,
                                    u"(x' onerror='alert`1`)"_s, u"smiley)"_s})
            QVERIFY(QFile(m_programDir.filePath(u"vb_emoji/%1.png"_s.arg(name))).open(QIODevice::WriteOnly));
    }
    void plainText_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("text");
        // What the message refers to: attachment id and name, "type duration" of a call,
        // or "kind name" of a notice's kind and person.
        QTest::addColumn<QString>("extra");
        QTest::addColumn<QString>("expected");
        const auto add = [](const char *tag, int type, const QString &text, const QString &extra,
                            const QString &expected) {
            QTest::newRow(tag) << type << text << extra << expected;
        };
        add("text, emoji kept", ViberMsgTypeText, u"hi"_s + kSmile + kFamily + u"\nx"_s, {},
            u"hi"_s + kSmile + kFamily + u"\nx"_s);
        // Carrier emoji become their Unicode emoji in every kind of text.
        add("location", ViberMsgTypeLocation, u"\uE415Home"_s, {}, kSmile + u"Home [LOCATION]"_s);
        add("sticker", ViberMsgTypeSticker, {}, u"40123"_s, u"[STICKER-40123]"_s);
        add("file with text", ViberMsgTypeFile, u"see"_s, u"a.pdf"_s, u"[FILE a.pdf] see"_s);
        add("unknown type", 99, u"text"_s, {}, {});
        add("call, none", ViberMsgTypeCall, {}, {}, u"[UNKNOWN CALL]"_s);
        add("call out", ViberMsgTypeCall, {}, u"2 125"_s, u"Outgoing Call (2:05)"_s);
        add("call missed", ViberMsgTypeCall, {}, u"3 30"_s, u"Missed Call"_s);
        add("renamed by you", ViberMsgTypeSystem, u"Trip"_s, u"1"_s,
            u"You changed the group name to \"Trip\""_s);
        // Place markers in the name or the title stay text; emoji are not replaced here.
        add("renamed, markers", ViberMsgTypeSystem, u"1%1 "_s + kSmile, u"1 A%2n%1"_s,
            u"A%2n%1 changed the group name to \"1%1 "_s + kSmile + u"\""_s);
        add("joined", ViberMsgTypeSystem, u"Bob"_s, u"2"_s, u"Bob joined"_s);
        // Viber Desktop's flags: 64 marks a message changed after sending, the others nothing here.
        add("edited", ViberMsgTypeText, u"fixed"_s, u"ClientFlag 65"_s, u"[Edited]\nfixed"_s);
        add("other flags", ViberMsgTypeText, u"fixed"_s, u"ClientFlag 1"_s, u"fixed"_s);
    }
    void plainText()
    {
        QFETCH(int, type);
        QFETCH(QString, text);
        QFETCH(QString, extra);
        _ViberAtta atta;
        _ViberCall call;
        _ViberPerson person;
        _ViberMsg msg;
        msg.type = ViberMsgType(type);
        msg.text = text;
        const int head = extra.section(u' ', 0, 0).toInt();
        const QString tail = extra.section(u' ', 1);
        if (type == ViberMsgTypeSystem) {
            person.name = tail;
            msg.systemKind = ViberSystemKind(head);
            msg.person = tail.isEmpty() ? nullptr : &person;
        } else if (type == ViberMsgTypeCall && !extra.isEmpty()) {
            call.type = ViberCallType(head);
            call.duration = tail.toInt();
            msg.call = &call;
        } else if (extra.startsWith(u"ClientFlag"_s)) {
            writeExtraColumns(&msg, {{u"ClientFlag"_s, tail.toLongLong()}});
        } else if (!extra.isEmpty()) {
            atta.attId = atta.fileName = extra;
            msg.attachment = &atta;
        }
        QTEST(MessageText::plainText(&msg), "expected");
    }
    void chatTitlesAndLabels()
    {
        _ViberPerson people[4];
        const QString names[][2] = {
            {u"Zed"_s, u"+300"_s}, {u"Amy"_s, u"+500"_s}, {{}, u"+1000"_s}, {u"Amy 2"_s, u"+500"_s}};
        _ViberChat group;
        for (int i = 0; i < 4; ++i) {
            people[i].id = i + 1;
            people[i].name = names[i][0];
            people[i].phone = names[i][1];
            group.participants.insert(people[i].id, &people[i]);
        }
        // By phone as text ("+1000" before "+300"); one number under two contacts by name.
        QCOMPARE(MessageText::chatTitle(&group), u"+1000, Zed, Amy, Amy 2"_s);
        QCOMPARE(MessageText::participantLabels(&group), u"+1000, Zed(+300), Amy(+500), Amy 2(+500)"_s);
        // A blank name does not count; a real one wins, trimmed.
        group.name = u"   "_s;
        QCOMPARE(MessageText::chatTitle(&group), u"+1000, Zed, Amy, Amy 2"_s);
        group.name = u"  Trip  "_s;
        QCOMPARE(MessageText::chatTitle(&group), u"Trip"_s);
    }
    void messageHtml_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const QString smiley = pic(u"vb_emoji/(smiley)"_s);
        const auto row = [](const char *tag, const QString &text, const QString &expected) {
            QTest::newRow(tag) << text << expected;
        };
        row("markup, lines", u"&lt; a<b & c>\n<script>x('1')</script>\""_s,
            u"&amp;lt; a&lt;b &amp; c&gt;<br/>&lt;script&gt;x('1')&lt;/script&gt;\""_s);
        // Single code points keep the names they always had; neighbours that are no
        // emoji, here one past the carrier block, stay.
        row("single emoji", QString::fromUcs4(U"a\u2714\u2715\U0001F300\U0001F604\uE538"),
            u"a"_s + pic(u"emoji/2714"_s) + QChar(0x2715) + pic(u"emoji/1F300"_s) + pic(u"emoji/1F604"_s) +
                QChar(0xE538));
        row("sequences, one picture each",
            u"<"_s + kFamily +
                QString::fromUcs4(U"x\U0001F1E9\U0001F1EA&#\uFE0F\u20E3y\U0001F44D\U0001F3FD\u2764\uFE0F"),
            u"&lt;"_s + pic(kFamilyPicture) + u"x"_s + pic(u"emoji/1F1E9-1F1EA"_s) + u"&amp;"_s +
                pic(u"emoji/0023-20E3"_s) + u"y"_s + pic(u"emoji/1F44D-1F3FD"_s) + pic(u"emoji/2764"_s));
        // The longest sequence the text holds; what follows is matched afresh or stays text.
        row("unfinished sequences",
            QString::fromUcs4(U"\U0001F468\u200D\U0001F469\u200Dx\U0001F1E9\U0001F1EA\U0001F1EB#1"),
            pic(u"emoji/1F468"_s) + QChar(0x200D) + pic(u"emoji/1F469"_s) + QChar(0x200D) + u"x"_s +
                pic(u"emoji/1F1E9-1F1EA"_s) + QString::fromUcs4(U"\U0001F1EB#1"));
        row("text presentation asked for", QString::fromUcs4(U"\u00A9\uFE0E\u00A9"),
            QString::fromUcs4(U"\u00A9\uFE0E") + pic(u"emoji/00A9"_s));
        // Broken store text: a lone surrogate neither eats the next unit nor vanishes.
        row("lone high surrogates", u"ab"_s + kHigh + u"cd"_s + kHigh + kSmile + kHigh,
            u"ab"_s + kHigh + u"cd"_s + kHigh + pic(u"emoji/1F604"_s) + kHigh);
        row("lone low surrogate", QChar(0xDE04) + kFamily, QChar(0xDE04) + pic(kFamilyPicture));
        // Codes with a picture, number 0 among them; a code without its picture, a word
        // outside the table despite its file, and another letter case stay text.
        row("emoticons", u"ok (smiley)(!)(sad) (walrus) (Smiley)"_s,
            u"ok "_s + smiley + pic(u"vb_emoji/(!)"_s) + u"(sad) (walrus) (Smiley)"_s);
        row("nested and adjacent", u"(a(smiley)c)(smiley)\n(smiley)"_s,
            u"(a"_s + smiley + u"c)"_s + smiley + u"<br/>"_s + smiley);
        // Bracket runs with crafted files beside the program: none may become an attribute.
        row("crafted runs", u"(x\" onerror=\"alert`1`)(x' onerror='alert`1`)(/../smiley)<img>"_s,
            u"(x\" onerror=\"alert`1`)(x' onerror='alert`1`)(/../smiley)&lt;img&gt;"_s);
    }
    void messageHtml()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(MessageText::messageHtml(text), expected);
        // A notice holds the same escaped text, inside blocks of its own.
        QVERIFY(MessageText::systemMessageHtml(text).contains(u'>' + expected + u"</div>"_s));
    }
    // SoftBank's private-use emoji of old stores, from rows of its table.
    void carrierEmoji_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QString>("text"); // in the plain text
        QTest::newRow("heart") << 0xE022 << u"2764"_s << u"\u2764\uFE0F"_s;
        QTest::newRow("note, before the gap") << 0xE03E << u"1F3B5"_s << QString::fromUcs4(U"\U0001F3B5");
        QTest::newRow("key, after the gap") << 0xE03F << u"1F511"_s << QString::fromUcs4(U"\U0001F511");
        QTest::newRow("keycap") << 0xE210 << u"0023-20E3"_s << u"#\uFE0F\u20E3"_s;
        QTest::newRow("flag") << 0xE50B << u"1F1EF-1F1F5"_s << QString::fromUcs4(U"\U0001F1EF\U0001F1F5");
        QTest::newRow("last of the block") << 0xE537 << u"2122"_s << u"\u2122\uFE0F"_s;
        QTest::newRow("without counterpart") << 0xE000 << u"E000"_s << u"[EMOJI]"_s;
    }
    void carrierEmoji()
    {
        QFETCH(int, code);
        QFETCH(QString, picture);
        QFETCH(QString, text);
        _ViberMsg msg;
        msg.type = ViberMsgTypeText;
        msg.text = u'a' + QChar(code) + u'b';
        QCOMPARE(MessageText::messageHtml(msg.text), u'a' + pic(u"emoji/"_s + picture) + u'b');
        QCOMPARE(MessageText::plainText(&msg), u'a' + text + u'b');
    }
    void addressesAndAttributes()
    {
        QCOMPARE(MessageText::attributeHtml(u"a\"b'c<d>&e\n"_s), u"a&quot;b&#39;c&lt;d&gt;&amp;e\n"_s);
        _ViberMsg msg;
        msg.setPlace(48.8583701, -2.5);
        QCOMPARE(
            MessageText::mapLinkAddress(&msg),
            u"https://www.openstreetmap.org/?mlat=48.858370&mlon=-2.500000#map=16/48.858370/-2.500000"_s);
        MessageText::setMapSite(u"https://maps.example/?q=%1,%2"_s);
        QCOMPARE(MessageText::mapLinkAddress(&msg), u"https://maps.example/?q=48.858370,-2.500000"_s);
        MessageText::setMapSite(QString());
    }
    // Web addresses written in a message become links; nothing else does.
    void webAddressesBecomeLinks_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("html");
        const QString rel = u" rel=\"noopener noreferrer\""_s;
        QTest::newRow("https, sentence end")
            << u"see https://example.org/a?b=1&c=2."_s
            << u"see <a href=\"https://example.org/a?b=1&amp;c=2\"%1>https://example.org/a?b=1&amp;c=2</a>."_s
                   .arg(rel);
        QTest::newRow("www, in brackets")
            << u"(www.example.org/x)"_s
            << u"(<a href=\"http://www.example.org/x\"%1>www.example.org/x</a>)"_s.arg(rel);
        QTest::newRow("bracket of its own") << u"https://en.wikipedia.org/wiki/Tea_(drink)"_s
                                            << u"<a href=\"https://en.wikipedia.org/wiki/Tea_(drink)\"%1>"
                                               "https://en.wikipedia.org/wiki/Tea_(drink)</a>"_s.arg(rel);
        QTest::newRow("emoticon inside stays text")
            << u"http://x.org/(smiley)"_s
            << u"<a href=\"http://x.org/(smiley)\"%1>http://x.org/(smiley)</a>"_s.arg(rel);
        QTest::newRow("quote ends it")
            << u"https://x.org/\"onmouseover=\"y"_s
            << u"<a href=\"https://x.org/\"%1>https://x.org/</a>&quot;onmouseover=&quot;y"_s.arg(rel).replace(
                   u"&quot;"_s, u"\""_s);
        QTest::newRow("script") << u"javascript:alert(1)"_s << u"javascript:alert(1)"_s;
        QTest::newRow("file") << u"file:///etc/passwd"_s << u"file:///etc/passwd"_s;
        QTest::newRow("no host") << u"https:// x"_s << u"https:// x"_s;
        QTest::newRow("in a mail address") << u"me@www.x.org"_s << u"me@www.x.org"_s;
    }
    void webAddressesBecomeLinks()
    {
        QFETCH(QString, text);
        QTEST(MessageText::linkedHtml(text), "html");
        // An exported page opens them in a new tab.
        const QString exported = MessageText::linkedHtml(text, QLatin1String(), true);
        QCOMPARE(exported.count(u" target=\"_blank\" rel=\"noopener noreferrer\""_s),
                 exported.count(u"<a "_s));
    }
    void emoticonRanges()
    {
        // Offset, length and number of each code, in UTF-16 units; unknown runs are skipped.
        QCOMPARE(Emoticons::ranges(kSmile + u"(smiley)((sad))(x)(!) (foo)"_s),
                 triples({2, 8, 58, 11, 5, 53, 20, 3, 0}));
        QCOMPARE(Emoticons::ranges(u"(sad)"_s + QChar(0xD800) + QChar(0xDC00) + u"(TV)(cards)"_s),
                 triples({0, 5, 53, 7, 4, 67, 11, 7, 118}));
        QVERIFY(Emoticons::ranges(u"no codes (here) () (tv)"_s).isEmpty());
        // The numbers are what the store holds: each is used once, and every code is one run.
        const QHash<QString, int> &table = Emoticons::table();
        QSet<int> numbers;
        for (auto it = table.cbegin(); it != table.cend(); ++it) {
            numbers.insert(it.value());
            QCOMPARE(Emoticons::ranges(it.key()), triples({0, qint32(it.key().size()), it.value()}));
        }
        QCOMPARE(numbers.size(), table.size());
    }
    void longTexts()
    {
        // So many codes and emoji that rescanning the text for each would not finish.
        constexpr qint64 kUnits = 200000;
        const QString unit = u"(smiley)(x) a&b<\n"_s + kFamily + kHigh + u'y';
        const QString text = unit.repeated(kUnits);
        const QByteArray ranges = Emoticons::ranges(text);
        QCOMPARE(ranges.size(), qsizetype(kUnits * 12));
        QCOMPARE(ranges.right(12), triples({qint32((kUnits - 1) * unit.size()), 8, 58}));
        QCOMPARE(MessageText::messageHtml(text), (pic(u"vb_emoji/(smiley)"_s) + u"(x) a&amp;b&lt;<br/>"_s +
                                                  pic(kFamilyPicture) + kHigh + u'y')
                                                     .repeated(kUnits));
        // Cancellation is asked every few thousand codes, without changing the result;
        // what the check throws ends the work there and reaches the caller.
        qint64 calls = 0;
        QCOMPARE(Emoticons::ranges(text, [&calls] { ++calls; }), ranges);
        QVERIFY2(calls >= 2 * kUnits / 10000 && calls <= 2 * kUnits / 1000,
                 qPrintable(QString::number(calls)));
        calls = 0;
        QVERIFY_THROWS_EXCEPTION(int, Emoticons::ranges(text, [&calls] {
                                     if (++calls == 2)
                                         throw -1;
                                 }));
        QCOMPARE(calls, 2);
    }

private:
    QTemporaryDir m_programDir;
};

QTEST_GUILESS_MAIN(TestMessageText)
#include "tst_messagetext.moc"
