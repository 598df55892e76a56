#include "export/ExportMessagesJson.h"
#include "export/MessageText.h"
#include "support/MessageFixtures.h"
#include "support/TestSupport.h"
#include "viber/Emoticons.h"
#include "viber/ViberData.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QtEndian>

using namespace Qt::StringLiterals;
using testsupport::MessageFixture;

namespace {

const QString kSmile = QString::fromUcs4(U"\U0001F604"); // surrogate pair D83D DE04
const QChar kHigh(0xD83D);
const QString kFamily = QString::fromUcs4(U"\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466");
const QString kFamilyPicture = u"emoji/1F468-200D-1F469-200D-1F467-200D-1F466"_s;

// The element messageHtml writes for a picture, path given without ".png".
QString pic(const QString &path)
{
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
    void initTestCase()
    {
        MessageText::setPictureFolder(m_programDir.path());
        // Pictures of codes, of a word outside the table, of crafted runs and "(/../smiley)".
        QVERIFY(QDir().mkpath(m_programDir.filePath(u"vb_emoji/("_s)));
        for (const QString &name : {u"(smiley)"_s, u"(!)"_s, u"(walrus)"_s, u"(x\" onerror=\"alert`1`)"_s,
                                    u"(x' onerror='alert`1`)"_s, u"smiley)"_s})
            QVERIFY(QFile(m_programDir.filePath(u"vb_emoji/%1.png"_s.arg(name))).open(QIODevice::WriteOnly));
    }
    // Carrier emoji become Unicode emoji in every kind of text; a notice's place markers stay text.
    void plainText()
    {
        MessageFixture f;
        _ViberChat *chat = f.addChat();
        const auto add = [&](int type, const QString &text = {}, const QString &file = {}) {
            _ViberMsg *msg =
                f.addMessage(chat, ViberMsgType(type), QDateTime::currentDateTime(), false, text);
            if (!file.isEmpty()) {
                _ViberAtta *att = f.addAttachment(msg, {}, {});
                att->attId = att->fileName = file;
                att->fileSize = 0;
            }
            return msg;
        };
        const auto notice = [&](int kind, const QString &text, const QString &person) {
            _ViberMsg *msg = add(ViberMsgTypeSystem, text);
            msg->systemKind = ViberSystemKind(kind);
            msg->person = person.isEmpty() ? nullptr : f.addPerson(person, {});
        };
        add(ViberMsgTypeText, u"hi"_s + kSmile + kFamily + u"\nx"_s);
        add(ViberMsgTypeLocation, u"\uE415Home"_s);
        add(ViberMsgTypeSticker, {}, u"40123"_s);
        add(ViberMsgTypeFile, u"see"_s, u"a.pdf"_s);
        add(99, u"text"_s);
        add(ViberMsgTypeCall);
        f.addCall(add(ViberMsgTypeCall), ViberCallType(2), 125);
        f.addCall(add(ViberMsgTypeCall), ViberCallType(3), 30);
        notice(1, u"Trip"_s, {});
        notice(1, u"1%1 "_s + kSmile, u"A%2n%1"_s);
        notice(2, u"Bob"_s, u"Bob"_s);
        // A desktop record's client flag tells an edited message; other bits do not.
        for (const int flag : {64, 1})
            writeExtraColumns(add(ViberMsgTypeText, u"fixed"_s), {{u"ClientFlag"_s, flag}});
        QStringList texts;
        for (const _ViberMsg *msg : f.messages())
            texts << MessageText::plainText(msg);
        QCOMPARE(texts, (QStringList{u"hi"_s + kSmile + kFamily + u"\nx"_s, kSmile + u"Home [LOCATION]"_s,
                                     u"[STICKER-40123]"_s, u"[FILE a.pdf] see"_s, QString(),
                                     u"[UNKNOWN CALL]"_s, u"Outgoing Call (2:05)"_s, u"Missed Call"_s,
                                     u"You changed the group name to \"Trip\""_s,
                                     u"A%2n%1 changed the group name to \"1%1 "_s + kSmile + u"\""_s,
                                     u"Bob joined"_s, u"[Edited]\nfixed"_s, u"fixed"_s}));
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
        // The longest sequence the text holds; what follows is matched afresh or stays text.
        row("unfinished sequences",
            QString::fromUcs4(U"\U0001F468\u200D\U0001F469\u200Dx\U0001F1E9\U0001F1EA\U0001F1EB#1"),
            pic(u"emoji/1F468"_s) + QChar(0x200D) + pic(u"emoji/1F469"_s) + QChar(0x200D) + u"x"_s +
                pic(u"emoji/1F1E9-1F1EA"_s) + QString::fromUcs4(U"\U0001F1EB#1"));
        // Broken store text: a lone surrogate neither eats the next unit nor vanishes.
        row("lone high surrogates", u"ab"_s + kHigh + u"cd"_s + kHigh + kSmile + kHigh,
            u"ab"_s + kHigh + u"cd"_s + kHigh + pic(u"emoji/1F604"_s) + kHigh);
        row("lone low surrogate", QChar(0xDE04) + kFamily, QChar(0xDE04) + pic(kFamilyPicture));
        // Codes with a picture; one without, a word outside the table and another case stay text.
        row("emoticons", u"ok (smiley)(!)(sad) (walrus) (Smiley)"_s,
            u"ok "_s + smiley + pic(u"vb_emoji/(!)"_s) + u"(sad) (walrus) (Smiley)"_s);
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
    // SoftBank's private-use emoji of old stores, from rows of its table: picture and plain text.
    void carrierEmoji()
    {
        const std::tuple<int, QString, QString> rows[] = {
            {0xE022, u"2764"_s, u"\u2764\uFE0F"_s},
            {0xE03E, u"1F3B5"_s, QString::fromUcs4(U"\U0001F3B5")}, // before the gap
            {0xE03F, u"1F511"_s, QString::fromUcs4(U"\U0001F511")}, // after it
            {0xE50B, u"1F1EF-1F1F5"_s, QString::fromUcs4(U"\U0001F1EF\U0001F1F5")},
            {0xE537, u"2122"_s, u"\u2122\uFE0F"_s}, // last of the block
            {0xE000, u"E000"_s, u"[EMOJI]"_s}};     // without counterpart
        for (const auto &[code, picture, text] : rows) {
            _ViberMsg msg;
            msg.type = ViberMsgTypeText;
            msg.text = u'a' + QChar(code) + u'b';
            QCOMPARE(MessageText::messageHtml(msg.text.toString()) + u' ' + MessageText::plainText(&msg),
                     u'a' + pic(u"emoji/"_s + picture) + u"b a"_s + text + u'b');
        }
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
        QTest::newRow("quote ends it")
            << u"https://x.org/\"onmouseover=\"y"_s
            << u"<a href=\"https://x.org/\"%1>https://x.org/</a>\"onmouseover=\"y"_s.arg(rel);
        QTest::newRow("script") << u"javascript:alert(1)"_s << u"javascript:alert(1)"_s;
        QTest::newRow("in a mail address") << u"me@www.x.org"_s << u"me@www.x.org"_s;
    }
    void webAddressesBecomeLinks()
    {
        QFETCH(QString, text);
        QTEST(MessageText::linkedHtml(text), "html");
    }
    void emoticonRangesAndLongTexts()
    {
        // Offset, length and number of each code, in UTF-16 units; unknown runs are skipped.
        QCOMPARE(Emoticons::ranges(kSmile + u"(smiley)((sad))(x)(!) (foo)"_s),
                 triples({2, 8, 58, 11, 5, 53, 20, 3, 0}));

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
        // Asking for cancellation leaves the result alone; what the check throws reaches the caller.
        QCOMPARE(Emoticons::ranges(text, [] {}), ranges);
        qint64 calls = 0;
        QVERIFY_THROWS_EXCEPTION(int, Emoticons::ranges(text, [&calls] {
                                     if (++calls == 2)
                                         throw -1;
                                 }));
        QCOMPARE(calls, 2);
    }

    // A chat's JSON file is laid out as Qt's indented writer lays out the same
    // document, whatever its texts and numbers hold; participants by number.
    void jsonIsLaidOutAsTheDocumentWriterDoes()
    {
        testsupport::MessageFixture f;
        _ViberPerson *bob = f.addPerson(u"Bob"_s, u"+492"_s);
        _ViberPerson *ann = f.addPerson(u"Ann \"A\" \\ \t"_s, u"+491"_s);
        _ViberChat *chat = f.addChat(u"g1"_s, {bob, ann});
        const QString hostile =
            u"q\" b\\ c\x01\x1f \b\f\n\r\t \x7f é 中 😀 "_s + QChar(0xD800) + u"x"_s + QChar(0xDC00) + u"y"_s;
        const QDateTime when(QDate(2020, 3, 1), QTime(9, 0));
        _ViberMsg *text = f.addMessage(chat, ViberMsgTypeText, when, false, hostile);
        text->person = ann;
        text->token = 5860000000000000001;
        writeExtraColumns(text, {{u"ZMETADATA"_s, u"{\"quote\":{\"name\":\"Bob\",\"n\":2.5,\"e\":[]}}"_s},
                                 {u"ZSYSTEMTYPE"_s, u"x"_s}});
        f.addMessage(chat, ViberMsgTypeLocation, when.addSecs(60), true)->setPlace(52.5, 13, hostile);
        _ViberMsg *video = f.addMessage(chat, ViberMsgTypeVideo, when.addSecs(120), false, u"clip"_s);
        video->person = bob;
        f.addAttachment(video, u"/x/Documents/a.mov"_s, u"/y/a.jpg"_s, 2.25)->fileSize = qint64(1) << 40;
        writeExtraColumns(video, {{u"ZMETADATA"_s, u"not json"_s}});
        f.addCall(f.addMessage(chat, ViberMsgTypeCall, when.addSecs(180), false), ViberCallTypeMissed, 61)
            ->person = ann;
        QTemporaryDir dir;
        const QString path = dir.filePath(u"g.json"_s);
        ExportMessagesJson out(path, false);
        out.begin();
        for (const _ViberMsg *msg : f.messages())
            out.write(*msg);
        out.finish();
        const QByteArray bytes = testsupport::readFile(path);
        const QJsonDocument doc = QJsonDocument::fromJson(bytes);
        QCOMPARE(bytes, doc.toJson(QJsonDocument::Indented));
        QCOMPARE(doc[u"messages"_s][1][u"location"_s][u"address"_s].toString(), hostile);
        QStringList people;
        for (const QJsonValue &p : doc[u"chat"_s][u"participants"_s].toArray())
            people << p[u"phone"_s].toString();
        QCOMPARE(people, QStringList({u"+491"_s, u"+492"_s}));
    }

private:
    QTemporaryDir m_programDir;
};

QTEST_GUILESS_MAIN(TestMessageText)
#include "tst_messagetext.moc"
