#include "export/Emoji.h"
#include "export/Emoticons.h"
#include "export/MessageText.h"
#include "viber/ViberData.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>
#include <QXmlStreamReader>
#include <QtEndian>

namespace {

const QString kSmileFace = QString::fromUcs4(U"\U0001F604"); // surrogate pair D83D DE04

const QString kPictureStyle = QStringLiteral("vertical-align:top;");

QString emojiImg(const QString &code)
{
    return QStringLiteral("<img src=\"emoji/%1.png\" style=\"vertical-align:top;\" />").arg(code);
}

QString emoticonImg(const QString &code)
{
    return QStringLiteral("<img src=\"vb_emoji/%1.png\" style=\"vertical-align:top;\" />").arg(code);
}

// What an HTML fragment really is: its elements with their attributes, and its
// text. Fails (returns false) when the fragment is not well formed, which is
// what unescaped message text would make of it.
struct Fragment
{
    QStringList elements; // "img src=... style=..." per element
    QString text;
};

bool parseFragment(const QString &html, Fragment &out)
{
    QXmlStreamReader xml(QStringLiteral("<root>") + html + QStringLiteral("</root>"));
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() != QLatin1String("root")) {
            QString e = xml.name().toString();
            for (const QXmlStreamAttribute &a : xml.attributes())
                e += QStringLiteral(" %1=%2").arg(a.name().toString(), a.value().toString());
            out.elements.append(e);
        } else if (xml.isCharacters()) {
            out.text += xml.text();
        }
    }
    return !xml.hasError();
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

bool touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write("png") == 3;
}

} // namespace

class TestMessageText : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void emojiCodes();
    void emojiBrokenSurrogates();
    void plainText_data();
    void plainText();
    void callTexts_data();
    void callTexts();
    void systemTexts();
    void chatTitlesAndLabels();
    void htmlEscaping_data();
    void htmlEscaping();
    void htmlEmoji();
    void htmlEmoticonPictures();
    void htmlHostileEmoticonCodes();
    void systemHtml();
    void attributeEscaping();
    void mapAddress();
    void stickerAddress();
    void emoticonTable();
    void emoticonMatchesAndRanges();
    void emoticonsInLongTexts();
    void emoticonRangesCancel();

private:
    QTemporaryDir m_programDir;
};

void TestMessageText::init()
{
    QVERIFY(m_programDir.isValid());
    MessageText::setPictureFolder(m_programDir.path());
}

void TestMessageText::cleanup()
{
    MessageText::setPictureFolder(QString());
    QDir(m_programDir.path()).removeRecursively();
    QDir().mkpath(m_programDir.path());
}

void TestMessageText::emojiCodes()
{
    QCOMPARE(Emoji::code(0xE415), QStringLiteral("E415"));
    QCOMPARE(Emoji::code(0x1F604), QStringLiteral("1F604"));
    QCOMPARE(Emoji::code(0x203C), QStringLiteral("203C"));

    // Both classes, in text order, pairs decoded to their code points; the ends of
    // the private-use block and a listed symbol count, their neighbours do not.
    QStringList seen;
    const QString text = QStringLiteral("a") + QChar(0xE000) + kSmileFace + QChar(0xE537) + QChar(0xE538) +
                         QChar(0x2714) + QChar(0x2715) + QString::fromUcs4(U"\U0001F300") +
                         QStringLiteral("z");
    const QString out = Emoji::replace(text, [&seen](const QString &code) {
        seen.append(code);
        return QStringLiteral("[%1]").arg(code);
    });
    // Single characters are replaced in a first pass, pairs in a second.
    QCOMPARE(seen, QStringList({"E000", "E537", "2714", "1F604", "1F300"}));
    QCOMPARE(out, QStringLiteral("a[E000][1F604][E537]") + QChar(0xE538) + QStringLiteral("[2714]") +
                      QChar(0x2715) + QStringLiteral("[1F300]z"));

    // Other planes are left as characters: only D83C and D83D start an emoji pair.
    const QString thinking = QString::fromUcs4(U"\U0001F914");
    QCOMPARE(Emoji::replace(thinking, [](const QString &) { return QStringLiteral("X"); }), thinking);
}

void TestMessageText::emojiBrokenSurrogates()
{
    auto mark = [](const QString &code) { return QStringLiteral("<%1>").arg(code); };
    // A lone high surrogate must not eat the character after it.
    const QString broken = QStringLiteral("ab") + QChar(0xD83D) + QStringLiteral("cd");
    QCOMPARE(Emoji::replace(broken, mark), broken);
    // Nor vanish at the end of the text.
    const QString atEnd = QStringLiteral("ab") + QChar(0xD83C);
    QCOMPARE(Emoji::replace(atEnd, mark), atEnd);
    // Two high surrogates then a low one: the second starts the real pair.
    const QString twice = QString(QChar(0xD83D)) + kSmileFace;
    QCOMPARE(Emoji::replace(twice, mark), QString(QChar(0xD83D)) + QStringLiteral("<1F604>"));
}

void TestMessageText::plainText_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("attId"); // "-" for no attachment
    QTest::addColumn<QString>("expected");

    QTest::newRow("text with pair emoji") << int(ViberMsgTypeText) << QStringLiteral("hi") + kSmileFace << "-"
                                          << "hi[EMOJI]";
    QTest::newRow("text with carrier emoji")
        << int(ViberMsgTypeText) << QStringLiteral("a") + QChar(0xE415) + "b"
        << "-"
        << "a[EMOJI]b";
    QTest::newRow("multi-line text kept") << int(ViberMsgTypeText) << "one\ntwo"
                                          << "-"
                                          << "one\ntwo";
    QTest::newRow("picture") << int(ViberMsgTypePicture) << "caption"
                             << "7"
                             << "[IMAGE]";
    QTest::newRow("location") << int(ViberMsgTypeLocation) << "Home"
                              << "-"
                              << "Home [LOCATION]";
    QTest::newRow("location with emoji")
        << int(ViberMsgTypeLocation) << kSmileFace + QStringLiteral("Home") << "-"
        << "[EMOJI]Home [LOCATION]";
    QTest::newRow("audio") << int(ViberMsgTypeAudio) << ""
                           << "9"
                           << "[AUDIO]";
    QTest::newRow("video") << int(ViberMsgTypeVideo) << ""
                           << "9"
                           << "[VIDEO]";
    QTest::newRow("sticker") << int(ViberMsgTypeSticker) << ""
                             << "40123"
                             << "[STICKER-40123]";
    QTest::newRow("sticker without attachment") << int(ViberMsgTypeSticker) << ""
                                                << "-"
                                                << "[STICKER-UNKNOWN]";
    QTest::newRow("call without call") << int(ViberMsgTypeCall) << ""
                                       << "-"
                                       << "[UNKNOWN CALL]";
    QTest::newRow("unknown type") << 99 << "text"
                                  << "-"
                                  << "";
    QTest::newRow("no type") << 0 << "text"
                             << "-"
                             << "";
}

void TestMessageText::plainText()
{
    QFETCH(int, type);
    QFETCH(QString, text);
    QFETCH(QString, attId);
    QFETCH(QString, expected);

    _ViberAtta atta;
    _ViberMsg msg;
    msg.type = ViberMsgType(type);
    msg.text = text;
    if (attId != QLatin1String("-")) {
        atta.attId = attId;
        atta.message = &msg;
        msg.attachment = &atta;
    }
    QCOMPARE(MessageText::plainText(&msg), expected);
    QCOMPARE(MessageText::plainText(nullptr), QString());
}

void TestMessageText::callTexts_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("duration");
    QTest::addColumn<QString>("expected");
    QTest::newRow("outgoing 125 s") << int(ViberCallTypeOutgoing) << 125 << "Outgoing Call (2' 5'')";
    QTest::newRow("incoming 59 s") << int(ViberCallTypeIncoming) << 59 << "Incoming Call (0' 59'')";
    QTest::newRow("incoming 0 s") << int(ViberCallTypeIncoming) << 0 << "Incoming Call (0' 0'')";
    QTest::newRow("incoming one hour") << int(ViberCallTypeIncoming) << 3600 << "Incoming Call (60' 0'')";
    QTest::newRow("negative truncates toward zero")
        << int(ViberCallTypeOutgoing) << -65 << "Outgoing Call (-1' -5'')";
    QTest::newRow("missed") << int(ViberCallTypeMissed) << 30 << "Missed Call";
    QTest::newRow("unknown type") << 7 << 30 << "Unknown Call";
}

void TestMessageText::callTexts()
{
    QFETCH(int, type);
    QFETCH(int, duration);
    QFETCH(QString, expected);

    _ViberCall call;
    call.type = ViberCallType(type);
    call.duration = duration;
    QCOMPARE(MessageText::callText(&call), expected);

    // A call entry among the messages reads the same.
    _ViberMsg msg;
    msg.type = ViberMsgTypeCall;
    msg.call = &call;
    QCOMPARE(MessageText::plainText(&msg), expected);
}

void TestMessageText::systemTexts()
{
    _ViberPerson ann;
    ann.name = QStringLiteral("Ann");
    ann.phone = QStringLiteral("+123");
    _ViberPerson numberOnly;
    numberOnly.phone = QStringLiteral("+456");

    _ViberMsg msg;
    msg.type = ViberMsgTypeSystem;
    msg.systemKind = ViberSystemKindNameChanged;
    msg.text = QStringLiteral("Trip");
    msg.person = &ann;
    QCOMPARE(MessageText::systemText(&msg), QStringLiteral("Ann changed the group name to \"Trip\""));
    QCOMPARE(MessageText::plainText(&msg), MessageText::systemText(&msg));

    msg.person = &numberOnly;
    QCOMPARE(MessageText::systemText(&msg), QStringLiteral("+456 changed the group name to \"Trip\""));

    msg.person = nullptr;
    QCOMPARE(MessageText::systemText(&msg), QStringLiteral("You changed the group name to \"Trip\""));

    // Place markers inside the name or the new title stay text, and the raw text
    // is used: emoji are not replaced here.
    ann.name = QStringLiteral("A%2n%1");
    msg.person = &ann;
    msg.text = QStringLiteral("100%1 ") + kSmileFace;
    QCOMPARE(MessageText::systemText(&msg),
             QStringLiteral("A%2n%1 changed the group name to \"100%1 ") + kSmileFace + QStringLiteral("\""));

    msg.systemKind = ViberSystemKindMemberAdded;
    msg.text = QStringLiteral("Bob");
    QCOMPARE(MessageText::systemText(&msg), QStringLiteral("Bob joined"));

    msg.systemKind = ViberSystemKindNone;
    QCOMPARE(MessageText::systemText(&msg), QString());
}

void TestMessageText::chatTitlesAndLabels()
{
    _ViberPerson zed, amy, bare, twin;
    zed.id = 1;
    zed.name = QStringLiteral("Zed");
    zed.phone = QStringLiteral("+300");
    amy.id = 2;
    amy.name = QStringLiteral("Amy");
    amy.phone = QStringLiteral("+500");
    bare.id = 3;
    bare.phone = QStringLiteral("+1000"); // before +300 as text, not as a number
    twin.id = 4;
    twin.name = QStringLiteral("Amy at work");
    twin.phone = QStringLiteral("+500");

    _ViberChat group;
    group.groupId = QStringLiteral("g1");
    group.participants.insert(amy.id, &amy);
    group.participants.insert(zed.id, &zed);
    group.participants.insert(bare.id, &bare);
    QCOMPARE(MessageText::chatTitle(&group), QStringLiteral("+1000, Zed, Amy"));
    QCOMPARE(MessageText::participantLabels(&group), QStringLiteral("+1000, Zed(+300), Amy(+500)"));

    // A blank name does not count; a real one wins, trimmed.
    group.name = QStringLiteral("   ");
    QCOMPARE(MessageText::chatTitle(&group), QStringLiteral("+1000, Zed, Amy"));
    group.name = QStringLiteral("  Trip  ");
    QCOMPARE(MessageText::chatTitle(&group), QStringLiteral("Trip"));
    QCOMPARE(MessageText::participantLabels(&group), QStringLiteral("+1000, Zed(+300), Amy(+500)"));

    // One number under two contacts: the order is still the same on every run.
    group.name.clear();
    group.participants.insert(twin.id, &twin);
    QCOMPARE(MessageText::chatTitle(&group), QStringLiteral("+1000, Zed, Amy, Amy at work"));

    _ViberChat oneToOne;
    oneToOne.participants.insert(zed.id, &zed);
    QCOMPARE(MessageText::chatTitle(&oneToOne), QStringLiteral("Zed"));
    QCOMPARE(MessageText::participantLabels(&oneToOne), QStringLiteral("Zed(+300)"));

    // A chat made up for calls carries its single participant's name.
    _ViberChat calls;
    calls.id = -5;
    calls.name = amy.name;
    calls.participants.insert(amy.id, &amy);
    QCOMPARE(MessageText::chatTitle(&calls), QStringLiteral("Amy"));

    _ViberChat empty;
    QCOMPARE(MessageText::chatTitle(&empty), QString());
    QCOMPARE(MessageText::participantLabels(&empty), QString());
    QCOMPARE(MessageText::chatTitle(nullptr), QString());
}

void TestMessageText::htmlEscaping_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("less-than and ampersand") << "a<b & c"
                                             << "a&lt;b &amp; c";
    QTest::newRow("ampersand first") << "&lt; is <"
                                     << "&amp;lt; is &lt;";
    QTest::newRow("line feeds") << "one\ntwo\n"
                                << "one<br/>two<br/>";
    QTest::newRow("quotes kept in text") << "say \"hi\" 'x'"
                                         << "say \"hi\" 'x'";
    QTest::newRow("script") << "<script>alert(1)</script>"
                            << "&lt;script&gt;alert(1)&lt;/script&gt;";
    QTest::newRow("empty") << ""
                           << "";
}

void TestMessageText::htmlEscaping()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const QString html = MessageText::messageHtml(text);
    QCOMPARE(html, expected);
}

void TestMessageText::htmlEmoji()
{
    QCOMPARE(MessageText::messageHtml(QStringLiteral("hi") + kSmileFace),
             QStringLiteral("hi") + emojiImg(QStringLiteral("1F604")));
    QCOMPARE(MessageText::messageHtml(QString(QChar(0xE415))), emojiImg(QStringLiteral("E415")));

    // Escaping, line breaks and emoji together, read back as a document.
    Fragment f;
    QVERIFY(parseFragment(MessageText::messageHtml(QStringLiteral("<b>x</b>\n") + kSmileFace), f));
    QCOMPARE(f.elements, QStringList({"br", "img src=emoji/1F604.png style=" + kPictureStyle}));
    QCOMPARE(f.text, QStringLiteral("<b>x</b>"));
}

void TestMessageText::htmlEmoticonPictures()
{
    const QString smiley = QStringLiteral("(smiley)");
    // No picture beside the program: the code stays text.
    QCOMPARE(MessageText::messageHtml(QStringLiteral("ok (smiley)")), QStringLiteral("ok (smiley)"));

    QVERIFY(touch(m_programDir.filePath(QStringLiteral("vb_emoji/(smiley).png"))));
    QVERIFY(touch(m_programDir.filePath(QStringLiteral("vb_emoji/(!).png"))));
    QVERIFY(touch(m_programDir.filePath(QStringLiteral("vb_emoji/(walrus).png"))));

    QCOMPARE(MessageText::messageHtml(QStringLiteral("ok (smiley)")),
             QStringLiteral("ok ") + emoticonImg(smiley));
    // Emoticon number 0 is a real emoticon.
    QCOMPARE(MessageText::messageHtml(QStringLiteral("(!)(smiley)")),
             emoticonImg(QStringLiteral("(!)")) + emoticonImg(smiley));
    // A code without its picture, and a bracketed word outside the table even
    // with a file of its name, stay text.
    QCOMPARE(MessageText::messageHtml(QStringLiteral("(sad) (walrus) (smiley)")),
             QStringLiteral("(sad) (walrus) ") + emoticonImg(smiley));
    // Matching is case-sensitive.
    QCOMPARE(MessageText::messageHtml(QStringLiteral("(Smiley)")), QStringLiteral("(Smiley)"));
    // Nested brackets: only the inner run is a code.
    QCOMPARE(MessageText::messageHtml(QStringLiteral("(a(smiley)c)")),
             QStringLiteral("(a") + emoticonImg(smiley) + QStringLiteral("c)"));
    // Scanning continues after a match: adjacent codes both become pictures.
    QCOMPARE(MessageText::messageHtml(QStringLiteral("(smiley)(smiley)\n(smiley)")),
             emoticonImg(smiley) + emoticonImg(smiley) + QStringLiteral("<br/>") + emoticonImg(smiley));

    // The default is the program's own folder, not wherever the test put its files.
    MessageText::setPictureFolder(QString());
    QCOMPARE(MessageText::pictureFolder(), QCoreApplication::applicationDirPath());
    if (!QFileInfo::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/vb_emoji/(smiley).png")))
        QCOMPARE(MessageText::messageHtml(smiley), smiley);
}

void TestMessageText::htmlHostileEmoticonCodes()
{
    // Files whose names are crafted bracket runs: none may turn into an attribute.
    const QStringList crafted = {
        QStringLiteral("(x\" onerror=\"alert`1`)"),
        QStringLiteral("(x' onerror='alert`1`)"),
        QStringLiteral("(/../smiley)"),
    };
    QVERIFY(touch(m_programDir.filePath(QStringLiteral("vb_emoji/") + crafted[0] + QStringLiteral(".png"))));
    QVERIFY(touch(m_programDir.filePath(QStringLiteral("vb_emoji/") + crafted[1] + QStringLiteral(".png"))));
    // What "vb_emoji/(/../smiley).png" reaches on disk.
    QVERIFY(QDir().mkpath(m_programDir.filePath(QStringLiteral("vb_emoji/("))));
    QVERIFY(touch(m_programDir.filePath(QStringLiteral("vb_emoji/smiley).png"))));

    for (const QString &code : crafted) {
        const QString text = QStringLiteral("hi ") + code + QStringLiteral(" <img src=x onerror=alert(1)>");
        Fragment f;
        QVERIFY2(parseFragment(MessageText::messageHtml(text), f), qPrintable(code));
        QVERIFY2(f.elements.isEmpty(), qPrintable(f.elements.join(QLatin1Char('|'))));
        QCOMPARE(f.text, text);
    }
}

void TestMessageText::systemHtml()
{
    const QString opening =
        QStringLiteral("<div style=\"text-align:center; margin-bottom:20px;\"><div class=\"r\">"
                       "<div class=\"bb_bg top_left\"></div><div class=\"bb_bg top_middle\"></div>"
                       "<div class=\"bb_bg top_right\"></div><div class=\"bb_bg middle_left\"></div>"
                       "<div class=\"bb_bg middle_middle\"></div><div class=\"bb_bg middle_right\"></div>"
                       "<div class=\"bb_bg bottom_left\"></div><div class=\"bb_bg bottom_middle\"></div>"
                       "<div class=\"bb_bg bottom_right\"></div>");
    const QString closing = QStringLiteral("</div><div class=\"clear\"></div></div>");
    const QString text = QStringLiteral("Ann changed the group name to \"<script>\"\n") + kSmileFace;
    const QString html = MessageText::systemMessageHtml(text);
    QCOMPARE(html, opening + MessageText::messageHtml(text) + closing);

    Fragment f;
    QVERIFY(parseFragment(html, f));
    QVERIFY(!f.elements.contains(QStringLiteral("script")));
    QCOMPARE(f.text, QStringLiteral("Ann changed the group name to \"<script>\""));
}

void TestMessageText::attributeEscaping()
{
    const QString nasty = QStringLiteral("a\"b'c<d>&e");
    const QString escaped = MessageText::attributeHtml(nasty);
    QCOMPARE(escaped, QStringLiteral("a&quot;b&#39;c&lt;d&gt;&amp;e"));
    QXmlStreamReader xml(QStringLiteral("<p a=\"%1\" b='%1'/>").arg(escaped));
    QVERIFY(xml.readNextStartElement());
    QCOMPARE(xml.attributes().size(), 2);
    QCOMPARE(xml.attributes().value(QStringLiteral("a")).toString(), nasty);
    QCOMPARE(xml.attributes().value(QStringLiteral("b")).toString(), nasty);
}

void TestMessageText::mapAddress()
{
    _ViberMsg msg;
    msg.type = ViberMsgTypeLocation;
    msg.latitude = 48.8583701;
    msg.longitude = -2.5;
    const QString address = MessageText::mapPictureAddress(&msg);

    const QUrl url(address, QUrl::StrictMode);
    QVERIFY2(url.isValid(), qPrintable(address));
    QCOMPARE(url.scheme(), QStringLiteral("https"));
    QCOMPARE(url.host(), QString::fromLatin1(webhosts::kMapService));
    QCOMPARE(url.path(), QStringLiteral("/maps/api/staticmap"));
    QCOMPARE(url.query(), QStringLiteral("zoom=16&size=600x389&scale=1&maptype=roadmap&sensor=true"
                                         "&center=48.858370,-2.500000"));
    // Safe as it stands inside a double-quoted attribute.
    for (QChar c : {QChar('"'), QChar('\''), QChar('<'), QChar('>'), QChar(' ')})
        QVERIFY(!address.contains(c));

    msg.latitude = 0;
    msg.longitude = 0;
    QCOMPARE(QUrlQuery(QUrl(MessageText::mapPictureAddress(&msg))).queryItemValue(QStringLiteral("center")),
             QStringLiteral("0.000000,0.000000"));
}

void TestMessageText::stickerAddress()
{
    _ViberAtta atta;
    atta.attId = QStringLiteral("1234");
    QUrl url(MessageText::stickerPictureAddress(&atta));
    QCOMPARE(url.scheme(), QStringLiteral("https"));
    QCOMPARE(url.host(), QString::fromLatin1(webhosts::kStickerServer));
    QCOMPARE(url.path(), QStringLiteral("/stickers/60/1200/00001234.png"));

    atta.attId = QStringLiteral("40199");
    QCOMPARE(QUrl(MessageText::stickerPictureAddress(&atta)).path(),
             QStringLiteral("/stickers/60/40100/00040199.png"));
    atta.attId = QStringLiteral("99");
    QCOMPARE(QUrl(MessageText::stickerPictureAddress(&atta)).path(),
             QStringLiteral("/stickers/60/0/00000099.png"));
    atta.attId = QStringLiteral("123456789");
    QCOMPARE(QUrl(MessageText::stickerPictureAddress(&atta)).path(),
             QStringLiteral("/stickers/60/123456700/123456789.png"));

    // A crafted id neither leaves the sticker folder nor breaks the attribute.
    for (const QString &id : {QStringLiteral("1\" onerror=\"x"), QStringLiteral("1' onerror='x"),
                              QStringLiteral("../../../evil"), QStringLiteral("x?y#z")}) {
        atta.attId = id;
        const QString address = MessageText::stickerPictureAddress(&atta);
        for (QChar c : {QChar('"'), QChar('\''), QChar('<'), QChar('>'), QChar(' '), QChar('?'), QChar('#')})
            QVERIFY2(!address.contains(c), qPrintable(address));
        url = QUrl(address, QUrl::StrictMode);
        QVERIFY2(url.isValid(), qPrintable(address));
        const QString path = url.path(QUrl::FullyEncoded);
        QVERIFY2(path.startsWith(QStringLiteral("/stickers/60/0/")), qPrintable(address));
        QCOMPARE(path.count(QLatin1Char('/')), 4);
    }
    QCOMPARE(MessageText::stickerPictureAddress(nullptr), QString());
}

void TestMessageText::emoticonTable()
{
    const QHash<QString, int> &table = Emoticons::table();
    QCOMPARE(table.size(), 85);
    QCOMPARE(Emoticons::number(QStringLiteral("(smiley)")), 58);
    QCOMPARE(Emoticons::number(QStringLiteral("(!)")), 0);
    QCOMPARE(Emoticons::number(QStringLiteral("($)")), 1);
    QCOMPARE(Emoticons::number(QStringLiteral("(TV)")), 67);
    QCOMPARE(Emoticons::number(QStringLiteral("(cards)")), 118);
    QCOMPARE(Emoticons::number(QStringLiteral("(christmas_tree)")), 11);
    QCOMPARE(Emoticons::number(QStringLiteral("(tv)")), -1);
    QCOMPARE(Emoticons::number(QStringLiteral("smiley")), -1);

    // Numbers 0..73 but 57, and 107..118: each used once.
    QSet<int> numbers;
    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        QVERIFY2(!numbers.contains(it.value()), qPrintable(it.key()));
        numbers.insert(it.value());
        // Every code is found whole by the code pattern.
        const Emoticons::Match m = Emoticons::find(it.key(), 0);
        QCOMPARE(m.position, 0);
        QCOMPARE(m.code, it.key());
    }
    QSet<int> expected;
    for (int n = 0; n <= 73; ++n)
        if (n != 57)
            expected.insert(n);
    for (int n = 107; n <= 118; ++n)
        expected.insert(n);
    QCOMPARE(numbers, expected);
}

void TestMessageText::emoticonMatchesAndRanges()
{
    Emoticons::Match m = Emoticons::find(QStringLiteral("(a(b)c)"), 0);
    QCOMPARE(m.position, 2);
    QCOMPARE(m.length, 3);
    QCOMPARE(m.code, QStringLiteral("(b)"));
    QCOMPARE(Emoticons::find(QStringLiteral("(a(b)c)"), 5).position, -1);
    QCOMPARE(Emoticons::find(QStringLiteral("() ( ) x"), 0).code, QStringLiteral("( )"));

    QCOMPARE(Emoticons::ranges(QStringLiteral("(smiley)(sad)")), triples({0, 8, 58, 8, 5, 53}));
    // Unknown codes are skipped but scanning goes on after them.
    QCOMPARE(Emoticons::ranges(QStringLiteral("(x)(!) (foo)")), triples({3, 3, 0}));
    // Positions and lengths count UTF-16 units: the emoji before takes two.
    QCOMPARE(Emoticons::ranges(kSmileFace + QStringLiteral("(sad)")), triples({2, 5, 53}));
    QCOMPARE(Emoticons::ranges(QStringLiteral("((smiley))")), triples({1, 8, 58}));
    QVERIFY(Emoticons::ranges(QStringLiteral("no codes (here)")).isEmpty());
    QVERIFY(Emoticons::ranges(QString()).isEmpty());
    // A broken surrogate elsewhere in the text hides no code.
    QCOMPARE(Emoticons::ranges(QStringLiteral("(sad)") + QChar(0xD800)), triples({0, 5, 53}));
    QCOMPARE(Emoticons::find(QString(QChar(0xDC00)) + QStringLiteral("(x)"), 0).position, 1);
}

void TestMessageText::emoticonsInLongTexts()
{
    // So many codes that rescanning the text for each would not finish.
    constexpr qint64 kUnits = 200000;
    const QString unit = QStringLiteral("(smiley)(x) a&b<\n");
    const QString text = unit.repeated(kUnits);

    const QByteArray ranges = Emoticons::ranges(text);
    QCOMPARE(ranges.size(), qsizetype(kUnits * 12));
    const qint32 last = qint32((kUnits - 1) * unit.size());
    QCOMPARE(ranges.right(12), triples({last, 8, 58}));

    QVERIFY(touch(m_programDir.filePath(QStringLiteral("vb_emoji/(smiley).png"))));
    QCOMPARE(
        MessageText::messageHtml(text),
        (emoticonImg(QStringLiteral("(smiley)")) + QStringLiteral("(x) a&amp;b&lt;<br/>")).repeated(kUnits));
}

void TestMessageText::emoticonRangesCancel()
{
    constexpr qint64 kCodes = 100000;
    const QString text = QStringLiteral("(smiley)").repeated(kCodes);

    // Asked every few thousand codes, without changing the result.
    qint64 calls = 0;
    QCOMPARE(Emoticons::ranges(text, [&calls] { ++calls; }), Emoticons::ranges(text));
    QVERIFY2(calls >= kCodes / 10000 && calls <= kCodes / 1000, qPrintable(QString::number(calls)));

    // What the check throws ends the work there and reaches the caller.
    qint64 asked = 0;
    QVERIFY_THROWS_EXCEPTION(int, Emoticons::ranges(text, [&asked] {
                                 if (++asked == 2)
                                     throw -1;
                             }));
    QCOMPARE(asked, 2);
}

QTEST_GUILESS_MAIN(TestMessageText)
#include "tst_messagetext.moc"
