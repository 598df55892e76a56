#include "TestConfig.h"
#include "export/ExportMessagesPdf.h"
#include "export/MessagePagePainter.h"
#include "export/MessageText.h"
#include "support/MessageFixtures.h"
#include "support/TestSupport.h"

#include <QImage>
#include <QPageLayout>
#include <QPdfWriter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QDateTime kNoon(QDate(2024, 3, 5), QTime(12, 0));
const QString kHebrew = u"שלום לכולם מה שלומכם"_s;
const QString kEmojiCaption = u"Look \U0001F600 at this"_s;

enum Preview { NoAttachment, MissingFile, JpegFile, PngFile };

// The output of a poppler tool; empty when the tool is not installed.
QString poppler(const QString &tool, const QStringList &arguments)
{
    if (QStandardPaths::findExecutable(tool).isEmpty())
        return QString();
    QProcess process;
    process.start(tool, arguments);
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

class TestMessagePagePainter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Times read in the user's locale: one with its own forms, whatever the machine's.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        MessageText::setPictureFolder(QStringLiteral(CHATWHARF_BINARY_DIR "/src"));
        QImage portrait(150, 300, QImage::Format_RGB32);
        portrait.fill(Qt::red);
        QVERIFY(portrait.save(m_dir.filePath(u"portrait.jpg"_s), "JPEG"));
        QImage landscape(400, 100, QImage::Format_ARGB32);
        landscape.fill(Qt::blue);
        QVERIFY(landscape.save(m_dir.filePath(u"landscape.jpg"_s), "PNG"));
        m_ann = m_f.addPerson(u"أحمد"_s, u"+4912345"_s);
        m_group = m_f.addChat(u"group-1"_s, {m_ann});
        m_direct = m_f.addChat(QString(), {m_ann});
    }
    // A picture or not, the sender's name in groups, each line break a line, and the time.
    void messageContent()
    {
        const QList<_ViberMsg *> messages{
            message(ViberMsgTypePicture, false, JpegFile, kEmojiCaption),
            message(ViberMsgTypeSticker, false, PngFile),
            message(ViberMsgTypeSticker, false, MissingFile),
            message(ViberMsgTypeAudio, false, MissingFile),
            message(ViberMsgTypeFile, false, MissingFile, kHebrew),
            message(ViberMsgTypeLocation, false, NoAttachment, kHebrew),
            message(ViberMsgTypeText, false, NoAttachment, u"one\rtwo\r\nthree"_s),
            message(ViberMsgTypeText, true, NoAttachment, kHebrew)};
        QStringList shown;
        for (const _ViberMsg *msg : messages) {
            const MessagePagePainter::Content c = MessagePagePainter::content(msg);
            shown << (c.picture ? u"[picture]"_s : QString()) + c.notice + c.header + u'|' + c.text + u'|' +
                         c.time;
        }
        QCOMPARE(shown, (QStringList{u"[picture]|"_s + kEmojiCaption + u"|12:00"_s, u"[picture]||12:00"_s,
                                     u"|[STICKER-42]|12:00"_s, u"|[AUDIO] 2:05|12:00"_s,
                                     u"|report.pdf (2.00 KiB)\n"_s + kHebrew + u"|12:00"_s,
                                     u"|Main Square 1\n0.000000, 0.000000\n"_s + kHebrew + u"|12:00"_s,
                                     u"|one\ntwo\nthree|12:00"_s,
                                     personDisplayName(m_ann) + u'|' + kHebrew + u"|12:00"_s}));
    }
    void pagesBreakBeforeTheBottom()
    {
        // Exactly the room left fits: 100 rows from y = 20, drawn from y = 60.
        const QRect room = MessagePagePainter::contentRect(QSize(140, 140), QMargins(20, 20, 20, 20));
        QVERIFY(MessagePagePainter::fits(60, 60, room) && !MessagePagePainter::fits(61, 60, room));
        QPdfWriter writer(m_dir.filePath(u"pages.pdf"_s));
        writer.setResolution(ExportMessagesPdf::kScreenResolution);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Point);
        MessagePagePainter painter;
        QVERIFY(painter.start(&writer));
        const QRect content = painter.contentRect();
        int lastY = painter.y();
        for (_ViberMsg *msg : m_f.addTexts(m_direct, 80, kNoon)) {
            const int page = painter.pageNumber();
            painter.paint(msg);
            // Each bubble lies wholly inside the content, just above the next position.
            QVERIFY(painter.y() - MessagePagePainter::kItemSpacing <= content.bottom() + 1);
            QVERIFY(painter.pageNumber() == page ? painter.y() > lastY : painter.y() < lastY);
            lastY = painter.y();
        }
        QVERIFY(painter.end());
    }
    // Notices, days, stickers, captions and both directions reach the PDF; no colour emoji font. A text
    // too long to lay out at once is laid out a window at a time: every character is on the pages once,
    // in order, whether the window ends in a word, a run without a space or a paragraph.
    void pdfExport()
    {
        QString text = u"BEGIN "_s;
        for (int i = 0; text.size() < MessagePagePainter::kLongText * 3; ++i)
            text += u"wörd%1 "_s.arg(i);
        text += u"\n"_s + u"ab"_s.repeated(3000) + u"\n\n"_s;
        for (int i = 0; text.size() < MessagePagePainter::kLongText * 5; ++i)
            text += u"end%1 "_s.arg(i) + (i % 97 == 0 ? u"\n"_s : QString());
        text += u"FINISH"_s;
        const QString path = m_dir.filePath(u"chat.pdf"_s);
        _ViberMsg *joined = message(ViberMsgTypeSystem, true, NoAttachment, u"Dana"_s);
        joined->systemKind = ViberSystemKindMemberAdded;
        const ViberMsgList messages{
            m_f.addMessage(m_direct, ViberMsgTypeText, kNoon, true, text),
            message(ViberMsgTypeText, true, NoAttachment, kHebrew),
            message(ViberMsgTypePicture, true, JpegFile, kEmojiCaption),
            message(ViberMsgTypeSticker, true, MissingFile),
            joined,
            m_f.addMessage(m_group, ViberMsgTypeText, kNoon, true,
                           u"See you there \U0001F44D\U0001F3FD "_s.repeated(8) + u'\n' + kHebrew)};
        {
            ExportMessagesPdf pdf(path);
            pdf.begin();
            for (const _ViberMsg *msg : std::as_const(messages))
                pdf.write(*msg);
            pdf.finish();
        }
        const QString shown = poppler(u"pdftotext"_s, {path, u"-"_s});
        if (shown.isEmpty())
            QSKIP("poppler-utils is not installed");
        for (const QString &expected : {u"Tuesday, 5 March 2024"_s, kHebrew, u"at this"_s, u"[STICKER-42]"_s,
                                        MessageText::systemText(joined), u"12:00"_s})
            QVERIFY2(shown.contains(expected), qPrintable(expected));
        QVERIFY(!poppler(u"pdffonts"_s, {path}).contains(u"Emoji"_s));
        // The long text less the page titles and numbers, dates and times between its pages.
        const QString longText = shown.section(u"BEGIN"_s, 1).section(u"FINISH"_s, 0, 0);
        const QRegularExpression pageNumbersAndSpace(
            u"%1|[()+]|page|of|\u2013|[\u2066-\u2069\u202A-\u202E]|\\w+day, \\d+ March 2024|\\d+/\\d+/\\d+|12:00|\\s|\\b\\d+\\b"_s
                .arg(m_ann->name));
        static const QRegularExpression arabic(u"[\u0600-\u06FF\uFB50-\uFEFF]"_s);
        QCOMPARE(QString(longText).remove(arabic).remove(pageNumbersAndSpace),
                 text.mid(5).chopped(6).remove(pageNumbersAndSpace));
    }

private:
    _ViberMsg *message(ViberMsgType type, bool group, Preview preview, const QString &text = QString())
    {
        _ViberMsg *msg = m_f.addMessage(group ? m_group : m_direct, type, kNoon, false, text);
        msg->person = m_ann;
        if (type == ViberMsgTypeLocation)
            msg->setPlace(0, 0, u"Main Square 1"_s);
        static const char *const files[] = {"", "gone.jpg", "portrait.jpg", "landscape.jpg"};
        if (preview != NoAttachment) {
            _ViberAtta *att =
                m_f.addAttachment(msg, QString(), m_dir.filePath(QLatin1String(files[preview])), 125);
            att->attId = u"42"_s;
            att->fileName = u"report.pdf"_s;
            att->fileSize = 2048;
        }
        return msg;
    }

    QTemporaryDir m_dir;
    testsupport::MessageFixture m_f;
    _ViberChat *m_group = nullptr;
    _ViberChat *m_direct = nullptr;
    _ViberPerson *m_ann = nullptr;
};

QTEST_MAIN(TestMessagePagePainter)
#include "tst_messagepagepainter.moc"
