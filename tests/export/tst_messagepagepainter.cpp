#include "TestConfig.h"
#include "export/ExportMessagesPdf.h"
#include "export/MessagePagePainter.h"
#include "export/MessageText.h"
#include "support/MessageFixtures.h"

#include <QImage>
#include <QPageLayout>
#include <QPdfWriter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <stdexcept>

using testsupport::MessageFixture;

namespace {

const QDateTime kNoon(QDate(2024, 3, 5), QTime(12, 0));
const QString kHebrew = QStringLiteral(u"שלום לכולם מה שלומכם");
const QString kEmojiCaption = QStringLiteral(u"Look \U0001F600 at this");

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
    void initTestCase();
    void roomOnThePage_data();
    void roomOnThePage();
    void pictureSize_data();
    void pictureSize();
    void messageContent_data();
    void messageContent();
    void unreadablePreviewShowsThePlaceholder();
    void bubblesStackTenPixelsApart();
    void pagesBreakBeforeTheBottom();
    void pdfExport();
    void emojiArePictures();

private:
    // A message of the type in the group or the one-to-one chat, with its preview.
    _ViberMsg *message(ViberMsgType type, bool group, Preview preview, const QString &text = QString());
    // How far one message moves the position on a fresh page, its day notice included.
    int advance(const _ViberMsg *msg);
    std::unique_ptr<QPdfWriter> pdfWriter(const QString &name);

    QTemporaryDir m_dir;
    MessageFixture m_f;
    _ViberChat *m_group = nullptr;
    _ViberChat *m_direct = nullptr;
    _ViberPerson *m_ann = nullptr;
};

void TestMessagePagePainter::initTestCase()
{
    QVERIFY(m_dir.isValid());
    MessageText::setPictureFolder(QStringLiteral(CHATWHARF_BINARY_DIR "/src"));
    QVERIFY2(!QImage(QStringLiteral(CHATWHARF_BINARY_DIR "/src/vbbb/empty_photo.jpg")).isNull(),
             "the artwork is not built");
    QImage portrait(150, 300, QImage::Format_RGB32);
    portrait.fill(Qt::red);
    QVERIFY(portrait.save(m_dir.filePath(QStringLiteral("portrait.jpg")), "JPEG"));
    // A PNG under a photo's name: read once JPEG has failed.
    QImage landscape(400, 100, QImage::Format_ARGB32);
    landscape.fill(Qt::blue);
    QVERIFY(landscape.save(m_dir.filePath(QStringLiteral("landscape.jpg")), "PNG"));
    QFile text(m_dir.filePath(QStringLiteral("notes.jpg")));
    QVERIFY(text.open(QIODevice::WriteOnly) && text.write("not a picture") > 0);
    text.close();

    m_ann = m_f.addPerson(QStringLiteral(u"أحمد"), QStringLiteral("+4912345"));
    m_group = m_f.addChat(QStringLiteral("group-1"), {m_ann});
    m_direct = m_f.addChat(QString(), {m_ann});
}

_ViberMsg *TestMessagePagePainter::message(ViberMsgType type, bool group, Preview preview,
                                           const QString &text)
{
    _ViberMsg *msg = m_f.addMessage(group ? m_group : m_direct, type, kNoon, false, text);
    msg->person = m_ann;
    static const char *const files[] = {"", "gone.jpg", "portrait.jpg", "landscape.jpg"};
    if (preview != NoAttachment) {
        _ViberAtta *att =
            m_f.addAttachment(msg, QString(), m_dir.filePath(QLatin1String(files[preview])), 125);
        att->attId = QStringLiteral("42");
        att->fileName = QStringLiteral("report.pdf");
        att->fileSize = 2048;
    }
    return msg;
}

std::unique_ptr<QPdfWriter> TestMessagePagePainter::pdfWriter(const QString &name)
{
    auto writer = std::make_unique<QPdfWriter>(m_dir.filePath(name));
    writer->setResolution(ExportMessagesPdf::kScreenResolution);
    writer->setPageSize(QPageSize(QPageSize::A4));
    writer->setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Point);
    return writer;
}

int TestMessagePagePainter::advance(const _ViberMsg *msg)
{
    auto writer = pdfWriter(QStringLiteral("advance.pdf"));
    MessagePagePainter painter;
    if (!painter.start(writer.get()))
        return -1;
    const int top = painter.y();
    painter.paint(msg);
    painter.end();
    return painter.y() - top;
}

void TestMessagePagePainter::roomOnThePage_data()
{
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("y");
    QTest::addColumn<bool>("fits");
    // Content of 100 rows from y = 20 to y = 119.
    QTest::newRow("exactly the room left") << 60 << 60 << true;
    QTest::newRow("one pixel more") << 61 << 60 << false;
    QTest::newRow("a whole empty page") << 100 << 20 << true;
}

void TestMessagePagePainter::roomOnThePage()
{
    QFETCH(int, height);
    QFETCH(int, y);
    const QRect content = MessagePagePainter::contentRect(QSize(140, 140), QMargins(20, 20, 20, 20));
    QCOMPARE(content, QRect(QPoint(20, 20), QPoint(119, 119)));
    QTEST(MessagePagePainter::fits(height, y, content), "fits");
}

void TestMessagePagePainter::pictureSize_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("scaled");
    QTest::newRow("portrait 300 high") << QSize(150, 300) << QSize(100, 200);
    QTest::newRow("landscape exactly 200 wide") << QSize(200, 120) << QSize(200, 120);
    QTest::newRow("landscape 201 wide") << QSize(201, 100) << QSize(200, 100);
    QTest::newRow("portrait exactly 200 high") << QSize(90, 200) << QSize(90, 200);
    QTest::newRow("wide strip keeps a row") << QSize(4000, 1) << QSize(200, 1);
}

void TestMessagePagePainter::pictureSize()
{
    QFETCH(QSize, size);
    QTEST(MessagePagePainter::scaledPictureSize(size), "scaled");
}

void TestMessagePagePainter::messageContent_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("group");
    QTest::addColumn<int>("preview");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("picture");
    QTest::addColumn<QString>("shownText");
    QTest::addColumn<bool>("header");
    QTest::newRow("picture keeps the caption's emoji") << int(ViberMsgTypePicture) << false << int(JpegFile)
                                                       << kEmojiCaption << true << kEmojiCaption << false;
    QTest::newRow("sticker with picture")
        << int(ViberMsgTypeSticker) << false << int(PngFile) << QString() << true << QString() << false;
    QTest::newRow("sticker without picture") << int(ViberMsgTypeSticker) << false << int(MissingFile)
                                             << QString() << false << QStringLiteral("[STICKER-42]") << false;
    QTest::newRow("audio") << int(ViberMsgTypeAudio) << false << int(MissingFile) << QString() << false
                           << QStringLiteral("[AUDIO] 2' 5''") << false;
    QTest::newRow("file names itself")
        << int(ViberMsgTypeFile) << false << int(MissingFile) << kHebrew << false
        << QStringLiteral("report.pdf (2.00 KiB)\n") + kHebrew << false;
    QTest::newRow("text in a group has a header")
        << int(ViberMsgTypeText) << true << int(NoAttachment) << kHebrew << false << kHebrew << true;
}

void TestMessagePagePainter::messageContent()
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
    QTEST(!c.header.isEmpty(), "header");
    if (!c.header.isEmpty())
        QCOMPARE(c.header, personDisplayName(m_ann));
    QCOMPARE(c.time, QStringLiteral("12:00 pm"));
}

void TestMessagePagePainter::unreadablePreviewShowsThePlaceholder()
{
    const QImage placeholder(QStringLiteral(CHATWHARF_BINARY_DIR "/src/vbbb/empty_photo.jpg"));
    for (const char *name : {"notes.jpg", "gone.jpg", ""}) {
        const QString path = *name ? m_dir.filePath(QLatin1String(name)) : QString();
        QCOMPARE(MessagePagePainter::loadPicture(path), placeholder);
    }
    QCOMPARE(MessagePagePainter::loadPicture(m_dir.filePath(QStringLiteral("portrait.jpg"))).size(),
             QSize(100, 200));
    const QImage png = MessagePagePainter::loadPicture(m_dir.filePath(QStringLiteral("landscape.jpg")));
    QCOMPARE(png.size(), QSize(200, 50));
    QCOMPARE(png.pixelColor(100, 25), QColor(Qt::blue));
}

void TestMessagePagePainter::bubblesStackTenPixelsApart()
{
    // A picture and a caption are two bubbles, each as it would be alone.
    const int day = advance(m_f.addMessage(m_direct, ViberMsgTypeSystem, kNoon, false));
    const int picture = advance(message(ViberMsgTypePicture, false, JpegFile));
    const int caption = advance(message(ViberMsgTypeText, false, NoAttachment, QStringLiteral("caption")));
    const int both = advance(message(ViberMsgTypePicture, false, JpegFile, QStringLiteral("caption")));
    QVERIFY(day > MessagePagePainter::kItemSpacing);
    QVERIFY(picture - day > 200);
    QCOMPARE(both, picture + caption - day);

    // Only group chats name the sender, on a line of its own.
    const int named = advance(message(ViberMsgTypeText, true, NoAttachment, QStringLiteral("caption")));
    QVERIFY(named - caption > MessagePagePainter::kLineSpacing);
}

void TestMessagePagePainter::pagesBreakBeforeTheBottom()
{
    auto writer = pdfWriter(QStringLiteral("pages.pdf"));
    MessagePagePainter painter;
    QVERIFY(painter.start(writer.get()));
    const QRect content = painter.contentRect();
    // A4 at 96 dpi, 793 by 1123 pixels, less margins of 20 points, 27 pixels.
    QCOMPARE(content, QRect(27, 27, 793 - 54, 1123 - 54));
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
    painter.paint(
        m_f.addMessage(m_direct, ViberMsgTypeText, kNoon, true, QStringLiteral("word ").repeated(9000)));
    QVERIFY(painter.pageNumber() > page + 1);
    QVERIFY(painter.y() - MessagePagePainter::kItemSpacing <= content.bottom() + 1);
    QVERIFY(painter.end());
}

void TestMessagePagePainter::pdfExport()
{
    const QString path = m_dir.filePath(QStringLiteral("chat.pdf"));
    int pages = 0;
    QStringList shown{QStringLiteral("05 Mar 2024"), kHebrew,
                      QStringLiteral("at this"),     QStringLiteral("[STICKER-42]"),
                      QStringLiteral("06 Mar 2024"), QStringLiteral("message 59"),
                      QStringLiteral("12:59 pm")};
    {
        ExportMessagesPdf pdf(path);
        pdf.begin();
        pdf.write(*message(ViberMsgTypeText, true, NoAttachment, kHebrew));
        pdf.write(*message(ViberMsgTypePicture, true, JpegFile, kEmojiCaption));
        pdf.write(*message(ViberMsgTypeSticker, true, MissingFile));
        _ViberMsg *call = message(ViberMsgTypeCall, true, NoAttachment);
        m_f.addCall(call, ViberCallTypeIncoming, 125);
        pdf.write(*call);
        shown << MessageText::callText(call->call);
        _ViberMsg *joined = message(ViberMsgTypeSystem, true, NoAttachment);
        joined->systemKind = ViberSystemKindMemberAdded;
        joined->text = QStringLiteral("Dana");
        pdf.write(*joined);
        shown << MessageText::systemText(joined);
        // Wrapped over lines, and a paragraph of each direction.
        pdf.write(*m_f.addMessage(m_group, ViberMsgTypeText, kNoon, true,
                                  QStringLiteral("See you there \U0001F44D\U0001F3FD ").repeated(8) +
                                      QLatin1Char('\n') + kHebrew));
        for (const _ViberMsg *msg : m_f.addTexts(m_group, 60, kNoon.addDays(1)))
            pdf.write(*msg);
        pdf.finish();
        pages = pdf.pageCount();
    }
    QVERIFY(pages > 1);
    const QString info = poppler(QStringLiteral("pdfinfo"), {path});
    if (info.isEmpty())
        QSKIP("poppler-utils is not installed");
    QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+%1\\n").arg(pages))),
             qPrintable(info));

    const QString text = poppler(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});
    for (const QString &expected : std::as_const(shown))
        QVERIFY2(text.contains(expected), qPrintable(expected));
}

void TestMessagePagePainter::emojiArePictures()
{
    // The same bubble with and without an emoji: the emoji adds one picture and
    // brings no font of its own, since a PDF cannot draw the colour emoji font.
    QStringList images;
    QString fonts;
    for (const QString &text : {QStringLiteral("Look at this"), kEmojiCaption}) {
        const QString path = m_dir.filePath(QStringLiteral("emoji.pdf"));
        {
            ExportMessagesPdf pdf(path);
            pdf.write(*message(ViberMsgTypeText, false, NoAttachment, text));
            pdf.finish();
        }
        images << poppler(QStringLiteral("pdfimages"), {QStringLiteral("-list"), path});
        fonts += poppler(QStringLiteral("pdffonts"), {path});
    }
    if (images.first().isEmpty())
        QSKIP("poppler-utils is not installed");
    const QRegularExpression picture(QStringLiteral("^\\s*1\\s+\\d+\\s+image\\s"),
                                     QRegularExpression::MultilineOption);
    const auto count = [&](const QString &list) { return list.count(picture); };
    QVERIFY(count(images.first()) > 0);
    QCOMPARE(count(images.last()), count(images.first()) + 1);
    QVERIFY2(!fonts.contains(QStringLiteral("Emoji")), qPrintable(fonts));
}

QTEST_MAIN(TestMessagePagePainter)
#include "tst_messagepagepainter.moc"
