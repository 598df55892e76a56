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
const QString kPlaceholder = QStringLiteral(CHATWHARF_BINARY_DIR "/src/vbbb/empty_photo.jpg");

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
        QVERIFY2(!QImage(kPlaceholder).isNull(), "the artwork is not built");
        QImage portrait(150, 300, QImage::Format_RGB32);
        portrait.fill(Qt::red);
        QVERIFY(portrait.save(m_dir.filePath(u"portrait.jpg"_s), "JPEG"));
        // A PNG under a photo's name: read once JPEG has failed.
        QImage landscape(400, 100, QImage::Format_ARGB32);
        landscape.fill(Qt::blue);
        QVERIFY(landscape.save(m_dir.filePath(u"landscape.jpg"_s), "PNG"));
        QVERIFY(testsupport::writeFile(m_dir.filePath(u"notes.jpg"_s), "not a picture"));
        m_ann = m_f.addPerson(u"أحمد"_s, u"+4912345"_s);
        m_group = m_f.addChat(u"group-1"_s, {m_ann});
        m_direct = m_f.addChat(QString(), {m_ann});
    }
    void roomAndPictures()
    {
        // Content of 100 rows from y = 20 to y = 119, drawn from y = 60: exactly the room left fits.
        const QRect content = MessagePagePainter::contentRect(QSize(140, 140), QMargins(20, 20, 20, 20));
        QVERIFY(MessagePagePainter::fits(60, 60, content) && !MessagePagePainter::fits(61, 60, content));
        // At most 200 on the longer side; a wide strip keeps a row.
        const std::pair<QSize, QSize> sizes[] = {{QSize(150, 300), QSize(100, 200)},
                                                 {QSize(200, 120), QSize(200, 120)},
                                                 {QSize(201, 100), QSize(200, 100)},
                                                 {QSize(90, 200), QSize(90, 200)},
                                                 {QSize(4000, 1), QSize(200, 1)}};
        for (const auto &[size, scaled] : sizes)
            QCOMPARE(MessagePagePainter::scaledPictureSize(size), scaled);
        // Text under a photo's name, a missing file and none give the placeholder; a PNG under a
        // photo's name is read once JPEG has failed, and scaled.
        for (const QString &file : {m_dir.filePath(u"notes.jpg"_s), m_dir.filePath(u"gone.jpg"_s), QString()})
            QCOMPARE(MessagePagePainter::loadPicture(file), QImage(kPlaceholder));
        QImage blue(200, 50, QImage::Format_ARGB32);
        blue.fill(Qt::blue);
        QCOMPARE(MessagePagePainter::loadPicture(m_dir.filePath(u"landscape.jpg"_s))
                     .convertToFormat(blue.format()),
                 blue);
    }
    void messageContent_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("group");
        QTest::addColumn<int>("preview");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("picture");
        QTest::addColumn<QString>("shownText");
        QTest::newRow("picture keeps the caption's emoji")
            << int(ViberMsgTypePicture) << false << int(JpegFile) << kEmojiCaption << true << kEmojiCaption;
        QTest::newRow("sticker with picture")
            << int(ViberMsgTypeSticker) << false << int(PngFile) << QString() << true << QString();
        QTest::newRow("sticker without picture") << int(ViberMsgTypeSticker) << false << int(MissingFile)
                                                 << QString() << false << u"[STICKER-42]"_s;
        QTest::newRow("audio") << int(ViberMsgTypeAudio) << false << int(MissingFile) << QString() << false
                               << u"[AUDIO] 2:05"_s;
        QTest::newRow("file names itself") << int(ViberMsgTypeFile) << false << int(MissingFile) << kHebrew
                                           << false << u"report.pdf (2.00 KiB)\n"_s + kHebrew;
        QTest::newRow("location shows its address, coordinates and text")
            << int(ViberMsgTypeLocation) << false << int(NoAttachment) << kHebrew << false
            << u"Main Square 1\n0.000000, 0.000000\n"_s + kHebrew;
        QTest::newRow("every line break is a line")
            << int(ViberMsgTypeText) << false << int(NoAttachment) << u"one\rtwo\r\nthree"_s << false
            << u"one\ntwo\nthree"_s;
        QTest::newRow("text in a group has a header")
            << int(ViberMsgTypeText) << true << int(NoAttachment) << kHebrew << false << kHebrew;
    }
    void messageContent()
    {
        QFETCH(int, type);
        QFETCH(bool, group);
        QFETCH(int, preview);
        QFETCH(QString, text);
        const MessagePagePainter::Content c =
            MessagePagePainter::content(message(ViberMsgType(type), group, Preview(preview), text));
        QVERIFY(c.notice.isEmpty());
        QTEST(c.picture, "picture");
        QTEST(c.text, "shownText");
        QCOMPARE(c.header, group ? personDisplayName(m_ann) : QString());
        QCOMPARE(c.time, u"12:00"_s);
    }
    void pagesBreakBeforeTheBottom()
    {
        // Pages as the PDF export lays them out.
        QPdfWriter writer(m_dir.filePath(u"pages.pdf"_s));
        writer.setResolution(ExportMessagesPdf::kScreenResolution);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Point);
        MessagePagePainter painter;
        QVERIFY(painter.start(&writer));
        const QRect content = painter.contentRect();
        QCOMPARE(painter.y(), content.top());
        int lastY = painter.y();
        for (_ViberMsg *msg : m_f.addTexts(m_direct, 80, kNoon)) {
            const int page = painter.pageNumber();
            painter.paint(msg);
            // Each bubble lies wholly inside the content, just above the next position.
            QVERIFY(painter.y() - MessagePagePainter::kItemSpacing <= content.bottom() + 1);
            QVERIFY(painter.pageNumber() == page ? painter.y() > lastY : painter.y() < lastY);
            lastY = painter.y();
        }
        // A text longer than a page goes on over the next pages, none of it below the content.
        const int page = painter.pageNumber();
        painter.paint(m_f.addMessage(m_direct, ViberMsgTypeText, kNoon, true, u"word "_s.repeated(9000)));
        QVERIFY(painter.pageNumber() > page + 1);
        QVERIFY(painter.y() - MessagePagePainter::kItemSpacing <= content.bottom() + 1);
        QVERIFY(painter.end());
    }
    // A text too long to lay out at once is laid out a window at a time: every character
    // is on the pages once, in order, whether the window ends in a word, in a run
    // without a space or at a paragraph's end.
    void longTextKeepsEveryCharacter()
    {
        QString text;
        for (int i = 0; text.size() < MessagePagePainter::kLongText * 3; ++i)
            text += u"wörd%1 "_s.arg(i);
        text += u"\n"_s + u"ab"_s.repeated(3000) + u"\n\n"_s;
        for (int i = 0; text.size() < MessagePagePainter::kLongText * 5; ++i)
            text += u"end%1 "_s.arg(i) + (i % 97 == 0 ? u"\n"_s : QString());
        const QString path = m_dir.filePath(u"long.pdf"_s);
        {
            ExportMessagesPdf pdf(path);
            double lastDone = 0;
            qint64 calls = 0;
            pdf.setProgress([&](double done) {
                QVERIFY(done >= lastDone && done <= 1);
                lastDone = done;
                ++calls;
            });
            pdf.write(*m_f.addMessage(m_direct, ViberMsgTypeText, kNoon, true, text));
            pdf.finish();
            QCOMPARE(lastDone, 1.0);
            QVERIFY(calls > 10);
            QVERIFY(pdf.pageCount() > 5);
        }
        const QString shown = poppler(u"pdftotext"_s, {path, u"-"_s});
        if (shown.isEmpty())
            QSKIP("poppler-utils is not installed");
        // Less the heading, the page titles and numbers, dates and times.
        const QRegularExpression pageNumbersAndSpace(
            u"%1|[()+]|page|of|\u2013|[\u2066-\u2069\u202A-\u202E]|\\w+day, \\d+ March 2024|\\d+/\\d+/\\d+|12:00|\\s|\\b\\d+\\b"_s
                .arg(m_ann->name));
        static const QRegularExpression arabic(u"[\u0600-\u06FF\uFB50-\uFEFF]"_s);
        QCOMPARE(QString(shown).remove(arabic).remove(pageNumbersAndSpace),
                 QString(text).remove(pageNumbersAndSpace));
    }
    void pdfExport()
    {
        const QString path = m_dir.filePath(u"chat.pdf"_s);
        QStringList shown{u"Tuesday, 5 March 2024"_s,   kHebrew,         u"at this"_s, u"[STICKER-42]"_s,
                          u"Wednesday, 6 March 2024"_s, u"message 59"_s, u"12:59"_s};
        int pages = 0;
        {
            ExportMessagesPdf pdf(path);
            pdf.begin();
            pdf.write(*message(ViberMsgTypeText, true, NoAttachment, kHebrew));
            pdf.write(*message(ViberMsgTypePicture, true, JpegFile, kEmojiCaption));
            pdf.write(*message(ViberMsgTypeSticker, true, MissingFile));
            _ViberMsg *joined = message(ViberMsgTypeSystem, true, NoAttachment, u"Dana"_s);
            joined->systemKind = ViberSystemKindMemberAdded;
            shown << MessageText::systemText(joined);
            pdf.write(*joined);
            // Wrapped over lines, and a paragraph of each direction.
            pdf.write(
                *m_f.addMessage(m_group, ViberMsgTypeText, kNoon, true,
                                u"See you there \U0001F44D\U0001F3FD "_s.repeated(8) + u'\n' + kHebrew));
            for (const _ViberMsg *msg : m_f.addTexts(m_group, 60, kNoon.addDays(1)))
                pdf.write(*msg);
            pdf.finish();
            pages = pdf.pageCount();
        }
        QVERIFY(pages > 1);
        const QString info = poppler(u"pdfinfo"_s, {path});
        if (info.isEmpty())
            QSKIP("poppler-utils is not installed");
        QVERIFY2(info.contains(QRegularExpression(u"Pages:\\s+%1\\n"_s.arg(pages))), qPrintable(info));
        const QString text = poppler(u"pdftotext"_s, {path, u"-"_s});
        for (const QString &expected : std::as_const(shown))
            QVERIFY2(text.contains(expected), qPrintable(expected));
        // The same bubble with and without an emoji: the emoji adds one picture and brings
        // no font of its own, since a PDF cannot draw the colour emoji font.
        const QRegularExpression picture(u"^\\s*1\\s+\\d+\\s+image\\s"_s,
                                         QRegularExpression::MultilineOption);
        QList<qsizetype> images;
        for (const QString &caption : {u"Look at this"_s, kEmojiCaption}) {
            {
                ExportMessagesPdf pdf(path);
                pdf.write(*message(ViberMsgTypeText, false, NoAttachment, caption));
                pdf.finish();
            }
            images << poppler(u"pdfimages"_s, {u"-list"_s, path}).count(picture);
            QVERIFY(!poppler(u"pdffonts"_s, {path}).contains(u"Emoji"_s));
        }
        QVERIFY(images.first() > 0);
        QCOMPARE(images.last(), images.first() + 1);
    }

private:
    // A message of the type in the group or the one-to-one chat, with its preview.
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
