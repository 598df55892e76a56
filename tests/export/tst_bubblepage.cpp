#include "export/BubblePage.h"
#include "export/MessageText.h"
#include "support/MessageFixtures.h"
#include "support/TestSupport.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;
using testsupport::MessageFixture;

namespace {

const QDateTime kMorning(QDate(2024, 3, 5), QTime(9, 30));

QStringList messageAnchors(const QString &html)
{
    QStringList anchors;
    static const QRegularExpression re(u"<a name=\"(sms_-?\\d+)\"></a>"_s);
    for (const QRegularExpressionMatch &m : re.globalMatch(html))
        anchors.append(m.captured(1));
    return anchors;
}

// The page less its texts and quoted values: what store text cannot change unless unescaped.
QString skeleton(QString html)
{
    static const QRegularExpression content(u"\"[^\"]*\"|>[^<]*<"_s);
    return html.replace(content, u"~"_s);
}

} // namespace

class TestBubblePage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        QVERIFY(testsupport::writeFile(m_dir.filePath(u"thumb.jpg"_s), "jpeg"));
    }
    void pages()
    {
        MessageFixture f;
        const ViberMsgList all = f.addTexts(f.addChat(), 101, kMorning);
        // Each message once, on the page the view jumps to for it: 50, 50 and 1.
        for (int page = 0; page <= 4; ++page) {
            const QString html = BubblePage::pageHtml(all, page);
            QStringList expected;
            for (int i = 0; i < all.size(); ++i) {
                if (BubblePage::pageOfIndex(i) == page)
                    expected.append(BubblePage::messageAnchor(all.at(i)));
            }
            QCOMPARE(messageAnchors(html), expected);
            QCOMPARE(expected.size(), page == 1 || page == 2 ? 50 : page == 3 ? 1 : 0);
        }
        // A page size the user chose; none below one message.
        QCOMPARE(QList<int>({BubblePage::pageCount(100), BubblePage::pageCount(101, 100),
                             BubblePage::pageOfIndex(100, 100), BubblePage::pageCount(3, 0)}),
                 QList<int>({2, 2, 2, 3}));
        QCOMPARE(messageAnchors(BubblePage::pageHtml(all, 2, 100)),
                 QStringList(BubblePage::messageAnchor(all.last())));
        QVERIFY(BubblePage::pageHtml(ViberMsgList(), 1).isEmpty());
    }
    void bubbles_data()
    {
        QTest::addColumn<void *>("msg");
        QTest::addColumn<QStringList>("pieces"); // found in this order; none for no bubble at all
        QTest::addColumn<QString>("absent");
        _ViberPerson *ann = m_f.addPerson(u"Ann"_s, u"+100"_s);
        _ViberChat *group = m_f.addChat(u"g-1"_s);
        auto msg = [&](ViberMsgType type, bool out, const QString &text = {}, _ViberChat *chat = nullptr) {
            _ViberMsg *m = m_f.addMessage(chat ? chat : group, type, kMorning, out, text);
            m->person = out ? nullptr : ann;
            return m;
        };
        auto att = [&](ViberMsgType type, const QString &file, const QString &preview, double duration = 0,
                       const QString &name = {}) {
            _ViberMsg *m = msg(type, type == ViberMsgTypePicture);
            _ViberAtta *a = m_f.addAttachment(m, file, preview, duration);
            a->attId = a->fileName = name;
            return m;
        };
        auto add = [](const char *row, _ViberMsg *m, const QStringList &pieces, const QString &absent = {}) {
            QTest::newRow(row) << static_cast<void *>(m) << pieces << absent;
        };
        const QString photo = m_dir.filePath(u"photo.jpg"_s), thumb = m_dir.filePath(u"thumb.jpg"_s);
        const QString photoUrl = QUrl::fromLocalFile(photo).toString(),
                      thumbUrl = QUrl::fromLocalFile(thumb).toString();
        const QString time = u"<div class=\"bb_time\">09:30</div></div><div class=\"clear\"></div>"_s;
        // Names are isolated and every piece finds its own direction.
        const QString dir = u"<div dir=\"auto\">"_s;
        add("group, in", msg(ViberMsgTypeText, false, u"hello"_s),
            {u"<div class=\"bb1\"><div class=\"handle\"><bdi>Ann</bdi></div><div class=\"clear\"></div>"_s +
             dir + u"hello</div>"_s + time});
        _ViberMsg *captioned = att(ViberMsgTypePicture, photo, thumb);
        captioned->text = u"caption"_s;
        add("picture", captioned,
            {u"<a href=\"%1\" rel=\"noopener noreferrer\"><img style=\"max-width:128px;max-height:128px;\" "
             u"src=\"%2\" ></a></div>"_s.arg(photoUrl, thumbUrl) +
             dir + u"caption</div>"_s});
        // Without its attachment a picture message is an empty bubble, not a broken link.
        add("picture, no attachment", msg(ViberMsgTypePicture, true, u"no file"_s),
            {u"<div class=\"bb2\">"_s, time}, u"<img"_s);
        _ViberMsg *sticker = att(ViberMsgTypeSticker, QString(), QString(), 0, u"40123"_s);
        // Not kept with the store, it is named, never fetched.
        add("sticker", sticker,
            {u"src=\"vbbb/empty_photo.jpg\" /><div class=\"missing\">[STICKER-40123]</div>"_s}, u"https:"_s);
        add("file", att(ViberMsgTypeFile, u"/data/a b.pdf"_s, QString(), 0, u"a b.pdf"_s),
            {u"<a class=\"file\" href=\"file:///data/a%20b.pdf\">a b.pdf</a>"_s});
        _ViberMsg *call = msg(ViberMsgTypeCall, false);
        m_f.addCall(call, ViberCallTypeIncoming, 65);
        add("call", call, {MessageText::systemMessageHtml(u"Incoming Call (1:05) · Ann(+100)      09:30"_s)},
            u"bb1"_s);
        add("call, none", msg(ViberMsgTypeCall, false), {});
        add("type not shown", msg(ViberMsgType(42), false, u"hidden"_s), {});
    }
    void bubbles()
    {
        QFETCH(void *, msg);
        QFETCH(QStringList, pieces);
        QFETCH(QString, absent);
        const QString html = BubblePage::messageHtml(static_cast<_ViberMsg *>(msg));
        QVERIFY2(pieces.isEmpty() == html.isEmpty(), qPrintable(html));
        qsizetype at = 0;
        for (const QString &piece : std::as_const(pieces)) {
            at = html.indexOf(piece, at);
            QVERIFY2(at >= 0, qPrintable(piece + u"\n not after the previous piece in\n"_s + html));
        }
        QVERIFY2(absent.isEmpty() || !html.contains(absent), qPrintable(html));
    }
    void hostileContentStaysEscaped()
    {
        // The same messages with every store text harmless, then hostile: the end-to-end escaping.
        auto page = [](const QString &evil) {
            MessageFixture f;
            _ViberChat *group = f.addChat(u"g"_s);
            _ViberPerson *sender =
                f.addPerson(evil.isEmpty() ? u"Ann"_s : u"<img src=x onerror=alert(1)>"_s, u"+1"_s);
            auto add = [&](ViberMsgType type, const QString &text = QString()) {
                _ViberMsg *msg = f.addMessage(group, type, kMorning, false, u'x' + text);
                msg->person = sender;
                return msg;
            };
            add(ViberMsgTypeText, evil);
            f.addAttachment(add(ViberMsgTypePicture, evil), u"/x/"_s + evil + u".jpg"_s,
                            u"http://a/"_s + evil);
            f.addAttachment(add(ViberMsgTypeAudio), u"/x/a"_s + evil + u".m4a"_s, QString(), 10);
            _ViberMsg *loc = add(ViberMsgTypeLocation);
            loc->setPlace(0, 0, u'x' + evil);
            f.addAttachment(loc, QString(), u"/x/"_s + evil);
            f.addAttachment(add(ViberMsgTypeSticker), QString(), QString())->attId = u'1' + evil;
            add(ViberMsgTypeSystem, evil)->systemKind = ViberSystemKindNameChanged;
            f.addAttachment(add(ViberMsgTypeVideo, evil), u"javascript:"_s + evil, u"javascript:"_s + evil,
                            5);
            f.addAttachment(add(ViberMsgTypeFile, evil), u"/x/"_s + evil, QString())->fileName = u'x' + evil;
            return BubblePage::pageHtml(f.messages(), 1);
        };
        const QString evil =
            u"\" onerror='y' x=\"><script>alert(1)</script><a href=\"javascript:x\"> #1?100%Ü 日"_s;
        const QString harmless = page(QString()), hostile = page(evil);
        QCOMPARE(skeleton(hostile), skeleton(harmless));
        QVERIFY(!harmless.contains(u"\"javascript:"_s));
        QVERIFY(hostile.contains(u"&lt;script&gt;alert(1)&lt;/script&gt;"_s));
        QVERIFY(
            hostile.contains(u"<div class=\"handle\"><bdi>&lt;img src=x onerror=alert(1)&gt;</bdi></div>"_s));
        // The view hands a clicked address back as a URL; it has to name the same file.
        static const QRegularExpression fileRe(u"<a class=\"file\" href=\"([^\"]*)\""_s);
        QString href = fileRe.match(hostile).captured(1);
        href.replace(u"&#39;"_s, u"'"_s).replace(u"&amp;"_s, u"&"_s); // what the view gives back
        QCOMPARE(QUrl(href).toLocalFile(), u"/x/"_s + evil);
    }

private:
    QTemporaryDir m_dir;
    MessageFixture m_f; // the bubbles' records
};

QTEST_GUILESS_MAIN(TestBubblePage)
#include "tst_bubblepage.moc"
