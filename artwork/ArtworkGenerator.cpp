// Paints the bubble view's artwork: the nine-slice bubble frames, the voice icon,
// the photo placeholder and the emoticon pictures are drawn here; the emoji
// pictures are drawn from the system's colour emoji font.
//
// Usage: chatwharf-artwork <output folder> <style sheet> <colour emoji font>
// Writes <output>/vbbb, <output>/vb_emoji and <output>/emoji.

#include "export/Emoji.h"
#include "viber/Emoticons.h"

#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

#include <cstdio>

namespace {

struct FrameKind
{
    const char *name;
    // Slice sizes as the page painter cuts them: top, right, bottom, left.
    int top, right, bottom, left;
    QColor fill;
    QColor border;
    enum Tail { None, Left, Right } tail;
};

// Width and height of the stretched middle slices.
constexpr int kMiddle = 8;
// Room the tail takes beside the bubble body.
constexpr int kTail = 6;

bool savePicture(const QImage &image, const QString &path, const char *format = "PNG", int quality = -1)
{
    if (image.save(path, format, quality))
        return true;
    std::fprintf(stderr, "chatwharf-artwork: could not write %s\n",
                 qPrintable(QDir::toNativeSeparators(path)));
    return false;
}

QPainterPath framePath(const FrameKind &k, const QRectF &canvas)
{
    const qreal radius = k.tail == FrameKind::None ? 8.0 : 9.0;
    QRectF body = canvas.adjusted(0.5, 0.5, -0.5, -1.5); // one row below for the shadow
    if (k.tail == FrameKind::Left)
        body.setLeft(body.left() + kTail);
    if (k.tail == FrameKind::Right)
        body.setRight(body.right() - kTail);
    QPainterPath path;
    path.addRoundedRect(body, radius, radius);
    if (k.tail == FrameKind::None)
        return path;

    // The corner at the tail is square, and the tail points up and out from it.
    QPainterPath corner;
    QPainterPath tail;
    if (k.tail == FrameKind::Left) {
        corner.addRect(QRectF(body.left(), body.top(), radius, radius));
        tail.moveTo(0.5, body.top());
        tail.lineTo(body.left() + 1, body.top());
        tail.lineTo(body.left() + 1, body.top() + 9);
        tail.quadTo(body.left() - 1, body.top() + 3, 0.5, body.top());
    } else {
        corner.addRect(QRectF(body.right() - radius, body.top(), radius, radius));
        tail.moveTo(canvas.right() - 0.5, body.top());
        tail.lineTo(body.right() - 1, body.top());
        tail.lineTo(body.right() - 1, body.top() + 9);
        tail.quadTo(body.right() + 1, body.top() + 3, canvas.right() - 0.5, body.top());
    }
    tail.closeSubpath();
    return path.united(corner).united(tail).simplified();
}

bool writeFrame(const FrameKind &k, const QDir &out)
{
    const int width = k.left + kMiddle + k.right;
    const int height = k.top + kMiddle + k.bottom;
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        const QPainterPath path = framePath(k, QRectF(0, 0, width, height));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 28));
        p.drawPath(path.translated(0, 1));
        p.setBrush(k.fill);
        p.setPen(QPen(k.border, 1));
        p.drawPath(path);
    }

    // Whole, for the pages' border-image; in slices below, for the PDF painter.
    if (!savePicture(image, out.filePath(QLatin1String(k.name) + QLatin1String(".png"))))
        return false;
    // Row by row: corners at the slice sizes, edges and centre kMiddle wide or high.
    const int xs[3] = {0, k.left, k.left + kMiddle};
    const int ws[3] = {k.left, kMiddle, k.right};
    const int ys[3] = {0, k.top, k.top + kMiddle};
    const int hs[3] = {k.top, kMiddle, k.bottom};
    int number = 1;
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col, ++number) {
            const QImage slice = image.copy(xs[col], ys[row], ws[col], hs[row]);
            const QString name =
                QStringLiteral("%1_%2.png").arg(QLatin1String(k.name)).arg(number, 2, 10, QLatin1Char('0'));
            if (!savePicture(slice, out.filePath(name)))
                return false;
        }
    return true;
}

bool writeVoiceIcon(const QDir &out)
{
    QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(123, 81, 157));
    p.drawEllipse(QRectF(2, 2, 60, 60));
    // A microphone: capsule, cradle and stand.
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(25, 13, 14, 25), 7, 7);
    QPen pen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(19, 20, 26, 24), 200 * 16, 140 * 16);
    p.drawLine(QPointF(32, 44), QPointF(32, 50));
    p.drawLine(QPointF(25, 51), QPointF(39, 51));
    p.end();
    return savePicture(image, out.filePath(QStringLiteral("voice.png")));
}

bool writeEmptyPhoto(const QDir &out)
{
    QImage image(160, 120, QImage::Format_RGB32);
    image.fill(QColor(226, 232, 235));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(176, 188, 194), 3));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(40, 30, 80, 60), 6, 6);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(176, 188, 194));
    p.drawEllipse(QRectF(92, 40, 14, 14));
    QPainterPath hills;
    hills.moveTo(44, 86);
    hills.lineTo(68, 56);
    hills.lineTo(84, 74);
    hills.lineTo(94, 64);
    hills.lineTo(116, 86);
    hills.closeSubpath();
    p.drawPath(hills);
    p.end();
    return savePicture(image, out.filePath(QStringLiteral("empty_photo.jpg")), "JPEG", 90);
}

// Emoticons: faces for the codes that are faces, a heart for the hearts, and a
// round badge with the first letters for the things (pizza, car, ...).
enum class Mood {
    Smile,
    Laugh,
    Sad,
    Angry,
    Surprised,
    Wink,
    Tongue,
    Cool,
    Heart,
    Badge,
};

Mood moodOf(const QString &code)
{
    static const QHash<QString, Mood> moods = {
        {QStringLiteral("(smiley)"), Mood::Smile},
        {QStringLiteral("(happy)"), Mood::Smile},
        {QStringLiteral("(shy)"), Mood::Smile},
        {QStringLiteral("(angel)"), Mood::Smile},
        {QStringLiteral("(relax)"), Mood::Smile},
        {QStringLiteral("(flirt)"), Mood::Wink},
        {QStringLiteral("(nerd)"), Mood::Smile},
        {QStringLiteral("(money)"), Mood::Smile},
        {QStringLiteral("(laugh)"), Mood::Laugh},
        {QStringLiteral("(teeth)"), Mood::Laugh},
        {QStringLiteral("(crazy)"), Mood::Laugh},
        {QStringLiteral("(sad)"), Mood::Sad},
        {QStringLiteral("(cry)"), Mood::Sad},
        {QStringLiteral("(sick)"), Mood::Sad},
        {QStringLiteral("(depressed)"), Mood::Sad},
        {QStringLiteral("(confused)"), Mood::Sad},
        {QStringLiteral("(not_sure)"), Mood::Sad},
        {QStringLiteral("(angry)"), Mood::Angry},
        {QStringLiteral("(mad)"), Mood::Angry},
        {QStringLiteral("(devil)"), Mood::Angry},
        {QStringLiteral("(surprised)"), Mood::Surprised},
        {QStringLiteral("(scream)"), Mood::Surprised},
        {QStringLiteral("(moa)"), Mood::Surprised},
        {QStringLiteral("(kiss)"), Mood::Surprised},
        {QStringLiteral("(wink)"), Mood::Wink},
        {QStringLiteral("(yummi)"), Mood::Tongue},
        {QStringLiteral("(tongue)"), Mood::Tongue},
        {QStringLiteral("(cool)"), Mood::Cool},
        {QStringLiteral("(inlove)"), Mood::Heart},
        {QStringLiteral("(heart)"), Mood::Heart},
        {QStringLiteral("(purple_heart)"), Mood::Heart},
        {QStringLiteral("(heart_break)"), Mood::Heart},
    };
    return moods.value(code, Mood::Badge);
}

void drawHeart(QPainter &p, const QColor &colour)
{
    QPainterPath heart;
    heart.moveTo(10, 17.5);
    heart.cubicTo(1, 11, 1, 3, 6, 3);
    heart.cubicTo(8.5, 3, 10, 5, 10, 6.5);
    heart.cubicTo(10, 5, 11.5, 3, 14, 3);
    heart.cubicTo(19, 3, 19, 11, 10, 17.5);
    p.setPen(QPen(colour.darker(130), 1));
    p.setBrush(colour);
    p.drawPath(heart);
}

void drawFace(QPainter &p, Mood mood)
{
    const QColor skin = mood == Mood::Angry ? QColor(240, 120, 90) : QColor(255, 204, 77);
    p.setPen(QPen(skin.darker(135), 1));
    p.setBrush(skin);
    p.drawEllipse(QRectF(1, 1, 18, 18));
    const QColor ink(90, 60, 30);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    if (mood == Mood::Cool) {
        p.drawRoundedRect(QRectF(4, 6.5, 5.5, 3.5), 1.5, 1.5);
        p.drawRoundedRect(QRectF(10.5, 6.5, 5.5, 3.5), 1.5, 1.5);
        p.drawRect(QRectF(9, 7, 2, 1));
    } else {
        p.drawEllipse(QRectF(6, 6.5, 2.5, 3));
        if (mood == Mood::Wink) {
            p.setPen(QPen(ink, 1.3, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(11.5, 8), QPointF(14, 8));
            p.setPen(Qt::NoPen);
        } else {
            p.drawEllipse(QRectF(11.5, 6.5, 2.5, 3));
        }
    }
    QPen mouth(ink, 1.4, Qt::SolidLine, Qt::RoundCap);
    p.setPen(mouth);
    p.setBrush(Qt::NoBrush);
    switch (mood) {
    case Mood::Sad:
    case Mood::Angry:
        p.drawArc(QRectF(6, 12, 8, 5), 20 * 16, 140 * 16);
        break;
    case Mood::Surprised:
        p.setBrush(ink);
        p.drawEllipse(QRectF(8.5, 12, 3, 3.5));
        break;
    case Mood::Laugh: {
        p.setBrush(Qt::white);
        QPainterPath open;
        open.moveTo(5.5, 11.5);
        open.lineTo(14.5, 11.5);
        open.quadTo(14, 16.5, 10, 16.5);
        open.quadTo(6, 16.5, 5.5, 11.5);
        p.drawPath(open);
        break;
    }
    case Mood::Tongue:
        p.drawArc(QRectF(6, 9, 8, 5), 200 * 16, 140 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(230, 90, 110));
        p.drawEllipse(QRectF(9, 13, 3.5, 3.5));
        break;
    default:
        p.drawArc(QRectF(5.5, 8.5, 9, 7), 200 * 16, 140 * 16);
        break;
    }
}

QImage emoticonPicture(const QString &code)
{
    QImage image(20, 20, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const Mood mood = moodOf(code);

    if (mood == Mood::Heart) {
        drawHeart(p, code == QLatin1String("(purple_heart)") ? QColor(150, 90, 200) : QColor(230, 60, 80));
        if (code == QLatin1String("(heart_break)")) {
            p.setPen(QPen(Qt::white, 1.5));
            p.drawPolyline(
                QPolygonF({QPointF(10, 6), QPointF(8.5, 9.5), QPointF(11.5, 12), QPointF(10, 16)}));
        }
        return image;
    }
    if (mood == Mood::Badge) {
        const QString word = code.mid(1, code.size() - 2);
        const QColor colour = QColor::fromHsv(int(qHash(word) % 360), 110, 215);
        p.setPen(QPen(colour.darker(140), 1));
        p.setBrush(colour);
        p.drawEllipse(QRectF(1, 1, 18, 18));
        QFont font = p.font();
        font.setPixelSize(9);
        font.setBold(true);
        p.setFont(font);
        p.setPen(Qt::white);
        QString letters = word.left(word.size() > 1 && word.at(1).isLetter() ? 2 : 1);
        if (!letters.isEmpty())
            letters[0] = letters.at(0).toUpper();
        p.drawText(QRectF(0, 0, 20, 20), Qt::AlignCenter, letters);
        return image;
    }

    drawFace(p, mood);
    return image;
}

// Emoji pictures: a square a little larger than the glyph, which is wider than high.
constexpr int kEmojiSize = 40;
constexpr int kEmojiPixelSize = 32;

// Carrier emoji without a Unicode counterpart have no glyph in any font: a quiet
// mark shows that an emoji stood there.
QByteArray carrierMark()
{
    QImage image(kEmojiSize, kEmojiSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(kEmojiSize / 20.0, kEmojiSize / 20.0);
    p.setPen(QPen(QColor(170, 186, 194), 1));
    p.setBrush(QColor(236, 241, 244));
    p.drawRoundedRect(QRectF(2.5, 2.5, 15, 15), 4, 4);
    QPainterPath star;
    star.moveTo(10, 5);
    star.quadTo(10.6, 9.4, 15, 10);
    star.quadTo(10.6, 10.6, 10, 15);
    star.quadTo(9.4, 10.6, 5, 10);
    star.quadTo(9.4, 9.4, 10, 5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(150, 168, 178));
    p.drawPath(star);
    p.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
        return true;
    std::fprintf(stderr, "chatwharf-artwork: could not write %s\n",
                 qPrintable(QDir::toNativeSeparators(path)));
    return false;
}

// Every emoji picture the message text names, each drawn from the colour emoji font.
bool writeEmoji(const QDir &out, const QString &fontPath)
{
    const QStringList families =
        QFontDatabase::applicationFontFamilies(QFontDatabase::addApplicationFont(fontPath));
    if (families.isEmpty()) {
        std::fprintf(stderr, "chatwharf-artwork: could not load the colour emoji font %s\n",
                     qPrintable(QDir::toNativeSeparators(fontPath)));
        return false;
    }
    QFont font(families.first());
    font.setPixelSize(kEmojiPixelSize);
    // What this font lacks must show as lacking, not be drawn from another font.
    font.setStyleStrategy(QFont::NoFontMerging);

    const QByteArray mark = carrierMark();
    QStringList lacking;
    const QMap<QString, QString> &pictures = Emoji::pictures();
    for (auto it = pictures.constBegin(); it != pictures.constEnd(); ++it) {
        const QString path = out.filePath(it.key() + QLatin1String(".png"));
        if (it.value().isEmpty()) {
            if (!writeFile(path, mark))
                return false;
            continue;
        }
        QTextLayout layout(it.value(), font);
        layout.beginLayout();
        const QTextLine line = layout.createLine();
        layout.endLayout();
        // A whole sequence is one glyph of the font; several, or glyph 0, is a fallback.
        const QList<QGlyphRun> runs = layout.glyphRuns();
        const QList<quint32> glyphs = runs.size() == 1 ? runs.first().glyphIndexes() : QList<quint32>();
        if (glyphs.size() != 1 || glyphs.first() == 0)
            lacking.append(it.key());

        QImage image(kEmojiSize, kEmojiSize, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        layout.draw(&p,
                    QPointF((kEmojiSize - line.naturalTextWidth()) / 2, (kEmojiSize - line.height()) / 2));
        p.end();
        if (!savePicture(image, path))
            return false;
    }
    if (!lacking.isEmpty())
        std::fprintf(stderr,
                     "chatwharf-artwork: warning: the emoji font has no single glyph for %lld emoji: %s\n",
                     qlonglong(lacking.size()), qPrintable(lacking.mid(0, 20).join(QLatin1Char(' '))));
    return true;
}

bool copyStyleSheet(const QString &source, const QDir &out)
{
    const QString target = out.filePath(QStringLiteral("style.css"));
    QFile::remove(target);
    if (QFile::copy(source, target))
        return true;
    std::fprintf(stderr, "chatwharf-artwork: could not copy %s to %s\n",
                 qPrintable(QDir::toNativeSeparators(source)), qPrintable(QDir::toNativeSeparators(target)));
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: chatwharf-artwork <output folder> <style sheet> <colour emoji font>\n");
        return 2;
    }
    QDir root(args.at(1));
    // Pictures of an older table would linger under names nothing refers to.
    QDir(root.filePath(QStringLiteral("emoji"))).removeRecursively();
    for (const char *sub : {"vbbb", "vb_emoji", "emoji"})
        if (!root.mkpath(QLatin1String(sub))) {
            std::fprintf(stderr, "chatwharf-artwork: could not create %s/%s\n", qPrintable(root.path()), sub);
            return 1;
        }
    const QDir vbbb(root.filePath(QStringLiteral("vbbb")));
    const QDir emoticons(root.filePath(QStringLiteral("vb_emoji")));
    const QDir emoji(root.filePath(QStringLiteral("emoji")));

    const FrameKind kinds[] = {
        {"r", 10, 13, 9, 15, QColor(244, 249, 251), QColor(184, 204, 212), FrameKind::None},
        {"bb1", 13, 16, 13, 16, QColor(255, 255, 255), QColor(196, 210, 216), FrameKind::Left},
        {"bb2", 13, 16, 13, 16, QColor(232, 222, 246), QColor(190, 172, 220), FrameKind::Right},
    };
    bool ok = copyStyleSheet(args.at(2), vbbb) && writeVoiceIcon(vbbb) && writeEmptyPhoto(vbbb);
    for (const FrameKind &k : kinds)
        ok = ok && writeFrame(k, vbbb);
    for (auto it = Emoticons::table().constBegin(); ok && it != Emoticons::table().constEnd(); ++it)
        ok = savePicture(emoticonPicture(it.key()), emoticons.filePath(it.key() + QLatin1String(".png")));
    ok = ok && writeEmoji(emoji, args.at(3));
    return ok ? 0 : 1;
}
