#include "export/BubblePage.h"
#include "export/MessageText.h"
#include "support/MessageFixtures.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using testsupport::MessageFixture;

namespace {

const QDateTime kMorning(QDate(2024, 3, 5), QTime(9, 30));

// The anchors of the messages a page shows, in order.
QStringList messageAnchors(const QString &html)
{
    QStringList anchors;
    static const QRegularExpression re(QStringLiteral("<a name=\"(sms_-?\\d+)\"></a>"));
    for (auto it = re.globalMatch(html); it.hasNext();)
        anchors.append(it.next().captured(1));
    return anchors;
}

// The page with its texts and quoted attribute values taken out: what store text
// cannot change unless it got through unescaped.
QString skeleton(QString html)
{
    static const QRegularExpression content(QStringLiteral("\"[^\"]*\"|>[^<]*<"));
    return html.replace(content, QStringLiteral("~"));
}

QString pictureLink(const QString &target, const QString &source)
{
    return QStringLiteral("<a href=\"%1\"><img style=\"max-width:128px;max-height:128px;\" src=\"%2\" ></a>")
        .arg(target, source);
}

} // namespace

class TestBubblePage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pages();
    void dayLines();
    void bubbles_data();
    void bubbles();
    void fileAddressesSurviveTheRoundTrip();
    void hostileContentStaysEscaped();

private:
    QTemporaryDir m_dir;
    MessageFixture m_f; // the bubbles' records
};

void TestBubblePage::initTestCase()
{
    QFile thumb(m_dir.filePath("thumb.jpg")), empty(m_dir.filePath("empty.jpg"));
    QVERIFY(thumb.open(QIODevice::WriteOnly) && thumb.write("jpeg") == 4 && empty.open(QIODevice::WriteOnly));
}

void TestBubblePage::pages()
{
    MessageFixture f;
    const ViberMsgList all = f.addTexts(f.addChat(), 101, kMorning);
    for (const auto &[count, pages] : {std::pair{0, 0}, {1, 1}, {50, 1}, {51, 2}, {100, 2}, {101, 3}})
        QCOMPARE(BubblePage::pageCount(count), pages);
    // Each message once, on the page the view jumps to for it: 50, 50 and 1.
    for (int page = 0; page <= 4; ++page) {
        const QString html = BubblePage::pageHtml(all, page);
        QStringList expected;
        for (int i = 0; i < all.size(); ++i)
            if (BubblePage::pageOfIndex(i) == page)
                expected.append(BubblePage::messageAnchor(all.at(i)));
        QCOMPARE(messageAnchors(html), expected);
        QCOMPARE(expected.size(), page == 1 || page == 2 ? 50 : page == 3 ? 1 : 0);
        QCOMPARE(html.isEmpty(), expected.isEmpty());
        // The anchors the view scrolls to and the links it follows.
        QCOMPARE(html.count("<a name=\"start\"></a>") + html.count("<a name=\"end\"></a></body></html>"),
                 expected.isEmpty() ? 0 : 2);
        // Above and below the messages: where the page is, and links where they lead.
        const int back = page == 2 || page == 3 ? 2 : 0, on = page == 1 || page == 2 ? 2 : 0;
        QCOMPARE(html.count(QStringLiteral("Page %1 of 3").arg(page)), expected.isEmpty() ? 0 : 2);
        QCOMPARE(html.count("<a href=\"/first_page\">|&lt;First Page</a>"), back);
        QCOMPARE(html.count("<a href=\"/pre_page\">&lt;&lt;Previous Page</a>"), back);
        QCOMPARE(html.count("<a href=\"/next_page\">&gt;&gt;Next Page</a>"), on);
        QCOMPARE(html.count("<a href=\"/last_page\">Last Page&gt;|</a>"), on);
    }
    QVERIFY(!BubblePage::pageHtml(all.mid(0, 50), 1).contains(QLatin1String("Page 1 of")));
    QVERIFY(BubblePage::pageHtml(ViberMsgList(), 1).isEmpty());
    QVERIFY(messageAnchors(BubblePage::emptyPageHtml()).isEmpty());
}

void TestBubblePage::dayLines()
{
    MessageFixture f;
    _ViberChat *chat = f.addChat();
    for (int hours : {0, 1, 24, 72}) // the last of a type the view does not show
        f.addMessage(chat, hours < 72 ? ViberMsgTypeText : ViberMsgType(42), kMorning.addSecs(3600 * hours),
                     true);
    const QString html = BubblePage::pageHtml(f.messages(), 1);
    auto dayLine = [](const char *day) { return MessageText::systemMessageHtml(QString::fromLatin1(day)); };
    // One line a day, shown or not; the anchor first, so that a jump shows the day too.
    for (const char *day : {"05 Mar 2024", "06 Mar 2024", "08 Mar 2024"})
        QCOMPARE(html.count(dayLine(day)), 1);
    const QString anchor = BubblePage::messageAnchor(f.messages().at(2));
    QVERIFY(html.contains("<a name=\"" + anchor + "\"></a>" + dayLine("06 Mar 2024")));
    // A page opens with the day of its first message, even when the day began a page before.
    MessageFixture g;
    QCOMPARE(BubblePage::pageHtml(g.addTexts(g.addChat(), 51, kMorning), 2).count(dayLine("05 Mar 2024")), 1);
}

void TestBubblePage::bubbles_data()
{
    QTest::addColumn<void *>("msg");
    QTest::addColumn<QStringList>("pieces"); // found in this order; none for no bubble at all
    QTest::addColumn<QString>("absent");
    _ViberPerson *ann = m_f.addPerson(QStringLiteral("Ann"), QStringLiteral("+100"));
    _ViberChat *group = m_f.addChat(QStringLiteral("g-1"));
    auto msg = [&](ViberMsgType type, bool out, const QString &text = QString(), _ViberChat *chat = nullptr) {
        _ViberMsg *m = m_f.addMessage(chat ? chat : group, type, kMorning, out, text);
        m->person = out ? nullptr : ann;
        return m;
    };
    // A message with an attachment; name is the sticker id or the file name.
    auto att = [&](ViberMsgType type, const QString &file, const QString &preview, double duration = 0,
                   const QString &name = QString()) {
        _ViberMsg *m = msg(type, type == ViberMsgTypePicture);
        _ViberAtta *a = m_f.addAttachment(m, file, preview, duration);
        a->attId = a->fileName = name;
        return m;
    };
    auto add = [](const char *row, _ViberMsg *m, const QStringList &pieces, const char *absent = "") {
        QTest::newRow(row) << static_cast<void *>(m) << pieces << QString::fromLatin1(absent);
    };
    const QString photo = m_dir.filePath("photo.jpg"), thumb = m_dir.filePath("thumb.jpg");
    const QString photoUrl = QUrl::fromLocalFile(photo).toString(),
                  thumbUrl = QUrl::fromLocalFile(thumb).toString();
    const QString time =
        QStringLiteral("<div class=\"bb_time\">09:30 am</div></div><div class=\"clear\"></div>");
    // Names are isolated and every piece finds its own direction.
    const QString handle =
        QStringLiteral("<div class=\"handle\"><bdi>Ann</bdi></div><div class=\"clear\"></div>");
    const QString dir = QStringLiteral("<div dir=\"auto\">");

    add("group, in", msg(ViberMsgTypeText, false, "hello"),
        {"<div class=\"bb1\"><div class=\"bb_bg", handle + dir + "hello</div>" + time});
    add("group, out", msg(ViberMsgTypeText, true, "hi"), {"<div class=\"bb2\">", dir + "hi</div>" + time},
        "handle");
    add("one-to-one", msg(ViberMsgTypeText, false, "yo", m_f.addChat()), {"<div class=\"bb1\">", "yo"},
        "handle");
    _ViberMsg *captioned = att(ViberMsgTypePicture, photo, thumb);
    captioned->text = QStringLiteral("caption");
    add("picture", captioned, {pictureLink(photoUrl, thumbUrl) + "</div>" + dir + "caption</div>"});
    add("picture, preview gone", att(ViberMsgTypePicture, photo, m_dir.filePath("gone.jpg")),
        {pictureLink(photoUrl, "vbbb/empty_photo.jpg")});
    add("picture, preview empty", att(ViberMsgTypePicture, photo, m_dir.filePath("empty.jpg")),
        {pictureLink(photoUrl, "vbbb/empty_photo.jpg")});
    add("picture, preview on the web", att(ViberMsgTypePicture, photo, "http://a.org/p.jpg"),
        {pictureLink(photoUrl, "http://a.org/p.jpg")});
    // Without its attachment a picture message is an empty bubble, not a broken link.
    add("picture, no attachment", msg(ViberMsgTypePicture, true, "no file"), {"<div class=\"bb2\">", time},
        "<img");
    _ViberMsg *place = att(ViberMsgTypeLocation, QString(), m_dir.filePath("gone.png"));
    place->latitude = 52.5;
    place->address = QStringLiteral("Main St & 5th");
    const QString map = MessageText::attributeHtml(MessageText::mapPictureAddress(place));
    add("location, preview gone", place, {pictureLink(map, map), dir + "Main St &amp; 5th</div>"});
    add("location, no attachment", msg(ViberMsgTypeLocation, false), {"staticmap"});
    add("location, preview", att(ViberMsgTypeLocation, QString(), thumb),
        {"<a href=\"https://", "staticmap", "src=\"" + thumbUrl + "\""});
    add("audio", att(ViberMsgTypeAudio, "/data/voice 1.m4a", QString(), 95.9),
        {dir + "<img width=\"32px\" src=\"vbbb/voice.png\" align=\"middle\" /><a "
               "href=\"file:///data/voice%201.m4a\">1' 35''</a></div>"});
    // The store may hold any double as a duration.
    add("audio, negative", att(ViberMsgTypeAudio, "/v", QString(), -5), {">0' 0''</a>"});
    add("audio, not a number", att(ViberMsgTypeAudio, "/v", QString(), std::nan("")), {">0' 0''</a>"});
    add("audio, huge", att(ViberMsgTypeAudio, "/v", QString(), 1e300), {">0' 0''</a>"});
    add("video", att(ViberMsgTypeVideo, "/data/v.mp4", QString(), 3600),
        {"/data/v.mp4", "</a></div>" + dir + "60' 0''</div>"});
    _ViberMsg *sticker = att(ViberMsgTypeSticker, QString(), QString(), 0, "40123");
    const QString stickerAddress = MessageText::stickerPictureAddress(sticker->attachment);
    add("sticker", sticker, {pictureLink(stickerAddress, stickerAddress)});
    // Kept with the store, it shows offline.
    add("sticker, on disk", att(ViberMsgTypeSticker, QString(), thumb, 0, "40123"),
        {pictureLink(thumbUrl, thumbUrl)}, "https:");
    add("file", att(ViberMsgTypeFile, "/data/a b.pdf", QString(), 0, "a b.pdf"),
        {"<a class=\"file\" href=\"file:///data/a%20b.pdf\">a b.pdf</a>"});
    _ViberMsg *call = msg(ViberMsgTypeCall, false);
    m_f.addCall(call, ViberCallTypeIncoming, 65);
    add("call", call, {MessageText::systemMessageHtml("Incoming Call (1' 5'')      09:30 am")}, "bb1");
    add("call, none", msg(ViberMsgTypeCall, false), {});
    add("type not shown", msg(ViberMsgType(42), false, "hidden"), {});
}

void TestBubblePage::bubbles()
{
    QFETCH(void *, msg);
    QFETCH(QStringList, pieces);
    QFETCH(QString, absent);
    const QString html = BubblePage::messageHtml(static_cast<_ViberMsg *>(msg));
    QVERIFY2(pieces.isEmpty() == html.isEmpty(), qPrintable(html));
    qsizetype at = 0;
    for (const QString &piece : pieces) {
        at = html.indexOf(piece, at);
        QVERIFY2(at >= 0, qPrintable(piece + QLatin1String("\n not after the previous piece in\n") + html));
    }
    QVERIFY2(absent.isEmpty() || !html.contains(absent), qPrintable(html));
}

void TestBubblePage::fileAddressesSurviveTheRoundTrip()
{
    // The view hands a clicked address back as a URL; it has to name the same file.
    for (const char *name :
         {"report #1.pdf", "what?.pdf", "100%.pdf", "a\"b'c&d<e>.pdf", "Übersicht 日本.pdf"}) {
        const QString path = "/data/" + QString::fromUtf8(name);
        MessageFixture f;
        f.addAttachment(f.addMessage(f.addChat(), ViberMsgTypeAudio, kMorning, false), path, QString());
        static const QRegularExpression hrefRe(QStringLiteral("<a href=\"([^\"]*)\">"));
        QString href = hrefRe.match(BubblePage::messageHtml(f.messages().first())).captured(1);
        for (const auto &[entity, c] :
             {std::pair{"&quot;", "\""}, {"&#39;", "'"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}})
            href.replace(QLatin1String(entity), QLatin1String(c));
        QCOMPARE(QUrl(href).toLocalFile(), path);
    }
}

void TestBubblePage::hostileContentStaysEscaped()
{
    // The same messages with every store text harmless, then hostile.
    auto page = [](const QString &evil) {
        MessageFixture f;
        _ViberChat *group = f.addChat(QStringLiteral("g"));
        _ViberPerson *sender = f.addPerson(evil.isEmpty() ? "Ann" : "<img src=x onerror=alert(1)>", "+1");
        auto add = [&](ViberMsgType type, const QString &text = QString()) {
            _ViberMsg *msg = f.addMessage(group, type, kMorning, false, "x" + text);
            msg->person = sender;
            return msg;
        };
        add(ViberMsgTypeText, evil);
        f.addAttachment(add(ViberMsgTypePicture, evil), "/x/" + evil + ".jpg", "http://a/" + evil);
        f.addAttachment(add(ViberMsgTypeAudio), "/x/a" + evil + ".m4a", QString(), 10);
        _ViberMsg *loc = add(ViberMsgTypeLocation);
        loc->address = "x" + evil;
        f.addAttachment(loc, QString(), "/x/" + evil);
        f.addAttachment(add(ViberMsgTypeSticker), QString(), QString())->attId = "1" + evil;
        add(ViberMsgTypeSystem, evil)->systemKind = ViberSystemKindNameChanged;
        f.addAttachment(add(ViberMsgTypeVideo, evil), "javascript:" + evil, "javascript:" + evil, 5);
        f.addAttachment(add(ViberMsgTypeFile, evil), "/x/" + evil, QString())->fileName = "x" + evil;
        return BubblePage::pageHtml(f.messages(), 1);
    };
    const QString harmless = page(QString());
    const QString hostile =
        page(QStringLiteral("\" onerror='y' x=\"><script>alert(1)</script><a href=\"javascript:x\">"));
    QCOMPARE(skeleton(hostile), skeleton(harmless));
    QVERIFY(!harmless.contains(QLatin1String("\"javascript:")));
    QVERIFY(hostile.contains(QLatin1String("&lt;script&gt;alert(1)&lt;/script&gt;")));
    QVERIFY(hostile.contains(
        QLatin1String("<div class=\"handle\"><bdi>&lt;img src=x onerror=alert(1)&gt;</bdi></div>")));
}

QTEST_GUILESS_MAIN(TestBubblePage)
#include "tst_bubblepage.moc"
