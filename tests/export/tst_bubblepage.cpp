#include "export/BubblePage.h"
#include "export/MessageText.h"
#include "support/MessageFixtures.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using testsupport::MessageFixture;

namespace {

const QDateTime kMorning(QDate(2024, 3, 5), QTime(9, 30));

int countOf(const QString &html, const QString &needle)
{
    return int(html.count(needle));
}

// The anchors of the messages a page shows, in order.
QStringList messageAnchors(const QString &html)
{
    QStringList anchors;
    static const QRegularExpression re(QStringLiteral("<a name=\"(sms_-?\\d+)\"></a>"));
    for (auto it = re.globalMatch(html); it.hasNext();)
        anchors.append(it.next().captured(1));
    return anchors;
}

// Every tag of the page must be one the builder writes, without event handlers
// or script addresses: text that got through unescaped shows up here.
QString firstForeignTag(const QString &html)
{
    static const QSet<QString> known = {
        QStringLiteral("html"), QStringLiteral("head"), QStringLiteral("meta"), QStringLiteral("title"),
        QStringLiteral("link"), QStringLiteral("body"), QStringLiteral("a"),    QStringLiteral("p"),
        QStringLiteral("div"),  QStringLiteral("img"),  QStringLiteral("br")};
    static const QRegularExpression tagRe(QStringLiteral("<(/?)([A-Za-z!]+)([^>]*)>"));
    static const QRegularExpression attrRe(QStringLiteral("\\s([A-Za-z_:-]+)\\s*="));
    for (auto it = tagRe.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch tag = it.next();
        const QString name = tag.captured(2).toLower();
        if (name == QLatin1String("!doctype"))
            continue;
        if (!known.contains(name))
            return tag.captured(0);
        static const QSet<QString> attributes = {
            QStringLiteral("href"),  QStringLiteral("src"),     QStringLiteral("style"),
            QStringLiteral("class"), QStringLiteral("name"),    QStringLiteral("width"),
            QStringLiteral("align"), QStringLiteral("type"),    QStringLiteral("rel"),
            QStringLiteral("xmlns"), QStringLiteral("content"), QStringLiteral("http-equiv")};
        static const QRegularExpression quotedRe(QStringLiteral("\"[^\"]*\"|'[^']*'"));
        const QString names = QString(tag.captured(3)).replace(quotedRe, QString());
        for (auto a = attrRe.globalMatch(names); a.hasNext();)
            if (!attributes.contains(a.next().captured(1).toLower()))
                return tag.captured(0);
        // An address is only dangerous where the scheme starts it.
        static const QRegularExpression scriptRe(QStringLiteral("(href|src)=[\"']?\\s*javascript:"),
                                                 QRegularExpression::CaseInsensitiveOption);
        if (scriptRe.match(tag.captured(3)).hasMatch())
            return tag.captured(0);
    }
    return QString();
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return QString();
    return path;
}

} // namespace

class TestBubblePage : public QObject
{
    Q_OBJECT

private slots:
    void pagesOf101Messages();
    void dayLines();
    void directionsAndGroupHandle();
    void picturesAndPlaceholders();
    void locationUsesMapWhenPreviewMissing();
    void durationsAndCalls_data();
    void durationsAndCalls();
    void fileAddressesSurviveTheRoundTrip_data();
    void fileAddressesSurviveTheRoundTrip();
    void hostileContentStaysEscaped();
};

void TestBubblePage::pagesOf101Messages()
{
    MessageFixture f;
    const ViberMsgList all = f.addTexts(f.addChat(), 101, kMorning);
    QCOMPARE(BubblePage::pageCount(all.size()), 3);
    QCOMPARE(BubblePage::pageCount(0), 0);
    QCOMPARE(BubblePage::pageOfIndex(49), 1);
    QCOMPARE(BubblePage::pageOfIndex(50), 2);

    const QString first = BubblePage::pageHtml(all, 1);
    const QString second = BubblePage::pageHtml(all, 2);
    const QString third = BubblePage::pageHtml(all, 3);
    QVERIFY(
        first.startsWith(QLatin1String("<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\"")));
    QVERIFY(first.contains(
        QLatin1String("<link href=\"vbbb/style.css\" type=\"text/css\" rel=\"stylesheet\"/>")));

    QStringList expected;
    for (int i = 0; i < 50; ++i)
        expected.append(BubblePage::messageAnchor(all.at(i)));
    QCOMPARE(messageAnchors(first), expected);
    QCOMPARE(messageAnchors(second).first(), BubblePage::messageAnchor(all.at(50)));
    QCOMPARE(messageAnchors(second).size(), 50);
    QCOMPARE(messageAnchors(third), QStringList{BubblePage::messageAnchor(all.at(100))});

    QVERIFY(!first.contains(QLatin1String("/pre_page")));
    QCOMPARE(countOf(first, QStringLiteral("<a href=\"/next_page\">&gt;&gt;Next Page</a>")), 1);
    QVERIFY(second.contains(QLatin1String("/pre_page")) && second.contains(QLatin1String("/next_page")));
    QCOMPARE(countOf(third, QStringLiteral("<a href=\"/pre_page\">&lt;&lt;Previous Page</a>")), 1);
    QVERIFY(!third.contains(QLatin1String("/next_page")));
    for (const QString &page : {first, second, third}) {
        QVERIFY(page.contains(QLatin1String("<a name=\"start\"></a>")));
        QVERIFY(page.endsWith(QLatin1String("<a name=\"end\"></a></body></html>")));
    }

    QVERIFY(BubblePage::pageHtml(all, 0).isEmpty());
    QVERIFY(BubblePage::pageHtml(all, 4).isEmpty());
    QVERIFY(BubblePage::pageHtml(ViberMsgList(), 1).isEmpty());
    QVERIFY(messageAnchors(BubblePage::emptyPageHtml()).isEmpty());
    QVERIFY(BubblePage::emptyPageHtml().contains(QLatin1String("vbbb/style.css")));
}

void TestBubblePage::dayLines()
{
    MessageFixture f;
    _ViberChat *chat = f.addChat();
    f.addMessage(chat, ViberMsgTypeText, kMorning, true, QStringLiteral("a"));
    f.addMessage(chat, ViberMsgTypeText, kMorning.addSecs(3600), false, QStringLiteral("b"));
    f.addMessage(chat, ViberMsgTypeText, kMorning.addDays(1), true, QStringLiteral("c"));
    // A type the view does not show still gets its day line.
    f.addMessage(chat, ViberMsgType(42), kMorning.addDays(3), true, QStringLiteral("hidden"));
    const QString html = BubblePage::pageHtml(f.messages(), 1);

    const QString day1 = MessageText::systemMessageHtml(QStringLiteral("05 Mar 2024"));
    const QString day2 = MessageText::systemMessageHtml(QStringLiteral("06 Mar 2024"));
    const QString day4 = MessageText::systemMessageHtml(QStringLiteral("08 Mar 2024"));
    QCOMPARE(countOf(html, day1), 1);
    QCOMPARE(countOf(html, day2), 1);
    QCOMPARE(countOf(html, day4), 1);
    QVERIFY(!html.contains(QLatin1String("hidden")));
    // The anchor comes first, so that jumping to a message shows its day.
    QVERIFY(html.contains(
        QStringLiteral("<a name=\"%1\"></a>").arg(BubblePage::messageAnchor(f.messages().at(2))) + day2));
    QVERIFY(html.indexOf(day1) < html.indexOf(QLatin1String("b<div class=\"bb_time\">")));
    QVERIFY(html.indexOf(QLatin1String("b<div class=\"bb_time\">")) < html.indexOf(day2));

    // A page always opens with the day of its first message, even when the day
    // began on the page before.
    MessageFixture g;
    const ViberMsgList same = g.addTexts(g.addChat(), 51, kMorning);
    QCOMPARE(countOf(BubblePage::pageHtml(same, 2), day1), 1);
}

void TestBubblePage::directionsAndGroupHandle()
{
    MessageFixture f;
    _ViberPerson *ann = f.addPerson(QStringLiteral("Ann"), QStringLiteral("+100"));
    _ViberChat *group = f.addChat(QStringLiteral("g-1"));
    _ViberChat *single = f.addChat();
    _ViberMsg *in = f.addMessage(group, ViberMsgTypeText, kMorning, false, QStringLiteral("hello"));
    in->person = ann;
    _ViberMsg *out = f.addMessage(group, ViberMsgTypeText, kMorning, true, QStringLiteral("hi"));
    _ViberMsg *direct = f.addMessage(single, ViberMsgTypeText, kMorning, false, QStringLiteral("yo"));
    direct->person = ann;

    const QString handle = QStringLiteral("<div class=\"handle\">Ann</div><div class=\"clear\"></div>");
    const QString inHtml = BubblePage::messageHtml(in);
    QVERIFY(inHtml.startsWith(QLatin1String("<div class=\"bb1\"><div class=\"bb_bg top_left\"></div>")));
    QVERIFY(inHtml.contains(handle + QLatin1String("hello")));
    QVERIFY(inHtml.endsWith(
        QLatin1String("<div class=\"bb_time\">09:30 am</div></div><div class=\"clear\"></div>")));
    QCOMPARE(countOf(inHtml, QStringLiteral("class=\"bb_bg ")), 9);

    const QString outHtml = BubblePage::messageHtml(out);
    QVERIFY(outHtml.startsWith(QLatin1String("<div class=\"bb2\">")));
    QVERIFY(!outHtml.contains(QLatin1String("handle")));
    QVERIFY(!BubblePage::messageHtml(direct).contains(QLatin1String("handle")));
}

void TestBubblePage::picturesAndPlaceholders()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString preview = writeFile(dir, QStringLiteral("thumb.jpg"), "jpegbytes");
    const QString empty = writeFile(dir, QStringLiteral("empty.jpg"), QByteArray());
    const QString photo = writeFile(dir, QStringLiteral("photo.jpg"), "photo");
    QVERIFY(!preview.isEmpty() && !empty.isEmpty() && !photo.isEmpty());

    MessageFixture f;
    _ViberChat *chat = f.addChat();
    _ViberMsg *shown = f.addMessage(chat, ViberMsgTypePicture, kMorning, true, QStringLiteral("caption"));
    f.addAttachment(shown, photo, preview);
    _ViberMsg *missing = f.addMessage(chat, ViberMsgTypePicture, kMorning, true);
    f.addAttachment(missing, photo, dir.filePath(QStringLiteral("gone.jpg")));
    _ViberMsg *zero = f.addMessage(chat, ViberMsgTypePicture, kMorning, true);
    f.addAttachment(zero, photo, empty);
    _ViberMsg *web = f.addMessage(chat, ViberMsgTypePicture, kMorning, true);
    f.addAttachment(web, photo, QStringLiteral("http://example.org/p.jpg"));
    _ViberMsg *bare = f.addMessage(chat, ViberMsgTypePicture, kMorning, true, QStringLiteral("no file"));

    const QString link =
        QStringLiteral("<div><a href=\"%1\"><img style=\"max-width:128px;max-height:128px;\" "
                       "src=\"%2\" ></a></div>");
    const QString target = QUrl::fromLocalFile(photo).toString();
    QVERIFY(BubblePage::messageHtml(shown).contains(
        link.arg(target, QUrl::fromLocalFile(preview).toString()) + QLatin1String("<div>caption</div>")));
    QVERIFY(
        BubblePage::messageHtml(missing).contains(link.arg(target, QStringLiteral("vbbb/empty_photo.jpg"))));
    QVERIFY(BubblePage::messageHtml(zero).contains(link.arg(target, QStringLiteral("vbbb/empty_photo.jpg"))));
    QVERIFY(
        BubblePage::messageHtml(web).contains(link.arg(target, QStringLiteral("http://example.org/p.jpg"))));
    // Without its attachment a picture message is an empty bubble, not a broken link.
    const QString bareHtml = BubblePage::messageHtml(bare);
    QVERIFY(bareHtml.startsWith(QLatin1String("<div class=\"bb2\">")));
    QVERIFY(!bareHtml.contains(QLatin1String("<img")) && !bareHtml.contains(QLatin1String("no file")));
}

void TestBubblePage::locationUsesMapWhenPreviewMissing()
{
    QTemporaryDir dir;
    const QString preview = writeFile(dir, QStringLiteral("map.png"), "png");
    MessageFixture f;
    _ViberChat *chat = f.addChat();
    _ViberMsg *noPreview = f.addMessage(chat, ViberMsgTypeLocation, kMorning, false);
    noPreview->latitude = 52.5;
    noPreview->longitude = 13.25;
    noPreview->address = QStringLiteral("Main St & 5th");
    f.addAttachment(noPreview, QString(), dir.filePath(QStringLiteral("missing.png")));
    _ViberMsg *noAttachment = f.addMessage(chat, ViberMsgTypeLocation, kMorning, false);
    _ViberMsg *withPreview = f.addMessage(chat, ViberMsgTypeLocation, kMorning, false);
    f.addAttachment(withPreview, QString(), preview);

    const QString map = MessageText::attributeHtml(MessageText::mapPictureAddress(noPreview));
    QVERIFY(map.contains(QLatin1String("center=52.500000,13.250000")));
    QVERIFY(map.contains(QLatin1String("&amp;zoom=")) || map.contains(QLatin1String("&amp;size=")));
    const QString html = BubblePage::messageHtml(noPreview);
    QVERIFY2(html.contains(QStringLiteral("<a href=\"%1\"><img style=\"max-width:128px;max-height:128px;\" "
                                          "src=\"%1\" ></a>")
                               .arg(map)),
             qPrintable(html));
    QVERIFY(html.contains(QLatin1String("<div>Main St &amp; 5th</div>")));
    QVERIFY(BubblePage::messageHtml(noAttachment).contains(QLatin1String("staticmap")));
    QVERIFY(BubblePage::messageHtml(withPreview)
                .contains(QStringLiteral("src=\"%1\"").arg(QUrl::fromLocalFile(preview).toString())));
}

void TestBubblePage::durationsAndCalls_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("95 s") << 95.0 << QStringLiteral("1' 35''");
    QTest::newRow("fraction truncated") << 59.9 << QStringLiteral("0' 59''");
    QTest::newRow("an hour") << 3600.0 << QStringLiteral("60' 0''");
    QTest::newRow("negative") << -5.0 << QStringLiteral("0' 0''");
    QTest::newRow("not a number") << std::nan("") << QStringLiteral("0' 0''");
    QTest::newRow("huge") << 1e300 << QStringLiteral("0' 0''");
}

void TestBubblePage::durationsAndCalls()
{
    QFETCH(double, seconds);
    QFETCH(QString, text);
    QCOMPARE(BubblePage::durationText(seconds), text);

    MessageFixture f;
    _ViberChat *chat = f.addChat();
    _ViberMsg *voice = f.addMessage(chat, ViberMsgTypeAudio, kMorning, false);
    f.addAttachment(voice, QStringLiteral("/data/voice 1.m4a"), QString(), seconds);
    QVERIFY(BubblePage::messageHtml(voice).contains(
        QStringLiteral("<div><img width=\"32px\" src=\"vbbb/voice.png\" align=\"middle\" />"
                       "<a href=\"file:///data/voice%201.m4a\">%1</a></div>")
            .arg(text)));

    _ViberMsg *video = f.addMessage(chat, ViberMsgTypeVideo, kMorning, true, QStringLiteral("look"));
    f.addAttachment(video, QStringLiteral("/data/v.mp4"), QString(), seconds);
    QVERIFY(BubblePage::messageHtml(video).contains(
        QStringLiteral("</a></div><div>%1</div><div>look</div>").arg(text)));

    _ViberMsg *call = f.addMessage(chat, ViberMsgTypeCall, kMorning, false);
    f.addCall(call, ViberCallTypeIncoming, 65);
    QCOMPARE(BubblePage::messageHtml(call),
             MessageText::systemMessageHtml(QStringLiteral("Incoming Call (1' 5'')      09:30 am")));
    QVERIFY(BubblePage::messageHtml(f.addMessage(chat, ViberMsgTypeCall, kMorning, false)).isEmpty());
}

void TestBubblePage::fileAddressesSurviveTheRoundTrip_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("hash and space") << QStringLiteral("/data/Attachments/report #1.pdf");
    QTest::newRow("question mark") << QStringLiteral("/data/what?.pdf");
    QTest::newRow("percent") << QStringLiteral("/data/100%.pdf");
    QTest::newRow("quotes and ampersand") << QStringLiteral("/data/a\"b'c&d.pdf");
    QTest::newRow("non-ASCII") << QStringLiteral("/data/Übersicht 日本.pdf");
}

void TestBubblePage::fileAddressesSurviveTheRoundTrip()
{
    // The view hands the clicked address back as a URL; it has to name the same file.
    QFETCH(QString, path);
    MessageFixture f;
    _ViberMsg *voice = f.addMessage(f.addChat(), ViberMsgTypeAudio, kMorning, false);
    f.addAttachment(voice, path, QString(), 3);
    const QString html = BubblePage::messageHtml(voice);
    static const QRegularExpression hrefRe(QStringLiteral("<a href=\"([^\"]*)\">"));
    const QRegularExpressionMatch m = hrefRe.match(html);
    QVERIFY(m.hasMatch());
    QString href = m.captured(1);
    href.replace(QLatin1String("&quot;"), QLatin1String("\""))
        .replace(QLatin1String("&#39;"), QLatin1String("'"));
    href.replace(QLatin1String("&lt;"), QLatin1String("<"))
        .replace(QLatin1String("&gt;"), QLatin1String(">"));
    href.replace(QLatin1String("&amp;"), QLatin1String("&"));
    const QUrl url(href);
    QVERIFY(url.isLocalFile());
    QCOMPARE(url.toLocalFile(), path);
}

void TestBubblePage::hostileContentStaysEscaped()
{
    MessageFixture f;
    _ViberPerson *mallory = f.addPerson(QStringLiteral("<img src=x onerror=alert(1)>"), QStringLiteral("+1"));
    _ViberChat *group = f.addChat(QStringLiteral("g"));
    const QString evil = QStringLiteral("\"><script>alert(1)</script><a href='javascript:x' onclick=\"y\">");

    _ViberMsg *text = f.addMessage(group, ViberMsgTypeText, kMorning, false, evil);
    text->person = mallory;
    _ViberMsg *pic = f.addMessage(group, ViberMsgTypePicture, kMorning, false, evil);
    f.addAttachment(pic, QStringLiteral("/x/") + evil + QStringLiteral(".jpg"),
                    QStringLiteral("http://a/\" onerror=\"alert(1)"));
    _ViberMsg *voice = f.addMessage(group, ViberMsgTypeAudio, kMorning, false);
    f.addAttachment(voice, QStringLiteral("/x/a\" onmouseover=\"alert(1).m4a"), QString(), 10);
    _ViberMsg *loc = f.addMessage(group, ViberMsgTypeLocation, kMorning, false);
    loc->address = evil;
    f.addAttachment(loc, QString(), QStringLiteral("/x/") + evil);
    _ViberMsg *sticker = f.addMessage(group, ViberMsgTypeSticker, kMorning, false);
    f.addAttachment(sticker, QString(), QString())->attId = QStringLiteral("1\" onload=\"alert(1)");
    _ViberMsg *sys = f.addMessage(group, ViberMsgTypeSystem, kMorning, false, evil);
    sys->systemKind = ViberSystemKindNameChanged;
    sys->person = mallory;
    _ViberMsg *video = f.addMessage(group, ViberMsgTypeVideo, kMorning, false, evil);
    f.addAttachment(video, QStringLiteral("javascript:alert(1)"), QStringLiteral("javascript:alert(2)"), 5);

    const QString html = BubblePage::pageHtml(f.messages(), 1);
    QVERIFY2(firstForeignTag(html).isEmpty(), qPrintable(firstForeignTag(html)));
    QVERIFY(html.contains(QLatin1String("&lt;script&gt;alert(1)&lt;/script&gt;")));
    QVERIFY(html.contains(QLatin1String("<div class=\"handle\">&lt;img src=x onerror=alert(1)&gt;</div>")));
    QVERIFY(!html.contains(QLatin1String("<script")));
}

QTEST_GUILESS_MAIN(TestBubblePage)
#include "tst_bubblepage.moc"
