#include "export/MessageText.h"
#include "viber/Emoticons.h"
#include "viber/ViberData.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QtEndian>

namespace {

const QString kSmile = QString::fromUcs4(U"\U0001F604"); // surrogate pair D83D DE04
const QChar kHigh(0xD83D);
// Man, woman, girl and boy joined by U+200D.
const QString kFamily = QString::fromUcs4(U"\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466");
const QString kFamilyPicture = QStringLiteral("emoji/1F468-200D-1F469-200D-1F467-200D-1F466");

// The element messageHtml writes for a picture, path given without ".png".
QString pic(const QString &path)
{
    // Emoji are shown a line high; emoticons at their own size.
    const QLatin1String size(path.startsWith(u"emoji/") ? "width:20px;height:20px;" : "");
    return QStringLiteral("<img src=\"%1.png\" style=\"vertical-align:top;%2\" />").arg(path, size);
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

template <typename T> void row(const char *tag, const QString &text, const T &expected)
{
    QTest::newRow(tag) << text << expected;
}

} // namespace

class TestMessageText : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void plainText_data();
    void plainText();
    void chatTitlesAndLabels();
    void messageHtml_data();
    void messageHtml();
    void carrierEmoji_data();
    void carrierEmoji();
    void addressesAndAttributes();
    void emoticonRanges_data();
    void emoticonRanges();
    void longTexts();

private:
    QTemporaryDir m_programDir;
};

void TestMessageText::initTestCase()
{
    QVERIFY(m_programDir.isValid());
    MessageText::setPictureFolder(m_programDir.path());
    // Pictures of two codes and of a bracketed word outside the table; then files
    // named as crafted bracket runs, and what "vb_emoji/(/../smiley).png" reaches.
    QVERIFY(QDir().mkpath(m_programDir.filePath(QStringLiteral("vb_emoji/("))));
    for (const char *name :
         {"(smiley)", "(!)", "(walrus)", "(x\" onerror=\"alert`1`)", "(x' onerror='alert`1`)", "smiley)"}) {
        QFile f(m_programDir.filePath(QStringLiteral("vb_emoji/%1.png").arg(QString::fromUtf8(name))));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("png") == 3);
    }
}

void TestMessageText::plainText_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("text");
    // What the message refers to: attachment id and name, "type duration" of a call,
    // or "kind name" of a notice's kind and person.
    QTest::addColumn<QString>("extra");
    QTest::addColumn<QString>("expected");
    auto add = [](const char *tag, int type, const QString &text, const QString &extra,
                  const QString &expected) { QTest::newRow(tag) << type << text << extra << expected; };
    add("text, emoji kept", ViberMsgTypeText, "hi" + kSmile + kFamily + "\nx", "",
        "hi" + kSmile + kFamily + "\nx");
    add("text, lone high surrogate kept", ViberMsgTypeText, "ab" + QString(kHigh) + "c", "",
        "ab" + QString(kHigh) + "c");
    add("location", ViberMsgTypeLocation, kSmile + "Home", "", kSmile + "Home [LOCATION]");
    add("video", ViberMsgTypeVideo, "", "9", "[VIDEO]");
    add("sticker", ViberMsgTypeSticker, "", "40123", "[STICKER-40123]");
    add("sticker, no attachment", ViberMsgTypeSticker, "", "", "[STICKER-UNKNOWN]");
    add("file with text", ViberMsgTypeFile, "see", "a.pdf", "[FILE a.pdf] see");
    add("unknown type", 99, "text", "", "");
    add("call, none", ViberMsgTypeCall, "", "", "[UNKNOWN CALL]");
    add("call out", ViberMsgTypeCall, "", "2 125", "Outgoing Call (2' 5'')");
    add("call, negative truncates toward zero", ViberMsgTypeCall, "", "2 -65", "Outgoing Call (-1' -5'')");
    add("call missed", ViberMsgTypeCall, "", "3 30", "Missed Call");
    add("call, unknown type", ViberMsgTypeCall, "", "7 30", "Unknown Call");
    add("renamed by you", ViberMsgTypeSystem, "Trip", "1", "You changed the group name to \"Trip\"");
    // Place markers in the name or the title stay text; emoji are not replaced here.
    add("renamed, markers", ViberMsgTypeSystem, "1%1 " + kSmile, "1 A%2n%1",
        "A%2n%1 changed the group name to \"1%1 " + kSmile + "\"");
    add("joined", ViberMsgTypeSystem, "Bob", "2", "Bob joined");
    add("notice of no kind", ViberMsgTypeSystem, "Bob", "0", "");
}

void TestMessageText::plainText()
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
    } else if (!extra.isEmpty()) {
        atta.attId = atta.fileName = extra;
        msg.attachment = &atta;
    }
    QTEST(MessageText::plainText(&msg), "expected");
}

void TestMessageText::chatTitlesAndLabels()
{
    _ViberPerson people[4];
    const char *const names[][2] = {{"Zed", "+300"}, {"Amy", "+500"}, {"", "+1000"}, {"Amy at work", "+500"}};
    _ViberChat group;
    for (int i = 0; i < 4; ++i) {
        people[i].id = i + 1;
        people[i].name = QString::fromUtf8(names[i][0]);
        people[i].phone = QString::fromUtf8(names[i][1]);
    }
    for (int i : {0, 1, 2})
        group.participants.insert(people[i].id, &people[i]);
    // By phone as text: "+1000" comes before "+300".
    QCOMPARE(MessageText::chatTitle(&group), QStringLiteral("+1000, Zed, Amy"));
    QCOMPARE(MessageText::participantLabels(&group), QStringLiteral("+1000, Zed(+300), Amy(+500)"));
    // One number under two contacts: the order is still the same on every run.
    group.participants.insert(people[3].id, &people[3]);
    QCOMPARE(MessageText::chatTitle(&group), QStringLiteral("+1000, Zed, Amy, Amy at work"));
    // A blank name does not count; a real one wins, trimmed.
    group.name = QStringLiteral("   ");
    QCOMPARE(MessageText::chatTitle(&group), QStringLiteral("+1000, Zed, Amy, Amy at work"));
    group.name = QStringLiteral("  Trip  ");
    QCOMPARE(MessageText::chatTitle(&group), QStringLiteral("Trip"));
}

void TestMessageText::messageHtml_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    const QString smiley = pic(QStringLiteral("vb_emoji/(smiley)"));
    row("ampersand first", "&lt; a<b & c>", "&amp;lt; a&lt;b &amp; c&gt;");
    row("markup, lines, quotes", "<script>x('1')</script>\n\"", "&lt;script&gt;x('1')&lt;/script&gt;<br/>\"");
    // Single code points keep the names they always had; neighbours that are no emoji,
    // here one past the carrier block, stay.
    row("single emoji", QString::fromUcs4(U"a\u2714\u2715\U0001F300\U0001F914\U0001F604\uE538"),
        "a" + pic("emoji/2714") + QChar(0x2715) + pic("emoji/1F300") + pic("emoji/1F914") +
            pic("emoji/1F604") + QChar(0xE538));
    row("sequences, one picture each, text around them",
        "<" + kFamily + "x" + QString::fromUcs4(U"\U0001F1E9\U0001F1EA&#\uFE0F\u20E3y\U0001F44D\U0001F3FD\n"),
        "&lt;" + pic(kFamilyPicture) + "x" + pic("emoji/1F1E9-1F1EA") + "&amp;" + pic("emoji/0023-20E3") +
            "y" + pic("emoji/1F44D-1F3FD") + "<br/>");
    row("qualified or not, one picture", QString::fromUcs4(U"#\u20E3\u2764\uFE0F\u2764"),
        pic("emoji/0023-20E3") + pic("emoji/2764") + pic("emoji/2764"));
    // The longest sequence the text holds; what follows is matched afresh or stays text.
    row("unfinished sequences",
        QString::fromUcs4(U"\U0001F468\u200D\U0001F469\u200Dx\U0001F1E9\U0001F1EA\U0001F1EB#1"),
        pic("emoji/1F468") + QChar(0x200D) + pic("emoji/1F469") + QChar(0x200D) + "x" +
            pic("emoji/1F1E9-1F1EA") + QString::fromUcs4(U"\U0001F1EB#1"));
    row("text presentation asked for", QString::fromUcs4(U"\u00A9\uFE0E\u00A9\u00A9\uFE0F"),
        QString::fromUcs4(U"\u00A9\uFE0E") + pic("emoji/00A9") + pic("emoji/00A9"));
    // Broken store text: a lone surrogate neither eats the next unit nor vanishes.
    row("lone high surrogate", "ab" + QString(kHigh) + "cd", "ab" + QString(kHigh) + "cd");
    row("high surrogate at end", "ab" + QString(kHigh), "ab" + QString(kHigh));
    row("two highs then a low", kHigh + kSmile, kHigh + pic("emoji/1F604"));
    row("lone low surrogate", QChar(0xDE04) + kFamily, QChar(0xDE04) + pic(kFamilyPicture));
    row("emoticon", "ok (smiley)", "ok " + smiley);
    row("emoticon number 0", "(!)(smiley)", pic("vb_emoji/(!)") + smiley);
    // A code without its picture, and a word outside the table despite its file, stay text.
    row("no picture, not a code", "(sad) (walrus) (smiley)", "(sad) (walrus) " + smiley);
    row("case-sensitive", "(Smiley)", "(Smiley)");
    row("nested: inner run only", "(a(smiley)c)", "(a" + smiley + "c)");
    row("adjacent codes", "(smiley)(smiley)\n(smiley)", smiley + smiley + "<br/>" + smiley);
    // Bracket runs with crafted files beside the program: none may become an attribute.
    row("crafted run, double quotes", "(x\" onerror=\"alert`1`)<img>", "(x\" onerror=\"alert`1`)&lt;img&gt;");
    row("crafted run, single quotes", "(x' onerror='alert`1`)", "(x' onerror='alert`1`)");
    row("crafted run, parent folder", "(/../smiley)", "(/../smiley)");
}

void TestMessageText::messageHtml()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(MessageText::messageHtml(text), expected);
    // A notice holds the same escaped text, inside blocks of its own.
    QVERIFY(MessageText::systemMessageHtml(text).contains(">" + expected + "</div>"));
}

// SoftBank's private-use emoji of old stores, from each row of its table.
void TestMessageText::carrierEmoji_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QString>("text"); // in the plain text
    auto add = [](const char *tag, int code, const char *picture, const char32_t *text) {
        QTest::newRow(tag) << code << QString::fromLatin1(picture) << QString::fromUcs4(text);
    };
    add("heart", 0xE022, "2764", U"\u2764\uFE0F");
    add("note, before the gap", 0xE03E, "1F3B5", U"\U0001F3B5");
    add("key, after the gap", 0xE03F, "1F511", U"\U0001F511");
    add("winking face with tongue", 0xE105, "1F61C", U"\U0001F61C");
    add("keycap", 0xE210, "0023-20E3", U"#\uFE0F\u20E3");
    add("blue heart", 0xE32A, "1F499", U"\U0001F499");
    add("smile", 0xE415, "1F604", U"\U0001F604");
    add("flag", 0xE50B, "1F1EF-1F1F5", U"\U0001F1EF\U0001F1F5");
    add("last of the block", 0xE537, "2122", U"\u2122\uFE0F");
    add("without counterpart", 0xE000, "E000", U"[EMOJI]");
}

void TestMessageText::carrierEmoji()
{
    QFETCH(int, code);
    QFETCH(QString, picture);
    QFETCH(QString, text);
    _ViberMsg msg;
    msg.type = ViberMsgTypeText;
    msg.text = "a" + QString(QChar(code)) + "b";
    QCOMPARE(MessageText::messageHtml(msg.text), "a" + pic("emoji/" + picture) + "b");
    QCOMPARE(MessageText::plainText(&msg), "a" + text + "b");
}

void TestMessageText::addressesAndAttributes()
{
    QCOMPARE(MessageText::attributeHtml(QStringLiteral("a\"b'c<d>&e\n")),
             QStringLiteral("a&quot;b&#39;c&lt;d&gt;&amp;e\n"));
    _ViberMsg msg;
    msg.latitude = 48.8583701;
    msg.longitude = -2.5;
    QCOMPARE(MessageText::mapPictureAddress(&msg),
             "https://" + QString::fromLatin1(webhosts::kMapService) +
                 "/maps/api/staticmap?zoom=16&size=600x389&scale=1&maptype=roadmap&sensor=true"
                 "&center=48.858370,-2.500000");

    _ViberAtta atta;
    const QString server = "https://" + QString::fromLatin1(webhosts::kStickerServer) + "/stickers/60/";
    for (const auto &[id, path] :
         {std::pair{"1234", "1200/00001234"}, {"99", "0/00000099"}, {"123456789", "123456700/123456789"}}) {
        atta.attId = QString::fromLatin1(id);
        QCOMPARE(MessageText::stickerPictureAddress(&atta), server + QString::fromLatin1(path) + ".png");
    }
    // A crafted id neither leaves the sticker folder nor breaks the attribute.
    for (const char *id : {"1\" onerror=\"x", "1' onerror='x", "../../../evil", "x?y#z"}) {
        atta.attId = QString::fromUtf8(id);
        const QString address = MessageText::stickerPictureAddress(&atta);
        for (QChar c : QStringLiteral("\"'<> ?#"))
            QVERIFY2(!address.contains(c), qPrintable(address));
        const QUrl url(address, QUrl::StrictMode);
        const QString path = url.path(QUrl::FullyEncoded);
        QVERIFY2(url.isValid() && path.startsWith(QLatin1String("/stickers/60/0/")) && path.count(u'/') == 4,
                 qPrintable(address));
    }
}

void TestMessageText::emoticonRanges_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");
    row("two codes", "(smiley)(sad)", triples({0, 8, 58, 8, 5, 53}));
    row("unknown skipped, scan goes on", "(x)(!) (foo)", triples({3, 3, 0}));
    row("UTF-16 units", kSmile + "(sad)", triples({2, 5, 53}));
    row("doubled brackets", "((smiley))", triples({1, 8, 58}));
    row("broken surrogates", "(sad)" + QString(QChar(0xD800)) + QChar(0xDC00) + "(TV)",
        triples({0, 5, 53, 7, 4, 67}));
    row("none", "no codes (here) () (tv)", QByteArray());
    row("last number", "(cards)", triples({0, 7, 118}));
}

void TestMessageText::emoticonRanges()
{
    QFETCH(QString, text);
    QTEST(Emoticons::ranges(text), "expected");

    // The numbers are what the store holds: each is used once, and every code is one run.
    const QHash<QString, int> &table = Emoticons::table();
    QSet<int> numbers;
    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        numbers.insert(it.value());
        QCOMPARE(Emoticons::ranges(it.key()), triples({0, qint32(it.key().size()), it.value()}));
    }
    QCOMPARE(numbers.size(), table.size());
}

void TestMessageText::longTexts()
{
    // So many codes and emoji that rescanning the text for each would not finish.
    constexpr qint64 kUnits = 200000;
    const QString unit = "(smiley)(x) a&b<\n" + kFamily + kHigh + "y";
    const QString text = unit.repeated(kUnits);
    const QByteArray ranges = Emoticons::ranges(text);
    QCOMPARE(ranges.size(), qsizetype(kUnits * 12));
    QCOMPARE(ranges.right(12), triples({qint32((kUnits - 1) * unit.size()), 8, 58}));
    QCOMPARE(MessageText::messageHtml(text), (pic(QStringLiteral("vb_emoji/(smiley)")) +
                                              "(x) a&amp;b&lt;<br/>" + pic(kFamilyPicture) + kHigh + "y")
                                                 .repeated(kUnits));

    // Cancellation is asked every few thousand codes, without changing the result.
    qint64 calls = 0;
    QCOMPARE(Emoticons::ranges(text, [&calls] { ++calls; }), ranges);
    QVERIFY2(calls >= 2 * kUnits / 10000 && calls <= 2 * kUnits / 1000, qPrintable(QString::number(calls)));
    // What the check throws ends the work there and reaches the caller.
    calls = 0;
    QVERIFY_THROWS_EXCEPTION(int, Emoticons::ranges(text, [&calls] {
                                 if (++calls == 2)
                                     throw -1;
                             }));
    QCOMPARE(calls, 2);
}

QTEST_GUILESS_MAIN(TestMessageText)
#include "tst_messagetext.moc"
